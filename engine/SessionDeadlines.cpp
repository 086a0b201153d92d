#include "engine/SessionDeadlines.h"

#include <malloc.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "engine/KwProxyClient.h"
#include "net/DescriptorShortage.h"
#include "net/SocketErrors.h"

namespace vantrel::engine {

using net::TWSocket;

namespace {

bool Connected(const TWSocket& socket) {
  return socket.State() == net::wsConnected;
}

}  // namespace

TWaitKind WaitKindOf(const TKwProxyClient& c) {
  const TWSocket* remote = c.RemoteSocket();
  if (remote && remote->State() == net::wsConnecting) return TWaitKind::Connect;
  // Queued bytes have their own deadline, the stall.
  if (!c.SendQueueEmpty() || (remote && !remote->SendQueueEmpty())) return TWaitKind::None;
  // Answered or ending: nothing it sends will be served any more.
  if (c.DiscardInput) return TWaitKind::Idle;
  // A tunnel may sit quiet for hours; a decision waits on its own timer.
  if (c.IsTunnel || c.Upgraded || c.Deciding || c.DecisionPending) return TWaitKind::None;
  // A connection that has sent nothing has no exchange yet.
  const TKwProxyClient::TExchange* x = c.StartedExchange();
  const bool buffered = x && !x->ClientBuffer.empty();
  if (!c.HeaderProcessed) {
    if (buffered) return TWaitKind::Header;
    return c.Requests == 0 ? TWaitKind::Silent : TWaitKind::Idle;
  }
  if (c.AwaitingResponse || buffered || (x && (x->Body.Pending() || !x->Pipelined.empty())))
    return TWaitKind::None;
  return TWaitKind::Idle;
}

TSessionDeadlines::TSessionDeadlines(net::TWSocketServer& server, TLog log, TLog notice)
    : server_(server), log_(std::move(log)), notice_(std::move(notice)) {}

TSessionDeadlines::~TSessionDeadlines() {
  Stop();
  if (timer_) net::EventLoop::Default().CancelTimer(timer_);
}

void TSessionDeadlines::SetTimeouts(const TSessionTimeouts& timeouts) {
  timeouts_ = timeouts;
  Arm();
}

void TSessionDeadlines::ClientAccepted(TKwProxyClient* c) {
  c->Watch.kind = TWaitKind::Silent;
  c->Watch.request = c->Requests;
  c->Watch.since = net::EventLoop::Default().Now();
  peakClients_ = std::max(peakClients_, server_.ClientCount());
  Arm();
}

void TSessionDeadlines::Start() {
  if (!relief_) relief_ = net::AddDescriptorReliever([this] { return CloseIdleClients(); });
}

void TSessionDeadlines::Stop() {
  if (relief_) net::RemoveDescriptorReliever(relief_);
  relief_ = 0;
}

void TSessionDeadlines::Arm() {
  if (timer_ || server_.ClientCount() == 0) return;
  const TSessionTimeouts& t = timeouts_;
  if (t.HeaderTimeout == 0 && t.IdleTimeout == 0 && t.StallTimeout == 0 && t.ConnectTimeout == 0)
    return;
  timer_ = net::EventLoop::Default().AddTimer(kSweepInterval, [this] {
    timer_ = 0;
    Sweep();
    Arm();
  });
}

int TSessionDeadlines::LimitOf(TWaitKind kind) const {
  switch (kind) {
    case TWaitKind::Silent:
    case TWaitKind::Header: return timeouts_.HeaderTimeout;
    case TWaitKind::Idle: return timeouts_.IdleTimeout;
    case TWaitKind::Connect: return timeouts_.ConnectTimeout;
    case TWaitKind::None: break;
  }
  return 0;
}

bool TSessionDeadlines::Stalled(TSessionWatch::Queue& queue, const TWSocket* socket,
                                TimePoint now) const {
  if (!socket || socket->SendQueueEmpty()) {
    queue.sent = -1;
    return false;
  }
  if (queue.socket != socket || queue.sent != socket->SentCount()) {
    queue.socket = socket;
    queue.sent = socket->SentCount();
    queue.since = now;
    return false;
  }
  return timeouts_.StallTimeout > 0 &&
         now - queue.since >= std::chrono::seconds(timeouts_.StallTimeout);
}

TSessionDeadlines::TExpiry TSessionDeadlines::Look(TKwProxyClient& c, TimePoint now) const {
  TSessionWatch& w = c.Watch;
  const bool clientStalled = Stalled(w.toClient, &c, now);
  const bool remoteStalled = Stalled(w.toRemote, c.RemoteSocket(), now);
  if (clientStalled || remoteStalled) return TExpiry::Stall;
  const TWaitKind kind = WaitKindOf(c);
  if (kind != w.kind || c.Requests != w.request) {
    w.kind = kind;
    w.request = c.Requests;
    w.since = now;
    return TExpiry::None;
  }
  const int limit = LimitOf(kind);
  if (limit == 0 || now - w.since < std::chrono::seconds(limit)) return TExpiry::None;
  return kind == TWaitKind::Connect ? TExpiry::GiveUpConnect : TExpiry::Close;
}

void TSessionDeadlines::Sweep() {
  const TimePoint now = net::EventLoop::Default().Now();
  struct Due {
    TKwProxyClient* client;
    std::shared_ptr<bool> alive;
    TExpiry what;
  };
  std::vector<Due> due;
  const int n = server_.ClientCount();
  for (int i = 0; i < n; ++i) {
    auto* c = static_cast<TKwProxyClient*>(server_.Clients(i));
    if (!c || !Connected(*c)) continue;
    const TExpiry what = Look(*c, now);
    if (what != TExpiry::None) due.push_back({c, c->Liveness(), what});
  }
  // Ending one session runs handlers: each is checked before it is touched.
  for (const Due& d : due) {
    if (*d.alive && Connected(*d.client)) Expire(*d.client, d.what);
  }
  GiveBackMemory();
}

void TSessionDeadlines::GiveBackMemory() {
  // After a crowd has gone (a flood of slow clients, say), the allocator
  // keeps its pages; the idle program should shrink back to its size.
  const int n = server_.ClientCount();
  if (peakClients_ - n >= kTrimAfter && n < peakClients_ / 2) {
    malloc_trim(0);
    peakClients_ = n;
  }
}

void TSessionDeadlines::Expire(TKwProxyClient& c, TExpiry what) {
  const std::string who = c.GetPeerAddr() + ":" + c.GetPeerPort();
  switch (what) {
    case TExpiry::GiveUpConnect:
      if (TWSocket* remote = c.RemoteSocket(); remote && remote->State() == net::wsConnecting) {
        if (log_)
          log_("Connect of " + who + " to " + remote->Addr() + ":" + remote->Port() + " timed out");
        // Answered as if the remote had refused.
        remote->GiveUpConnect(net::kWsaETIMEDOUT);
      }
      break;
    case TExpiry::Stall:
      if (log_) log_("Session of " + who + " ended: queued bytes made no progress");
      // A peer that stopped reading: both connections go, with a reset so
      // the system drops what it still holds for them.
      c.RetireRemoteSocket();
      c.AbortWithReset();
      break;
    case TExpiry::Close:
      if (log_) log_("Session of " + who + " timed out");
      c.Close();
      break;
    case TExpiry::None: break;
  }
}

bool TSessionDeadlines::CloseIdleClients() {
  const TimePoint now = net::EventLoop::Default().Now();
  struct Idle {
    TimePoint since;
    int order;  // in the order of arrival: ties go to the older connection
    TKwProxyClient* client;
    std::shared_ptr<bool> alive;
  };
  std::vector<Idle> idle;
  const int n = server_.ClientCount();
  for (int i = 0; i < n; ++i) {
    auto* c = static_cast<TKwProxyClient*>(server_.Clients(i));
    if (!c || !Connected(*c)) continue;
    const TWaitKind kind = WaitKindOf(*c);
    if (kind != TWaitKind::Idle && kind != TWaitKind::Silent) continue;
    // Not seen in this state by a sweep yet: it has only just begun waiting.
    const bool seen = c->Watch.kind == kind && c->Watch.request == c->Requests;
    idle.push_back({seen ? c->Watch.since : now, i, c, c->Liveness()});
  }
  if (idle.empty()) {
    ReportShortage(0, now);
    return false;
  }
  // A small batch, oldest first: enough to go on, not a purge.
  const size_t batch = std::clamp<size_t>(idle.size() / 8, 1, kMaxBatch);
  std::partial_sort(idle.begin(), idle.begin() + static_cast<std::ptrdiff_t>(batch), idle.end(),
                    [](const Idle& a, const Idle& b) {
                      return a.since != b.since ? a.since < b.since : a.order < b.order;
                    });
  size_t closed = 0;
  for (size_t i = 0; i < batch; ++i) {
    if (!*idle[i].alive || !Connected(*idle[i].client)) continue;
    idle[i].client->Close();
    ++closed;
  }
  ReportShortage(closed, now);
  return closed > 0;
}

void TSessionDeadlines::ReportShortage(size_t closed, TimePoint now) {
  closedSinceReport_ += closed;
  if (lastShortageReport_ != TimePoint{} && now - lastShortageReport_ < std::chrono::seconds(1))
    return;
  lastShortageReport_ = now;
  const size_t n = closedSinceReport_;
  closedSinceReport_ = 0;
  if (!notice_) return;
  if (n == 0) {
    notice_("Out of descriptors: no idle client connection to close");
  } else {
    notice_("Out of descriptors: closed " + std::to_string(n) + " idle client connection" +
            (n == 1 ? "" : "s"));
  }
}

}  // namespace vantrel::engine
