// Sockets that outlive their listener, a waiting connection that is gone
// when taken, one socket told of its end twice, and the owner destroyed
// while connections run. Meant to be run under AddressSanitizer too.

#include <sys/socket.h>

#include <string>

#include "tests/tunnels/TunnelHarness.h"

namespace vantrel::tunneltest {
namespace {

class TunnelLifetime : public TunnelTest {
 protected:
  // A client whose proxy side has just been created and is connecting.
  std::unique_ptr<Peer> Waiting(int port) {
    const size_t before = Sides(TTunnelRole::ProxySide).size();
    auto client = ConnectTo(port);
    EXPECT_TRUE(WaitFor([&] { return Sides(TTunnelRole::ProxySide).size() > before; }));
    if (Sides(TTunnelRole::ProxySide).size() > before) {
      EXPECT_EQ(Sides(TTunnelRole::ProxySide).back()->State(), net::wsConnecting);
    }
    return client;
  }
};

TEST_F(TunnelLifetime, StoppingWhileAProxySideConnectsLeavesItNothingToTouch) {
  const int port = AddTunnel("stop", "127.0.0.1", 1);
  tunnels->StartTunnels();
  auto client = Waiting(port);
  tunnels->StopTunnels();  // the listener the proxy side points at is gone
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << Log();
  EXPECT_TRUE(AllGone());
  EXPECT_EQ(
      Logged("Tunnel stop on port " + std::to_string(port) + ": the waiting connection is gone"), 1)
      << Log();
  ASSERT_EQ(fakeProxy.Count(), 1u);
  EXPECT_TRUE(WaitFor([&] { return fakeProxy.At(0).Eof(); }));
  EXPECT_EQ(fakeProxy.At(0).In(), "");
}

TEST_F(TunnelLifetime, RestartingWhileAProxySideConnectsServesTheNextClient) {
  const int port = AddTunnel("restart", "127.0.0.1", 2);
  tunnels->StartTunnels();
  auto first = Waiting(port);
  tunnels->StartTunnels();
  ASSERT_TRUE(WaitFor([&] { return first->Eof() || first->WasReset(); })) << Log();
  std::unique_ptr<Peer> second;
  Peer& far = Established(second, port, kEstablished + "hi");
  ASSERT_TRUE(WaitFor([&] { return second->In() == "hi"; })) << Log();
  second->Send("ok");
  EXPECT_TRUE(WaitFor([&] { return far.In() == "ok"; }));
}

TEST_F(TunnelLifetime, AWaitingConnectionGoneBeforeItIsTakenCreatesNoClientSide) {
  const int port = AddTunnel("gone", "127.0.0.1", 3);
  tunnels->StartTunnels();
  auto client = Waiting(port);
  // Someone else takes the waiting connection: the tunnel's accept finds none.
  testsupport::Fd stolen = testsupport::AcceptWaiting(tunnels->TunnelListeners()[0]->Handle());
  ASSERT_TRUE(stolen.Valid());
  const std::string gone =
      "Tunnel gone on port " + std::to_string(port) + ": the waiting connection is gone";
  ASSERT_TRUE(WaitFor([&] { return Logged(gone) == 1; })) << Log();
  EXPECT_EQ(Logged("Tunnel gone Error occurred."), 0) << Log();
  EXPECT_TRUE(AllGone());
  EXPECT_TRUE(Sides(TTunnelRole::ClientSide).empty());
  // The listener still serves.
  std::unique_ptr<Peer> next;
  Peer& far = Established(next, port, kEstablished + "next");
  EXPECT_TRUE(WaitFor([&] { return next->In() == "next"; }));
  (void)far;
}

TEST_F(TunnelLifetime, ACloseAndAnErrorOfOneSocketDestroyItOnce) {
  const int port = AddTunnel("twice", "127.0.0.1", 4);
  tunnels->StartTunnels();
  std::unique_ptr<Peer> client;
  Peer& far = Established(client, port, kEstablished);
  auto clients = Sides(TTunnelRole::ClientSide);
  ASSERT_EQ(clients.size(), 1u);
  TTunnelWSocket* side = clients[0];
  // What one failed send may raise: its close, then its error.
  tunnels->wsTunnelClientSessionClosed(side, 10053);
  tunnels->wsTunnelClientError(side);
  EXPECT_EQ(Logged("Tunnel twice closed, error code: 10053"), 1);
  EXPECT_EQ(Logged("Tunnel twice Error occurred."), 1);
  EXPECT_TRUE(AllGone());
  EXPECT_TRUE(WaitFor([&] { return far.Eof() && (client->Eof() || client->WasReset()); }));
}

TEST_F(TunnelLifetime, DestroyingTheOwnerWhileConnectionsRunIsSafe) {
  const int port = AddTunnel("owner", "127.0.0.1", 5);
  tunnels->StartTunnels();
  std::unique_ptr<Peer> relaying;
  Peer& far = Established(relaying, port, kEstablished);
  auto waiting = Waiting(port);
  // One side's destruction is asked for and still pending when the owner goes.
  auto clients = Sides(TTunnelRole::ClientSide);
  ASSERT_EQ(clients.size(), 1u);
  tunnels->wsTunnelClientSessionClosed(clients[0], 0);
  ASSERT_TRUE(clients[0]->DestroyPending);
  tunnels.reset();
  EXPECT_TRUE(WaitFor([&] { return far.Eof(); }));
  EXPECT_TRUE(WaitFor([&] { return waiting->Eof() || waiting->WasReset(); }));
  Settle();
  tunnels = std::make_unique<TTunnels>(
      table, [this] { return proxyPort; },
      [this]() -> const std::vector<std::string>& { return allowed; },
      [this](const std::string& line) { lines.push_back(line); });
}

}  // namespace
}  // namespace vantrel::tunneltest
