#pragma once
// The pages of the main window: Configuration (Proxy, Proxy Client
// Connections, Local LAN/Proxy Bypass, Blocked Hosts, Tunnels), Traffic,
// Logging and About, every widget bound to its control.

class QTabWidget;
class QWidget;

namespace vantrel {

class TfrmVantrelMain;

QTabWidget* BuildPages(TfrmVantrelMain& window, QWidget* parent);

}  // namespace vantrel
