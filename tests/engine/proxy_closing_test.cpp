// How connections end: the server's close, a reset, a failed lookup or
// connect, the proxy's own Close and Open, and exceptions from handlers.

#include "tests/engine/proxy_harness.h"
#include "tests/support/TestPattern.h"

namespace vantrel::engine::proxytest {
namespace {

bool HasHeader(Peer& p) {
  return p.In().find("\r\n\r\n") != std::string::npos;
}

class ProxyClosing : public ProxyTest {
 protected:
  std::string Get(const std::string& hostPort, const std::string& path = "/") const {
    return "GET http://" + hostPort + path + " HTTP/1.1\r\nHost: h\r\n\r\n";
  }
  std::string OriginHost() const { return "127.0.0.1:" + origin.PortText(); }

  PeerServer origin;
};

TEST_F(ProxyClosing, ServerCloseHalfClosesTheClientAfterEverythingQueuedWasSent) {
  constexpr size_t kSize = 8 << 20;
  testsupport::PatternStream pattern(7);
  testsupport::Checksum sent, received;
  auto client = NewClient();
  client->OnBytes = [&](std::string_view b) { received.Add(b.data(), b.size()); };
  client->Send(Get(OriginHost()));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  for (size_t done = 0; done < kSize; done += 1 << 20) {
    const std::string block = pattern.Next(1 << 20);
    sent.Add(block);
    origin.At(0).Send(block);
  }
  origin.At(0).ShutdownWrite();
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }, kLongDeadline));
  EXPECT_EQ(received.Bytes(), kSize);
  EXPECT_EQ(received.Value(), sent.Value());
  EXPECT_EQ(Count("RemoteDisconnect"), 1);
  // The session lives on until the client closes its side.
  EXPECT_EQ(proxy.ActiveClients(), 1);
  EXPECT_FALSE(Has("ClientDisconnect"));
  client->CloseNow();
  ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); }));
  EXPECT_EQ(proxy.ActiveClients(), 0);
}

TEST_F(ProxyClosing, ResettingServerLeavesTheClientOpenUntilItCloses) {
  auto client = NewClient();
  client->Send(Get(OriginHost()));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  net::TWSocket* remote = Session()->RemoteSocket();
  ASSERT_NE(remote, nullptr);
  origin.At(0).ResetNow();
  ASSERT_TRUE(WaitFor([&] { return remote->State() == net::wsClosed; }));
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_FALSE(client->Eof());
  EXPECT_FALSE(client->WasReset());
  EXPECT_FALSE(Has("RemoteDisconnect"));
  EXPECT_EQ(proxy.ActiveClients(), 1);
  client->CloseNow();
  ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); }));
  EXPECT_FALSE(Has("RemoteDisconnect"));
}

// A client whose reading is paused (its upload waits for an origin that does
// not read, or for a remote connection still being made) and that then
// resets is noticed all the same: its session goes, with its descriptor. So
// is one that closes in order after its origin reset the upload.
struct PausedClientCase {
  const char* name;
  bool originStalls;  // else the remote connection waits for a name lookup
  bool originResetsFirst = false;
};

void PrintTo(const PausedClientCase& c, std::ostream* os) {
  *os << c.name;
}

class ProxyClosingPaused : public ProxyClosing,
                           public ::testing::WithParamInterface<PausedClientCase> {};

TEST_P(ProxyClosingPaused, ClientResettingWhilePausedIsRemoved) {
  const PausedClientCase& c = GetParam();
  origin.OnAccept = [](Peer& p) { p.SetAutoRead(false); };
  dns.SetReply("stalled.test", testsupport::DnsResponder::Reply::Silent);
  const std::string host = c.originStalls ? OriginHost() : "stalled.test";
  const size_t bodySize = c.originStalls ? (32u << 20) : (1u << 20);
  auto client = NewClient();
  client->Send("POST http://" + host + "/upload HTTP/1.1\r\nHost: h\r\nContent-Length: " +
               std::to_string(bodySize) + "\r\n\r\n");
  client->Send(testsupport::PatternStream(5).Next(bodySize));
  ASSERT_TRUE(WaitFor([&] { return Session() && Session()->ReadingPaused(); }, kLongDeadline));
  EXPECT_EQ(origin.Count(), c.originStalls ? 1u : 0u);
  if (c.originResetsFirst) {
    net::TWSocket* remote = Session()->RemoteSocket();
    origin.At(0).ResetNow();
    ASSERT_TRUE(WaitFor([&] { return remote->State() == net::wsClosed; }));
    EXPECT_FALSE(Has("RemoteDisconnect"));
    client->CloseNow();
  } else {
    client->ResetNow();
  }
  ASSERT_TRUE(WaitFor([&] { return Has("ClientDisconnect"); })) << "the session leaked";
  EXPECT_EQ(proxy.ActiveClients(), 0);
  EXPECT_EQ(proxy.Server().ClientCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(ProxyClosing, ProxyClosingPaused,
                         ::testing::Values(PausedClientCase{"OriginDoesNotRead", true},
                                           PausedClientCase{"RemoteStillConnecting", false},
                                           PausedClientCase{"OriginResetsTheUpload", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProxyClosing, FailedLookupHalfClosesTheClientWithoutAnswer) {
  dns.SetReply("missing.test", testsupport::DnsResponder::Reply::NxDomain);
  auto client = NewClient();
  client->Send(Get("missing.test"));
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), "");
  EXPECT_TRUE(Has("RemoteSocketPrepared"));
  EXPECT_FALSE(Has("RemoteDNSLookupDone"));
  EXPECT_FALSE(Has("RemoteConnect"));
  EXPECT_GE(dns.QueriesFor("missing.test"), 1);
}

TEST_F(ProxyClosing, RefusedConnectReportsConnectThenDisconnectAndHalfCloses) {
  int port = 0;
  testsupport::Fd closedPort = testsupport::BindWithoutListening(port);
  auto client = NewClient();
  client->Send(Get("127.0.0.1:" + std::to_string(port)));
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
  EXPECT_EQ(client->In(), "");
  const std::vector<std::string> tail(events.end() - 3, events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"RemoteSocketPrepared", "RemoteConnect",
                                            "RemoteDisconnect"}));
  EXPECT_EQ(Count("RemoteConnect"), 1);
}

TEST_F(ProxyClosing, CloseEndsEveryClientFromTheLoopAndReportsTheServerOnce) {
  auto first = NewClient();
  auto second = NewClient();
  ASSERT_EQ(proxy.ActiveClients(), 2);
  proxy.Close();
  EXPECT_FALSE(proxy.Active());
  // The sessions go on a later turn of the loop, never inside Close.
  EXPECT_EQ(Count("ClientDisconnect"), 0);
  EXPECT_EQ(Count("ServerClosed 0"), 1);
  ASSERT_TRUE(WaitFor([&] { return Count("ClientDisconnect") == 2; }));
  ASSERT_TRUE(WaitFor([&] { return first->Eof() && second->Eof(); }));
  EXPECT_EQ(proxy.ActiveClients(), 0);
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(Count("ClientDisconnect"), 2);
  EXPECT_EQ(Count("ServerClosed 0"), 1);
  EXPECT_EQ(events.size(), 5u);  // two connects, two disconnects, one server close
}

TEST_F(ProxyClosing, OpenOnAnActiveProxyChangesNothing) {
  const int port = proxy.Server().BoundPort();
  std::string error = "stale";
  proxy.Open(error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(proxy.Active());
  EXPECT_EQ(proxy.Server().BoundPort(), port);
  EXPECT_THROW(proxy.SetPort(1), std::runtime_error);
  auto client = NewClient();
  EXPECT_EQ(proxy.ActiveClients(), 1);
}

TEST_F(ProxyClosing, OpenOnAPortInUseReportsTheBindError) {
  TKwHttpProxy other;
  other.SetLocalAddress("127.0.0.1");
  other.SetPort(proxy.Server().BoundPort());
  bool listening = false;
  other.OnServerListening = [&](TKwGenericProxy*) { listening = true; };
  std::string error;
  other.Open(error);
  EXPECT_TRUE(error.starts_with("Error 10048 in function Bind")) << error;
  EXPECT_FALSE(other.Active());
  EXPECT_FALSE(listening);
  // The first proxy still serves.
  auto client = NewClient();
  EXPECT_EQ(proxy.ActiveClients(), 1);
}

TEST_F(ProxyClosing, ExceptionInRemoteConnectIsLoggedAndTheSocketStaysOpen) {
  proxy.OnRemoteConnect = [](TKwGenericProxy*, TKwProxyClient*) {
    throw std::runtime_error("handler failed");
  };
  auto client = NewClient();
  client->Send(Get(OriginHost()));
  ASSERT_TRUE(WaitFor([&] {
    return std::count(debugLog.begin(), debugLog.end(),
                      "Background exception in server: handler failed") == 1;
  }));
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
  net::TWSocket* remote = Session()->RemoteSocket();
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(remote->State(), net::wsConnected);
  EXPECT_TRUE(LoopGoesIdle());
  EXPECT_EQ(remote->State(), net::wsConnected);
  EXPECT_FALSE(origin.At(0).Eof());
  EXPECT_FALSE(client->Eof());
}

TEST_F(ProxyClosing, ExceptionInTheHeaderEventIsDroppedSilently) {
  int calls = 0;
  onHeader = [&](TKwGenericProxy*, TKwProxyClient*, const std::string&, std::string&, std::string&,
                 std::string&, std::string&, std::string&, std::string&, std::string&, std::string&,
                 bool&, std::string&) {
    ++calls;
    throw std::runtime_error("header handler failed");
  };
  auto client = NewClient();
  client->Send(Get(OriginHost()));
  ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
  EXPECT_TRUE(LoopGoesIdle());
  for (const std::string& line : debugLog)
    EXPECT_EQ(line.find("Background exception"), std::string::npos) << line;
  EXPECT_FALSE(client->Eof());
  EXPECT_EQ(client->In(), "");
  EXPECT_EQ(origin.Count(), 0u);
  EXPECT_FALSE(Session()->HeaderProcessed);
  // The session still works: the next chunk tries the header again.
  onHeader = nullptr;
  client->Send("X");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && HasHeader(origin.At(0)); }));
  EXPECT_EQ(origin.At(0).In().substr(0, 6), "GET / ");
}

}  // namespace
}  // namespace vantrel::engine::proxytest
