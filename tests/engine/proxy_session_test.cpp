// Sessions of the proxy: the order of events for a forwarded request, header
// collection across reads, bytes that arrive before the remote is up, and
// keep-alive connections whose second request gets its own remote socket.

#include "tests/engine/proxy_harness.h"

namespace vantrel::engine::proxytest {
namespace {

const std::string kResponse = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";

// Consecutive repeats of one event collapse into one entry: how many data
// events a transfer takes depends on the system, their place does not.
std::vector<std::string> Collapsed(const std::vector<std::string>& in) {
  std::vector<std::string> out;
  for (const std::string& e : in)
    if (out.empty() || out.back() != e) out.push_back(e);
  return out;
}

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

class ProxySession : public ProxyTest {
 protected:
  // One request through the proxy: the origin answers and closes, the
  // client reads to the end and leaves.
  void RoundTrip(const std::string& host) {
    auto client = NewClient();
    client->Send("GET http://" + host + ":" + origin.PortText() + "/a HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
    origin.At(0).Send(kResponse);
    origin.At(0).ShutdownWrite();
    ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
    EXPECT_EQ(client->In(), kResponse);
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); }));
  }

  PeerServer origin;
};

TEST_F(ProxySession, EventsOfAForwardedRequestToADottedHost) {
  RoundTrip("127.0.0.1");
  // A dotted address resolves inside the lookup call, before the socket is
  // reported as prepared.
  const std::vector<std::string> expected = {
      "ClientConnect",       "ClientData",           "ClientHeader",
      "RemoteDNSLookupDone", "RemoteSocketPrepared", "RemoteConnect",
      "RemoteData",          "RemoteDisconnect",     "ClientDisconnect"};
  EXPECT_EQ(Collapsed(events), expected);
  EXPECT_EQ(Count("ClientData"), 1);
}

TEST_F(ProxySession, EventsOfAForwardedRequestToANamedHost) {
  dns.SetAddresses("origin.test", {"127.0.0.1"});
  RoundTrip("origin.test");
  const std::vector<std::string> expected = {
      "ClientConnect",        "ClientData",          "ClientHeader",
      "RemoteSocketPrepared", "RemoteDNSLookupDone", "RemoteConnect",
      "RemoteData",           "RemoteDisconnect",    "ClientDisconnect"};
  EXPECT_EQ(Collapsed(events), expected);
  EXPECT_EQ(dns.QueriesFor("origin.test"), 1);
}

TEST_F(ProxySession, IdleClientOnlyConnectsAndDisconnects) {
  auto client = NewClient();
  client->CloseNow();
  ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); }));
  EXPECT_EQ(events, (std::vector<std::string>{"ClientConnect", "ClientDisconnect"}));
  EXPECT_EQ(proxy.ActiveClients(), 0);
}

TEST_F(ProxySession, HeaderSplitAcrossReadsIsProcessedOnceWhenComplete) {
  auto client = NewClient();
  const std::string request =
      "GET http://127.0.0.1:" + origin.PortText() + "/split HTTP/1.1\r\nHost: h\r\n\r\n";
  const size_t cuts[] = {10, request.size() - 3, request.size() - 1, request.size()};
  size_t sent = 0;
  int chunks = 0;
  for (size_t cut : cuts) {
    client->Send(request.substr(sent, cut - sent));
    sent = cut;
    ++chunks;
    // Wait for the proxy to read this piece before the next one goes.
    ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == chunks; }));
    if (sent < request.size()) {
      EXPECT_FALSE(Has("ClientHeader"));
    }
  }
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 1);
  EXPECT_EQ(origin.At(0).In(), "GET /split HTTP/1.1\r\nHost: h\r\n\r\n");
}

TEST_F(ProxySession, BytesSentBeforeTheRemoteIsUpFollowTheHeaderInOrder) {
  // The first query goes unanswered, so the remote socket waits for its
  // lookup while the client goes on sending; the resolver's retry succeeds.
  dns.SetReply("late.test", testsupport::DnsResponder::Reply::Silent);
  auto client = NewClient();
  const std::string header = "POST http://late.test:" + origin.PortText() +
                             "/up HTTP/1.1\r\nHost: late.test\r\nContent-Length: 10\r\n\r\n";
  client->Send(header + "01");
  ASSERT_TRUE(WaitFor([&] { return dns.QueriesFor("late.test") >= 1; }));
  client->Send("2345");
  ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == 2; }));
  client->Send("6789");
  ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == 3; }));
  ASSERT_NE(Session(), nullptr);
  ASSERT_NE(Session()->RemoteSocket(), nullptr);
  EXPECT_NE(Session()->RemoteSocket()->State(), net::wsConnected);
  EXPECT_FALSE(Has("RemoteDNSLookupDone"));

  dns.SetAddresses("late.test", {"127.0.0.1"});
  const std::string expected =
      "POST /up HTTP/1.1\r\nHost: late.test\r\nContent-Length: 10\r\n\r\n"
      "0123456789";
  ASSERT_TRUE(
      WaitFor([&] { return origin.Count() == 1 && origin.At(0).In().size() >= expected.size(); }));
  EXPECT_EQ(origin.At(0).In(), expected);
  EXPECT_EQ(origin.Count(), 1u);
}

TEST_F(ProxySession, KeepAliveSecondRequestGetsItsOwnRemoteAndTheOldOneStaysQuiet) {
  auto client = NewClient();
  const std::string base = "http://127.0.0.1:" + origin.PortText();
  client->Send("GET " + base + "/one HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In() == kResponse; }));
  net::TWSocket* first = Session()->RemoteSocket();
  client->In().clear();

  client->Send("GET " + base + "/two HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  EXPECT_EQ(origin.At(1).In(), "GET /two HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_NE(Session()->RemoteSocket(), first);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 2);

  // The superseded connection is let go: its origin sees the end, and its
  // going neither half-closes the client nor raises a remote event.
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).Eof() || origin.At(0).WasReset(); }));
  origin.At(0).Send("LATE BYTES");
  origin.At(0).CloseNow();
  origin.At(1).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= kResponse.size(); }));
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(client->In(), kResponse);
  EXPECT_FALSE(client->Eof());
  EXPECT_EQ(Count("RemoteDisconnect"), 0);

  // The current remote's end still half-closes the client.
  origin.At(1).CloseNow();
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(Count("RemoteDisconnect"), 1);
  EXPECT_EQ(client->In(), kResponse);
}

TEST_F(ProxySession, ClientDataHandlerChangesWhatIsProcessedRemoteDataHandlerDoesNot) {
  const std::string real =
      "GET http://127.0.0.1:" + origin.PortText() + "/real HTTP/1.1\r\nHost: h\r\n\r\n";
  proxy.OnClientDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string& data) {
    if (data == "PLACEHOLDER") data = real;
  };
  proxy.OnRemoteDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string& data) {
    data = "changed";
  };
  auto client = NewClient();
  client->Send("PLACEHOLDER");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(), "GET /real HTTP/1.1\r\nHost: h\r\n\r\n");
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= kResponse.size(); }));
  EXPECT_EQ(client->In(), kResponse);
}

}  // namespace
}  // namespace vantrel::engine::proxytest
