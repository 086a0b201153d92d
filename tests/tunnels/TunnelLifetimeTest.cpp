// Sockets that outlive their listener, a client that goes while its proxy
// side connects, a burst of clients taken at once, one socket told of its
// end twice, and the owner destroyed while connections run. Meant to be run
// under AddressSanitizer too.

#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <vector>

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

// A connection is taken as soon as it waits: one already taken goes on
// when its listener is stopped or restarted, as running connections do.
TEST_F(TunnelLifetime, StoppingWhileAProxySideConnectsLetsTheTakenConnectionGoOn) {
  const int port = AddTunnel("stop", "127.0.0.1", 1);
  tunnels->StartTunnels();
  auto client = Waiting(port);
  tunnels->StopTunnels();  // the listener the proxy side points at is gone
  ASSERT_TRUE(WaitFor([&] {
    return fakeProxy.Count() == 1 && fakeProxy.At(0).In().ends_with("\r\n\r\n");
  })) << Log();
  EXPECT_EQ(fakeProxy.At(0).In(), RequestFor(1));
  fakeProxy.At(0).Send(kEstablished + "hi");
  EXPECT_TRUE(WaitFor([&] { return client->In() == "hi"; })) << Log();
  EXPECT_TRUE(tunnels->TunnelListeners().empty());
}

TEST_F(TunnelLifetime, RestartingWhileAProxySideConnectsServesItAndTheNextClient) {
  const int port = AddTunnel("restart", "127.0.0.1", 2);
  tunnels->StartTunnels();
  auto first = Waiting(port);
  tunnels->StartTunnels();
  ASSERT_TRUE(WaitFor([&] {
    return fakeProxy.Count() == 1 && fakeProxy.At(0).In().ends_with("\r\n\r\n");
  })) << Log();
  fakeProxy.At(0).Send(kEstablished + "first");
  EXPECT_TRUE(WaitFor([&] { return first->In() == "first"; })) << Log();
  std::unique_ptr<Peer> second;
  Peer& far = Established(second, port, kEstablished + "hi");
  ASSERT_TRUE(WaitFor([&] { return second->In() == "hi"; })) << Log();
  second->Send("ok");
  EXPECT_TRUE(WaitFor([&] { return far.In() == "ok"; }));
}

TEST_F(TunnelLifetime, AClientThatGoesWhileItsProxySideConnectsTakesItAlong) {
  const int port = AddTunnel("gone", "127.0.0.1", 3);
  tunnels->StartTunnels();
  auto client = Waiting(port);
  client->ResetNow();
  EXPECT_TRUE(AllGone()) << Log();
  EXPECT_EQ(Logged("Tunnel gone Error occurred."), 0) << Log();
  // The listener still serves.
  std::unique_ptr<Peer> next;
  Peer& far = Established(next, port, kEstablished + "next");
  EXPECT_TRUE(WaitFor([&] { return next->In() == "next"; }));
  (void)far;
}

// A burst of clients is taken at once, each with its connection to the
// proxy under way, rather than one after another's.
TEST_F(TunnelLifetime, EveryWaitingClientIsTakenAtOnce) {
  constexpr int kClients = 24;
  const int port = AddTunnel("burst", "127.0.0.1", 6);
  tunnels->StartTunnels();
  std::vector<std::unique_ptr<Peer>> clients;
  // Each connect returns once the system has queued it on the listener.
  for (int i = 0; i < kClients; ++i) clients.push_back(ConnectTo(port));
  const std::string received =
      "Tunnel burst on port " + std::to_string(port) + " received (redirect to 127.0.0.1:6)";
  ASSERT_TRUE(WaitFor([&] { return Logged(received) > 0; }));
  EXPECT_EQ(Logged(received), kClients) << "taken by the first event";
  // And all of them are carried.
  ASSERT_TRUE(WaitFor([&] {
    if (fakeProxy.Count() != static_cast<size_t>(kClients)) return false;
    for (size_t i = 0; i < fakeProxy.Count(); ++i) {
      if (!fakeProxy.At(i).In().ends_with("\r\n\r\n")) return false;
    }
    return true;
  })) << Log();
  for (size_t i = 0; i < fakeProxy.Count(); ++i) fakeProxy.At(i).Send(kEstablished + "go");
  EXPECT_TRUE(WaitFor([&] {
    return std::all_of(clients.begin(), clients.end(),
                       [](const auto& c) { return c->In() == "go"; });
  })) << Log();
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
  TTunnelWSocket* relayingSide = nullptr;
  for (TTunnelWSocket* side : Sides(TTunnelRole::ClientSide)) {
    if (side->Partner && side->Partner->Stage == TTunnelStage::Relaying) relayingSide = side;
  }
  ASSERT_NE(relayingSide, nullptr);
  tunnels->wsTunnelClientSessionClosed(relayingSide, 0);
  ASSERT_TRUE(relayingSide->DestroyPending);
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
