// Request bodies that come in later reads, the cap on a request header,
// back-pressure toward slow readers in both directions, and hostile input.

#include "net/Resolver.h"
#include "tests/engine/proxy_harness.h"
#include "tests/support/TestPattern.h"

namespace vantrel::engine::proxytest {
namespace {

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

class ProxyLimits : public ProxyTest {
 protected:
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + origin.PortText() + path;
  }

  // Sends each piece only after the proxy has read the one before, so every
  // piece is a read of its own.
  void SendInReads(Peer& client, const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) {
      const int before = Count("ClientData");
      client.Send(piece);
      ASSERT_TRUE(WaitFor([&] { return Count("ClientData") > before; }));
    }
  }

  // What the URLs name, and so the Host line that goes on.
  std::string Authority() const { return "127.0.0.1:" + origin.PortText(); }

  PeerServer origin;
};

// An idle connection costs only its socket: the state of requests is made
// with the first byte, and a byte split from the rest of its header still
// reaches it.
TEST_F(ProxyLimits, AConnectionThatHasSentNothingHoldsNoRequestState) {
  auto client = NewClient();
  TKwProxyClient* session = Session();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->StartedExchange(), nullptr);
  SendInReads(*client, {"G", "ET " + Url("/a") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n"});
  EXPECT_NE(session->StartedExchange(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(), "GET /a HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
}

TEST_F(ProxyLimits, BodyInLaterReadsReachesTheSameRemoteAndTheNextRequestStillWorks) {
  auto client = NewClient();
  const std::string header = "POST " + Url("/form") + " HTTP/1.1\r\nHost: " + Authority() +
                             "\r\nContent-Length: 11\r\n\r\n";
  SendInReads(*client, {header, "hello", " ", "world"});
  const std::string forwarded =
      "POST /form HTTP/1.1\r\nHost: " + Authority() + "\r\nContent-Length: 11\r\n\r\nhello world";
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In() == forwarded; }));
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 1);

  origin.At(0).Send("HTTP/1.1 204 No Content\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return client->In() == "HTTP/1.1 204 No Content\r\n\r\n"; }));
  client->Send("GET " + Url("/next") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  // On the same connection, right behind the body.
  const std::string next = "GET /next HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).In().size() >= forwarded.size() + next.size(); }));
  EXPECT_EQ(origin.At(0).In(), forwarded + next);
  EXPECT_EQ(origin.Count(), 1u);
}

TEST_F(ProxyLimits, ChunkedBodyInLaterReadsIsForwardedWholeAndWhatFollowsIsANewRequest) {
  auto client = NewClient();
  const std::string header = "POST " + Url("/up") + " HTTP/1.1\r\nHost: " + Authority() +
                             "\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string next =
      "GET " + Url("/after") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  // Cuts inside a size line, inside data, between CR and LF, in the trailer.
  SendInReads(*client, {header, "5\r", "\nab", "cde\r", "\n1", "0;ext=1\r\n0123456789abcdef\r\n",
                        "0\r\nX-Trailer: t\r", "\n\r", "\n" + next});
  const std::string body =
      "5\r\nabcde\r\n10;ext=1\r\n0123456789abcdef\r\n0\r\nX-Trailer: t\r\n\r\n";
  const std::string forwarded =
      "POST /up HTTP/1.1\r\nHost: " + Authority() + "\r\nTransfer-Encoding: chunked\r\n\r\n" + body;
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In() == forwarded; }));
  // The next request waits for the answer to this one.
  EXPECT_EQ(Count("ClientHeader"), 1);
  origin.At(0).Send("HTTP/1.1 204 No Content\r\n\r\n");
  // On the same connection, right behind the body.
  const std::string after = "GET /after HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).In().size() >= forwarded.size() + after.size(); }));
  EXPECT_EQ(origin.At(0).In(), forwarded + after);
  EXPECT_EQ(origin.Count(), 1u);
  EXPECT_EQ(Count("ClientHeader"), 2);
}

// Where a request's body ends decides where the next request begins. Each
// case sends everything in one read; every origin connection answers once
// it holds what the case expects of it, and is not used again.
TEST_F(ProxyLimits, RequestFramingDecidesWhereTheNextRequestBegins) {
  const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";
  const std::string bad = Canned(proxy, kHTTPBadRequest);
  struct Case {
    const char* name;
    std::string lines;                   // header lines of the first request
    std::string body;                    // what follows its header, up to the next request
    std::vector<std::string> forwarded;  // per origin connection
    std::string reply;                   // all the client gets
    bool ends;                           // and then the end of the stream
  };
  const std::string post = "POST /a HTTP/1.1\r\nHost: " + Authority() + "\r\n";
  const std::string next = "GET /b HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n";
  const std::vector<Case> cases = {
      {"length and chunked: chunked, without the length line",
       "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n",
       "3\r\nabc\r\n0\r\n\r\n",
       {post + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", next},
       answer + answer,
       false},
      {"lower-case hex sizes",
       "Transfer-Encoding: chunked\r\n",
       "1a\r\n" + std::string(26, 'x') + "\r\nff\r\n" + std::string(255, 'y') + "\r\n0\r\n\r\n",
       {post + "Transfer-Encoding: chunked\r\n\r\n1a\r\n" + std::string(26, 'x') + "\r\nff\r\n" +
            std::string(255, 'y') + "\r\n0\r\n\r\n",
        next},
       answer + answer,
       false},
      {"equal lengths",
       "Content-Length: 3\r\nContent-Length: 3\r\n",
       "abc",
       {post + "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc", next},
       answer + answer,
       false},
      {"differing lengths", "Content-Length: 3\r\nContent-Length: 4\r\n", "abcd", {}, bad, true},
      // A size line without hex digits is no chunked framing: the body ends
      // there, and what follows is no request.
      {"size line without digits",
       "Transfer-Encoding: chunked\r\n",
       "\r\n",
       {post + "Transfer-Encoding: chunked\r\n\r\n"},
       answer + bad,
       true},
      {"size line with only an extension",
       "Transfer-Encoding: chunked\r\n",
       ";x=1\r\n",
       {post + "Transfer-Encoding: chunked\r\n\r\n"},
       answer + bad,
       true},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const size_t first = origin.Count();
    auto client = NewClient();
    client->Send("POST " + Url("/a") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n" + t.lines +
                 "\r\n" + t.body + "GET " + Url("/b") + " HTTP/1.1\r\nHost: " + Authority() +
                 "\r\n\r\n");
    for (size_t i = 0; i < t.forwarded.size(); ++i) {
      ASSERT_TRUE(WaitFor([&] {
        return origin.Count() > first + i && origin.At(first + i).In() == t.forwarded[i];
      })) << "connection "
          << i << " got " << (origin.Count() > first + i ? origin.At(first + i).In() : "nothing");
      origin.At(first + i).Send(answer);
    }
    ASSERT_TRUE(WaitFor([&] { return client->In().size() >= t.reply.size(); }));
    if (t.ends) {
      ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
    }
    EXPECT_EQ(client->In(), t.reply);
    EXPECT_EQ(origin.Count(), first + t.forwarded.size());
    EXPECT_EQ(client->Eof(), t.ends);
  }
}

TEST_F(ProxyLimits, BytesInTheSameReadAsTheHeaderTravelWithIt) {
  auto client = NewClient();
  client->Send("POST " + Url("/x") + " HTTP/1.1\r\nHost: " + Authority() +
               "\r\nContent-Length: 3\r\n\r\nabc");
  const std::string forwarded =
      "POST /x HTTP/1.1\r\nHost: " + Authority() + "\r\nContent-Length: 3\r\n\r\nabc";
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In() == forwarded; }));
  EXPECT_EQ(Count("ClientData"), 1);
}

TEST_F(ProxyLimits, OversizedHeaderIsRefusedAndTheRestIgnored) {
  const std::string filler(TKwHttpProxy::kMaxHeader + 1024, 'a');
  auto client = NewClient();
  client->Send("GET " + Url("/") + " HTTP/1.1\r\nX-Big: " + filler);
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), Canned(proxy, kHTTPBadRequest));
  client->Send("more\r\n\r\nGET " + Url("/") + " HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(client->In(), Canned(proxy, kHTTPBadRequest));
  EXPECT_FALSE(Has("ClientHeader"));

  // The end of the header in the same read does not make it acceptable.
  auto second = NewClient();
  second->Send("GET " + Url("/") + " HTTP/1.1\r\nX-Big: " + filler + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return second->Eof(); }));
  EXPECT_EQ(second->In(), Canned(proxy, kHTTPBadRequest));

  auto tunnel = NewClient();
  tunnel->Send("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\nX-Big: " + filler);
  ASSERT_TRUE(WaitFor([&] { return tunnel->Eof(); }));
  EXPECT_EQ(tunnel->In(), Canned(proxy, kTCPTunnelBadRequest));
  EXPECT_EQ(origin.Count(), 0u);
}

TEST_F(ProxyLimits, HeaderJustBelowTheCapIsForwarded) {
  const std::string head = "GET " + Url("/") + " HTTP/1.1\r\nX-Big: ";
  const std::string filler(TKwHttpProxy::kMaxHeader - head.size() - 8, 'b');
  auto client = NewClient();
  client->Send(head + filler + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In(),
            "GET / HTTP/1.1\r\nX-Big: " + filler + "\r\nHost: " + Authority() + "\r\n\r\n");
}

TEST_F(ProxyLimits, SlowClientKeepsTheProxysQueueBoundedAndGetsEveryByte) {
  constexpr size_t kTotal = 32u << 20;
  constexpr size_t kBlock = 1u << 20;
  testsupport::PatternStream pattern(11);
  testsupport::Checksum sent, received;
  auto client = NewClient();
  client->SetAutoRead(false);
  client->OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  client->Send("GET " + Url("/big") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  TKwProxyClient* session = Session();
  ASSERT_NE(session, nullptr);

  size_t offered = 0;
  size_t maxQueued = 0;
  net::EventLoop& loop = net::EventLoop::Default();
  const auto deadline = std::chrono::steady_clock::now() + kLongDeadline;
  while (!client->Eof() && std::chrono::steady_clock::now() < deadline) {
    if (offered < kTotal && origin.At(0).Queued() < kBlock) {
      const std::string block = pattern.Next(kBlock);
      sent.Add(block);
      origin.At(0).Send(block);
      offered += kBlock;
      if (offered == kTotal) origin.At(0).ShutdownWrite();
    }
    loop.RunOnce(1);
    // Sampled while the origin is still sending: its end makes the socket
    // layer read whatever the system still holds for it in one go.
    if (offered < kTotal) maxQueued = std::max(maxQueued, session->BufferedBytes());
    client->ReadSome(64 * 1024);  // a reader far slower than the origin
  }
  ASSERT_TRUE(client->Eof());
  EXPECT_EQ(received.Bytes(), kTotal);
  EXPECT_EQ(received.Value(), sent.Value());
  EXPECT_LT(maxQueued, 2u << 20);
}

TEST_F(ProxyLimits, SlowOriginKeepsTheUploadQueueBoundedAndGetsEveryByte) {
  constexpr size_t kTotal = 32u << 20;
  constexpr size_t kBlock = 1u << 20;
  testsupport::PatternStream pattern(13);
  testsupport::Checksum expected, received;
  const std::string header = "POST " + Url("/upload") + " HTTP/1.1\r\nHost: " + Authority() +
                             "\r\nContent-Length: " + std::to_string(kTotal) + "\r\n\r\n";
  expected.Add("POST /upload HTTP/1.1\r\nHost: " + Authority() +
               "\r\nContent-Length: " + std::to_string(kTotal) + "\r\n\r\n");
  auto client = NewClient();
  client->Send(header);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
  Peer& far = origin.At(0);
  far.SetAutoRead(false);
  far.OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  TKwProxyClient* session = Session();
  ASSERT_NE(session, nullptr);

  size_t offered = 0;
  size_t maxQueued = 0;
  net::EventLoop& loop = net::EventLoop::Default();
  const uint64_t want = expected.Bytes() + kTotal;
  const auto deadline = std::chrono::steady_clock::now() + kLongDeadline;
  while (far.TotalRead() < want && std::chrono::steady_clock::now() < deadline) {
    if (offered < kTotal && client->Queued() < kBlock) {
      const std::string block = pattern.Next(kBlock);
      expected.Add(block);
      client->Send(block);
      offered += kBlock;
    }
    loop.RunOnce(1);
    if (net::TWSocket* remote = session->RemoteSocket())
      maxQueued =
          std::max(maxQueued, remote->BufferedBytes() + session->Exchange().ClientBuffer.size());
    far.ReadSome(64 * 1024);
  }
  EXPECT_EQ(far.TotalRead(), want);
  EXPECT_EQ(received.Value(), expected.Value());
  EXPECT_LT(maxQueued, 4u << 20);
  EXPECT_EQ(Count("ClientHeader"), 1);
}

// An upload that starts while the remote is still being looked up waits in
// the proxy only up to the high-water mark; the client is read no further
// until the connection is up, and then every byte arrives.
TEST_F(ProxyLimits, EarlyUploadWhileTheRemoteResolvesStaysBounded) {
  constexpr size_t kTotal = 16u << 20;
  testsupport::PatternStream pattern(19);
  testsupport::Checksum expected, received;
  const std::string length = std::to_string(kTotal);
  expected.Add("POST /up HTTP/1.1\r\nHost: slow.test:" + origin.PortText() +
               "\r\nContent-Length: " + length + "\r\n\r\n");
  // Made before the lookup starts: the upload must come while it waits.
  const std::string upload = pattern.Next(kTotal);
  expected.Add(upload);
  // The first query goes unanswered; the retry, a second later, gets the address.
  net::Resolver::Default().SetTimeouts(1000, 3);
  dns.SetReply("slow.test", testsupport::DnsResponder::Reply::Silent);
  auto client = NewClient();
  client->Send("POST http://slow.test:" + origin.PortText() +
               "/up HTTP/1.1\r\nHost: h\r\nContent-Length: " + length + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return dns.QueriesFor("slow.test") >= 1; }));
  TKwProxyClient* session = Session();
  ASSERT_NE(session, nullptr);
  client->Send(upload);
  // The client's bytes back up: the proxy stops reading, its buffer bounded.
  ASSERT_TRUE(WaitFor([&] { return session->ReadingPaused(); }));
  EXPECT_LT(session->Exchange().ClientBuffer.size(), TKwGenericProxy::kHighWater + (1u << 20) + 1);
  EXPECT_GT(client->Queued(), 0u);
  EXPECT_NE(session->RemoteSocket()->State(), net::wsConnected);

  origin.OnAccept = [&](Peer& far) {
    far.OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  };
  dns.SetAddresses("slow.test", {"127.0.0.1"});
  ASSERT_TRUE(WaitFor([&] { return received.Bytes() >= expected.Bytes(); }, kLongDeadline));
  EXPECT_EQ(received.Bytes(), expected.Bytes());
  EXPECT_EQ(received.Value(), expected.Value());
}

// Requests sent behind one whose answer is still coming wait in the proxy
// only up to the header cap; then the client is read no further until
// their turn, and everything still arrives in order.
TEST_F(ProxyLimits, PipelinedRequestsWaitingForTheirTurnStayBounded) {
  constexpr size_t kBody = 8u << 20;
  testsupport::PatternStream pattern(23);
  testsupport::Checksum expected, received;
  auto client = NewClient();
  client->Send("GET " + Url("/first") + " HTTP/1.1\r\nHost: " + Authority() + "\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  TKwProxyClient* session = Session();
  ASSERT_NE(session, nullptr);
  const std::string length = std::to_string(kBody);
  client->Send("POST " + Url("/second") + " HTTP/1.1\r\nHost: " + Authority() +
               "\r\nContent-Length: " + length + "\r\n\r\n");
  expected.Add("POST /second HTTP/1.1\r\nHost: " + Authority() + "\r\nContent-Length: " + length +
               "\r\n\r\n");
  for (size_t sent = 0; sent < kBody; sent += 1u << 20) {
    const std::string block = pattern.Next(1u << 20);
    expected.Add(block);
    client->Send(block);
  }
  ASSERT_TRUE(WaitFor([&] { return session->ReadingPaused(); }));
  EXPECT_LE(session->Exchange().Pipelined.size(), TKwHttpProxy::kMaxHeader + (1u << 20));
  EXPECT_GT(client->Queued(), 0u);
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(origin.Count(), 1u);

  origin.OnAccept = [&](Peer& far) {
    far.OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  };
  // Not kept: the upload goes on a new connection, which the sink watches.
  const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";
  origin.At(0).Send(answer);
  ASSERT_TRUE(WaitFor([&] { return received.Bytes() >= expected.Bytes(); }, kLongDeadline));
  EXPECT_EQ(received.Value(), expected.Value());
  EXPECT_EQ(client->In(), answer);
  EXPECT_EQ(Count("ClientHeader"), 2);
}

TEST_F(ProxyLimits, HostileRequestsGetAnAnswerOrACloseAndLeaveTheLoopIdle) {
  testsupport::PatternStream random(17);
  std::string binary = random.Next(4096);
  std::string binaryNoEnd = random.Next(TKwHttpProxy::kMaxHeader + 4096);
  for (std::string* b : {&binary, &binaryNoEnd})
    for (char& c : *b)
      if (c == '\r') c = 'r';  // no accidental end of header
  const std::string bad = Canned(proxy, kHTTPBadRequest);
  const std::string tunnelBad = Canned(proxy, kTCPTunnelBadRequest);
  struct Case {
    std::string request;
    std::string answer;  // empty: any answer or none, as long as the stream ends
  };
  const std::vector<Case> cases = {
      {"GET http:///x HTTP/1.1\r\n\r\n", bad},
      {"GET http://:/x HTTP/1.1\r\n\r\n", bad},
      {"GET http://:8080/x HTTP/1.1\r\n\r\n", bad},
      {"GET http://127.0.0.1:99999/ HTTP/1.1\r\n\r\n", bad},
      {"GET http://127.0.0.1:abc/ HTTP/1.1\r\n\r\n", bad},
      {"GET http://127.0.0.1:0/ HTTP/1.1\r\n\r\n", bad},
      {"GET http://127.0.0.1:-1/ HTTP/1.1\r\n\r\n", bad},
      {"GET http:// HTTP/1.1\r\n\r\n", bad},
      {"GET /only/a/path HTTP/1.1\r\n\r\n", bad},
      {"GET http://nowhere.test:/ HTTP/1.1\r\n\r\n", ""},  // no such name: a close
      // Outgoing connections are IPv4: a bracketed address is refused at once.
      {"GET http://[::1]/ HTTP/1.1\r\n\r\n", bad},
      {"GET http://[::1]:8080/x HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n", bad},
      {"GET http://[fe80]/ HTTP/1.1\r\n\r\n", bad},
      {"CONNECT [::1]:443 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT [fe80]:443 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT : HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT :443 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1: HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:99999 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:abc HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:0 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:1 HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", tunnelBad},
      {"CONNECT\r\n\r\n", bad},  // no space: not taken for a CONNECT
      {"     \r\n\r\n", bad},
      {"\r\n\r\n", bad},
      {"GET\r\n\r\n", bad},
      {std::string("G\0T http://\0/ HTTP/1.1\r\n\r\n", 26), ""},  // lookup of "\0" fails
      {binary + "\r\n\r\n", ""},
      {binaryNoEnd, bad},
  };
  std::vector<std::unique_ptr<Peer>> clients;
  for (const Case& c : cases) {
    clients.push_back(NewClient());
    Peer& client = *clients.back();
    client.Send(c.request);
    const bool ended = WaitFor([&] {
      return client.Eof() || client.WasReset() ||
             (!c.answer.empty() && client.In().size() >= c.answer.size());
    });
    ASSERT_TRUE(ended) << "no answer for: " << testing::PrintToString(c.request.substr(0, 60));
    if (!c.answer.empty()) {
      EXPECT_EQ(client.In(), c.answer) << testing::PrintToString(c.request.substr(0, 60));
    }
  }
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(dns.QueriesFor("[::1]"), 0);
  EXPECT_EQ(dns.QueriesFor("[fe80]"), 0);
  EXPECT_EQ(proxy.ActiveClients(), static_cast<int>(cases.size()));
  clients.clear();
  ASSERT_TRUE(WaitFor([&] { return proxy.ActiveClients() == 0; }));
  EXPECT_TRUE(LoopGoesIdle());
}

}  // namespace
}  // namespace vantrel::engine::proxytest
