#pragma once
// Tunnels under test: a tunnel table, the tunnels object with its log lines
// collected, and a local proxy on loopback, either a plain fake whose
// answers the test writes or the real engine. Listeners bind all interfaces
// as the program's do; every connection goes to 127.0.0.x.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ProxyTables.h"
#include "model/RecordTable.h"
#include "tests/engine/proxy_harness.h"
#include "tests/support/DnsResponder.h"
#include "tests/support/LoopbackPeer.h"
#include "tunnels/Tunnels.h"

namespace vantrel::tunneltest {

using engine::proxytest::ConnectTo;
using engine::proxytest::kDeadline;
using engine::proxytest::kLongDeadline;
using engine::proxytest::Peer;
using engine::proxytest::PeerServer;
using engine::proxytest::WaitFor;

// Like WaitFor, but rounds end every millisecond, for conditions that
// change without any event (a peer that reads only when polled).
bool Poll(const std::function<bool()>& done, std::chrono::milliseconds limit = kLongDeadline);
// A port free on all interfaces, kept from other programs until the tests end.
int FreePort();
// A client connected from the given loopback address.
std::unique_ptr<Peer> ConnectFrom(const std::string& source, int port);
// The request the tunnel sends for 127.0.0.1:port.
std::string RequestFor(int port);
inline const std::string kEstablished = "HTTP/1.0 200 Connection established\r\n\r\n";

class TunnelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Appends a tunnel record; returns its local port.
  int AddTunnel(const std::string& name, const std::string& host, int remotePort,
                bool enabled = true, int localPort = 0);
  // Runs the loop a while, for an event that should not come.
  void Settle(int ms = 50);
  int Logged(const std::string& line) const;
  bool LoggedStarting(const std::string& prefix) const;
  std::string Log() const;
  // The live session sockets of a role.
  std::vector<TTunnelWSocket*> Sides(TTunnelRole role) const;
  // Waits until every session socket has been destroyed.
  bool AllGone() {
    return WaitFor([&] { return tunnels->Sessions().empty(); });
  }
  // Connects a client through the tunnel to the fake proxy, which answers
  // `answer` once the request is in. Returns the fake proxy's side.
  Peer& Established(std::unique_ptr<Peer>& client, int port, const std::string& answer);

  testsupport::DnsResponder dns;
  std::vector<std::string> lines;
  std::vector<std::string> allowed{"127.000.000.001-127.000.000.001"};
  int proxyPort = 0;
  PeerServer fakeProxy;
  TRecordTable table = CreateTunnelTable();
  std::unique_ptr<TTunnels> tunnels;
};

}  // namespace vantrel::tunneltest
