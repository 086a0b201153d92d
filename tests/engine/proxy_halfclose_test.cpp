// Tunnels end one way at a time: a side's clean end reaches the other side
// as a half-close after everything queued for it, the other way keeps
// flowing, and the session goes once both ways have ended.

#include "tests/engine/half_close_scripts.h"

namespace vantrel::engine::proxytest {
namespace {

enum class Route { Direct, Socks4, NextHop };

using HalfCloseCase = std::tuple<Route, HalfCloseScript>;

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
  const auto [route, script] = GetParam();
  std::unique_ptr<Peer> client;
  Peer& far = Open(client, route);
  ASSERT_FALSE(HasFailure());
  RunHalfCloseScript(script, *client, far);
  // Both ways have ended: the session goes by itself.
  EXPECT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
  EXPECT_FALSE(client->WasReset());
}

std::string CaseName(const ::testing::TestParamInfo<HalfCloseCase>& info) {
  const Route route = std::get<0>(info.param);
  const char* prefix = route == Route::Direct   ? "Direct"
                       : route == Route::Socks4 ? "Socks4"
                                                : "Hop";
  return prefix + std::string(NameOf(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(Ends, ProxyHalfClose,
                         ::testing::Combine(::testing::Values(Route::Direct, Route::Socks4,
                                                              Route::NextHop),
                                            ::testing::ValuesIn(kHalfCloseScripts)),
                         CaseName);

}  // namespace
}  // namespace vantrel::engine::proxytest
