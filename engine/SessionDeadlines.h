#pragma once
// Deadlines of the proxy's client sessions, kept off the data path: while
// there are clients, one sweep a second looks at each session's state, notes
// when it entered it, and ends what has waited too long. When the system
// runs out of descriptors, the oldest idle sessions are given back first.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/SessionTimeouts.h"
#include "engine/SessionWatch.h"
#include "net/EventLoop.h"

namespace vantrel::net {
class TWSocket;
class TWSocketServer;
}  // namespace vantrel::net

namespace vantrel::engine {

class TKwProxyClient;

class TSessionDeadlines {
 public:
  using TLog = std::function<void(const std::string& message)>;

  // `log` takes a line per ended session, `notice` the rare lines for the
  // operator.
  TSessionDeadlines(net::TWSocketServer& server, TLog log, TLog notice);
  ~TSessionDeadlines();
  TSessionDeadlines(const TSessionDeadlines&) = delete;
  TSessionDeadlines& operator=(const TSessionDeadlines&) = delete;

  const TSessionTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TSessionTimeouts& timeouts);

  // A new client: its silence counts from now.
  void ClientAccepted(TKwProxyClient* client);
  // While listening, a shortage of descriptors may close idle sessions.
  void Start();
  void Stop();

  // Closes a small batch of the oldest idle sessions; true when it closed any.
  bool CloseIdleClients();

  static constexpr std::chrono::seconds kSweepInterval{1};
  static constexpr size_t kMaxBatch = 32;
  // Once this many sessions have gone since the peak, and at least half of
  // them, the freed memory goes back to the system.
  static constexpr int kTrimAfter = 1000;

 private:
  enum class TExpiry : uint8_t { None, Close, Stall, GiveUpConnect };
  using TimePoint = TSessionWatch::TimePoint;

  void Arm();
  void Sweep();
  TExpiry Look(TKwProxyClient& client, TimePoint now) const;
  bool Stalled(TSessionWatch::Queue& queue, const net::TWSocket* socket, TimePoint now) const;
  int LimitOf(TWaitKind kind) const;
  void Expire(TKwProxyClient& client, TExpiry what);
  void ReportShortage(size_t closed, TimePoint now);
  void GiveBackMemory();

  net::TWSocketServer& server_;
  TLog log_;
  TLog notice_;
  TSessionTimeouts timeouts_;
  net::EventLoop::TimerId timer_ = 0;
  uint64_t relief_ = 0;
  int peakClients_ = 0;
  // Shortage reports: at most one line a second, counting what it summarises.
  TimePoint lastShortageReport_{};
  size_t closedSinceReport_ = 0;
};

// The waiting state a session is in now, as the sweep classifies it.
TWaitKind WaitKindOf(const TKwProxyClient& client);

}  // namespace vantrel::engine
