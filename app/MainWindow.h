#pragma once
// The main window: owns the tables, the controls and one object per concern,
// wires the controls' events to their handlers and runs start-up. Handlers
// keep the window's names but live with their concern.

#include <string>

#include "adapters/AdapterDiscovery.h"
#include "adapters/AdapterSource.h"
#include "adapters/AdapterTable.h"
#include "adapters/AdapterWatcher.h"
#include "app/ActivityLog.h"
#include "app/DesktopProxySettings.h"
#include "app/LogFormat.h"
#include "app/ProxyLifecycle.h"
#include "app/ScreenLog.h"
#include "app/TrafficHistory.h"
#include "app/TrafficTotals.h"
#include "app/WindowCommands.h"
#include "config/Autostart.h"
#include "model/ChangeTracker.h"
#include "config/ConfigurationFile.h"
#include "model/CountryTable.h"
#include "config/ListFiles.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/ProxyRecords.h"
#include "model/ProxyTables.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"
#include "net/EventLoop.h"
#include "routing/ConnectionRouting.h"
#include "hosts/CountryData.h"
#include "hosts/HostClassification.h"
#include "hosts/LocalRanges.h"
#include "routing/TrafficCounters.h"
#include "tunnels/TunnelRecords.h"
#include "tunnels/Tunnels.h"

namespace vantrel {

// XDG_CURRENT_DESKTOP, or empty.
std::string CurrentDesktop();

class TfrmVantrelMain {
 public:
  explicit TfrmVantrelMain(TUserInterface& ui, TClock clock = LocalNow);
  TfrmVantrelMain(const TfrmVantrelMain&) = delete;
  TfrmVantrelMain& operator=(const TfrmVantrelMain&) = delete;

  // Start-up work of the window: country list, configuration, automatic
  // start. Returns false when the log folder could not be created (logging
  // to disk then reports its own failure) or a configuration file could not
  // be read; in the latter case configurationUnreadable is set and the
  // proxy is not started automatically on settings that are not the user's.
  bool FormCreate();
  // Starts the proxy as the "Start Proxy" button does.
  void StartProxy();
  // Asks nothing: the last question belongs to FormCloseQuery, asked while
  // the event loop still runs.
  ~TfrmVantrelMain();
  // Anything that escaped a handler ends up here; the program goes on. It
  // is logged, and written to the error stream too, since both logs may be
  // off.
  void ApplicationEvents1Exception(const std::string& message);

  TUserInterface& ui;
  TRecordTable mtblProxy = CreateProxyTable();
  TRecordTable mtblTunnels = CreateTunnelTable();
  TRecordTable mtblCountries = CreateCountryTable();
  TMainControls controls{mtblProxy, mtblCountries};
  TScreenLog memStatus;
  TChangeTracker changes{controls};
  TNextHopRecords nextHops{controls, mtblProxy, changes};
  TProxyRecords proxyRecords{controls, mtblProxy, changes, ui};
  TActivityLog log;
  engine::TKwHttpProxy Proxy1;
  TProxyLifecycle lifecycle{controls, nextHops, log, ui, Proxy1, changes};
  TLocalRanges localRanges;
  TCountryData countries{controls, mtblCountries, localRanges, nextHops,
                         [this](const std::string& message) { log.DoComment(message, false); }};
  THostClassification hosts{controls, localRanges, countries,
                            [this](const std::string& message) { log.DoComment(message, false); }};
  TListFiles listFiles{
      controls, changes, [this](const std::string& message) { log.DoComment(message, false); },
      [this](const std::vector<std::string>& list) { hosts.SetBypassIPList(list); }};
  TConfigurationFile configFile{
      controls,
      mtblProxy,
      mtblTunnels,
      changes,
      nextHops,
      countries,
      listFiles,
      ui,
      [this](const std::string& message) { log.DoComment(message, false); },
      [this] { log.cbLoggingClick(controls.cbLogging); }};
  bool configurationUnreadable = false;
  // A lasting line in the status bar while proxy.ini could not be read,
  // until a load or save works; hidden otherwise.
  TLabel StatusBarProblem{"StatusBarProblem", ""};
  // "Cancel Changes" from outside the window (SIGHUP): the files again, the
  // day's log file reopened, and the log line.
  void ReloadConfiguration();

  // Closing, ending, the tray menu and the links.
  TWindowCommands commands{controls, lifecycle, changes, configFile, ui};
  TAutostart autostart{controls.cbAutostart, ui};
  // The About page's button that points this desktop's proxy settings here.
  TDesktopProxySettings desktopProxy{
      DesktopKindOf(CurrentDesktop()),
      [](const std::vector<std::string>& argv) { return RunCommand(argv); },
      {[this] { return lifecycle.CurrentPort(); },
       [this] {
         return controls.cbBypass.Checked() ? listFiles.BypassIPList()
                                            : std::vector<std::string>{};
       }},
      ui};

  // Tunnel listeners run while the proxy does; their records are edited on
  // the Tunnels page.
  TTunnels tunnels{
      mtblTunnels, [this] { return Proxy1.Port(); },
      [this]() -> const std::vector<std::string>& { return listFiles.AllowedIPList(); },
      [this](const std::string& message) { log.DoComment(message, false); }};
  TTunnelRecords tunnelRecords{mtblTunnels, changes, ui};

  // Traffic: the counters, the Traffic page, and the engine's handlers.
  TTrafficCounters counters;
  TTrafficTotals totals{controls, counters, changes};
  // The graph's last ten minutes, sampled by the window that shows it.
  TTrafficHistory history{counters};
  TConnectionRouting routing{
      controls,
      hosts,
      nextHops,
      listFiles,
      Proxy1,
      counters,
      {[this](const std::string& message) { log.DoComment(message, false); },
       [this](std::string_view data, const std::string& message, bool fromClient) {
         log.LogIt(data, message, fromClient ? clGreen : clBlue);
       }},
      [this] { totals.ShowTotals(); }};

  // The machine's adapters, recorded in adapters.dat; a change refreshes
  // the next hops but is no settings change: nothing of it is in proxy.ini.
  // Timer1 watches for changes once start-up is done.
  TRecordTable mtblAdapters = CreateAdapterTable();
  TDataSource dsAdapters{mtblAdapters};
  TLinuxAdapterSource adapterSource;
  TAdapterDiscovery adapters{adapterSource, mtblAdapters, [this] {
                               nextHops.EnableSelectors();
                               nextHops.LoadNextHopRecords();
                             }};
  TAdapterWatcher Timer1{net::EventLoop::Default(), [this] { return adapters.Timer1Timer(); }};

 private:
  void WireEvents();
  void WireTraffic();
  // Shows or hides StatusBarProblem after a load.
  void ShowLoadResult();
};

}  // namespace vantrel
