#pragma once
// Starting and stopping the proxy engine (`Proxy1`) from the "Start Proxy"
// button: port from edProxyPort, next hops refreshed, status texts, icon
// hint and log lines.

#include <functional>
#include <string>

#include "app/ActivityLog.h"
#include "model/ChangeTracker.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/UserInterface.h"
#include "engine/KwHttpProxy.h"

namespace vantrel {

class TProxyLifecycle {
 public:
  TProxyLifecycle(TMainControls& controls, TNextHopRecords& nextHops, TActivityLog& log,
                  TUserInterface& ui, engine::TKwHttpProxy& proxy, TChangeTracker& changes);

  bool Running() const;
  void btnStartClick(TControl& sender);
  // The engine's server-closed event: the button returns to "Start Proxy".
  void Proxy1ServerClosed(engine::TKwGenericProxy* sender, uint16_t error);

  // The tunnels open right after the proxy listens and close after it stops.
  std::function<void()> StartTunnels;
  std::function<void()> StopTunnels;

  // Set while the window is being destroyed: the button then stays as it is.
  bool destroying = false;

  // The status and the port, for the tray menu: "Vantrel: ACTIVE on port
  // 1080". The port is the one listened on, or the one a start would use.
  std::string StatusLine() const;
  // The port listened on, or the one a start would use.
  int CurrentPort() const;

  // The engine's error of the last start; empty after a start that worked.
  const std::string& LastError() const { return lastError_; }

 private:
  void StartProxy();
  void StopProxy();

  TMainControls& controls_;
  TNextHopRecords& nextHops_;
  TActivityLog& log_;
  TUserInterface& ui_;
  engine::TKwHttpProxy& proxy_;
  TChangeTracker& changes_;
  std::string lastError_;
};

}  // namespace vantrel
