// Sessions of the proxy: the order of events for a forwarded request, header
// collection across reads, bytes that arrive before the remote is up,
// a second request after an answer whose connection cannot be kept, which
// gets its own remote socket, and pipelined requests that wait until the
// answer before them is complete.

#include "tests/engine/proxy_harness.h"

namespace vantrel::engine::proxytest {
namespace {

const std::string kResponse = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
// An answer after which its connection is not used again.
const std::string kClosingResponse =
    "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";

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
    client->Send("GET http://" + host + ":" + origin.PortText() +
                 "/a HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
    origin.At(0).Send(kClosingResponse);
    origin.At(0).ShutdownWrite();
    ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
    EXPECT_EQ(client->In(), kClosingResponse);
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); }));
  }

  // What the URLs name, and so the Host line that goes on.
  std::string Authority() const { return "127.0.0.1:" + origin.PortText(); }

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
  const std::string request = "GET http://127.0.0.1:" + origin.PortText() +
                              "/split HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
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
  EXPECT_EQ(origin.At(0).In(), "GET /split HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
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
  const std::string expected = "POST /up HTTP/1.1\r\nHost: late.test:" + origin.PortText() +
                               "\r\nContent-Length: 10\r\n\r\n0123456789";
  ASSERT_TRUE(
      WaitFor([&] { return origin.Count() == 1 && origin.At(0).In().size() >= expected.size(); }));
  EXPECT_EQ(origin.At(0).In(), expected);
  EXPECT_EQ(origin.Count(), 1u);
}

TEST_F(ProxySession, SecondRequestAfterAClosingAnswerGetsItsOwnRemoteAndTheOldOneStaysQuiet) {
  auto client = NewClient();
  const std::string base = "http://127.0.0.1:" + origin.PortText();
  client->Send("GET " + base + "/one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send(kClosingResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In() == kClosingResponse; }));
  net::TWSocket* first = Session()->RemoteSocket();
  client->In().clear();

  client->Send("GET " + base + "/two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  EXPECT_EQ(origin.At(1).In(), "GET /two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  EXPECT_NE(Session()->RemoteSocket(), first);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 2);

  // The superseded connection is let go: its origin sees the end, and its
  // going neither half-closes the client nor raises a remote event.
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).Eof() || origin.At(0).WasReset(); }));
  origin.At(0).Send("LATE BYTES");
  origin.At(0).CloseNow();
  origin.At(1).Send(kClosingResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= kClosingResponse.size(); }));
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(client->In(), kClosingResponse);
  EXPECT_FALSE(client->Eof());
  EXPECT_EQ(Count("RemoteDisconnect"), 0);

  // The current remote's end still half-closes the client.
  origin.At(1).CloseNow();
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(Count("RemoteDisconnect"), 1);
  EXPECT_EQ(client->In(), kClosingResponse);
}

// Where an answer ends, for the request pipelined behind it: each case's
// answer comes in pieces, and the next request is decided and sent only
// after the last piece. With `late`, the next request comes only after the
// first piece has reached the client.
TEST_F(ProxySession, PipelinedRequestWaitsUntilTheAnswerBeforeItIsComplete) {
  struct Case {
    const char* name;
    std::string method;
    std::vector<std::string> pieces;
    bool late;
    std::string junk = {};  // sent after the last piece, in the same write
  };
  const std::vector<Case> cases = {
      {"length", "GET", {"HTTP/1.1 200 OK\r\nContent-Len", "gth: 5\r\n\r\nab", "cde"}, false},
      // Bytes behind the end of an answer were asked for by nobody.
      {"length, bytes behind it",
       "GET",
       {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", "x"},
       false,
       "JUNK"},
      {"length, next request while it streams",
       "GET",
       {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", "cde"},
       true},
      {"chunked with trailers",
       "GET",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", "10\r\n0123456789",
        "abcdef\r\n0\r\nX-Sum: 1\r\n", "\r\n"},
       true},
      {"no body: 204", "GET", {"HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n", "\r\n"}, false},
      {"no body: 304", "GET", {"HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n", "\r\n"}, true},
      {"no body: HEAD", "HEAD", {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", "\r\n"}, false},
      {"interim answer first",
       "GET",
       {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"},
       false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    events.clear();
    proxy.ClearConnectionPool();  // each case starts on a new connection
    auto client = NewClient();
    const size_t first = origin.Count();
    const std::string base = "http://127.0.0.1:" + origin.PortText();
    const std::string one =
        t.method + " " + base + "/one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
    const std::string two = "GET " + base + "/two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
    client->Send(t.late ? one : one + two);
    ASSERT_TRUE(WaitFor([&] { return origin.Count() > first && HasHeader(origin.At(first)); }));
    Peer& far = origin.At(first);
    EXPECT_EQ(far.In(), t.method + " /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
    std::string answer;
    for (size_t i = 0; i < t.pieces.size(); ++i) {
      far.Send(i + 1 == t.pieces.size() ? t.pieces[i] + t.junk : t.pieces[i]);
      answer += t.pieces[i];
      ASSERT_TRUE(WaitFor([&] { return client->In().size() >= answer.size(); }));
      if (i + 1 == t.pieces.size()) break;
      if (i == 0 && t.late) {
        client->Send(two);
        ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == 2; }));
      }
      // The next request has not been decided, nor sent anywhere.
      EXPECT_EQ(Count("ClientHeader"), 1);
      EXPECT_EQ(origin.Count(), first + 1);
      EXPECT_EQ(far.In(), t.method + " /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
    }
    // The next request goes on the same connection when it could be kept,
    // on a new one otherwise.
    const std::string sentOne = t.method + " /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
    const std::string sentTwo = "GET /two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
    ASSERT_TRUE(WaitFor([&] {
      return far.In().size() > sentOne.size() ||
             (origin.Count() == first + 2 && HasHeader(origin.At(first + 1)));
    }));
    EXPECT_EQ(Count("ClientHeader"), 2);
    EXPECT_EQ(seen.path, "/two");
    Peer& next = origin.Last();
    EXPECT_EQ(next.In(), &next == &far ? sentOne + sentTwo : sentTwo);
    next.Send(kResponse);
    ASSERT_TRUE(WaitFor([&] { return client->In().size() >= answer.size() + kResponse.size(); }));
    EXPECT_EQ(client->In(), answer + kResponse);
    EXPECT_FALSE(client->Eof());
  }
}

TEST_F(ProxySession, AnswerDelimitedByTheCloseEndsTheConnectionAndTheNextRequestIsDropped) {
  auto client = NewClient();
  const std::string base = "http://127.0.0.1:" + origin.PortText();
  client->Send("GET " + base + "/one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\nGET " + base +
               "/two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(), "GET /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  origin.At(0).Send("HTTP/1.0 200 OK\r\n\r\nuntil the end");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 32; }));
  EXPECT_EQ(Count("ClientHeader"), 1);
  origin.At(0).ShutdownWrite();
  // Only the end of the stream tells the client where that answer ends.
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), "HTTP/1.0 200 OK\r\n\r\nuntil the end");
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(origin.Count(), 1u);
}

// A request that comes while the remote before it is still being looked up
// is decided on its own: its own header event, its own host.
TEST_F(ProxySession, RequestArrivingWhileTheFirstRemoteResolvesGetsItsOwnDecision) {
  dns.SetReply("late.test", testsupport::DnsResponder::Reply::Silent);
  dns.SetAddresses("two.test", {"127.0.0.1"});
  auto client = NewClient();
  client->Send("GET http://late.test:" + origin.PortText() + "/one HTTP/1.1\r\nHost: a\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return dns.QueriesFor("late.test") >= 1; }));
  client->Send("GET http://two.test:" + origin.PortText() + "/two HTTP/1.1\r\nHost: b\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == 2; }));
  EXPECT_EQ(Count("ClientHeader"), 1);

  dns.SetAddresses("late.test", {"127.0.0.1"});
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(),
            "GET /one HTTP/1.1\r\nHost: late.test:" + origin.PortText() + "\r\n\r\n");
  EXPECT_EQ(Count("ClientHeader"), 1);
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  EXPECT_EQ(origin.At(1).In(),
            "GET /two HTTP/1.1\r\nHost: two.test:" + origin.PortText() + "\r\n\r\n");
  EXPECT_EQ(seen.host, "two.test");
  EXPECT_EQ(dns.QueriesFor("two.test"), 1);
  origin.At(1).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 2 * kResponse.size(); }));
  EXPECT_EQ(client->In(), kResponse + kResponse);
  EXPECT_EQ(origin.At(0).In(),
            "GET /one HTTP/1.1\r\nHost: late.test:" + origin.PortText() + "\r\n\r\n");
}

// A pipelined request for a blocked host is answered by the handler, in its
// turn, and never reaches the remote of the request before it.
TEST_F(ProxySession, PipelinedRequestForABlockedHostGetsTheHandlersAnswerInItsTurn) {
  const std::string blocked = "HTTP/1.1 403 Forbidden\r\nConnection: close\r\n\r\nblocked";
  onHeader = [&](TKwGenericProxy*, TKwProxyClient*, const std::string&, std::string&, std::string&,
                 std::string&, std::string&, std::string& host, std::string&, std::string&,
                 std::string&, bool&, std::string& returnContent) {
    if (host == "blocked.test") returnContent = blocked;
  };
  auto client = NewClient();
  client->Send("GET http://127.0.0.1:" + origin.PortText() +
               "/one HTTP/1.1\r\nHost: " + Authority() +
               "\r\n\r\nGET http://blocked.test/ HTTP/1.1\r\nHost: "
               "blocked.test\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(), "GET /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  EXPECT_EQ(Count("ClientHeader"), 1);
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), kResponse + blocked);
  EXPECT_EQ(Count("ClientHeader"), 2);
  EXPECT_EQ(dns.QueriesFor("blocked.test"), 0);
  EXPECT_EQ(origin.At(0).In(), "GET /one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
}

// The remote whose answer is complete may go while the next request is
// being decided (the handler runs the loop); that is not the client's end.
TEST_F(ProxySession, PreviousRemoteClosingWhileTheNextRequestIsDecidedDoesNotEndTheClient) {
  auto client = NewClient();
  const std::string base = "http://127.0.0.1:" + origin.PortText();
  client->Send("GET " + base + "/one HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In() == kResponse; }));
  onHeader = [&](TKwGenericProxy*, TKwProxyClient*, const std::string&, std::string&, std::string&,
                 std::string&, std::string&, std::string&, std::string&, std::string&, std::string&,
                 bool&, std::string&) {
    origin.At(0).CloseNow();
    EXPECT_TRUE(LoopGoesIdle());
  };
  client->Send("GET " + base + "/two HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  origin.At(1).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 2 * kResponse.size(); }));
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(client->In(), kResponse + kResponse);
  EXPECT_FALSE(client->Eof());
  EXPECT_EQ(Count("RemoteDisconnect"), 0);
}

// A handler that runs the loop while it decides a pipelined request lets
// the client's next bytes in meanwhile; they wait for their own turn.
TEST_F(ProxySession, BytesArrivingWhileAPipelinedRequestIsDecidedWaitTheirTurn) {
  auto client = NewClient();
  const std::string base = "http://127.0.0.1:" + origin.PortText();
  auto get = [&](const std::string& path) {
    return "GET " + base + path + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  };
  onHeader = [&](TKwGenericProxy*, TKwProxyClient*, const std::string&, std::string&, std::string&,
                 std::string&, std::string&, std::string&, std::string&, std::string& path,
                 std::string&, bool&, std::string&) {
    if (path != "/two") return;
    client->Send(get("/three"));
    EXPECT_TRUE(WaitFor([&] { return Count("ClientData") == 2; }));
  };
  client->Send(get("/one") + get("/two"));
  for (size_t i = 0; i < 3; ++i) {
    const std::string path = i == 0 ? "/one" : i == 1 ? "/two" : "/three";
    ASSERT_TRUE(WaitFor([&] { return origin.Count() > i && HasHeader(origin.At(i)); }));
    EXPECT_EQ(origin.At(i).In(), "GET " + path + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
    EXPECT_EQ(Count("ClientHeader"), static_cast<int>(i + 1));
    origin.At(i).Send(kClosingResponse);
  }
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 3 * kClosingResponse.size(); }));
  EXPECT_EQ(client->In(), kClosingResponse + kClosingResponse + kClosingResponse);
  EXPECT_EQ(origin.Count(), 3u);
}

// After "101 Switching Protocols" the connection carries another protocol:
// the client's bytes are relayed as they are, never taken for a request.
TEST_F(ProxySession, SwitchedProtocolRelaysRawBytesBothWays) {
  auto client = NewClient();
  client->Send("GET http://127.0.0.1:" + origin.PortText() + "/ws HTTP/1.1\r\nHost: " +
               Authority() + "\r\nUpgrade: x\r\nConnection: Upgrade\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  origin.At(0).In().clear();
  const std::string switched = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n";
  origin.At(0).Send(switched + "hello");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= switched.size() + 5; }));
  client->Send("GET http://127.0.0.1:1/ HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).In().ends_with("\r\n\r\n"); }));
  EXPECT_EQ(origin.At(0).In(), "GET http://127.0.0.1:1/ HTTP/1.1\r\n\r\n");
  origin.At(0).Send("more");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= switched.size() + 9; }));
  EXPECT_EQ(client->In(), switched + "hellomore");
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(origin.Count(), 1u);
}

TEST_F(ProxySession, ClientDataHandlerChangesWhatIsProcessedRemoteDataHandlerSeesTheAnswer) {
  const std::string real = "GET http://127.0.0.1:" + origin.PortText() +
                           "/real HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  proxy.OnClientDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string& data) {
    if (data == "PLACEHOLDER") data = real;
  };
  std::string shown;
  proxy.OnRemoteDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string_view data) {
    shown += data;
  };
  auto client = NewClient();
  client->Send("PLACEHOLDER");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(), "GET /real HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  origin.At(0).Send(kResponse);
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= kResponse.size(); }));
  EXPECT_EQ(client->In(), kResponse);
  EXPECT_EQ(shown, kResponse);
}

// A handler that cannot decide yet leaves the request pending: the client's
// later bytes wait, nothing goes out, and the resumed event decides.
TEST_F(ProxySession, DeferredDecisionHoldsTheClientUntilResumed) {
  int raised = 0;
  onHeader = [&](TKwGenericProxy*, TKwProxyClient* c, const std::string&, std::string&,
                 std::string&, std::string&, std::string&, std::string&, std::string&, std::string&,
                 std::string&, bool&, std::string&) {
    if (++raised == 1) proxy.DeferDecision(c);
  };
  auto client = NewClient();
  const std::string header = "POST http://127.0.0.1:" + origin.PortText() +
                             "/up HTTP/1.1\r\nHost: " + Authority() +
                             "\r\nContent-Length: 10\r\n\r\n";
  client->Send(header + "01");
  ASSERT_TRUE(WaitFor([&] { return raised == 1; }));
  client->Send("23456789");
  ASSERT_TRUE(WaitFor([&] { return Count("ClientData") == 2; }));
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(origin.Count(), 0u);
  EXPECT_EQ(Session()->RemoteSocket(), nullptr);

  proxy.ResumeDecision(Session());
  EXPECT_EQ(raised, 2);
  const std::string expected =
      "POST /up HTTP/1.1\r\nHost: " + Authority() + "\r\nContent-Length: 10\r\n\r\n0123456789";
  ASSERT_TRUE(
      WaitFor([&] { return origin.Count() == 1 && origin.At(0).In().size() >= expected.size(); }));
  EXPECT_EQ(origin.At(0).In(), expected);

  // A client gone while pending: resuming sends nothing anywhere.
  raised = 0;
  auto leaving = NewClient();
  leaving->Send(header);
  ASSERT_TRUE(WaitFor([&] { return raised == 1; }));
  TKwProxyClient* session = Session(1);
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(session->DecisionPending);
  session->Close();
  proxy.ResumeDecision(session);
  EXPECT_EQ(raised, 1);
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(origin.Count(), 1u);
}

}  // namespace
}  // namespace vantrel::engine::proxytest
