// Tunnels end one way at a time: a side's clean end reaches the other side
// as a half-close after everything queued for it, the other way keeps
// flowing, and the session goes once both ways have ended.

#include "tests/engine/proxy_harness.h"
#include "tests/support/TestPattern.h"

namespace vantrel::engine::proxytest {
namespace {

enum class Route { Direct, Socks4, NextHop };

enum class Script {
  ClientEndsAfterItsRequest,      // the whole answer still comes back
  OriginGreetsAndEnds,            // the client's upload still goes through
  OriginEndsWhileClientTrickles,  // every byte both ways, and no reset
};

struct HalfCloseCase {
  const char* name;
  Route route;
  Script script;
};

void PrintTo(const HalfCloseCase& c, std::ostream* os) {
  *os << c.name;
}

class ProxyHalfClose : public ProxyTest, public ::testing::WithParamInterface<HalfCloseCase> {
 protected:
  // Makes the tunnel; returns the far end, the origin or a next hop that
  // plays the origin once it has answered.
  Peer& Open(std::unique_ptr<Peer>& client, Route route) {
    if (route == Route::Socks4) {
      onTunnel = [](TKwGenericProxy*, TKwProxyClient* c, std::string&, std::string&, std::string&,
                    bool&, std::string&) {
        c->Socks4Reply = true;
        c->Socks4ReplyBytes = {0x01, 0xbb, 127, 0, 0, 1};
      };
    }
    if (route == Route::NextHop) {
      proxy.NextHopTCPTunnel().SetAddress("127.0.0.1");
      proxy.NextHopTCPTunnel().SetPort(hop.Port());
    }
    client = NewClient();
    client->Send("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string grant;
    Peer* far = nullptr;
    if (route == Route::NextHop) {
      EXPECT_TRUE(
          WaitFor([&] { return hop.Count() == 1 && hop.At(0).In().ends_with("\r\n\r\n"); }));
      far = &hop.At(0);
      far->In().clear();
      grant = "HTTP/1.0 200 Connection established\r\n\r\n";
      far->Send(grant);
    } else {
      EXPECT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
      far = &origin.At(0);
      grant = route == Route::Socks4 ? std::string("\x00\x5a\x01\xbb\x7f\x00\x00\x01", 8)
                                     : Canned(proxy, kTCPTunnelEstablished);
    }
    EXPECT_TRUE(WaitFor([&] { return client->In().size() >= grant.size(); }));
    EXPECT_EQ(client->In(), grant);
    client->In().clear();
    return *far;
  }

  PeerServer origin;
  PeerServer hop;
};

TEST_P(ProxyHalfClose, EachWayEndsOnItsOwn) {
  const HalfCloseCase& c = GetParam();
  std::unique_ptr<Peer> client;
  Peer& far = Open(client, c.route);
  ASSERT_FALSE(HasFailure());
  testsupport::PatternStream pattern(11);

  switch (c.script) {
    case Script::ClientEndsAfterItsRequest: {
      client->Send("request");
      client->ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof(); }));
      EXPECT_EQ(far.In(), "request");
      const std::string reply = pattern.Next(1 << 20);
      far.Send(reply);
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }, kLongDeadline));
      EXPECT_FALSE(client->WasReset());
      EXPECT_TRUE(client->In() == reply) << client->In().size() << " bytes of " << reply.size();
      break;
    }
    case Script::OriginGreetsAndEnds: {
      far.Send("hello");
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
      EXPECT_EQ(client->In(), "hello");
      const std::string upload = pattern.Next(2 << 20);
      client->Send(upload);
      client->ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); }, kLongDeadline));
      EXPECT_FALSE(far.WasReset());
      EXPECT_TRUE(far.In() == upload) << far.In().size() << " bytes of " << upload.size();
      break;
    }
    case Script::OriginEndsWhileClientTrickles: {
      constexpr size_t kBulk = 4u << 20;
      testsupport::Checksum sent, received;
      size_t sinceTrickle = 0, trickled = 0;
      // One byte back for every 64 KiB read, for as long as the client reads.
      client->OnBytes = [&](std::string_view b) {
        received.Add(b.data(), b.size());
        for (sinceTrickle += b.size(); sinceTrickle >= (64u << 10); sinceTrickle -= 64u << 10) {
          client->Send("t");
          ++trickled;
        }
      };
      const std::string bulk = pattern.Next(kBulk);
      sent.Add(bulk);
      far.Send(bulk);
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }, kLongDeadline));
      EXPECT_FALSE(client->WasReset());
      EXPECT_EQ(received.Bytes(), kBulk);
      EXPECT_EQ(received.Value(), sent.Value());
      // Everything the client sent after the origin's end reached it.
      EXPECT_GT(trickled, 0u);
      EXPECT_TRUE(WaitFor([&] { return far.In().size() >= trickled || far.Eof(); }));
      EXPECT_EQ(far.In(), std::string(trickled, 't'));
      EXPECT_FALSE(far.WasReset());
      client->ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); }));
      EXPECT_FALSE(far.WasReset());
      break;
    }
  }
  // Both ways have ended: the session goes by itself.
  EXPECT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
  EXPECT_FALSE(client->WasReset());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ProxyHalfClose,
    ::testing::Values(
        HalfCloseCase{"DirectClientEnds", Route::Direct, Script::ClientEndsAfterItsRequest},
        HalfCloseCase{"DirectOriginEnds", Route::Direct, Script::OriginGreetsAndEnds},
        HalfCloseCase{"DirectTrickle", Route::Direct, Script::OriginEndsWhileClientTrickles},
        HalfCloseCase{"Socks4ClientEnds", Route::Socks4, Script::ClientEndsAfterItsRequest},
        HalfCloseCase{"Socks4OriginEnds", Route::Socks4, Script::OriginGreetsAndEnds},
        HalfCloseCase{"Socks4Trickle", Route::Socks4, Script::OriginEndsWhileClientTrickles},
        HalfCloseCase{"HopClientEnds", Route::NextHop, Script::ClientEndsAfterItsRequest},
        HalfCloseCase{"HopOriginEnds", Route::NextHop, Script::OriginGreetsAndEnds},
        HalfCloseCase{"HopTrickle", Route::NextHop, Script::OriginEndsWhileClientTrickles}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::engine::proxytest
