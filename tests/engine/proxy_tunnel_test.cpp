// CONNECT tunnels: direct and through a next hop, SOCKS4 grants in place of
// the text replies, and raw relaying both ways once the tunnel stands.

#include "tests/engine/proxy_harness.h"

namespace vantrel::engine::proxytest {
namespace {

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

const std::array<uint8_t, 6> kSocksBytes = {0x01, 0xbb, 10, 1, 2, 3};
const std::string kGrant = std::string("\x00\x5a\x01\xbb\x0a\x01\x02\x03", 8);

class ProxyTunnel : public ProxyTest {
 protected:
  std::string ConnectLine(int port) const {
    return "CONNECT 127.0.0.1:" + std::to_string(port) + " HTTP/1.1\r\nHost: x\r\n\r\n";
  }

  // Bytes flow both ways through an established tunnel.
  void ExpectRelay(Peer& client, Peer& far, size_t clientHas) {
    client.Send("ping");
    ASSERT_TRUE(WaitFor([&] { return far.In().size() >= 4 && far.In().ends_with("ping"); }));
    far.Send("pong");
    ASSERT_TRUE(WaitFor([&] { return client.In().size() >= clientHas + 4; }));
    EXPECT_EQ(client.In().substr(clientHas), "pong");
  }

  void UseHop(const std::string& user = "", const std::string& pass = "") {
    proxy.NextHopTCPTunnel().SetAddress("127.0.0.1");
    proxy.NextHopTCPTunnel().SetPort(hop.Port());
    proxy.NextHopTCPTunnel().SetUsername(user);
    proxy.NextHopTCPTunnel().SetPassword(pass);
  }

  PeerServer origin;
  PeerServer hop;
};

TEST_F(ProxyTunnel, DirectTunnelAnswersEstablishedThenRelaysRawBytes) {
  auto client = NewClient();
  // Bytes that come in the same read as the header are the tunnel's first.
  client->Send(ConnectLine(origin.Port()) + "early");
  const std::string established = Canned(proxy, kTCPTunnelEstablished);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= established.size(); }));
  EXPECT_EQ(client->In(), established);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In().size() >= 5; }));
  EXPECT_EQ(origin.At(0).In(), "early");
  ExpectRelay(*client, origin.At(0), established.size());
  EXPECT_EQ(origin.At(0).In(), "earlyping");
  EXPECT_EQ(seen.host, "127.0.0.1");
  EXPECT_EQ(seen.port, origin.PortText());
  EXPECT_TRUE(Session()->IsTunnel);
  EXPECT_TRUE(Session()->TunnelEstablished);

  // A later chunk is never taken for a new request header.
  client->Send("GET http://127.0.0.1:1/ HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).In().ends_with("\r\n\r\n"); }));
  EXPECT_EQ(Count("TunnelRequest"), 1);
  EXPECT_EQ(Count("ClientHeader"), 0);
  EXPECT_EQ(origin.Count(), 1u);
}

TEST_F(ProxyTunnel, LowerCaseConnectIsATunnel) {
  auto client = NewClient();
  client->Send("connect 127.0.0.1:" + origin.PortText() + " HTTP/1.0\r\n\r\n");
  const std::string established = Canned(proxy, kTCPTunnelEstablished);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= established.size(); }));
  EXPECT_EQ(client->In(), established);
  EXPECT_EQ(Count("TunnelRequest"), 1);
  ASSERT_EQ(origin.Count(), 1u);
  ExpectRelay(*client, origin.At(0), established.size());
}

TEST_F(ProxyTunnel, ReplacedEstablishedTextStartsTheTunnel) {
  proxy.Response().sTCPTunnelEstablished().Assign(std::vector<std::string>{"A", ""});
  auto client = NewClient();
  client->Send(ConnectLine(origin.Port()));
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 5; }));
  EXPECT_EQ(client->In(), "A\r\n\r\n");
  ASSERT_EQ(origin.Count(), 1u);
  ExpectRelay(*client, origin.At(0), 5);
}

TEST_F(ProxyTunnel, DirectSocks4GrantReplacesTheText) {
  onTunnel = [](TKwGenericProxy*, TKwProxyClient* c, std::string&, std::string&, std::string&,
                bool&, std::string&) {
    c->Socks4Reply = true;
    c->Socks4ReplyBytes = kSocksBytes;
  };
  auto client = NewClient();
  client->Send(ConnectLine(origin.Port()));
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 8; }));
  EXPECT_EQ(client->In(), kGrant);
  ASSERT_EQ(origin.Count(), 1u);
  ExpectRelay(*client, origin.At(0), 8);
}

TEST_F(ProxyTunnel, NextHopGetsTheConnectHeaderAndItsReplyIsPassedOnUnchanged) {
  UseHop("user", "pass");
  // far.test has no address here: only the hop may resolve it.
  auto client = NewClient();
  client->Send("CONNECT far.test:443 HTTP/1.1\r\nHost: far.test:443\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_EQ(hop.At(0).In(),
            "CONNECT far.test:443 HTTP/1.1\r\nHost: far.test:443\r\n"
            "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
  EXPECT_EQ(dns.TotalQueries(), 0);
  hop.At(0).In().clear();

  // The reply comes in two pieces, and relayed bytes follow it at once.
  hop.At(0).Send("HTTP/1.1 200 Connection established\r\nVia: hop\r\n");
  ASSERT_TRUE(WaitFor([&] { return !Session()->Exchange().TunnelReplyBuffer.empty(); }));
  EXPECT_EQ(client->In(), "");
  std::vector<std::string> reported;
  proxy.OnRemoteDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string_view d) {
    reported.emplace_back(d);
  };
  hop.At(0).Send("\r\nfirst");
  const std::string reply = "HTTP/1.1 200 Connection established\r\nVia: hop\r\n\r\n";
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= reply.size() + 5; }));
  EXPECT_EQ(client->In(), reply + "first");
  // The reply header is not data of the tunnel.
  EXPECT_EQ(reported, std::vector<std::string>{"first"});
  ExpectRelay(*client, hop.At(0), reply.size() + 5);
}

TEST_F(ProxyTunnel, NextHopSocks4GrantOnlyForATunnelTheHopMade) {
  UseHop();
  proxy.OnClientDataAvailable = [](TKwGenericProxy*, TKwProxyClient* c, std::string&) {
    c->Socks4Reply = true;
    c->Socks4ReplyBytes = kSocksBytes;
  };
  // A refusal is no grant, and its page is no tunnel data: a reject, then the end.
  auto refused = NewClient();
  refused->Send("CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_EQ(hop.At(0).In(), "CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  hop.At(0).Send("HTTP/1.0 407 Who are you\r\n\r\nrest");
  ASSERT_TRUE(WaitFor([&] { return refused->Eof(); }));
  std::string reject = kGrant;
  reject[1] = 91;
  EXPECT_EQ(refused->In(), reject);

  auto client = NewClient();
  client->Send("CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 2 && HasHeader(hop.At(1)); }));
  hop.At(1).In().clear();
  hop.At(1).Send("HTTP/1.0 200 Connection established\r\n\r\nrest");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 12; }));
  EXPECT_EQ(client->In(), kGrant + "rest");
  ExpectRelay(*client, hop.At(1), 12);
}

TEST_F(ProxyTunnel, HandlerCanSendATunnelDirectOrAnswerItItself) {
  UseHop();
  onTunnel = [&](TKwGenericProxy*, TKwProxyClient*, std::string&, std::string& host,
                 std::string& port, bool& ignoreNextHopProxy, std::string&) {
    host = "127.0.0.1";
    port = origin.PortText();
    ignoreNextHopProxy = true;
  };
  auto client = NewClient();
  client->Send("CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  const std::string established = Canned(proxy, kTCPTunnelEstablished);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= established.size(); }));
  EXPECT_EQ(client->In(), established);
  EXPECT_EQ(hop.Count(), 0u);
  ASSERT_EQ(origin.Count(), 1u);

  onTunnel = [&](TKwGenericProxy*, TKwProxyClient*, std::string&, std::string&, std::string&, bool&,
                 std::string& returnContent) { returnContent = "HTTP/1.0 403 No\r\n\r\n"; };
  auto second = NewClient();
  second->Send("CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return second->Eof(); }));
  EXPECT_EQ(second->In(), "HTTP/1.0 403 No\r\n\r\n");
  EXPECT_EQ(hop.Count(), 0u);
}

TEST_F(ProxyTunnel, NextHopThatNeverEndsItsReplyIsCutOff) {
  UseHop();
  auto client = NewClient();
  client->Send("CONNECT far.test:443 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  hop.At(0).Send(std::string(80 * 1024, 'x'));
  ASSERT_TRUE(WaitFor([&] { return hop.At(0).Eof() || hop.At(0).WasReset(); }));
  // The client learns of it by the end of its stream, with no bytes.
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), "");
  EXPECT_LE(Session()->Exchange().TunnelReplyBuffer.size(), TKwHttpProxy::kMaxHeader + 64 * 1024);
}

}  // namespace
}  // namespace vantrel::engine::proxytest
