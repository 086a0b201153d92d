// The listening server: banners, the client limit, and how a client's end is
// reported and the client freed.

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/WSocketServer.h"
#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using testsupport::ReadAvailable;
using testsupport::ReadState;

// Counts its own destruction, so a test can see the server free it.
class CountedClient : public TWSocketClient {
 public:
  CountedClient(TComponent* owner, int& destroyed) : TWSocketClient(owner), destroyed_(destroyed) {}
  ~CountedClient() override { ++destroyed_; }

 private:
  int& destroyed_;
};

class ServerTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.ClientClass = [this](TWSocketServer* owner) {
      return std::make_unique<CountedClient>(owner, destroyed);
    };
    server.OnClientConnect = [this](TWSocketServer*, TWSocketClient*, uint16_t err) {
      EXPECT_EQ(err, 0);
      ++connected;
    };
    server.OnClientDisconnect = [this](TWSocketServer*, TWSocketClient*, uint16_t) {
      ++disconnected;
    };
  }

  Fd Join() {
    Fd fd = testsupport::ConnectToLoopback(server.BoundPort());
    const int before = connected;
    EXPECT_TRUE(Pump([&] { return connected > before; }));
    return fd;
  }

  // Everything the peer gets until the server's side closes.
  std::string ReadToEnd(Fd& fd) {
    std::string got;
    ReadState state = ReadState::Open;
    EXPECT_TRUE(Pump([&] { return (state = ReadAvailable(fd.Get(), got)) != ReadState::Open; }));
    EXPECT_EQ(state, ReadState::Closed);
    return got;
  }

  // The bytes before a marker that the server's client sends after its banner.
  std::string BytesBeforeMarker(Fd& fd, TWSocketClient* client) {
    client->SendText("#");
    std::string got;
    EXPECT_TRUE(Pump([&] {
      ReadAvailable(fd.Get(), got);
      return !got.empty() && got.back() == '#';
    }));
    return got.substr(0, got.size() - 1);
  }

  TWSocketServer server;
  int connected = 0, disconnected = 0, destroyed = 0;
  TWSocketClient* refusedClient = nullptr;
};

TEST_F(ServerTest, BannerIsSentWithCrLfAndEmptyBannerSendsNothing) {
  server.Banner = "";
  server.Listen();
  Fd quiet = Join();
  EXPECT_EQ(BytesBeforeMarker(quiet, server.Clients(0)), "");

  server.Banner = "Hello there";
  Fd greeted = Join();
  EXPECT_EQ(BytesBeforeMarker(greeted, server.Clients(1)), "Hello there\r\n");
}

TEST_F(ServerTest, ClientOverTheLimitGetsTheBusyBannerAndIsFreed) {
  server.Banner = "Welcome";
  server.MaxClients = 2;
  server.Listen();
  Fd a = Join();
  Fd b = Join();
  server.OnClientDisconnect = [this](TWSocketServer* s, TWSocketClient* client, uint16_t err) {
    if (s->ClientCount() == 3) {  // the refused one, still listed while reported
      refusedClient = s->Clients(2);
      EXPECT_EQ(client, refusedClient);
      EXPECT_EQ(err, 0);
    }
    ++disconnected;
  };
  Fd c = Join();
  EXPECT_EQ(ReadToEnd(c), "Sorry, too many clients\r\n");
  ASSERT_TRUE(Pump([&] { return destroyed == 1; }));
  EXPECT_NE(refusedClient, nullptr);
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(server.ClientCount(), 2);
  EXPECT_EQ(BytesBeforeMarker(a, server.Clients(0)), "Welcome\r\n");
  EXPECT_EQ(BytesBeforeMarker(b, server.Clients(1)), "Welcome\r\n");
}

TEST_F(ServerTest, ClientClosedByOnClientConnectGetsNoBanner) {
  server.Banner = "Welcome";
  server.OnClientConnect = [&](TWSocketServer*, TWSocketClient* client, uint16_t) {
    ++connected;
    client->Close();
  };
  server.Listen();
  Fd fd = Join();
  EXPECT_EQ(ReadToEnd(fd), "");
  ASSERT_TRUE(Pump([&] { return destroyed == 1; }));
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(server.ClientCount(), 0);
}

// However the connection ends (from the loop, or inside a call the program
// makes), the client is reported and freed on a later turn, never inside its
// own OnSessionClosed, even when that handler pumps the loop (a message box).
struct ClientEndCase {
  const char* name;
  enum How { PeerCloses, Close, Abort, FailingSend } how;
  uint16_t code;
};

void PrintTo(const ClientEndCase& c, std::ostream* os) {
  *os << c.name;
}

class ClientEnd : public ServerTest, public ::testing::WithParamInterface<ClientEndCase> {};

TEST_P(ClientEnd, EndedClientStaysCountedUntilDisconnectOnItsOwnTurn) {
  const ClientEndCase& c = GetParam();
  server.Banner = "";
  bool inSessionClosed = false;
  uint64_t closedAt = 0;
  int countAtClose = -1, countAtDisconnect = -1;
  std::vector<uint16_t> closedCodes;
  server.OnClientConnect = [&](TWSocketServer* s, TWSocketClient* client, uint16_t) {
    ++connected;
    client->OnSessionClosed = [&, s](TWSocket*, uint16_t err) {
      inSessionClosed = true;
      countAtClose = s->ClientCount();
      closedAt = loop.DispatchedEvents();
      for (int i = 0; i < 3; ++i) loop.ProcessMessages();  // must not free us meanwhile
      closedCodes.push_back(err);
      inSessionClosed = false;
    };
  };
  server.OnClientDisconnect = [&](TWSocketServer* s, TWSocketClient* client, uint16_t err) {
    EXPECT_FALSE(inSessionClosed);
    EXPECT_GT(loop.DispatchedEvents(), closedAt);
    EXPECT_EQ(err, c.code);
    EXPECT_EQ(s->Clients(0), client);
    EXPECT_EQ(destroyed, 0);
    countAtDisconnect = s->ClientCount();
    ++disconnected;
  };
  server.Listen();
  Fd fd = Join();
  EXPECT_EQ(server.Clients(-1), nullptr);
  EXPECT_EQ(server.Clients(server.ClientCount()), nullptr);
  TWSocketClient* client = server.Clients(0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->GetPeerAddr(), "127.0.0.1");

  switch (c.how) {
    case ClientEndCase::PeerCloses: fd.Reset(); break;
    case ClientEndCase::Close: client->Close(); break;
    case ClientEndCase::Abort: client->Abort(); break;
    case ClientEndCase::FailingSend:
      client->Shutdown(1);
      client->SendText("after our own end");
      break;
  }
  ASSERT_TRUE(Pump([&] { return destroyed == 1; }));
  EXPECT_EQ(closedCodes, std::vector<uint16_t>{c.code});
  EXPECT_EQ(countAtClose, 1);
  EXPECT_EQ(countAtDisconnect, 1);
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(server.ClientCount(), 0);
  EXPECT_EQ(server.Clients(0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Server, ClientEnd,
    ::testing::Values(ClientEndCase{"PeerCloses", ClientEndCase::PeerCloses, 0},
                      ClientEndCase{"Close", ClientEndCase::Close, 0},
                      ClientEndCase{"Abort", ClientEndCase::Abort, 0},
                      ClientEndCase{"FailingSend", ClientEndCase::FailingSend, 10053}),
    [](const auto& info) { return std::string(info.param.name); });

// A connection reset while it waited to be accepted is still a client like
// any other: connected, then ended and freed; the listener is not disturbed.
TEST_F(ServerTest, ClientResetBeforeItIsAcceptedLeavesTheListenerAlone) {
  for (const bool withBgHandler : {false, true}) {
    SCOPED_TRACE(withBgHandler ? "with OnBgException" : "without OnBgException");
    TWSocketServer srv;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    if (withBgHandler) {
      srv.OnBgException = [](TWSocket*, const std::exception& e, bool& canClose) {
        ADD_FAILURE() << "listener failed: " << e.what();
        canClose = false;
      };
    }
    std::vector<TWSocketClient*> live;
    std::vector<std::string> peers;
    int ended = 0;
    srv.OnClientConnect = [&](TWSocketServer*, TWSocketClient* client, uint16_t) {
      live.push_back(client);
      peers.push_back(client->GetPeerAddr());
    };
    srv.OnClientDisconnect = [&](TWSocketServer*, TWSocketClient* client, uint16_t) {
      const auto it = std::find(live.begin(), live.end(), client);
      EXPECT_NE(it, live.end()) << "OnClientDisconnect for a client never connected";
      if (it != live.end()) live.erase(it);
      ++ended;
    };
    srv.Listen();
    Fd doomed = testsupport::ConnectToLoopback(srv.BoundPort());
    testsupport::CloseWithReset(doomed);
    Fd alive = testsupport::ConnectToLoopback(srv.BoundPort());
    ASSERT_TRUE(Pump([&] { return peers.size() == 2 && ended == 1; }));
    Settle();
    EXPECT_EQ(srv.State(), wsListening);
    EXPECT_EQ(srv.ClientCount(), 1);
    EXPECT_EQ(peers, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
    Fd third = testsupport::ConnectToLoopback(srv.BoundPort());
    ASSERT_TRUE(Pump([&] { return peers.size() == 3; }));
  }
}

// A factory or an OnClientCreate that throws: the failure is reported on the
// server, the connection closed and the half-made client freed.
TEST_F(ServerTest, FailedClientCreationClosesTheConnectionAndFreesTheClient) {
  for (const bool factoryThrows : {true, false}) {
    SCOPED_TRACE(factoryThrows ? "factory" : "OnClientCreate");
    TWSocketServer srv;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    srv.Banner = "";
    int made = 0, freed = 0, failures = 0;
    bool fail = true;
    srv.ClientClass = [&](TWSocketServer* owner) -> std::unique_ptr<TWSocketClient> {
      if (fail && factoryThrows) throw std::runtime_error("no client");
      ++made;
      return std::make_unique<CountedClient>(owner, freed);
    };
    srv.OnClientCreate = [&](TWSocketServer*, TWSocketClient*) {
      if (fail && !factoryThrows) throw std::runtime_error("no client");
    };
    srv.OnBgException = [&](TWSocket*, const std::exception& e, bool& canClose) {
      EXPECT_STREQ(e.what(), "no client");
      canClose = false;
      ++failures;
    };
    srv.OnClientConnect = [&](TWSocketServer*, TWSocketClient*, uint16_t) { ++connected; };
    srv.Listen();
    Fd refused = testsupport::ConnectToLoopback(srv.BoundPort());
    ASSERT_TRUE(Pump([&] { return failures == 1; }));
    EXPECT_EQ(ReadToEnd(refused), "");
    EXPECT_EQ(srv.ClientCount(), 0);
    EXPECT_EQ(freed, made);
    EXPECT_EQ(srv.State(), wsListening);
    fail = false;
    const int before = connected;
    Fd served = testsupport::ConnectToLoopback(srv.BoundPort());
    ASSERT_TRUE(Pump([&] { return connected > before; }));
    EXPECT_EQ(srv.ClientCount(), 1);
  }
}

TEST_F(ServerTest, ExceptionInOnClientDisconnectStillFreesTheClient) {
  server.Banner = "";
  int bgExceptions = 0;
  server.OnClientDisconnect = [&](TWSocketServer*, TWSocketClient*, uint16_t) {
    throw std::runtime_error("handler failed");
  };
  server.OnBgException = [&](TWSocket*, const std::exception& e, bool& canClose) {
    EXPECT_STREQ(e.what(), "handler failed");
    canClose = false;  // keep listening
    ++bgExceptions;
  };
  server.Listen();
  Fd fd = Join();
  fd.Reset();
  ASSERT_TRUE(Pump([&] { return destroyed == 1; }));
  EXPECT_EQ(bgExceptions, 1);
  EXPECT_EQ(server.ClientCount(), 0);
  EXPECT_EQ(server.State(), wsListening);
}

TEST_F(ServerTest, DestroyingTheServerFreesItsClientsSilently) {
  server.Banner = "";
  server.Listen();
  Fd a = Join();
  Fd b = Join();
  auto* extra = new TWSocketServer;  // destroyed below with its clients inside
  extra->SetAddr("127.0.0.1");
  extra->SetPort("0");
  extra->Banner = "";
  int extraDestroyed = 0;
  extra->ClientClass = [&](TWSocketServer* owner) {
    return std::make_unique<CountedClient>(owner, extraDestroyed);
  };
  extra->OnClientDisconnect = [](TWSocketServer*, TWSocketClient*, uint16_t) {
    ADD_FAILURE() << "OnClientDisconnect while the server is destroyed";
  };
  extra->Listen();
  Fd c = testsupport::ConnectToLoopback(extra->BoundPort());
  ASSERT_TRUE(Pump([&] { return extra->ClientCount() == 1; }));
  extra->Clients(0)->OnSessionClosed = Never("OnSessionClosed on destruction");
  delete extra;
  EXPECT_EQ(extraDestroyed, 1);
  EXPECT_EQ(ReadToEnd(c), "");
}

}  // namespace
}  // namespace vantrel::net
