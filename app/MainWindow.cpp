#include "app/MainWindow.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "files/DataFolder.h"
#include "model/Version.h"

namespace vantrel {

std::string CurrentDesktop() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return desktop != nullptr ? desktop : "";
}

TfrmVantrelMain::TfrmVantrelMain(TUserInterface& userInterface, TClock clock)
    : ui(userInterface), log(controls, memStatus, changes, std::move(clock)) {
  WireEvents();
}

void TfrmVantrelMain::WireEvents() {
  auto& c = controls;
  auto settingsChanged = [this](TControl& sender) { nextHops.cbIntConClick(sender); };
  c.edProxyPort.OnChange = [this](TControl& sender) {
    changes.Edited(sender);
    nextHops.cbIntConClick(sender);
  };
  c.cbStartAutomatically.OnClick = settingsChanged;
  c.cbMinimize.OnClick = settingsChanged;
  c.cbUnknownHosts.OnClick = settingsChanged;
  c.cbAutostart.OnClick = [this](TControl& sender) { autostart.cbAutostartClick(sender); };
  for (TCheckBox* box : c.NextHopSwitches()) box->OnClick = settingsChanged;
  for (TLookupCombo* combo : c.NextHopSelectors()) combo->OnChange = settingsChanged;

  auto loggingChanged = [this](TControl& sender) {
    changes.Edited(sender);
    log.cbLoggingClick(sender);
  };
  c.cbLogging.OnClick = loggingChanged;
  c.cbDebug.OnClick = loggingChanged;
  c.cbWriteLog.OnClick = loggingChanged;
  c.cbDetailedLog.OnClick = loggingChanged;
  c.btnClearLog.OnClick = [this](TControl& sender) { log.btnClearLogClick(sender); };
  c.btnClearLog.SetHint("Clears screen log (log file will remain)");

  c.btnStart.OnClick = [this](TControl& sender) { lifecycle.btnStartClick(sender); };
  Proxy1.OnServerClosed = [this](engine::TKwGenericProxy* sender, uint16_t error) {
    lifecycle.Proxy1ServerClosed(sender, error);
  };
  Proxy1.NextHopHTTP().SetPort(1080);

  c.btnAdd.OnClick = [this](TControl& sender) { proxyRecords.btnAddClick(sender); };
  c.btnEdit.OnClick = [this](TControl& sender) { proxyRecords.btnEditClick(sender); };
  c.btnDelete.OnClick = [this](TControl& sender) { proxyRecords.btnDeleteClick(sender); };
  c.DBGrid1.OnDblClick = [this](TControl& sender) { proxyRecords.btnEditClick(sender); };

  lifecycle.StartTunnels = [this] { tunnels.StartTunnels(); };
  lifecycle.StopTunnels = [this] { tunnels.StopTunnels(); };
  c.btnAddTunnel.OnClick = [this](TControl& sender) { tunnelRecords.btnAddTunnelClick(sender); };
  c.btnEditTunnel.OnClick = [this](TControl& sender) { tunnelRecords.btnEditTunnelClick(sender); };
  c.DBGrid2.OnDblClick = [this](TControl& sender) { tunnelRecords.btnEditTunnelClick(sender); };
  c.btnDeleteTunnel.OnClick = [this](TControl& sender) {
    tunnelRecords.btnDeleteTunnelClick(sender);
  };

  c.jvdbCountry.OnChange = [this](TControl& sender) { countries.jvdbCountryChange(sender); };
  auto listSwitch = [this](TControl& sender) { listFiles.cbAllowedConnectionsClick(sender); };
  c.cbAllowedConnections.OnClick = listSwitch;
  c.cbBlock.OnClick = listSwitch;
  c.cbBlockTunnels.OnClick = listSwitch;
  // Hosts filed as local LAN under the switch's old state no longer hold.
  c.cbBypass.OnClick = [this](TControl& sender) {
    hosts.cbBypassClick(sender);
    listFiles.cbAllowedConnectionsClick(sender);
  };
  auto listEdited = [this](TControl& sender) { listFiles.memIncomingChange(sender); };
  c.memIncoming.OnChange = listEdited;
  c.memBypass.OnChange = listEdited;
  c.memBlockedHosts.OnChange = listEdited;
  auto hostListSwitch = [this](TControl& sender) { totals.cbShowLocalHostsClick(sender); };
  c.cbShowLocalHosts.OnClick = hostListSwitch;
  c.cbShowIntHosts.OnClick = hostListSwitch;
  WireTraffic();

  c.btnSave.OnClick = [this](TControl& sender) {
    configFile.btnSaveClick(sender);
    ShowLoadResult();
  };
  c.btnCancel.OnClick = [this](TControl& sender) {
    configFile.btnCancelClick(sender);
    ShowLoadResult();
  };
  StatusBarProblem.SetVisible(false);

  auto close = [this](TControl& sender) { commands.Close1Click(sender); };
  c.Button1.OnClick = close;
  c.Close1.OnClick = close;
  c.Restore1.OnClick = [this](TControl& sender) { commands.Restore1Click(sender); };
  auto website = [this](TControl& sender) { commands.jvlWebsiteClick(sender); };
  for (TLabel* link : {&c.jvlWebsite, &c.jvlHostLists, &c.jvlHostLists2, &c.jvlCountryDatabase}) {
    link->OnClick = website;
  }
  c.jvlEmail.OnClick = [this](TControl& sender) { commands.jvlEmailClick(sender); };
  c.Button3.OnClick = [this](TControl& sender) { commands.Button3Click(sender); };
}

void TfrmVantrelMain::WireTraffic() {
  using engine::TKwGenericProxy;
  using engine::TKwProxyClient;
  Proxy1.OnClientConnect = [this](TKwGenericProxy* sender, TKwProxyClient* client) {
    routing.Proxy1ClientConnect(sender, client);
  };
  Proxy1.OnClientDisconnect = [this](TKwGenericProxy* sender, TKwProxyClient* client) {
    routing.Proxy1ClientDisconnect(sender, client);
  };
  Proxy1.OnLocalRequest = [this](TKwGenericProxy*, TKwProxyClient* client, const std::string& url,
                                 const std::string& header, const std::string& host,
                                 const std::string& port, const std::string& path,
                                 std::string& returnContent) {
    return routing.AnswerAutoConfig(client, url, header, host, port, path, returnContent);
  };
  Proxy1.OnClientHeaderAvailable =
      [this](TKwGenericProxy* sender, TKwProxyClient* client, const std::string& url,
             std::string& header, std::string& proto, std::string& user, std::string& pass,
             std::string& host, std::string& port, std::string& path, std::string& hdrHost,
             bool& ignoreNextHopProxy, std::string& returnContent) {
        routing.Proxy1ClientHeaderAvailable(sender, client, url, header, proto, user, pass, host,
                                            port, path, hdrHost, ignoreNextHopProxy, returnContent);
      };
  Proxy1.OnTunnelRequest = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                  std::string& header, std::string& host, std::string& port,
                                  bool& ignoreNextHopProxy, std::string& returnContent) {
    routing.Proxy1TunnelRequest(sender, client, header, host, port, ignoreNextHopProxy,
                                returnContent);
  };
  Proxy1.OnClientDataAvailable = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                        std::string& data) {
    routing.Proxy1ClientDataAvailable(sender, client, data);
  };
  Proxy1.OnClientDataForwarded = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                        size_t length) {
    routing.Proxy1ClientDataForwarded(sender, client, length);
  };
  Proxy1.OnRemoteDataAvailable = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                        std::string_view data) {
    routing.Proxy1RemoteDataAvailable(sender, client, data);
  };
  Proxy1.MayRelayUnseen = [this] { return routing.MayRelayUnseen(); };
  Proxy1.OnRemoteDataRelayed = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                      size_t length) {
    routing.Proxy1RemoteDataRelayed(sender, client, length);
  };
  Proxy1.OnRemoteSocketPrepared = [this](TKwGenericProxy* sender, TKwProxyClient* client) {
    routing.Proxy1RemoteSocketPrepared(sender, client);
  };
  Proxy1.OnRequestRefused = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                   const std::string& reason) {
    routing.Proxy1RequestRefused(sender, client, reason);
  };
  nextHops.OnLoaded = [this] {
    routing.CheckNextHops();
    // Where requests go may have changed: no connection kept for the old
    // settings is used again.
    Proxy1.ClearConnectionPool();
  };
  // Rare and rate-limited, and the operator needs them: shown with logging off too.
  Proxy1.OnNotice = [this](TKwGenericProxy*, const std::string& message) {
    log.DoComment(message, false);
  };
  totals.ClearTotals1.OnClick = [this](TControl& sender) { totals.ClearTotals1Click(sender); };
  totals.ClearLocalHosts1.OnClick = [this](TControl& sender) {
    // Hosts still waiting to be written keep their place in the file.
    countries.FlushLocalHostsFile();
    totals.ClearLocalHosts1Click(sender);
  };
  totals.ClearInternationalHosts1.OnClick = [this](TControl& sender) {
    totals.ClearInternationalHosts1Click(sender);
  };
}

bool TfrmVantrelMain::FormCreate() {
  controls.frmVantrelMain.SetCaption(kProgramTitle);
  controls.lblName.SetCaption(kProgramTitle);
  autostart.Refresh();
  desktopProxy.Refresh();
  std::error_code error;
  const auto logFolder = DataPath("log");
  std::filesystem::create_directories(logFolder, error);
  // With Detailed Log the files hold clients' credentials: the folder is
  // the user's alone, whatever the umask.
  std::error_code ignored;
  if (!error) {
    std::filesystem::permissions(logFolder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
  }
  // Start-up lines come before "Log to Disk" is loaded: the day's file gets
  // those it missed once the setting is known.
  std::vector<std::string> missedByFile;
  std::string adaptersFailure;
  {
    TSubscription watch = memStatus.Watch([&](TScreenLogEvent event, const TLogEntry& entry) {
      if (event == TScreenLogEvent::Added && !controls.cbWriteLog.Checked())
        missedByFile.push_back(entry.text);
    });
    // A first start finds the country data a package may have installed.
    countries.ImportMissingCountryData();
    countries.LoadCountryList();
    // Before the configuration: the change step a refresh runs is undone by
    // the SetChanged(false) below. A file error must not end start-up.
    // Reported once the log settings are known, so that it reaches the file.
    try {
      adapters.StartUp();
    } catch (const std::exception& e) {
      adaptersFailure = e.what();
    }
    configurationUnreadable = !configFile.LoadConfiguration();
  }
  ShowLoadResult();
  totals.cbShowLocalHostsClick(controls.cbShowLocalHosts);
  changes.SetChanged(false);
  // After the change flag is reset: a failed write turns "Log to Disk" off,
  // a change the session's end saves.
  for (const std::string& line : missedByFile) log.WriteLogLine(line);
  if (!adaptersFailure.empty()) ApplicationEvents1Exception(adaptersFailure);
  const bool hidden = controls.cbMinimize.Checked();
  if (!hidden) ui.ShowApplication();
  if (controls.cbStartAutomatically.Checked() && !configurationUnreadable) {
    lifecycle.btnStartClick(controls.btnStart);
    // Only the tray would show it, and a tray may not be there.
    if (hidden && !lifecycle.Running()) {
      ui.Notify(kProgramTitle, "The proxy could not start: " + lifecycle.LastError());
    }
  }
  Timer1.Start();
  return !error && !configurationUnreadable;
}

TfrmVantrelMain::~TfrmVantrelMain() {
  lifecycle.destroying = true;
  log.FlushRepeats();
  tunnels.StopTunnels();
}

void TfrmVantrelMain::ShowLoadResult() {
  const std::string& problem = configFile.ReadProblem();
  StatusBarProblem.SetCaption(problem.empty() ? std::string()
                                              : std::string(TConfigurationFile::kFileName) +
                                                    " could not be read: " + problem +
                                                    ". Showing defaults; they will not be saved "
                                                    "over it.");
  StatusBarProblem.SetVisible(!problem.empty());
}

void TfrmVantrelMain::ReloadConfiguration() {
  // Local hosts found meanwhile are on disk first; after a rotation the
  // day's file is opened afresh by name. The reload is all or nothing.
  countries.FlushLocalHostsFile();
  log.ReopenLogFile();
  configFile.Reload();
  ShowLoadResult();
  // A reload starts afresh onward too, even when the files were unchanged.
  Proxy1.ClearConnectionPool();
}

void TfrmVantrelMain::StartProxy() {
  if (!lifecycle.Running()) lifecycle.btnStartClick(controls.btnStart);
}

void TfrmVantrelMain::ApplicationEvents1Exception(const std::string& message) {
  std::fprintf(commands.errorStream, "EXCEPTION: %s\n", message.c_str());
  std::fflush(commands.errorStream);
  log.DoComment("EXCEPTION: " + message, true);
}

}  // namespace vantrel
