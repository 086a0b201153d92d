// Connections onward kept between requests: which answers let a connection
// be kept and which end it, where a kept one may go again, its limits, and
// the one resend of a request whose kept connection ended before answering.

#include "tests/engine/proxy_harness.h"
#include "tests/support/TestPattern.h"

namespace vantrel::engine::proxytest {
namespace {

const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

class ProxyReuse : public ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    proxy.OnRemoteSocketReused = [this](TKwGenericProxy*, TKwProxyClient*) { ++reused; };
  }

  std::string Request(const std::string& method, const std::string& path,
                      const std::string& lines = "", const std::string& version = "HTTP/1.1") {
    return method + " http://127.0.0.1:" + origin.PortText() + path + " " + version +
           "\r\nHost: 127.0.0.1:" + origin.PortText() + "\r\n" + lines + "\r\n";
  }

  // Waits until origin connection i holds a whole header.
  bool Arrived(size_t i) {
    return WaitFor([&] { return origin.Count() > i && HasHeader(origin.At(i)); });
  }

  PeerServer origin;
  int reused = 0;
};

// An origin or next hop that answers every request at once, noting on which
// of its connections each came ("0 GET /a HTTP/1.1").
class AnsweringServer {
 public:
  AnsweringServer() {
    server_.OnAccept = [this](Peer& peer) {
      const size_t id = server_.Count() - 1;
      auto pending = std::make_shared<std::string>();
      peer.OnBytes = [this, &peer, id, pending](std::string_view chunk) {
        pending->append(chunk);
        for (size_t end; (end = pending->find("\r\n\r\n")) != std::string::npos;) {
          requests.push_back(std::to_string(id) + " " + pending->substr(0, pending->find("\r\n")));
          pending->erase(0, end + 4);
          peer.Send(kAnswer);
        }
      };
    };
  }
  int Port() const { return server_.Port(); }
  size_t Connections() const { return server_.Count(); }

  std::vector<std::string> requests;

 private:
  PeerServer server_;
};

TEST_F(ProxyReuse, WhichAnswersLeaveTheConnectionToBeUsedAgain) {
  enum class Between { Nothing, OriginCloses, PoolCleared };
  struct Case {
    const char* name;
    std::string method, lines, version;
    std::string answer;
    // What the client gets of it.
    std::string relayed;
    Between between;
    bool reused;
  };
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n";
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
  const std::string notModified = "HTTP/1.1 304 Not Modified\r\nETag: \"x\"\r\n\r\n";
  const std::string closing = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";
  const std::string old = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi";
  const std::string oldKept =
      "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nhi";
  const std::string ntlm = "HTTP/1.1 401 No\r\nWWW-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n";
  const std::string trailing = kAnswer + "XX";
  const Case cases[] = {
      {"length", "GET", "", "HTTP/1.1", kAnswer, kAnswer, Between::Nothing, true},
      {"chunked", "GET", "", "HTTP/1.1", chunked, chunked, Between::Nothing, true},
      {"HEAD, a length and no body", "HEAD", "", "HTTP/1.1", head, head, Between::Nothing, true},
      {"304", "GET", "", "HTTP/1.1", notModified, notModified, Between::Nothing, true},
      {"origin says close", "GET", "", "HTTP/1.1", closing, closing, Between::Nothing, false},
      {"client says close", "GET", "Connection: close\r\n", "HTTP/1.1", kAnswer, kAnswer,
       Between::Nothing, false},
      {"HTTP/1.0 answer", "GET", "", "HTTP/1.1", old, old, Between::Nothing, false},
      {"HTTP/1.0 answer with keep-alive", "GET", "", "HTTP/1.1", oldKept, oldKept, Between::Nothing,
       true},
      {"HTTP/1.0 request", "GET", "", "HTTP/1.0", kAnswer, kAnswer, Between::Nothing, false},
      {"login bound to the connection", "GET", "", "HTTP/1.1", ntlm, ntlm, Between::Nothing, false},
      {"bytes behind the answer", "GET", "", "HTTP/1.1", trailing, kAnswer, Between::Nothing,
       false},
      {"origin closes while idle", "GET", "", "HTTP/1.1", kAnswer, kAnswer, Between::OriginCloses,
       false},
      {"routing changed: pool cleared", "GET", "", "HTTP/1.1", kAnswer, kAnswer,
       Between::PoolCleared, false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const size_t before = origin.Count();
    auto client = NewClient();
    client->Send(Request(t.method, "/one", t.lines, t.version));
    ASSERT_TRUE(Arrived(before));
    Peer& conn = origin.At(before);
    const size_t firstBytes = conn.In().size();
    conn.Send(t.answer);
    ASSERT_TRUE(WaitFor([&] { return client->In() == t.relayed; }));
    if (t.between == Between::OriginCloses) {
      conn.CloseNow();
      ASSERT_TRUE(WaitFor([&] { return Session()->RemoteSocket() == nullptr; }));
    } else if (t.between == Between::PoolCleared) {
      proxy.ClearConnectionPool();
    }

    // The same client asks the same origin again.
    client->In().clear();
    client->Send(Request("GET", "/two"));
    ASSERT_TRUE(WaitFor([&] {
      return (!conn.Closed() && conn.In().find("/two", firstBytes) != std::string::npos) ||
             (origin.Count() > before + 1 && HasHeader(origin.At(before + 1)));
    }));
    EXPECT_EQ(origin.Count(), before + (t.reused ? 1 : 2));
    origin.Last().Send(kAnswer);
    // Answered, and nothing of the first connection's end reached it.
    ASSERT_TRUE(WaitFor([&] { return client->In() == kAnswer; }));
    EXPECT_FALSE(client->Eof());
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
    proxy.ClearConnectionPool();
  }
}

// With nothing watching the bytes, body data goes from socket to socket
// unseen, and only the framing around it is read: every answer must still
// end where it ends, reach the client whole, count once, and leave the
// connection in step for the next request.
TEST_F(ProxyReuse, AnswersRelayedUnseenEndWhereTheyEnd) {
  struct Case {
    const char* name;
    bool watched;                     // the owner wants to see every byte
    std::vector<std::string> pieces;  // each sent once the one before arrived
    bool originCloses;                // the answer ends only with the close
    bool reused;
  };
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const Case cases[] = {
      {"length, in pieces", false,
       {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "defg", "hij"}, false, true},
      {"chunk data apart from its framing", false,
       {chunkedHead + "5\r\n", "hel", "lo\r\n3\r\nabc", "\r\n0\r\n\r\n"}, false, true},
      {"until the close", false, {"HTTP/1.1 200 OK\r\n\r\nabc", "def"}, true, false},
      {"watched: every byte seen", true,
       {"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabc", "def"}, false, true},
  };
  bool watched = false;
  size_t seen = 0;
  size_t unseen = 0;
  proxy.MayRelayUnseen = [&] { return !watched; };
  proxy.OnRemoteDataAvailable = [&](TKwGenericProxy*, TKwProxyClient*, std::string_view d) {
    seen += d.size();
  };
  proxy.OnRemoteDataRelayed = [&](TKwGenericProxy*, TKwProxyClient*, size_t n) { unseen += n; };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    watched = t.watched;
    seen = unseen = 0;
    const size_t before = origin.Count();
    auto client = NewClient();
    client->Send(Request("GET", "/one"));
    ASSERT_TRUE(Arrived(before));
    Peer& conn = origin.At(before);
    std::string answer;
    for (const std::string& piece : t.pieces) {
      answer += piece;
      conn.Send(piece);
      ASSERT_TRUE(WaitFor([&] { return client->In().size() >= answer.size(); }));
    }
    if (t.originCloses) {
      conn.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
    }
    EXPECT_EQ(client->In(), answer);
    EXPECT_EQ(seen + unseen, answer.size());
    EXPECT_EQ(unseen > 0, !t.watched);
    if (t.originCloses) continue;

    client->In().clear();
    const int reusedBefore = reused;
    client->Send(Request("GET", "/two"));
    ASSERT_TRUE(WaitFor([&] { return origin.Count() > before + 1 || reused > reusedBefore; }));
    EXPECT_EQ(reused > reusedBefore, t.reused);
    Peer& next = origin.Last();
    ASSERT_TRUE(WaitFor([&] { return next.In().find("/two") != std::string::npos; }));
    next.Send(kAnswer);
    ASSERT_TRUE(WaitFor([&] { return client->In() == kAnswer; }));
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
    proxy.ClearConnectionPool();
  }

  // A tunnel's bytes go unseen too, both ways as before.
  watched = false;
  seen = unseen = 0;
  const size_t before = origin.Count();
  auto client = NewClient();
  client->Send("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() > before && HasHeader(*client); }));
  client->In().clear();
  const std::string big = testsupport::PatternStream(5).Next(3u << 20);
  origin.Last().Send(big);
  client->Send("ping");
  ASSERT_TRUE(WaitFor([&] { return client->In().size() >= big.size(); }, kLongDeadline));
  EXPECT_TRUE(client->In() == big);
  ASSERT_TRUE(WaitFor([&] { return origin.Last().In() == "ping"; }));
  EXPECT_EQ(seen + unseen, big.size());
  EXPECT_GT(unseen, 0u);
}

TEST_F(ProxyReuse, KeptAliveClientsShareOneOriginConnection) {
  AnsweringServer server;
  const std::string target = "http://127.0.0.1:" + std::to_string(server.Port());
  // Two clients one after the other, ten requests each.
  for (int round = 0; round < 2; ++round) {
    auto client = NewClient();
    for (int i = 0; i < 10; ++i) {
      client->In().clear();
      client->Send("GET " + target + "/" + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n");
      ASSERT_TRUE(WaitFor([&] { return client->In() == kAnswer; }));
    }
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
  }
  EXPECT_EQ(server.requests.size(), 20u);
  EXPECT_EQ(server.Connections(), 1u);
  // A fresh connection is announced as before; a kept one by its own event.
  EXPECT_EQ(Count("RemoteSocketPrepared"), 1);
  EXPECT_EQ(Count("RemoteConnect"), 1);
  EXPECT_EQ(reused, 19);
}

TEST_F(ProxyReuse, AKeptConnectionGoesOnlyWhereItsRequestsWent) {
  AnsweringServer direct, hop;
  auto client = NewClient();
  auto ask = [&](const std::string& path) {
    client->In().clear();
    client->Send("GET http://127.0.0.1:" + std::to_string(direct.Port()) + path +
                 " HTTP/1.1\r\nHost: x\r\n\r\n");
    return WaitFor([&] { return client->In() == kAnswer; });
  };
  ASSERT_TRUE(ask("/direct"));
  // Through a next hop now, with one set of credentials, another, the first
  // again; then direct again.
  proxy.NextHopHTTP().SetAddress("127.0.0.1");
  proxy.NextHopHTTP().SetPort(hop.Port());
  for (const char* user : {"ann", "bob", "ann"}) {
    proxy.NextHopHTTP().SetUsername(user);
    ASSERT_TRUE(ask(std::string("/") + user));
  }
  proxy.NextHopHTTP().SetAddress("");
  ASSERT_TRUE(ask("/again"));

  const std::string via = "GET http://127.0.0.1:" + std::to_string(direct.Port());
  EXPECT_EQ(hop.requests,
            (std::vector<std::string>{"0 " + via + "/ann HTTP/1.1", "1 " + via + "/bob HTTP/1.1",
                                      "0 " + via + "/ann HTTP/1.1"}));
  EXPECT_EQ(direct.requests,
            (std::vector<std::string>{"0 GET /direct HTTP/1.1", "0 GET /again HTTP/1.1"}));
}

TEST_F(ProxyReuse, ARequestWhoseKeptConnectionEndedBeforeAnyAnswerGoesOnceMore) {
  enum class Origin { Closes, Resets, ClosesMidAnswer };
  struct Case {
    const char* name;
    bool kept;  // the request goes out on a kept connection
    std::string method, body;
    Origin does;
    int failures;  // connections that end so, one after the other
    bool sentAgain;
    std::string clientGets;
  };
  const std::string done = "HTTP/1.1 204 No Content\r\n\r\n";
  const std::string half = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf";
  const std::string closing = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";
  const Case cases[] = {
      {"GET, closed", true, "GET", "", Origin::Closes, 1, true, done},
      {"GET, reset", true, "GET", "", Origin::Resets, 1, true, done},
      {"HEAD", true, "HEAD", "", Origin::Closes, 1, true, done},
      {"PUT with its whole body", true, "PUT", "data", Origin::Closes, 1, true, done},
      {"POST", true, "POST", "data", Origin::Closes, 1, false, ""},
      {"GET, closed mid-answer", true, "GET", "", Origin::ClosesMidAnswer, 1, false, half},
      {"GET on a fresh connection", false, "GET", "", Origin::Closes, 1, false, ""},
      {"GET, its second connection ends too", true, "GET", "", Origin::Closes, 2, true, ""},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const size_t before = origin.Count();
    auto client = NewClient();
    client->Send(Request("GET", "/one"));
    ASSERT_TRUE(Arrived(before));
    const std::string& first = t.kept ? kAnswer : closing;
    origin.At(before).Send(first);
    ASSERT_TRUE(WaitFor([&] { return client->In() == first; }));
    client->In().clear();

    std::string lines;
    if (!t.body.empty()) lines = "Content-Length: " + std::to_string(t.body.size()) + "\r\n";
    client->Send(Request(t.method, "/two", lines) + t.body);
    // On the kept connection behind the first request, or on a new one.
    const size_t on = before + (t.kept ? 0 : 1);
    const size_t skip = t.kept ? origin.At(before).In().size() : 0;
    auto whole = [&](Peer& p) {
      const size_t end = p.In().find("\r\n\r\n", skip);
      return end != std::string::npos && p.In().size() == end + 4 + t.body.size();
    };
    ASSERT_TRUE(WaitFor([&] { return origin.Count() > on && whole(origin.At(on)); }));
    const std::string forwarded = origin.At(on).In().substr(skip);
    for (int i = 0; i < t.failures; ++i) {
      const size_t index = on + static_cast<size_t>(i);
      if (i > 0) {
        ASSERT_TRUE(WaitFor([&] {
          return origin.Count() > index && origin.At(index).In().size() == forwarded.size();
        }));
        EXPECT_EQ(origin.At(index).In(), forwarded);
      }
      Peer& conn = origin.At(index);
      switch (t.does) {
        case Origin::Closes: conn.CloseNow(); break;
        case Origin::Resets: conn.ResetNow(); break;
        case Origin::ClosesMidAnswer:
          conn.Send(half);
          ASSERT_TRUE(WaitFor([&] { return client->In() == half; }));
          conn.CloseNow();
          break;
      }
    }
    const size_t last = on + static_cast<size_t>(t.failures);
    if (t.sentAgain && t.failures == 1) {
      // The same bytes, body and all, on a new connection.
      ASSERT_TRUE(WaitFor([&] {
        return origin.Count() > last && origin.At(last).In().size() == forwarded.size();
      }));
      EXPECT_EQ(origin.At(last).In(), forwarded);
      origin.At(last).Send(done);
    }
    // Answered, or told that nothing more will come.
    ASSERT_TRUE(WaitFor([&] { return client->In() == done || client->Eof(); }));
    EXPECT_EQ(client->In(), t.clientGets);
    EXPECT_EQ(origin.Count(), last + (t.sentAgain && t.failures == 1 ? 1 : 0));
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return proxy.Server().ClientCount() == 0; }));
    proxy.ClearConnectionPool();
  }
}

TEST_F(ProxyReuse, KeptConnectionsAreBoundedPerPlaceAndCloseWhenIdleTooLong) {
  // More clients at once than one place may keep connections for.
  const size_t clients = TConnectionPool::kMaxPerKey + 2;
  std::vector<std::unique_ptr<Peer>> peers;
  for (size_t i = 0; i < clients; ++i) {
    peers.push_back(NewClient());
    std::string path = "/";
    path += std::to_string(i);
    peers.back()->Send(Request("GET", path));
  }
  ASSERT_TRUE(WaitFor([&] {
    if (origin.Count() < clients) return false;
    for (size_t i = 0; i < clients; ++i)
      if (!HasHeader(origin.At(i))) return false;
    return true;
  }));
  for (size_t i = 0; i < clients; ++i) origin.At(i).Send(kAnswer);
  ASSERT_TRUE(WaitFor([&] {
    for (auto& p : peers)
      if (p->In() != kAnswer) return false;
    return true;
  }));
  // Each client holds its own until it leaves; then they are pooled.
  EXPECT_EQ(proxy.Pool().Size(), 0u);
  for (auto& p : peers) p->CloseNow();
  auto ended = [&] {
    size_t n = 0;
    for (size_t i = 0; i < clients; ++i) n += origin.At(i).Eof() ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return ended() == 2; }));
  EXPECT_EQ(proxy.Pool().Size(), TConnectionPool::kMaxPerKey);

  proxy.Pool().SetIdleTimeout(std::chrono::milliseconds(50));
  ASSERT_TRUE(WaitFor([&] { return ended() == clients; }));
  EXPECT_EQ(proxy.Pool().Size(), 0u);
}

}  // namespace
}  // namespace vantrel::engine::proxytest
