// Deadlines of client sessions: slow and silent clients, idle keep-alive,
// peers that stop reading and remotes that never answer are ended; a quiet
// tunnel and a timeout of 0 are left alone. Timeouts are one second here;
// the tests only ask "closed" or "still open" once a deadline has passed.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "tests/engine/proxy_harness.h"

namespace vantrel::engine::proxytest {
namespace {

using namespace std::chrono_literals;

// Long enough for a one-second timeout, the sweep's second and a busy machine.
constexpr auto kPastDeadline = 4s;

enum class Scene {
  SilentConnection,    // connects and sends nothing
  TricklingHeader,     // sends its header one byte at a time, never ending it
  KeptAliveIdle,       // one request answered, then nothing
  ClientStopsReading,  // a large answer the client does not read
  OriginStopsReading,  // a large upload the origin does not read
  RemoteNeverAnswers,  // the connect is neither accepted nor refused
  QuietTunnel,         // a tunnel made, then nothing either way
};

struct TimeoutCase {
  const char* name;
  Scene scene;
  TSessionTimeouts timeouts;
  bool ends;  // the session is over once the deadline has passed
};

constexpr TSessionTimeouts kNone{0, 0, 0, 0};
constexpr TSessionTimeouts kAll{1, 1, 1, 1};

const TimeoutCase kCases[] = {
    {"SilentConnectionIsClosed", Scene::SilentConnection, {1, 0, 0, 0}, true},
    {"HeaderIsATotalBudgetNotRenewedByATrickle", Scene::TricklingHeader, {1, 0, 0, 0}, true},
    {"KeptAliveClientIdleBetweenRequestsIsClosed", Scene::KeptAliveIdle, {0, 1, 0, 0}, true},
    {"StallEndsBothSidesWhenTheClientStopsReading", Scene::ClientStopsReading, {0, 0, 1, 0}, true},
    {"StallEndsBothSidesWhenTheOriginStopsReading", Scene::OriginStopsReading, {0, 0, 1, 0}, true},
    {"ConnectThatNeverCompletesIsAnsweredAsRefused", Scene::RemoteNeverAnswers, {0, 0, 0, 1}, true},
    {"QuietTunnelNeverTimesOut", Scene::QuietTunnel, kAll, false},
    {"ZeroMeansNeverForASilentConnection", Scene::SilentConnection, kNone, false},
    {"ZeroMeansNeverForAnUnfinishedHeader", Scene::TricklingHeader, kNone, false},
    {"ZeroMeansNeverForAKeptAliveClient", Scene::KeptAliveIdle, kNone, false},
};

class ProxyTimeouts : public ProxyTest, public ::testing::WithParamInterface<TimeoutCase> {
 protected:
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + origin.PortText() + path;
  }

  // Sends one byte of a header that never ends every 200 ms while waiting.
  bool WaitWhileTrickling(Peer& client, const std::function<bool()>& done,
                          std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (done()) return true;
      if (!client.Eof() && !client.WasReset()) client.Send("X");
      WaitFor(done, 200ms);
    }
    return done();
  }

  PeerServer origin;
};

TEST_P(ProxyTimeouts, Case) {
  const TimeoutCase& tc = GetParam();
  proxy.SetTimeouts(tc.timeouts);
  auto client = NewClient();
  auto sessionOver = [&] { return proxy.Server().ClientCount() == 0; };
  const bool waitToEnd = tc.ends;
  auto settle = [&](const std::function<bool()>& over) {
    // Ends: within the deadline and its margin. Stays: still there after it.
    return waitToEnd ? WaitFor(over, kLongDeadline) : !WaitFor(over, kPastDeadline);
  };

  switch (tc.scene) {
    case Scene::SilentConnection:
      ASSERT_TRUE(settle(sessionOver));
      if (tc.ends) {
        EXPECT_TRUE(WaitFor([&] { return client->Eof(); }));
      }
      break;

    case Scene::TricklingHeader: {
      client->Send("GET " + Url("/slow") + " HTTP/1.1\r\nX-Slow: ");
      const bool over = WaitWhileTrickling(*client, sessionOver,
                                           tc.ends ? std::chrono::milliseconds(kLongDeadline)
                                                   : std::chrono::milliseconds(kPastDeadline));
      EXPECT_EQ(over, tc.ends);
      EXPECT_FALSE(Has("ClientHeader"));
      EXPECT_EQ(origin.Count(), 0u);
      break;
    }

    case Scene::KeptAliveIdle: {
      client->Send("GET " + Url("/a") + " HTTP/1.1\r\nHost: h\r\n\r\n");
      ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
      origin.At(0).Send(answer);
      ASSERT_TRUE(WaitFor([&] { return client->In() == answer; }));
      ASSERT_TRUE(settle(sessionOver));
      if (!tc.ends) {
        // Still served after the wait.
        client->Send("GET " + Url("/b") + " HTTP/1.1\r\nHost: h\r\n\r\n");
        // On the kept connection.
        EXPECT_TRUE(WaitFor([&] { return origin.At(0).In().find("/b ") != std::string::npos; }));
      }
      break;
    }

    case Scene::ClientStopsReading: {
      client->SetAutoRead(false);
      client->Send("GET " + Url("/big") + " HTTP/1.1\r\nHost: h\r\n\r\n");
      ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
      // More than every buffer on the way can hold.
      const size_t size = 48u << 20;
      origin.At(0).Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
      origin.At(0).Send(std::string(size, 'x'));
      ASSERT_TRUE(settle(sessionOver));
      // The origin's side ends too.
      EXPECT_TRUE(WaitFor([&] { return origin.At(0).Eof() || origin.At(0).WasReset(); }));
      break;
    }

    case Scene::OriginStopsReading: {
      origin.OnAccept = [](Peer& p) { p.SetAutoRead(false); };
      const size_t size = 48u << 20;
      client->Send("POST " + Url("/up") +
                   " HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
      client->Send(std::string(size, 'u'));
      ASSERT_TRUE(settle(sessionOver));
      EXPECT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
      break;
    }

    case Scene::RemoteNeverAnswers: {
      // A listener whose queue is full drops further connection requests
      // without an answer, so the connect stays under way for good.
      int port = 0;
      testsupport::Fd listener = testsupport::ListenOnLoopback(port, 0);
      testsupport::Fd filler = testsupport::ConnectToLoopback(port);
      client->Send("GET http://127.0.0.1:" + std::to_string(port) +
                   "/ HTTP/1.1\r\nHost: h\r\n\r\n");
      ASSERT_TRUE(WaitFor([&] { return Has("RemoteSocketPrepared"); }));
      ASSERT_TRUE(settle([&] { return client->Eof(); }));
      // As for a refused connect: the connect event, the remote's end, no
      // answer, and the client's connection half-closed.
      EXPECT_EQ(client->In(), "");
      EXPECT_EQ(Count("RemoteConnect"), 1);
      EXPECT_EQ(Count("RemoteDisconnect"), 1);
      break;
    }

    case Scene::QuietTunnel: {
      client->Send("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\n\r\n");
      ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && !client->In().empty(); }));
      ASSERT_TRUE(settle(sessionOver));
      // Both ways still carry bytes.
      client->Send("ping");
      origin.At(0).Send("pong");
      EXPECT_TRUE(WaitFor([&] { return origin.At(0).In() == "ping"; }));
      EXPECT_TRUE(WaitFor([&] { return client->In().ends_with("pong"); }));
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ProxyTimeouts, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A descriptor limit that leaves exactly one number free: a new descriptor
// takes the lowest free number, and the limit is the second one.
rlim_t LimitWithOneFree() {
  int freeSeen = 0;
  for (int fd = 0;; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && ++freeSeen == 2)
      return static_cast<rlim_t>(fd);
  }
}

// Lowers the soft descriptor limit for one test and gives it back after.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    ok_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;
  bool Ok() const { return ok_; }

 private:
  rlimit saved_{};
  bool ok_ = false;
};

// Out of descriptors, an arriving client is still accepted and answered:
// by closing the oldest idle session when there is one, by the spare
// descriptor when every session is busy. The sessions are made first, then
// the limit leaves one descriptor: the new client's own socket here.
class ProxyDescriptors : public ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    proxy.SetTimeouts(kNone);
    proxy.OnNotice = [this](TKwGenericProxy*, const std::string& m) { notices.push_back(m); };
    // Requests for /local are answered by the proxy itself: no descriptor.
    onHeader = [](TKwGenericProxy*, TKwProxyClient*, const std::string& url, std::string&,
                  std::string&, std::string&, std::string&, std::string&, std::string&,
                  std::string&, std::string&, bool&, std::string& returnContent) {
      if (url.ends_with("/local")) returnContent = kLocalAnswer;
    };
  }

  // With the table full, a new client connects and asks; true when answered.
  bool NewClientIsAnswered(size_t sessions) {
    EXPECT_TRUE(LoopGoesIdle());
    auto limit = std::make_unique<DescriptorLimit>(LimitWithOneFree());
    EXPECT_TRUE(limit->Ok());
    // The limit goes as soon as the client is taken: what follows needs
    // descriptors of its own (the sanitizers' checks among them).
    proxy.OnClientConnect = [&](TKwGenericProxy*, TKwProxyClient*) {
      events.emplace_back("ClientConnect");
      limit.reset();
    };
    auto late = ConnectTo(proxy.Server().BoundPort());
    EXPECT_TRUE(WaitFor([&] { return Count("ClientConnect") == static_cast<int>(sessions) + 1; }));
    limit.reset();
    proxy.OnClientConnect = [this](TKwGenericProxy*, TKwProxyClient*) {
      events.emplace_back("ClientConnect");
    };
    late->Send("GET http://127.0.0.1:" + origin.PortText() + "/local HTTP/1.1\r\nHost: h\r\n\r\n");
    return WaitFor([&] { return late->In() == kLocalAnswer; });
  }

  static constexpr const char* kLocalAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  std::vector<std::string> notices;
  PeerServer origin;
};

TEST_F(ProxyDescriptors, TheOldestIdleSessionMakesRoomForANewClient) {
  std::vector<std::unique_ptr<Peer>> idle;
  // Nothing kept onward: only sessions can give descriptors back.
  const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi";
  for (size_t i = 0; i < 3; ++i) {
    idle.push_back(NewClient());
    idle.back()->Send("GET " + std::string("http://127.0.0.1:") + origin.PortText() +
                      "/a HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == i + 1; }));
    origin.At(i).Send(answer);
    ASSERT_TRUE(WaitFor([&] { return idle.back()->In() == answer; }));
  }
  ASSERT_TRUE(NewClientIsAnswered(3));
  EXPECT_TRUE(WaitFor([&] { return idle[0]->Eof(); }));
  EXPECT_FALSE(idle[1]->Eof());
  EXPECT_FALSE(idle[2]->Eof());
  EXPECT_EQ(notices,
            std::vector<std::string>{"Out of descriptors: closed 1 idle client connection"});
}

TEST_F(ProxyDescriptors, KeptConnectionsOnwardGoBeforeAnySession) {
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
  {
    // Its connection onward is pooled once it has gone.
    auto gone = NewClient();
    gone->Send("GET http://127.0.0.1:" + origin.PortText() + "/a HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1 && origin.At(0).In().size() > 0; }));
    origin.At(0).Send(answer);
    ASSERT_TRUE(WaitFor([&] { return gone->In() == answer; }));
    gone->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return proxy.Pool().Size() == 1; }));
  }
  auto idle = NewClient();
  ASSERT_TRUE(NewClientIsAnswered(2));
  EXPECT_TRUE(WaitFor([&] { return origin.At(0).Eof(); }));
  EXPECT_EQ(proxy.Pool().Size(), 0u);
  EXPECT_FALSE(idle->Eof());
  EXPECT_TRUE(notices.empty());
}

TEST_F(ProxyDescriptors, WithNothingIdleTheSpareDescriptorTakesTheNewClient) {
  std::vector<std::unique_ptr<Peer>> tunnels;
  for (size_t i = 0; i < 2; ++i) {
    tunnels.push_back(NewClient());
    tunnels.back()->Send("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == i + 1 && !tunnels.back()->In().empty(); }));
  }
  ASSERT_TRUE(NewClientIsAnswered(2));
  // The tunnels were not touched.
  tunnels[1]->Send("ping");
  EXPECT_TRUE(WaitFor([&] { return origin.At(1).In() == "ping"; }));
  EXPECT_FALSE(tunnels[0]->Eof());
  EXPECT_EQ(notices,
            std::vector<std::string>{"Out of descriptors: no idle client connection to close"});
}

}  // namespace
}  // namespace vantrel::engine::proxytest
