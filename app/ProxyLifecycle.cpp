#include "app/ProxyLifecycle.h"

#include <optional>

#include "config/TimeoutSettings.h"
#include "net/SocketErrors.h"

namespace vantrel {

namespace {

// The number in the port field when it is a whole number from 1 to 65535:
// port 0 would listen on a port of the system's choosing, and larger
// numbers would wrap to some other port.
std::optional<int> PortOf(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return value;
}

}  // namespace

TProxyLifecycle::TProxyLifecycle(TMainControls& controls, TNextHopRecords& nextHops,
                                 TActivityLog& log, TUserInterface& ui, engine::TKwHttpProxy& proxy,
                                 TChangeTracker& changes)
    : controls_(controls),
      nextHops_(nextHops),
      log_(log),
      ui_(ui),
      proxy_(proxy),
      changes_(changes) {}

bool TProxyLifecycle::Running() const {
  return controls_.btnStart.Tag() != 0;
}

void TProxyLifecycle::btnStartClick(TControl&) {
  if (Running()) {
    StopProxy();
  } else {
    StartProxy();
  }
}

void TProxyLifecycle::StartProxy() {
  const std::string text = controls_.edProxyPort.Text();
  const std::optional<int> typed = PortOf(text);
  proxy_.SetPort(typed.value_or(1080));
  const std::string port = std::to_string(proxy_.Port());
  if (!typed) {
    // The field shows the port in use; the saved setting stays the user's.
    log_.DoComment("Port \"" + text + "\" is not a port from 1 to 65535; listening on port " +
                       port + " (not saved)",
                   false);
    changes_.ForRunOnly(controls_.edProxyPort,
                        [this, &port] { controls_.edProxyPort.SetText(port); });
  } else {
    controls_.edProxyPort.SetText(port);
  }
  nextHops_.LoadNextHopRecords();
  proxy_.SetTimeouts(TimeoutsFromControls(controls_));
  std::string error;
  proxy_.Open(error);
  lastError_ = error;
  if (!error.empty()) {
    controls_.lblProxyStatus.SetCaption("ERROR");
    log_.DoComment("Error: " + error, false);
    ui_.SetTrayHint("ERROR: " + error);
    // The engine's text names the failed call; say what to do about it.
    const bool inUse = error.rfind("Error " + std::to_string(net::kWsaEADDRINUSE) + " ", 0) == 0;
    ui_.ShowError("Error: " + error +
                  (inUse ? "\n\nPort " + std::to_string(proxy_.Port()) +
                               " is used by another program. Choose another port on the Proxy "
                               "page."
                         : std::string()));
    if (inUse) controls_.edProxyPort.SetFocus();
    return;
  }
  log_.DoComment("Proxy Started", false);
  ui_.SetTrayHint("Vantrel Active");
  controls_.lblProxyStatus.SetCaption("ACTIVE");
  if (StartTunnels) StartTunnels();
  controls_.btnStart.SetCaption("Stop Proxy");
  controls_.btnStart.SetTag(1);
}

void TProxyLifecycle::StopProxy() {
  proxy_.Close();
  if (StopTunnels) StopTunnels();
  log_.DoComment("Proxy Stopped", false);
  ui_.SetTrayHint("Vantrel Stopped");
  controls_.lblProxyStatus.SetCaption("INACTIVE");
}

int TProxyLifecycle::CurrentPort() const {
  return Running() ? proxy_.Port() : PortOf(controls_.edProxyPort.Text()).value_or(1080);
}

std::string TProxyLifecycle::StatusLine() const {
  return "Vantrel: " + controls_.lblProxyStatus.Caption() + " on port " +
         std::to_string(CurrentPort());
}

void TProxyLifecycle::Proxy1ServerClosed(engine::TKwGenericProxy*, uint16_t) {
  if (destroying) return;
  controls_.btnStart.SetCaption("Start Proxy");
  controls_.btnStart.SetTag(0);
}

}  // namespace vantrel
