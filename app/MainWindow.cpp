#include "app/MainWindow.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "config/DataFolder.h"

namespace vantrel {

TfrmVantrelMain::TfrmVantrelMain(TUserInterface& userInterface, TClock clock)
    : ui(userInterface), log(controls, memStatus, changes, std::move(clock)) {
  WireEvents();
}

void TfrmVantrelMain::WireEvents() {
  auto& c = controls;
  auto settingsChanged = [this](TControl& sender) { nextHops.cbIntConClick(sender); };
  c.edProxyPort.OnChange = settingsChanged;
  c.cbStartAutomatically.OnClick = settingsChanged;
  c.cbMinimize.OnClick = settingsChanged;
  c.cbUnknownHosts.OnClick = settingsChanged;
  for (TCheckBox* box : c.NextHopSwitches()) box->OnClick = settingsChanged;
  for (TLookupCombo* combo : c.NextHopSelectors()) combo->OnChange = settingsChanged;

  auto loggingChanged = [this](TControl& sender) { log.cbLoggingClick(sender); };
  c.cbLogging.OnClick = loggingChanged;
  c.cbDebug.OnClick = loggingChanged;
  c.cbWriteLog.OnClick = loggingChanged;
  c.cbDetailedLog.OnClick = loggingChanged;
  c.btnClearLog.OnClick = [this](TControl& sender) { log.btnClearLogClick(sender); };

  c.btnStart.OnClick = [this](TControl& sender) { lifecycle.btnStartClick(sender); };
  Proxy1.OnServerClosed = [this](engine::TKwGenericProxy* sender, uint16_t error) {
    lifecycle.Proxy1ServerClosed(sender, error);
  };
  Proxy1.NextHopHTTP().SetPort(1080);

  c.btnAdd.OnClick = [this](TControl& sender) { proxyRecords.btnAddClick(sender); };
  c.btnEdit.OnClick = [this](TControl& sender) { proxyRecords.btnEditClick(sender); };
  c.btnDelete.OnClick = [this](TControl& sender) { proxyRecords.btnDeleteClick(sender); };

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
  // Hosts filed as local LAN under the switch's old state no longer hold.
  c.cbBypass.OnClick = [this](TControl& sender) {
    hosts.cbBypassClick(sender);
    listFiles.cbAllowedConnectionsClick(sender);
  };
  auto listEdited = [this](TControl& sender) { listFiles.memIncomingChange(sender); };
  c.memIncoming.OnChange = listEdited;
  c.memBypass.OnChange = listEdited;
  c.memBlockedHosts.OnChange = listEdited;
  auto hostListSwitch = [this](TControl&) { changes.SetChanged(true); };
  c.cbShowLocalHosts.OnClick = hostListSwitch;
  c.cbShowIntHosts.OnClick = hostListSwitch;

  c.btnSave.OnClick = [this](TControl& sender) { configFile.btnSaveClick(sender); };
  c.btnCancel.OnClick = [this](TControl& sender) { configFile.btnCancelClick(sender); };
}

bool TfrmVantrelMain::FormCreate() {
  std::error_code error;
  std::filesystem::create_directories(DataPath("log"), error);
  countries.LoadCountryList();
  // Before the configuration: the change step a refresh runs is undone by
  // the SetChanged(false) below. A file error must not end start-up.
  try {
    adapters.StartUp();
  } catch (const std::exception& e) {
    ApplicationEvents1Exception(e.what());
  }
  configurationUnreadable = !configFile.LoadConfiguration();
  changes.SetChanged(false);
  if (!controls.cbMinimize.Checked()) ui.ShowApplication();
  if (controls.cbStartAutomatically.Checked() && !configurationUnreadable) {
    lifecycle.btnStartClick(controls.btnStart);
  }
  Timer1.Start();
  return !error && !configurationUnreadable;
}

TfrmVantrelMain::~TfrmVantrelMain() {
  lifecycle.destroying = true;
  tunnels.StopTunnels();
  configFile.FormDestroy();
}

void TfrmVantrelMain::StartProxy() {
  if (!lifecycle.Running()) lifecycle.btnStartClick(controls.btnStart);
}

void TfrmVantrelMain::ApplicationEvents1Exception(const std::string& message) {
  log.DoComment("EXCEPTION: " + message, true);
}

}  // namespace vantrel
