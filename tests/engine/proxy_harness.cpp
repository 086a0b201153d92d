#include "tests/engine/proxy_harness.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "net/Resolver.h"

namespace vantrel::engine::proxytest {

using net::EventLoop;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return EventLoop::Default().RunUntil(done, limit);
}

bool LoopGoesIdle() {
  EventLoop& loop = EventLoop::Default();
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  int quiet = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const uint64_t before = loop.DispatchedEvents();
    // A short wait lets a pending timer come due instead of being missed.
    loop.RunOnce(quiet == 0 ? 0 : 20);
    if (loop.DispatchedEvents() == before && loop.PendingTasks() == 0) {
      if (++quiet >= 25) return true;
    } else {
      quiet = 0;
    }
  }
  return false;
}

// ---- Peer ----

Peer::Peer(testsupport::Fd fd) : fd_(std::move(fd)) {
  EventLoop::Default().AddWatch(fd_.Get(), EPOLLIN | EPOLLRDHUP,
                                [this](uint32_t events) { HandleEvents(events); });
}

Peer::~Peer() {
  if (fd_.Valid()) EventLoop::Default().RemoveWatch(fd_.Get());
}

void Peer::Send(std::string_view bytes) {
  if (!fd_.Valid() || writeShut_) return;
  out_.append(bytes);
  Flush();
}

void Peer::ShutdownWrite() {
  shutdownPending_ = true;
  Flush();
}

void Peer::CloseNow() {
  if (!fd_.Valid()) return;
  EventLoop::Default().RemoveWatch(fd_.Get());
  fd_.Reset();
}

void Peer::ResetNow() {
  if (!fd_.Valid()) return;
  EventLoop::Default().RemoveWatch(fd_.Get());
  testsupport::CloseWithReset(fd_);
  fd_.Reset();
}

void Peer::SetAutoRead(bool on) {
  autoRead_ = on;
  UpdateWatch();
}

size_t Peer::ReadSome(size_t limit) {
  const uint64_t before = totalRead_;
  Take(limit);
  return static_cast<size_t>(totalRead_ - before);
}

void Peer::Take(size_t limit) {
  if (!fd_.Valid() || eof_ || reset_) return;
  std::string chunk;
  const testsupport::ReadState st = testsupport::ReadAvailable(fd_.Get(), chunk, limit);
  totalRead_ += chunk.size();
  if (!chunk.empty()) {
    if (OnBytes) {
      OnBytes(chunk);
    } else {
      in_ += chunk;
    }
  }
  if (st == testsupport::ReadState::Closed) eof_ = true;
  if (st == testsupport::ReadState::Reset) reset_ = true;
  if (eof_ || reset_) UpdateWatch();
}

void Peer::HandleEvents(uint32_t events) {
  if (events & EPOLLOUT) Flush();
  if (!fd_.Valid()) return;
  if (autoRead_ && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) Take(0);
  if (!fd_.Valid()) return;
  if ((events & (EPOLLHUP | EPOLLERR)) && !autoRead_) {
    // Nobody reads now; stop the level-triggered reports until ReadSome does.
    UpdateWatch();
  }
}

void Peer::Flush() {
  if (!fd_.Valid()) return;
  while (outPos_ < out_.size()) {
    const ssize_t n = ::send(fd_.Get(), out_.data() + outPos_, out_.size() - outPos_, MSG_NOSIGNAL);
    if (n > 0) {
      outPos_ += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    out_.clear();  // the peer is gone: nothing more can be written
    outPos_ = 0;
    break;
  }
  if (outPos_ == out_.size()) {
    out_.clear();
    outPos_ = 0;
    if (shutdownPending_ && !writeShut_) {
      ::shutdown(fd_.Get(), SHUT_WR);
      writeShut_ = true;
    }
  }
  UpdateWatch();
}

void Peer::UpdateWatch() {
  if (!fd_.Valid()) return;
  uint32_t events = 0;
  if (autoRead_ && !eof_ && !reset_) events |= EPOLLIN | EPOLLRDHUP;
  if (Queued() > 0) events |= EPOLLOUT;
  EventLoop::Default().ModifyWatch(fd_.Get(), events);
}

// ---- PeerServer ----

PeerServer::PeerServer() : fd_(testsupport::ListenOnLoopback(port_, 64)) {
  EventLoop::Default().AddWatch(fd_.Get(), EPOLLIN, [this](uint32_t) {
    for (;;) {
      testsupport::Fd fd = testsupport::AcceptWaiting(fd_.Get());
      if (!fd.Valid()) return;
      peers_.push_back(std::make_unique<Peer>(std::move(fd)));
      if (OnAccept) OnAccept(*peers_.back());
    }
  });
}

PeerServer::~PeerServer() {
  EventLoop::Default().RemoveWatch(fd_.Get());
}

std::unique_ptr<Peer> ConnectTo(int port) {
  return std::make_unique<Peer>(testsupport::ConnectToLoopback(port));
}

std::string Canned(TKwHttpProxy& proxy, int index) {
  return proxy.Response().Text(index);
}

// ---- ProxyTest ----

void ProxyTest::SetUp() {
  net::Resolver::Default().SetServers(dns.Server());
  net::Resolver::Default().SetTimeouts(500, 2);
  proxy.SetLocalAddress("127.0.0.1");
  proxy.SetPort(0);
  auto note = [this](const char* name) {
    return [this, name](TKwGenericProxy*, TKwProxyClient*) { events.emplace_back(name); };
  };
  proxy.OnClientConnect = note("ClientConnect");
  proxy.OnClientDisconnect = note("ClientDisconnect");
  proxy.OnRemoteConnect = note("RemoteConnect");
  proxy.OnRemoteDisconnect = note("RemoteDisconnect");
  proxy.OnRemoteDNSLookupDone = note("RemoteDNSLookupDone");
  proxy.OnRemoteSocketPrepared = note("RemoteSocketPrepared");
  proxy.OnClientDataAvailable = [this](TKwGenericProxy*, TKwProxyClient*, std::string&) {
    events.emplace_back("ClientData");
  };
  proxy.OnRemoteDataAvailable = [this](TKwGenericProxy*, TKwProxyClient*, std::string_view) {
    events.emplace_back("RemoteData");
  };
  proxy.OnServerClosed = [this](TKwGenericProxy*, uint16_t error) {
    events.push_back("ServerClosed " + std::to_string(error));
  };
  proxy.OnDebugLog = [this](TKwGenericProxy*, const std::string& m) { debugLog.push_back(m); };
  proxy.OnClientHeaderAvailable =
      [this](TKwGenericProxy* sender, TKwProxyClient* client, const std::string& url,
             std::string& header, std::string& proto, std::string& user, std::string& pass,
             std::string& host, std::string& port, std::string& path, std::string& hdrHost,
             bool& ignoreNextHopProxy, std::string& returnContent) {
        events.emplace_back("ClientHeader");
        seen = {url, header, proto, user, pass, host, port, path, hdrHost};
        if (onHeader)
          onHeader(sender, client, url, header, proto, user, pass, host, port, path, hdrHost,
                   ignoreNextHopProxy, returnContent);
      };
  proxy.OnTunnelRequest = [this](TKwGenericProxy* sender, TKwProxyClient* client,
                                 std::string& header, std::string& host, std::string& port,
                                 bool& ignoreNextHopProxy, std::string& returnContent) {
    events.emplace_back("TunnelRequest");
    seen = {};
    seen.header = header;
    seen.host = host;
    seen.port = port;
    if (onTunnel) onTunnel(sender, client, header, host, port, ignoreNextHopProxy, returnContent);
  };
  std::string error;
  proxy.Open(error);
  ASSERT_EQ(error, "");
  ASSERT_TRUE(proxy.Active());
}

void ProxyTest::TearDown() {
  proxy.Close();
  // Let the sessions go before the peers and the responder do.
  WaitFor([this] { return proxy.Server().ClientCount() == 0; });
}

std::unique_ptr<Peer> ProxyTest::NewClient() {
  const int before = Count("ClientConnect");
  auto peer = ConnectTo(proxy.Server().BoundPort());
  EXPECT_TRUE(WaitFor([&] { return Count("ClientConnect") > before; }));
  return peer;
}

TKwProxyClient* ProxyTest::Session(int i) {
  if (i >= proxy.Server().ClientCount()) return nullptr;
  return static_cast<TKwProxyClient*>(proxy.Server().Clients(i));
}

int ProxyTest::Count(const std::string& name) const {
  return static_cast<int>(std::count(events.begin(), events.end(), name));
}

}  // namespace vantrel::engine::proxytest
