// The routing handlers on a real engine: loopback origins, a loopback next
// hop that records what it gets, and name lookups answered by a responder
// of the test's own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/ProxyTables.h"
#include "tests/app/RoutingFixture.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using engine::TKwProxyClient;
using engine::proxytest::ConnectTo;
using engine::proxytest::Peer;
using engine::proxytest::PeerServer;
using engine::proxytest::WaitFor;
using testsupport::DnsResponder;

constexpr uint32_t kLoopback = 0x7F000001;

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

class Routing : public apptest::TRoutingFixture {
 protected:
  void MakeLoopbackLocal() { w().localRanges.Append(kLoopback, kLoopback); }

  std::unique_ptr<Peer> NewClient() {
    const int before = connects;
    auto peer = ConnectTo(w().Proxy1.Server().BoundPort());
    EXPECT_TRUE(WaitFor([&] { return connects > before; }));
    return peer;
  }
  TKwProxyClient* Session(int i = 0) {
    auto& server = w().Proxy1.Server();
    if (i >= server.ClientCount()) return nullptr;
    return static_cast<TKwProxyClient*>(server.Clients(i));
  }
};

std::string Get(const std::string& hostPort, const std::string& path = "/") {
  return "GET http://" + hostPort + path + " HTTP/1.1\r\nHost: " + hostPort + "\r\n\r\n";
}

// Every locality and class with its switch off, on, and on with an empty
// selector ("<direct>").
TEST_F(Routing, EachLocalityAndClassTakesItsOwnSwitchAndNextHop) {
  enum Switch { Off, On, OnDirect };
  struct Case {
    bool local;
    const char* cls;  // "80", "443" (a tunnel) or "other"
    Switch sw;
  };
  std::vector<Case> cases;
  for (bool local : {false, true})
    for (const char* cls : {"80", "443", "other"})
      for (Switch sw : {Off, On, OnDirect}) cases.push_back({local, cls, sw});

  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.local ? "local " : "international ") + k.cls + " switch " +
                 std::to_string(k.sw));
    w().localRanges.Clear();
    c().lbLocal.Clear();
    c().lbInternational.Clear();
    if (k.local) MakeLoopbackLocal();
    const std::string cls = k.cls;
    TCheckBox& box = k.local ? (cls == "80"    ? c().cbLocalCon
                                : cls == "443" ? c().cbLocalConSSL
                                               : c().cbLocalConOTHER)
                             : (cls == "80"    ? c().cbIntCon
                                : cls == "443" ? c().cbIntConSSL
                                               : c().cbIntConOther);
    TProxyInfo& info = k.local ? (cls == "80"    ? w().nextHops.LocalConInfo
                                  : cls == "443" ? w().nextHops.LocalConSSLInfo
                                                 : w().nextHops.LocalConOTHERInfo)
                               : (cls == "80"    ? w().nextHops.IntConInfo
                                  : cls == "443" ? w().nextHops.IntConSSLInfo
                                                 : w().nextHops.IntConOTHERInfo);
    for (TCheckBox* b : c().NextHopSwitches()) b->SetChecked(false);
    box.SetChecked(k.sw != Off);
    info = k.sw == OnDirect ? TProxyInfo{} : hopInfo;
    w().counters.Clear();
    const size_t hopsBefore = hop.Count();
    const size_t originsBefore = origin.Count();

    auto client = NewClient();
    const std::string port = cls == "other" ? origin.PortText() : cls;
    const std::string request =
        cls == "443" ? "CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n" : Get("127.0.0.1:" + port);
    client->Send(request);
    ASSERT_TRUE(WaitFor([&] { return Session() && Session()->Tag() != 0; }));
    EXPECT_EQ(Session()->Tag(), k.local ? 1 : -1);
    if (k.sw == On) {
      ASSERT_TRUE(WaitFor([&] { return hop.Count() > hopsBefore && HasHeader(hop.Last()); }));
      const std::string expectLine = cls == "443" ? "CONNECT 127.0.0.1:443 HTTP/1.1\r\n"
                                     : cls == "80"
                                         ? "GET http://127.0.0.1/ HTTP/1.1\r\n"
                                         : "GET http://127.0.0.1:" + port + "/ HTTP/1.1\r\n";
      EXPECT_EQ(hop.Last().In().rfind(expectLine, 0), 0u) << hop.Last().In();
    } else if (cls == "other") {
      ASSERT_TRUE(
          WaitFor([&] { return origin.Count() > originsBefore && HasHeader(origin.Last()); }));
      EXPECT_EQ(hop.Count(), hopsBefore);
    } else {
      EXPECT_TRUE(engine::proxytest::LoopGoesIdle());
      EXPECT_EQ(hop.Count(), hopsBefore);
    }
    // The header counts under the request's class and locality.
    const int row = k.local ? 0 : 1;
    const int col = cls == "80" ? 0 : cls == "443" ? 1 : 2;
    EXPECT_EQ(w().counters.SentBytes[row][col], static_cast<int64_t>(request.size()));
    EXPECT_EQ(SentTotal(), static_cast<int64_t>(request.size()));
    // The host's own figure, CONNECT included.
    const auto& hosts = w().counters.HostBytes[static_cast<size_t>(row)];
    ASSERT_EQ(hosts.count("127.0.0.1"), 1u);
    EXPECT_EQ(hosts.at("127.0.0.1").sent, static_cast<int64_t>(request.size()));
    EXPECT_TRUE(w().counters.HostBytes[static_cast<size_t>(1 - row)].empty());
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return w().Proxy1.ActiveClients() == 0; }));
  }
}

TEST_F(Routing, BypassedHostsGoDirectAndAreNotCounted) {
  c().cbBypass.SetChecked(true);
  w().hosts.SetBypassIPList({"127.000.000.001-127.000.000.001"});
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  client->Send(Get("near.test:" + origin.PortText()));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(Session()->Tag(), -2);
  EXPECT_TRUE(c().lbLocalLAN.Contains("near.test"));
  origin.At(0).Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 40; }));
  EXPECT_EQ(hop.Count(), 0u);
  EXPECT_EQ(SentTotal(), 0);
  EXPECT_EQ(ReceivedTotal(), 0);
}

TEST_F(Routing, ClientsOffTheAllowedListAreRejected) {
  c().cbAllowedConnections.SetChecked(true);  // the list is empty
  auto client = ConnectTo(w().Proxy1.Server().BoundPort());
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
  EXPECT_NE(ScreenText().find("[client 127.0.0.1 connection rejected]"), std::string::npos)
      << ScreenText();
}

TEST_F(Routing, BlockedHostsGetTheBlockedPageAndCountNothing) {
  c().cbBlock.SetChecked(true);
  c().memBlockedHosts.SetLines({"ads.example"});
  w().listFiles.RebuildBlockedHosts();
  auto client = NewClient();
  client->Send(Get("ADS.example"));
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(),
            "HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Type: text/html\r\n\r\n"
            "<HTML><HEAD><TITLE>Blocked</TITLE></HEAD><BODY><H1>Blocked</H1>\r\n"
            "Access to the requested URL <B>ADS.example</B> was not allowed.\r\n"
            "</BODY></HTML>\r\n");
  EXPECT_EQ(dns.TotalQueries(), 0);
  EXPECT_EQ(SentTotal(), 0);
  EXPECT_EQ(w().totals.lblIntBytesSTotal.Caption(), "0");

  // With the tunnels' switch off, a tunnel to the same host is not checked.
  c().cbBlockTunnels.SetChecked(false);
  dns.SetAddresses("ads.example", {"127.0.0.1"});
  auto tunnel = NewClient();
  tunnel->Send("CONNECT ads.example:" + origin.PortText() + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
}

TEST_F(Routing, ABlockedRequestAndWhatFollowsItCountNothing) {
  c().cbBlock.SetChecked(true);
  c().memBlockedHosts.SetLines({"ads.example"});
  w().listFiles.RebuildBlockedHosts();
  auto client = NewClient();
  const std::string first = Get("127.0.0.1:" + origin.PortText());
  client->Send(first);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 40; }));
  // Answered here: the connection has no remote any more when more comes.
  client->Send(Get("ads.example"));
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  client->Send("more");
  EXPECT_TRUE(engine::proxytest::LoopGoesIdle());
  EXPECT_EQ(w().counters.SentBytes[1][2], static_cast<int64_t>(first.size()));
}

TEST_F(Routing, RequestLineIsLoggedOnceAndHandlersNeverThrow) {
  c().cbLogging.SetChecked(true);
  auto client = NewClient();
  client->Send(Get("h:99999999999"));
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In().rfind("HTTP/1.1 400", 0), 0u) << client->In();
  const std::string screen = ScreenText();
  EXPECT_EQ(screen.find("EXCEPTION"), std::string::npos) << screen;
  // Refused before any handler: no request line, nothing counted.
  EXPECT_EQ(screen.find("requests http://h:"), std::string::npos) << screen;
  EXPECT_EQ(SentTotal(), 0);

  auto second = NewClient();
  const std::string url = "http://127.0.0.1:" + origin.PortText() + "/";
  second->Send(Get("127.0.0.1:" + origin.PortText()));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  const std::string after = ScreenText();
  const std::string line = "[Client 127.0.0.1 requests " + url + "]";
  ASSERT_NE(after.find(line), std::string::npos) << after;
  EXPECT_EQ(after.find(line), after.rfind(line)) << after;
}

// ---- decisions left pending while a lookup runs ----

TEST_F(Routing, SilentNameServerHoldsOnlyItsOwnRequestThenGoesInternational) {
  MakeLoopbackLocal();  // 127.0.0.1 goes direct; the hop serves international
  dns.SetReply("slow.test", DnsResponder::Reply::Silent);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto waiting = NewClient();
  waiting->Send(Get("slow.test:8080"));
  ASSERT_TRUE(WaitFor([&] { return c().lbUnclassified.Contains("slow.test"); }));
  // Nobody else waits for it.
  auto other = NewClient();
  other->Send(Get("127.0.0.1:" + origin.PortText()));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(hop.Count(), 0u);
  // The wait ends: aborted, logged, and the request goes out as international.
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_EQ(hop.At(0).In(), Get("slow.test:8080"));
  EXPECT_NE(ScreenText().find("[Error code 10004 slow.test]"), std::string::npos) << ScreenText();
  EXPECT_FALSE(c().lbUnclassified.Contains("slow.test"));
  EXPECT_EQ(w().routing.LookupsUnderWay(), 0u);
}

// A name with IPv6 addresses only fails like one without any, and its line
// says why; a name without any keeps the plain line.
TEST_F(Routing, ANameWithOnlyIPv6AddressesIsSaidToBeOne) {
  MakeLoopbackLocal();
  dns.SetAddresses("v6only.test", {"2001:db8::1", "::1"});
  dns.SetReply("nodata.test", DnsResponder::Reply::Empty);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto v6 = NewClient();
  v6->Send(Get("v6only.test:8080"));
  auto none = NewClient();
  none->Send(Get("nodata.test:8080"));
  // Both go out as international, to the hop.
  ASSERT_TRUE(
      WaitFor([&] { return hop.Count() == 2 && HasHeader(hop.At(0)) && HasHeader(hop.At(1)); }));
  const std::string screen = ScreenText();
  EXPECT_NE(screen.find("[Error code 11004 v6only.test (IPv6 addresses only; the proxy connects "
                        "over IPv4)]"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("[Error code 11004 nodata.test]"), std::string::npos) << screen;
  EXPECT_FALSE(c().lbInternational.Contains("v6only.test"));
}

TEST_F(Routing, ManyNewHostsAtOnceAreEachDecidedWhenTheirAnswerComes) {
  constexpr int kHosts = 10;
  std::vector<std::unique_ptr<Peer>> clients;
  for (int i = 0; i < kHosts; ++i) {
    const std::string name = "host" + std::to_string(i) + ".test";
    if (i == 3) {
      dns.SetReply(name, DnsResponder::Reply::NxDomain);
    } else {
      dns.SetAddresses(name, {"127.0.0.1"});
    }
    clients.push_back(NewClient());
    clients.back()->Send(Get(name + ":" + origin.PortText()));
  }
  ASSERT_TRUE(WaitFor([&] {
    if (origin.Count() != kHosts - 1) return false;
    for (size_t i = 0; i < origin.Count(); ++i)
      if (!HasHeader(origin.At(i))) return false;
    return true;
  }));
  // The host without an address goes out as international and fails there.
  ASSERT_TRUE(WaitFor([&] { return clients[3]->Eof(); }));
  EXPECT_EQ(c().lbUnclassified.Count(), 0);
  EXPECT_EQ(c().lbInternational.Count(), kHosts - 1);
}

TEST_F(Routing, ClientThatLeavesWhilePendingSendsNothingOnward) {
  dns.SetReply("slow.test", DnsResponder::Reply::Silent);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  client->Send(Get("slow.test:8080"));
  ASSERT_TRUE(WaitFor([&] { return c().lbUnclassified.Contains("slow.test"); }));
  client->CloseNow();
  ASSERT_TRUE(WaitFor([&] { return w().Proxy1.ActiveClients() == 0; }));
  ASSERT_TRUE(WaitFor([&] { return w().routing.LookupsUnderWay() == 0; }));
  EXPECT_TRUE(engine::proxytest::LoopGoesIdle());
  EXPECT_EQ(hop.Count(), 0u);
  EXPECT_FALSE(c().lbUnclassified.Contains("slow.test"));
}

TEST_F(Routing, ProxyStoppedWhilePendingSendsNothingOnward) {
  dns.SetReply("slow.test", DnsResponder::Reply::Silent);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  client->Send(Get("slow.test:8080"));
  ASSERT_TRUE(WaitFor([&] { return c().lbUnclassified.Contains("slow.test"); }));
  w().Proxy1.Close();
  ASSERT_TRUE(WaitFor([&] { return w().routing.LookupsUnderWay() == 0; }));
  EXPECT_TRUE(engine::proxytest::LoopGoesIdle());
  EXPECT_EQ(hop.Count(), 0u);
}

TEST_F(Routing, KeptAliveClientWaitsThroughItsOldRemoteClosing) {
  MakeLoopbackLocal();  // 127.0.0.1 goes direct; the hop serves international
  dns.SetReply("slow.test", DnsResponder::Reply::Silent);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  const std::string first = Get("127.0.0.1:" + origin.PortText());
  client->Send(first);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 40; }));
  const std::string second = Get("slow.test:8080");
  client->Send(second);
  ASSERT_TRUE(WaitFor([&] { return c().lbUnclassified.Contains("slow.test"); }));
  origin.At(0).CloseNow();
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_EQ(hop.At(0).In(), second);
  EXPECT_FALSE(client->Eof());
  // Every byte the client sent counted once.
  EXPECT_EQ(SentTotal(), static_cast<int64_t>(first.size() + second.size()));
}

TEST_F(Routing, UnknownHostsAsInternationalNeverHoldARequest) {
  dns.SetReply("slow.test", DnsResponder::Reply::Silent);
  c().cbUnknownHosts.SetChecked(true);
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  auto client = NewClient();
  client->Send(Get("slow.test:8080"));
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_TRUE(c().lbUnclassified.Contains("slow.test"));
  // Its lookup still ends, so the host is looked up again next time.
  ASSERT_TRUE(WaitFor([&] { return w().routing.LookupsUnderWay() == 0; }));
  EXPECT_FALSE(c().lbUnclassified.Contains("slow.test"));
}

// ---- SOCKS4 ----

class Socks4 : public Routing {
 protected:
  // 04 01, the origin's port, 127.0.0.1.
  std::string Request(const std::string& user = "") {
    const int p = origin.Port();
    return Bytes({4, 1, p >> 8, p & 0xFF, 127, 0, 0, 1}) + user + std::string(1, '\0');
  }
  std::string Reply(int code) {
    const int p = origin.Port();
    return Bytes({0, code, p >> 8, p & 0xFF, 127, 0, 0, 1});
  }
};

TEST_F(Socks4, ConnectRequestsAreGrantedOnceTheTunnelExists) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
  };
  c().cbLogging.SetChecked(true);
  const int p = origin.Port();
  const std::string plain = Request();
  const std::vector<Case> cases = {
      {"whole", {plain}},
      {"split", {plain.substr(0, 4), plain.substr(4)}},
      {"user id", {Request("bob")}},
      {"4a",
       {Bytes({4, 1, p >> 8, p & 0xFF, 0, 0, 0, 1}) + "me" + std::string(1, '\0') + "near.test" +
        std::string(1, '\0')}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    auto client = NewClient();
    for (const auto& piece : cases[i].pieces) {
      client->Send(piece);
      EXPECT_TRUE(engine::proxytest::LoopGoesIdle());
    }
    ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 8; }));
    const std::string expected = i == 3 ? Bytes({0, 90, p >> 8, p & 0xFF, 0, 0, 0, 1}) : Reply(90);
    EXPECT_EQ(client->In(), expected);
    ASSERT_EQ(origin.Count(), i + 1);
    // Tunnel data that looks like a SOCKS4 request passes unchanged.
    client->Send(plain);
    ASSERT_TRUE(WaitFor([&] { return origin.Last().In().size() >= plain.size(); }));
    EXPECT_EQ(origin.Last().In(), plain);
  }
  // The program's own line is one line, like any other.
  const std::string screen = ScreenText();
  EXPECT_NE(screen.find(" [Converted to SOCKS4 connect]\n"), std::string::npos) << screen;
}

TEST_F(Socks4, RefusalsAreAnsweredAndClosed) {
  c().cbIntConOther.SetChecked(true);
  w().nextHops.IntConOTHERInfo = hopInfo;
  // The hop refuses the tunnel: a reject, not a grant and its error page.
  auto refused = NewClient();
  refused->Send(Request());
  ASSERT_TRUE(WaitFor([&] { return hop.Count() == 1 && HasHeader(hop.At(0)); }));
  EXPECT_EQ(hop.At(0).In().rfind("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.0\r\n", 0),
            0u);
  hop.At(0).Send("HTTP/1.0 407 Who are you\r\n\r\npage");
  ASSERT_TRUE(WaitFor([&] { return refused->Eof(); }));
  EXPECT_EQ(refused->In(), Reply(91));

  struct Case {
    const char* name;
    std::string bytes;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"socks5 without an acceptable method", Bytes({5, 1, 2}), Bytes({5, 0xFF})},
      {"bind", Bytes({4, 2, 0, 80, 127, 0, 0, 1, 0}), Bytes({0, 91, 0, 80, 127, 0, 0, 1})},
      {"no terminator", Bytes({4, 1, 0, 80, 127, 0, 0, 1}) + std::string(2000, 'u'),
       Bytes({0, 91, 0, 80, 127, 0, 0, 1})},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto client = NewClient();
    client->Send(k.bytes);
    ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
    EXPECT_EQ(client->In(), k.reply);
  }
  EXPECT_EQ(hop.Count(), 1u);
}

TEST_F(Socks4, FailedDirectConnectSendsTheReject) {
  // A port nothing listens on: taken and let go.
  int port = 0;
  {
    PeerServer gone;
    port = gone.Port();
  }
  auto client = NewClient();
  client->Send(Bytes({4, 1, port >> 8, port & 0xFF, 127, 0, 0, 1, 0}));
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
  EXPECT_EQ(client->In(), Bytes({0, 91, port >> 8, port & 0xFF, 127, 0, 0, 1}));
}

// A request for the proxy itself: the reject, and one line even with
// logging off. A SOCKS4a name is refused once it is looked up.
TEST_F(Socks4, RequestsForTheProxyItselfAreRejectedWithOneLine) {
  c().cbLogging.SetChecked(false);
  const int own = w().Proxy1.Server().BoundPort();
  const std::string name = "me" + std::string(1, '\0') + "near.test" + std::string(1, '\0');
  struct Case {
    std::string request;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {Bytes({4, 1, own >> 8, own & 0xFF, 127, 0, 0, 1, 0}),
       Bytes({0, 91, own >> 8, own & 0xFF, 127, 0, 0, 1})},
      {Bytes({4, 1, own >> 8, own & 0xFF, 0, 0, 0, 1}) + name,
       Bytes({0, 91, own >> 8, own & 0xFF, 0, 0, 0, 1})},
  };
  for (const Case& k : cases) {
    auto client = NewClient();
    client->Send(k.request);
    ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
    EXPECT_EQ(client->In(), k.reply);
  }
  const std::string why = "refused: 127.0.0.1:" + std::to_string(own) + " is this proxy itself";
  // The two lines are equal: within one second the second one is counted
  // as a repeat, shown when the run of repeats ends.
  const std::string entry = "Client 127.0.0.1 " + why + "]";
  EXPECT_TRUE(WaitFor([&] {
    const std::string screen = ScreenText();
    const size_t first = screen.find(entry + "\n");
    return first != std::string::npos &&
           (screen.find(entry + "\n", first + 1) != std::string::npos ||
            screen.find(entry + " (repeated 1 times)\n") != std::string::npos);
  })) << ScreenText();
  EXPECT_EQ(connects, 2);
}

// A next hop that is the proxy itself is named whenever the next hops are
// set, and never followed: its class hears what a refusing hop would give.
TEST_F(Routing, NextHopThatIsTheProxyItselfIsNamedWhenSetAndNeverFollowed) {
  using namespace proxy_fields;
  const std::string own = std::to_string(w().Proxy1.Server().BoundPort());
  TRecordTable& table = w().mtblProxy;
  table.Append();
  table.SetInteger(ProxyID, 7);
  table.SetString(ProxyName, "me");
  table.SetString(ProxyAddress, "127.0.0.1");
  table.SetInteger(ProxyPort, w().Proxy1.Server().BoundPort());
  table.Post();
  c().jvdbIntCon.SetValue("7");
  const std::string line =
      "Next hop is this proxy itself, never used; its requests are refused: International HTTP "
      "(127.0.0.1:" +
      own + ")";
  EXPECT_EQ(ScreenText().find(line), std::string::npos);  // its switch is off
  c().cbIntCon.SetChecked(true);
  std::string screen = ScreenText();
  EXPECT_NE(screen.find(line), std::string::npos) << screen;
  EXPECT_EQ(screen.find(line), screen.rfind(line)) << screen;

  // Port 80 of a host the hop would be asked for.
  dns.SetAddresses("far.test", {"127.0.0.1"});
  auto client = NewClient();
  client->Send(Get("far.test:80"));
  ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
  EXPECT_EQ(client->In(), "");
  EXPECT_EQ(connects, 1);
}

// ---- counting and totals ----

TEST_F(Routing, EveryClientByteIsCountedOnceAndTheAnswerByItsPort) {
  MakeLoopbackLocal();
  auto client = NewClient();
  const std::string first = Get("127.0.0.1:" + origin.PortText(), "/a");
  const std::string body = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  client->Send(first);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send(body);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= body.size(); }));
  const std::string second = Get("127.0.0.1:" + origin.PortText(), "/bb");
  const size_t firstBytes = origin.At(0).In().size();
  client->Send(second);
  // The second goes on the connection kept from the first.
  ASSERT_TRUE(
      WaitFor([&] { return origin.At(0).In().find("\r\n\r\n", firstBytes) != std::string::npos; }));
  EXPECT_EQ(origin.Count(), 1u);
  origin.At(0).Send(body);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 2 * body.size(); }));
  EXPECT_EQ(w().counters.SentBytes[0][2], static_cast<int64_t>(first.size() + second.size()));
  EXPECT_EQ(w().counters.ReceivedBytes[0][2], static_cast<int64_t>(2 * body.size()));
  EXPECT_EQ(w().counters.Sent(true) + w().counters.Received(true), 0);
  EXPECT_EQ(w().totals.lblLocalBytesAllTotal.Caption(),
            std::to_string(first.size() + second.size() + 2 * body.size()));
  const THostBytes& host = w().counters.HostBytes[0].at("127.0.0.1");
  EXPECT_EQ(host.sent, static_cast<int64_t>(first.size() + second.size()));
  EXPECT_EQ(host.received, static_cast<int64_t>(2 * body.size()));

  w().totals.ClearTotals1.Click();
  EXPECT_TRUE(w().counters.HostBytes[0].empty());
  EXPECT_EQ(w().totals.lblLocalBytesSTotal.Caption(), "0");
  EXPECT_EQ(w().totals.lblLocalBytesAllTotal.Caption(), "0");
  EXPECT_EQ(c().lbLocal.Items(), std::vector<std::string>{"127.0.0.1"});  // lists stay
}

TEST(TrafficTotals, SumsAndFormatsAreExactBeyond32Bits) {
  struct Case {
    int64_t value;
    const char* sep;
    const char* text;
  };
  for (const Case& k : std::vector<Case>{{0, ",", "0"},
                                         {999, ",", "999"},
                                         {1000, ",", "1,000"},
                                         {1234567, ",", "1,234,567"},
                                         {4294967297, ".", "4.294.967.297"},
                                         {-1234, ",", "-1,234"},
                                         {INT64_MIN, ",", "-9,223,372,036,854,775,808"}})
    EXPECT_EQ(FormatThousands(k.value, k.sep), k.text) << k.value;
  EXPECT_FALSE(LocaleThousandsSeparator().empty());
  // A locale that cannot be loaded, or one without a separator, gives ",".
  const char* saved = std::getenv("LC_ALL");
  const std::string old = saved ? saved : "";
  for (const char* name : {"xx_XX.NOSUCH", "C"}) {
    ::setenv("LC_ALL", name, 1);
    EXPECT_EQ(LocaleThousandsSeparator(), ",") << name;
  }
  if (saved) {
    ::setenv("LC_ALL", old.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }

  TTrafficCounters counters;
  counters.CountBytes(2147483647, 80, false);
  counters.CountBytes(2147483647, 443, false);
  counters.CountBytes(2147483647, 8080, false);
  counters.CountBytes(3, 80, false);
  counters.CountBytes(-4294967297, 443, true);
  EXPECT_EQ(counters.Received(false), 3 * int64_t{2147483647} + 3);  // three times 2^31
  EXPECT_EQ(counters.Sent(true), 4294967297);                        // 2^32 + 1
  counters.CountBytes(0, 80, true);
  EXPECT_EQ(counters.Received(true), 0);
}

TEST_F(Routing, TrafficPageShowsTotalsAndPlainCounters) {
  w().counters.CountBytes(2000, 8080, true);
  w().counters.CountBytes(-62, 8080, true);
  w().counters.CountBytes(int64_t{1} << 32, 80, false);
  w().totals.ShowTotals();
  EXPECT_EQ(w().totals.lblIntBytesRTotal.Caption(), "2,000");
  EXPECT_EQ(w().totals.lblIntBytesSTotal.Caption(), "62");
  EXPECT_EQ(w().totals.lblIntBytesAllTotal.Caption(), "2,062");
  EXPECT_EQ(w().totals.lblLocalBytesRTotal.Caption(), "4,294,967,296");
  EXPECT_EQ(w().totals.TrafficPage(),
            "Local Internet: Bytes Received 4,294,967,296; Bytes Sent 0; Total Bytes "
            "4,294,967,296\n"
            "International Internet: Bytes Received 2,000; Bytes Sent 62; Total Bytes 2,062\n"
            "Traffic by class (HTTP SSL OTHER): local received 4294967296 0 0 sent 0 0 0; "
            "international received 0 0 2000 sent 0 0 62\n");
  EXPECT_FALSE(w().totals.lblIntBytesROTHER.Visible());
  EXPECT_EQ(w().totals.lblIntBytesROTHER.Caption(), "0");
}

TEST_F(Routing, TopHostsAndHostRowsGoByBytes) {
  EXPECT_EQ(w().totals.TopHosts(), "Top local hosts: none\nTop international hosts: none\n");
  // Twelve local hosts: the ten largest, ties in name order.
  for (int i = 1; i <= 12; ++i) {
    std::string host = "h";  // appended: g++ 12 at -O3 warns falsely about "h" + ...
    host += std::to_string(i);
    host += ".example";
    c().lbLocal.Add(host);
    w().counters.CountHostBytes(host, i <= 2 ? 500 : 1000 * i, false);
  }
  w().counters.CountHostBytes("h12.example", -12345678, false);
  w().counters.CountHostBytes("far.example", 1234, true);
  EXPECT_EQ(w().totals.TopHosts(),
            "Top local hosts: h12.example 12,357,678; h11.example 11,000; h10.example 10,000; "
            "h9.example 9,000; h8.example 8,000; h7.example 7,000; h6.example 6,000; "
            "h5.example 5,000; h4.example 4,000; h3.example 3,000\n"
            "Top international hosts: far.example 1,234\n");
  const std::vector<THostRow> rows = w().totals.HostRows(false);
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[0].host, "h12.example");
  // h1 and h2 tie: the list's (name) order stays.
  EXPECT_EQ(rows[10].host, "h1.example");
  EXPECT_EQ(rows[11].host, "h2.example");
  // A cleared list takes its hosts' figures along; the other stays.
  w().totals.ClearLocalHosts1.Click();
  EXPECT_TRUE(w().counters.HostBytes[0].empty());
  EXPECT_EQ(w().counters.HostBytes[1].size(), 1u);
}

TEST(TrafficHistory, OneSampleASecondForTenMinutes) {
  TTrafficCounters counters;
  counters.CountBytes(500, 80, false);  // before the history began
  TTrafficHistory history(counters);
  counters.CountBytes(100, 80, false);
  counters.CountBytes(-50, 443, true);
  history.Sample();
  ASSERT_EQ(history.Count(), 1u);
  EXPECT_EQ(history.At(0).local, 100);
  EXPECT_EQ(history.At(0).international, 50);
  // "Clear Totals" is a new start, never negative bytes.
  counters.Clear();
  counters.CountBytes(7, 80, false);
  history.Sample();
  EXPECT_EQ(history.At(1).local, 7);
  for (int i = 0; i < 700; ++i) {
    counters.CountBytes(i + 1, 80, false);
    history.Sample();
  }
  EXPECT_EQ(history.Count(), TTrafficHistory::kSamples);
  EXPECT_EQ(history.At(TTrafficHistory::kSamples - 1).local, 700);
  EXPECT_EQ(history.At(0).local, 101);
  EXPECT_EQ(history.Peak(), 700);
}

TEST_F(Routing, HostListsHideAndClear) {
  c().lbLocal.Add("a.test");
  c().lbInternational.Add("b.test");
  c().cbShowIntHosts.SetChecked(false);
  EXPECT_FALSE(c().lbInternational.Visible());
  EXPECT_TRUE(c().lbLocal.Visible());
  EXPECT_TRUE(w().changes.IsChanged());
  w().totals.ClearInternationalHosts1.Click();
  EXPECT_EQ(c().lbInternational.Count(), 0);
  EXPECT_EQ(c().lbLocal.Count(), 1);
  w().totals.ClearLocalHosts1.Click();
  EXPECT_EQ(c().lbLocal.Count(), 0);
}

}  // namespace
}  // namespace vantrel
