#pragma once
// Test harness for the proxy engine: plain loopback peers (clients, origins,
// next hops) driven by the same event loop as the proxy, so every test runs
// on one thread and waits for events with a deadline, never for time.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/KwHttpProxy.h"
#include "net/EventLoop.h"
#include "tests/support/DnsResponder.h"
#include "tests/support/LoopbackPeer.h"

namespace vantrel::engine::proxytest {

inline constexpr std::chrono::milliseconds kDeadline{5000};
// Large transfers get more time: the sanitizer build is several times slower.
inline constexpr std::chrono::milliseconds kLongDeadline{60000};

// Runs the loop until done() holds or the deadline passes; returns done().
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = kDeadline);

// Runs non-blocking rounds until a stretch of them dispatches nothing.
// False when the loop keeps working (a spinning socket, a busy timer).
bool LoopGoesIdle();

// One end of a plain TCP connection, read and written from the loop.
class Peer {
 public:
  explicit Peer(testsupport::Fd fd);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Queues bytes; they are written as the socket takes them.
  void Send(std::string_view bytes);
  // Ends the sending side once everything queued has been written.
  void ShutdownWrite();
  // Closes at once (orderly) and stops watching.
  void CloseNow();
  // Closes with a reset.
  void ResetNow();

  // Off: bytes stay in the kernel until ReadSome takes them.
  void SetAutoRead(bool on);
  size_t ReadSome(size_t limit);

  // Bytes read so far (unless OnBytes takes them).
  std::string& In() { return in_; }
  bool Eof() const { return eof_; }
  bool WasReset() const { return reset_; }
  bool Closed() const { return !fd_.Valid(); }
  size_t Queued() const { return out_.size() - outPos_; }
  uint64_t TotalRead() const { return totalRead_; }

  // When set, every chunk read goes here instead of In().
  std::function<void(std::string_view)> OnBytes;

 private:
  void HandleEvents(uint32_t events);
  void Flush();
  void Take(size_t limit);
  void UpdateWatch();

  testsupport::Fd fd_;
  std::string in_;
  std::string out_;
  size_t outPos_ = 0;
  uint64_t totalRead_ = 0;
  bool autoRead_ = true;
  bool eof_ = false;
  bool reset_ = false;
  bool shutdownPending_ = false;
  bool writeShut_ = false;
};

// A loopback listener that accepts every connection into a Peer.
class PeerServer {
 public:
  PeerServer();
  ~PeerServer();
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;

  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  size_t Count() const { return peers_.size(); }
  Peer& At(size_t i) { return *peers_.at(i); }
  Peer& Last() { return *peers_.back(); }

  // Runs for each new connection, before anything is read from it.
  std::function<void(Peer&)> OnAccept;

 private:
  int port_ = 0;  // before fd_: set while fd_ is made
  testsupport::Fd fd_;
  std::vector<std::unique_ptr<Peer>> peers_;
};

std::unique_ptr<Peer> ConnectTo(int port);

// Reads a canned response of the engine the way it is sent.
std::string Canned(TKwHttpProxy& proxy, int index);

// A proxy listening on loopback, its name lookups answered by a responder on
// loopback (no lookup ever leaves the machine), and a journal of its events.
class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects a plain client to the proxy and waits until it is accepted.
  std::unique_ptr<Peer> NewClient();
  // The proxy's session of the i-th live client.
  TKwProxyClient* Session(int i = 0);
  // Number of journal entries equal to name.
  int Count(const std::string& name) const;
  bool Has(const std::string& name) const { return Count(name) > 0; }

  // Declared before the proxy, which logs into them while it is destroyed.
  std::vector<std::string> events;
  std::vector<std::string> debugLog;
  // Last header event's parts, as the handler saw them.
  struct Seen {
    std::string url, header, proto, user, pass, host, port, path, hdrHost;
  } seen;
  // Runs inside OnClientHeaderAvailable after the journal entry.
  TKwProxyHeaderEvent onHeader;
  TKwProxyTunnelRequestEvent onTunnel;

  testsupport::DnsResponder dns;
  TKwHttpProxy proxy;
};

}  // namespace vantrel::engine::proxytest
