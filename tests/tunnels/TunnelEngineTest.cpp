// Tunnels through the real proxy engine to an origin on loopback: large
// transfers both ways, an origin that ends while the client reads slowly, a
// client that never reads, and the engine's refusals.

#include <algorithm>
#include <string>

#include "engine/KwHttpProxy.h"
#include "tests/engine/half_close_scripts.h"
#include "tests/support/TestPattern.h"
#include "tests/tunnels/TunnelHarness.h"

namespace vantrel::tunneltest {
namespace {

constexpr size_t kSixteenMiB = 16u << 20;

class TunnelEngine : public TunnelTest {
 protected:
  void SetUp() override {
    TunnelTest::SetUp();
    engine.SetLocalAddress("127.0.0.1");
    engine.SetPort(0);
    std::string error;
    engine.Open(error);
    ASSERT_EQ(error, "");
    proxyPort = engine.Server().BoundPort();
  }
  void TearDown() override {
    TunnelTest::TearDown();
    engine.Close();
    WaitFor([this] { return engine.Server().ClientCount() == 0; });
  }

  // A tunnel to the origin and one client through it, relaying.
  std::unique_ptr<Peer> Through() {
    const int port = AddTunnel("origin", "127.0.0.1", origin.Port());
    tunnels->StartTunnels();
    auto client = ConnectTo(port);
    EXPECT_TRUE(WaitFor([&] {
      return origin.Count() == 1 && Logged("Tunnel connection successful") == 1;
    })) << Log();
    return client;
  }

  size_t LargestClientQueue() const {
    size_t most = 0;
    for (const auto& s : tunnels->Sessions()) {
      if (s->Role == TTunnelRole::ClientSide) most = std::max(most, s->BufferedBytes());
    }
    return most;
  }

  PeerServer origin;
  engine::TKwHttpProxy engine;
};

// Sends `total` pattern bytes in pieces as the peer's queue empties.
void Feed(Peer& peer, testsupport::PatternStream& pattern, size_t& left) {
  if (peer.Queued() > (1u << 20) || left == 0) return;
  const size_t n = std::min<size_t>(left, 256 * 1024);
  peer.Send(pattern.Next(n));
  left -= n;
}

TEST_F(TunnelEngine, SixteenMiBEachWayArriveWhole) {
  auto client = Through();
  ASSERT_EQ(origin.Count(), 1u);
  Peer& far = origin.At(0);
  testsupport::Checksum toOrigin, toClient, gotByOrigin, gotByClient;
  far.OnBytes = [&](std::string_view b) { gotByOrigin.Add(b.data(), b.size()); };
  client->OnBytes = [&](std::string_view b) { gotByClient.Add(b.data(), b.size()); };
  testsupport::PatternStream up(1), down(2);
  size_t upLeft = kSixteenMiB, downLeft = kSixteenMiB;
  ASSERT_TRUE(WaitFor(
      [&] {
        Feed(*client, up, upLeft);
        Feed(far, down, downLeft);
        return gotByOrigin.Bytes() == kSixteenMiB && gotByClient.Bytes() == kSixteenMiB;
      },
      kLongDeadline))
      << gotByOrigin.Bytes() << " " << gotByClient.Bytes();
  testsupport::PatternStream upAgain(1), downAgain(2);
  for (size_t done = 0; done < kSixteenMiB; done += 1u << 20) {
    toOrigin.Add(upAgain.Next(1u << 20));
    toClient.Add(downAgain.Next(1u << 20));
  }
  EXPECT_EQ(gotByOrigin.Value(), toOrigin.Value());
  EXPECT_EQ(gotByClient.Value(), toClient.Value());
}

TEST_F(TunnelEngine, AnOriginThatSendsAndEndsReachesASlowReaderWhole) {
  auto client = Through();
  Peer& far = origin.At(0);
  testsupport::PatternStream pattern(7);
  testsupport::Checksum sent, got;
  for (size_t done = 0; done < kSixteenMiB; done += 1u << 20) {
    const std::string piece = pattern.Next(1u << 20);
    sent.Add(piece);
    far.Send(piece);
  }
  far.ShutdownWrite();  // a clean end right behind the last byte
  client->SetAutoRead(false);
  client->OnBytes = [&](std::string_view b) { got.Add(b.data(), b.size()); };
  // Nothing read at first: the end reaches the tunnel while much of the
  // stream still waits in the tunnel and the buffers in front of the client.
  size_t lastQueued = 0;
  int stalled = 0;
  Poll([&] {
    const bool stuck = far.Queued() == lastQueued;
    lastQueued = far.Queued();
    stalled = stuck ? stalled + 1 : 0;
    return engine.Server().ClientCount() == 0 || stalled > 200;
  });
  // A little at a time, as a slow program would.
  ASSERT_TRUE(Poll([&] {
    client->ReadSome(64 * 1024);
    return client->Eof();
  })) << got.Bytes();
  EXPECT_EQ(got.Bytes(), kSixteenMiB);
  EXPECT_EQ(got.Value(), sent.Value());
  // The other way stays open until the client ends it too.
  client->CloseNow();
  EXPECT_TRUE(AllGone());
}

TEST_F(TunnelEngine, AClientThatNeverReadsHoldsBoundedMemory) {
  auto client = Through();
  Peer& far = origin.At(0);
  client->SetAutoRead(false);
  testsupport::PatternStream pattern(3);
  size_t left = kSixteenMiB;
  size_t most = 0;
  // Until the origin can write no more, or everything went.
  int stalled = 0;
  size_t lastQueued = 0;
  Poll([&] {
    Feed(far, pattern, left);
    most = std::max(most, LargestClientQueue());
    const bool stuck = far.Queued() > 0 && far.Queued() == lastQueued;
    lastQueued = far.Queued();
    stalled = stuck ? stalled + 1 : 0;
    return (left == 0 && far.Queued() == 0) || stalled > 100;
  });
  Settle(200);
  most = std::max(most, LargestClientQueue());
  EXPECT_LE(most, engine::TKwGenericProxy::kHighWater + TTunnels::kChunk);
  auto proxies = Sides(TTunnelRole::ProxySide);
  ASSERT_EQ(proxies.size(), 1u);
  EXPECT_TRUE(proxies[0]->ReadingPaused());
}

// Each way ends on its own through the tunnel and the engine behind it; the
// tunnel goes once both have ended, with no reset on the way.
class TunnelHalfClose : public TunnelEngine,
                        public ::testing::WithParamInterface<engine::proxytest::HalfCloseScript> {};

TEST_P(TunnelHalfClose, EachWayEndsOnItsOwn) {
  auto client = Through();
  ASSERT_EQ(origin.Count(), 1u);
  engine::proxytest::RunHalfCloseScript(GetParam(), *client, origin.At(0));
  EXPECT_TRUE(AllGone()) << Log();
  EXPECT_TRUE(WaitFor([&] { return engine.Server().ClientCount() == 0; }));
  EXPECT_FALSE(client->WasReset());
}

INSTANTIATE_TEST_SUITE_P(Ends, TunnelHalfClose,
                         ::testing::ValuesIn(engine::proxytest::kHalfCloseScripts),
                         [](const auto& info) {
                           return std::string(engine::proxytest::NameOf(info.param));
                         });

TEST_F(TunnelEngine, ResetsOnEitherEndFreeTheTunnel) {
  const int port = AddTunnel("reset", "127.0.0.1", origin.Port());
  tunnels->StartTunnels();
  for (bool clientResets : {true, false}) {
    SCOPED_TRACE(clientResets ? "client resets" : "origin resets");
    const size_t before = origin.Count();
    auto client = ConnectTo(port);
    ASSERT_TRUE(WaitFor([&] { return origin.Count() > before; })) << Log();
    Peer& far = origin.Last();
    client->Send("up");
    ASSERT_TRUE(WaitFor([&] { return far.In() == "up"; })) << Log();
    if (clientResets) {
      client->ResetNow();
      EXPECT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); })) << Log();
      // The engine sees the tunnel's close as the end of one way only; the
      // origin ends the other, as servers do once their client has ended.
      far.CloseNow();
    } else {
      // The engine keeps a client whose remote was reset open until the
      // client closes; the tunnel then lets both of its sides go.
      far.ResetNow();
      Settle();
      client->CloseNow();
    }
    EXPECT_TRUE(AllGone());
  }
  // Nothing of either is left with the engine.
  EXPECT_TRUE(WaitFor([&] { return engine.Server().ClientCount() == 0; }));
}

TEST_F(TunnelEngine, ARefusedRemoteIsLoggedAsAFailedConnection) {
  int closedPort = 0;
  testsupport::Fd refusing = testsupport::BindWithoutListening(closedPort);
  const int port = AddTunnel("shut", "127.0.0.1", closedPort);
  tunnels->StartTunnels();
  auto client = ConnectTo(port);
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << Log();
  EXPECT_TRUE(AllGone());
  const std::string remote = "127.0.0.1:" + std::to_string(closedPort);
  // The engine hangs up without a word; the log must not stop at a close.
  EXPECT_EQ(Logged("Tunnel shut connection to " + remote +
                   " failed: the proxy closed the connection without an answer"),
            1)
      << Log();
}

TEST_F(TunnelEngine, TheEnginesClientFilterAppliesToTheTunnelsOwnRequest) {
  engine.SetAllowedIP({"10.1.2.3"});
  const int port = AddTunnel("filtered", "127.0.0.1", origin.Port());
  tunnels->StartTunnels();
  auto client = ConnectTo(port);
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << Log();
  EXPECT_EQ(origin.Count(), 0u);
  EXPECT_TRUE(LoggedStarting(
      "ERROR: Could not connect to remote, error returned: \r\nHTTP/1.0 403 Forbidden\r\n"))
      << Log();
  EXPECT_EQ(Logged("Tunnel connection successful"), 0) << Log();
  EXPECT_TRUE(AllGone());
}

}  // namespace
}  // namespace vantrel::tunneltest
