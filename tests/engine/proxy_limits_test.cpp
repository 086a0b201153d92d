// Request bodies that come in later reads, the cap on a request header,
// back-pressure toward slow readers in both directions, and hostile input.

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

  PeerServer origin;
};

TEST_F(ProxyLimits, BodyInLaterReadsReachesTheSameRemoteAndTheNextRequestStillWorks) {
  auto client = NewClient();
  const std::string header =
      "POST " + Url("/form") + " HTTP/1.1\r\nHost: h\r\nContent-Length: 11\r\n\r\n";
  SendInReads(*client, {header, "hello", " ", "world"});
  const std::string forwarded =
      "POST /form HTTP/1.1\r\nHost: h\r\nContent-Length: 11\r\n\r\nhello world";
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In() == forwarded; }));
  EXPECT_EQ(Count("ClientHeader"), 1);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 1);

  origin.At(0).Send("HTTP/1.1 204 No Content\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return client->In() == "HTTP/1.1 204 No Content\r\n\r\n"; }));
  client->Send("GET " + Url("/next") + " HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  EXPECT_EQ(origin.At(1).In(), "GET /next HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(origin.At(0).In(), forwarded);
}

TEST_F(ProxyLimits, ChunkedBodyInLaterReadsIsForwardedWholeAndWhatFollowsIsANewRequest) {
  auto client = NewClient();
  const std::string header =
      "POST " + Url("/up") + " HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string next = "GET " + Url("/after") + " HTTP/1.1\r\nHost: h\r\n\r\n";
  // Cuts inside a size line, inside data, between CR and LF, in the trailer.
  SendInReads(*client, {header, "5\r", "\nab", "cde\r", "\n1", "0;ext=1\r\n0123456789abcdef\r\n",
                        "0\r\nX-Trailer: t\r", "\n\r", "\n" + next});
  const std::string body =
      "5\r\nabcde\r\n10;ext=1\r\n0123456789abcdef\r\n0\r\nX-Trailer: t\r\n\r\n";
  const std::string forwarded =
      "POST /up HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n" + body;
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 2 && HasHeader(origin.At(1)); }));
  EXPECT_EQ(origin.At(0).In(), forwarded);
  EXPECT_EQ(origin.At(1).In(), "GET /after HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(Count("ClientHeader"), 2);
}

TEST_F(ProxyLimits, BytesInTheSameReadAsTheHeaderTravelWithIt) {
  auto client = NewClient();
  client->Send("POST " + Url("/x") + " HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc");
  const std::string forwarded = "POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc";
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
  EXPECT_EQ(origin.At(0).In(), "GET / HTTP/1.1\r\nX-Big: " + filler + "\r\nHost: \r\n\r\n");
}

TEST_F(ProxyLimits, SlowClientKeepsTheProxysQueueBoundedAndGetsEveryByte) {
  constexpr size_t kTotal = 32u << 20;
  constexpr size_t kBlock = 1u << 20;
  testsupport::PatternStream pattern(11);
  testsupport::Checksum sent, received;
  auto client = NewClient();
  client->SetAutoRead(false);
  client->OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  client->Send("GET " + Url("/big") + " HTTP/1.1\r\nHost: h\r\n\r\n");
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
  const std::string header = "POST " + Url("/upload") +
                             " HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(kTotal) +
                             "\r\n\r\n";
  expected.Add("POST /upload HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(kTotal) +
               "\r\n\r\n");
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
      maxQueued = std::max(maxQueued, remote->BufferedBytes() + session->ClientBuffer.size());
    far.ReadSome(64 * 1024);
  }
  EXPECT_EQ(far.TotalRead(), want);
  EXPECT_EQ(received.Value(), expected.Value());
  EXPECT_LT(maxQueued, 4u << 20);
  EXPECT_EQ(Count("ClientHeader"), 1);
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
      {"CONNECT : HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT :443 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1: HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:99999 HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:abc HTTP/1.1\r\n\r\n", tunnelBad},
      {"CONNECT 127.0.0.1:0 HTTP/1.1\r\n\r\n", tunnelBad},
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
  EXPECT_EQ(proxy.ActiveClients(), static_cast<int>(cases.size()));
  clients.clear();
  ASSERT_TRUE(WaitFor([&] { return proxy.ActiveClients() == 0; }));
  EXPECT_TRUE(LoopGoesIdle());
}

}  // namespace
}  // namespace vantrel::engine::proxytest
