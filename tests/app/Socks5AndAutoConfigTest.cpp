// What the proxy port serves beside HTTP and SOCKS4: SOCKS5 tunnels, routed
// like every other tunnel, and the proxy auto-config file, answered here.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/SessionTimeouts.h"
#include "routing/ProxyAutoConfig.h"
#include "tests/app/RoutingFixture.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using engine::TKwProxyClient;
using engine::proxytest::ConnectTo;
using engine::proxytest::LoopGoesIdle;
using engine::proxytest::Peer;
using engine::proxytest::PeerServer;
using engine::proxytest::WaitFor;
using testsupport::DnsResponder;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

const std::string kGreeting = Bytes({5, 1, 0});
const std::string kChosen = Bytes({5, 0});

std::string Request(const std::string& name, int port, int command = 1) {
  return Bytes({5, command, 0, 3, static_cast<int>(name.size())}) + name +
         Bytes({port >> 8, port & 0xFF});
}
std::string Request(int port) {
  return Bytes({5, 1, 0, 1, 127, 0, 0, 1, port >> 8, port & 0xFF});
}
std::string Failure(int code) {
  return Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0});
}

class ProxyPort : public apptest::TRoutingFixture {
 protected:
  std::unique_ptr<Peer> NewClient() { return ConnectTo(ProxyPortNumber()); }
};

// ---- SOCKS5 ----

// Whole, and cut at every byte: the method answer as soon as the greeting
// is whole, the reply once the tunnel exists (naming the remote socket's
// own end), then bytes both ways, early ones first.
TEST_F(ProxyPort, Socks5ConnectIsAnsweredOnceTheTunnelExists) {
  for (const std::string& request : {Request(origin.Port()), Request("near.test", origin.Port())}) {
    const std::string all = kGreeting + request;
    // The name's request is cut everywhere; the address's whole and after
    // the greeting.
    const bool everywhere = request.size() > 10;
    for (size_t cut = 0; cut < all.size(); cut += everywhere || cut > 0 ? 1 : kGreeting.size()) {
      if (!everywhere && cut > kGreeting.size()) break;
      SCOPED_TRACE((request.size() == 10 ? "address, cut at " : "name, cut at ") +
                   std::to_string(cut));
      const size_t before = origin.Count();
      auto client = NewClient();
      if (cut > 0) {
        client->Send(all.substr(0, cut));
        ASSERT_TRUE(LoopGoesIdle());
        EXPECT_EQ(client->In(), cut >= kGreeting.size() ? kChosen : "");
        EXPECT_EQ(origin.Count(), before);
      }
      client->Send(all.substr(cut) + "early");
      ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 12; }));
      ASSERT_EQ(origin.Count(), before + 1);
      const std::string& in = client->In();
      EXPECT_EQ(in.substr(0, 10), kChosen + Bytes({5, 0, 0, 1, 127, 0, 0, 1}));
      EXPECT_NE(in.substr(10, 2), Bytes({0, 0}));
      ASSERT_TRUE(WaitFor([&] { return origin.Last().In() == "early"; })) << origin.Last().In();
      client->Send("later");
      origin.Last().Send("back");
      ASSERT_TRUE(WaitFor([&] { return origin.Last().In() == "earlylater"; }));
      ASSERT_TRUE(WaitFor([&] { return client->In().size() == 16; }));
      EXPECT_EQ(client->In().substr(12), "back");
      client->CloseNow();
    }
  }
}

// Through a next hop: the hop gets the CONNECT, its grant becomes the reply
// (0.0.0.0:0); logged like a SOCKS4 request and every byte counted once.
TEST_F(ProxyPort, Socks5ThroughANextHopIsRoutedLoggedAndCounted) {
  c().cbLogging.SetChecked(true);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  dns.SetAddresses("far.test", {"127.0.0.1"});
  auto client = NewClient();
  client->Send(kGreeting + Request("far.test", origin.Port()) + "early");
  const std::string header = "CONNECT far.test:" + origin.PortText() + " HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(
      WaitFor([&] { return hop.Count() == 1 && hop.At(0).In().size() >= header.size() + 5; }));
  EXPECT_EQ(hop.At(0).In(), header + "early");
  // Nothing before the tunnel exists: the method sent along with the
  // request comes in front of the reply.
  EXPECT_EQ(client->In(), "");
  hop.At(0).Send("HTTP/1.0 200 Connection established\r\n\r\nfrom origin");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 2 + 10 + 11; }));
  EXPECT_EQ(client->In(), kChosen + Failure(0) + "from origin");
  client->Send("more");
  ASSERT_TRUE(WaitFor([&] { return hop.At(0).In().size() == header.size() + 9; }));
  EXPECT_EQ(origin.Count(), 0u);
  EXPECT_EQ(w().counters.SentBytes[1][2], static_cast<int64_t>(header.size() + 9));
  EXPECT_EQ(SentTotal(), static_cast<int64_t>(header.size() + 9));
  EXPECT_EQ(w().counters.ReceivedBytes[1][2], 11);
  EXPECT_EQ(ReceivedTotal(), 11);
  const std::string screen = ScreenText();
  EXPECT_NE(screen.find("Converted to SOCKS5 connect"), std::string::npos) << screen;
}

// Every reply code the proxy gives, each followed by the end of the
// connection.
TEST_F(ProxyPort, Socks5RefusalsGetTheirReplyCodeAndClose) {
  int closedPort = 0;
  {
    PeerServer gone;
    closedPort = gone.Port();
  }
  // A handler that refuses a tunnel (as a blocked host would be refused).
  auto tunnel = w().Proxy1.OnTunnelRequest;
  w().Proxy1.OnTunnelRequest = [tunnel](engine::TKwGenericProxy* sender, TKwProxyClient* client,
                                        std::string& header, std::string& host, std::string& port,
                                        bool& ignore, std::string& returnContent) {
    if (host == "refused.test") {
      returnContent = "HTTP/1.0 403 Forbidden\r\n\r\n";
      return;
    }
    tunnel(sender, client, header, host, port, ignore, returnContent);
  };
  dns.SetAddresses("refused.test", {"127.0.0.1"});
  dns.SetAddresses("hop.test", {"127.0.0.1"});
  struct Case {
    const char* name;
    std::string bytes;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"no acceptable method", Bytes({5, 2, 1, 2}), Bytes({5, 0xFF})},
      {"general failure: port 0", kGreeting + Request("near.test", 0), kChosen + Failure(1)},
      {"not allowed", kGreeting + Request("refused.test", origin.Port()), kChosen + Failure(2)},
      {"the proxy itself", kGreeting + Request(ProxyPortNumber()), kChosen + Failure(2)},
      {"host unreachable", kGreeting + Request("nowhere.test", 80), kChosen + Failure(4)},
      {"connection refused", kGreeting + Request(closedPort), kChosen + Failure(5)},
      {"command not supported", kGreeting + Request("near.test", 80, 2), kChosen + Failure(7)},
      {"address type not supported", kGreeting + Bytes({5, 1, 0, 4}) + std::string(18, '\1'),
       kChosen + Failure(8)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto client = NewClient();
    client->Send(k.bytes);
    ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
    EXPECT_EQ(client->In(), k.reply);
  }
  EXPECT_EQ(origin.Count(), 0u);

  // A connect neither accepted nor refused (a listener whose queue is full)
  // gives up after the connect timeout: TTL expired.
  {
    SCOPED_TRACE("connect timed out");
    engine::TSessionTimeouts timeouts;
    timeouts.ConnectTimeout = 1;
    w().Proxy1.SetTimeouts(timeouts);
    int port = 0;
    testsupport::Fd listener = testsupport::ListenOnLoopback(port, 0);
    testsupport::Fd filler = testsupport::ConnectToLoopback(port);
    auto client = NewClient();
    client->Send(kGreeting + Request(port));
    ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
    EXPECT_EQ(client->In(), kChosen + Failure(6));
    w().Proxy1.SetTimeouts({});
  }

  // A next hop that refuses the tunnel: refused, and its page is no data.
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  client->Send(kGreeting + Request("hop.test", origin.Port()));
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && !hop.At(0).In().empty(); }));
  hop.At(0).Send("HTTP/1.0 403 Not you\r\n\r\npage");
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
  EXPECT_EQ(client->In(), kChosen + Failure(5));
  // One that ends before it replies, in order or with a reset: a failure.
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "hop reset" : "hop closed");
    auto gone = NewClient();
    gone->Send(kGreeting + Request("hop.test", origin.Port()));
    ASSERT_TRUE(
        WaitFor([&] { return hop.Count() == (reset ? 3u : 2u) && !hop.Last().In().empty(); }));
    if (reset) {
      hop.Last().ResetNow();
    } else {
      hop.Last().CloseNow();
    }
    ASSERT_TRUE(WaitFor([&] { return gone->Eof() || gone->WasReset(); }));
    EXPECT_EQ(gone->In(), kChosen + Failure(1));
  }
}

// ---- the proxy auto-config file ----

TEST_F(ProxyPort, AutoConfigFileIsAnsweredHereFromTheLiveLists) {
  c().cbBlock.SetChecked(true);
  c().memBlockedHosts.SetLines({"127.0.0.1"});
  w().listFiles.RebuildBlockedHosts();
  c().memBypass.SetLines({"10.0.0.0 - 10.255.255.255"});
  w().listFiles.RebuildAddressLists();
  const TLocalEnd proxy{"127.0.0.1", ProxyPortNumber()};
  const auto fetch = [&](const std::string& request) {
    auto client = NewClient();
    client->Send(request);
    EXPECT_TRUE(WaitFor([&] { return client->Eof(); }));
    return client->In();
  };
  c().cbBypass.SetChecked(true);
  EXPECT_EQ(fetch("GET /proxy.pac HTTP/1.1\r\nHost: anything\r\n\r\n"),
            AutoConfigResponse(AutoConfigScript({"010.000.000.000-010.255.255.255"}, true, proxy),
                               false));
  // The switch counts at once; the absolute form naming this port too.
  c().cbBypass.SetChecked(false);
  const std::string self = "127.0.0.1:" + std::to_string(proxy.port);
  EXPECT_EQ(fetch("GET http://" + self + "/wpad.dat HTTP/1.1\r\nHost: " + self + "\r\n\r\n"),
            AutoConfigResponse(AutoConfigScript({}, false, proxy), false));
  // Neither looked up, nor blocked (127.0.0.1 is), nor counted: one line each.
  EXPECT_EQ(dns.TotalQueries(), 0);
  EXPECT_EQ(SentTotal() + ReceivedTotal(), 0);
  const std::string screen = ScreenText();
  EXPECT_NE(screen.find("[Client 127.0.0.1 gets the proxy auto-config file /proxy.pac]"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("gets the proxy auto-config file http://" + self + "/wpad.dat]"),
            std::string::npos)
      << screen;

  // Another machine's file is an ordinary request.
  c().cbBlock.SetChecked(false);
  auto client = NewClient();
  client->Send("GET http://127.0.0.1:" + origin.PortText() + "/proxy.pac HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && !origin.At(0).In().empty(); }));
  EXPECT_EQ(origin.At(0).In().rfind("GET /proxy.pac HTTP/1.1\r\n", 0), 0u);
}

}  // namespace
}  // namespace vantrel
