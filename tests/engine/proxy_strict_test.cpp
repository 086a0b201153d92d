// Requests read strictly: framing that another reader could take for a
// second request, targets that name no host we can reach, the Host line an
// absolute URL sends on, and connections that would come back to the proxy.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "tests/engine/proxy_harness.h"

namespace vantrel::engine::proxytest {
namespace {

// Takes every descriptor the process may still open, so that the next one
// asked for fails with EMFILE; gives them back, and the limit, when it goes.
class DescriptorsTaken {
 public:
  DescriptorsTaken() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int highest = spare_;
    if (DIR* dir = opendir("/proc/self/fd")) {
      while (dirent* entry = readdir(dir)) highest = std::max(highest, std::atoi(entry->d_name));
      closedir(dir);
    }
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = fcntl(spare_, F_DUPFD_CLOEXEC, 0)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorsTaken() {
    for (int fd : taken_) close(fd);
    close(spare_);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorsTaken(const DescriptorsTaken&) = delete;
  DescriptorsTaken& operator=(const DescriptorsTaken&) = delete;

 private:
  rlimit saved_{};
  int spare_ = -1;
  std::vector<int> taken_;
};

class ProxyStrict : public ProxyTest {
 protected:
  std::string OwnPort() { return std::to_string(proxy.Server().BoundPort()); }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + origin.PortText() + path;
  }
  void UseHop(const std::string& address, int port) {
    for (TKwProxyData* next : {&proxy.NextHopHTTP(), &proxy.NextHopTCPTunnel()}) {
      next->SetAddress(address);
      next->SetPort(port);
    }
  }
  // Sends the request in one write and returns all the client got up to
  // the end of the stream.
  std::string AnswerTo(const std::string& request) {
    auto client = NewClient();
    client->Send(request);
    EXPECT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << request;
    return client->In();
  }

  PeerServer origin;
  PeerServer hop;
};

// Each hostile request gets the bad-request text of its kind and the end
// of the stream, on every route, before any event, lookup or connection.
TEST_F(ProxyStrict, HostileRequestsGetTheBadRequestTextAndTheEnd) {
  const std::string bad = Canned(proxy, kHTTPBadRequest);
  const std::string badTunnel = Canned(proxy, kTCPTunnelBadRequest);
  const std::string get = "GET " + Url("/") + " HTTP/1.1\r\nHost: h\r\n";
  const std::string post = "POST " + Url("/") + " HTTP/1.1\r\nHost: h\r\n";
  const std::string smuggled = "0\r\n\r\nGET /smuggled HTTP/1.1\r\nHost: blocked.example\r\n\r\n";
  struct Case {
    const char* name;
    std::string request;
    const std::string& answer;
  };
  const std::vector<Case> cases = {
      {"length with a letter", post + "Content-Length: 5x\r\n\r\nabcde", bad},
      {"length with a sign", post + "Content-Length: +5\r\n\r\nabcde", bad},
      {"length list", post + "Content-Length: 5, 6\r\n\r\nabcde", bad},
      {"empty length", post + "Content-Length:\r\n\r\n", bad},
      {"lengths that differ", post + "Content-Length: 5\r\ncontent-length: 6\r\n\r\nabcdef", bad},
      {"folded coding", post + "Transfer-Encoding:\r\n chunked\r\n\r\n" + smuggled, bad},
      {"folded first line", "GET " + Url("/") + " HTTP/1.1\r\n\tHost: h\r\n\r\n", bad},
      {"blank before the colon", post + "Transfer-Encoding : chunked\r\n\r\n" + smuggled, bad},
      {"tab before the colon", post + "Content-Length\t: 1\r\n\r\nx", bad},
      {"credentials with a blank", get + "PROXY-AUTHORIZATION : Basic eDp5\r\n\r\n", bad},
      {"coding that only ends in chunked", post + "Transfer-Encoding: xchunked\r\n\r\n" + smuggled,
       bad},
      {"chunked not last", post + "Transfer-Encoding: chunked, gzip\r\n\r\n" + smuggled, bad},
      {"chunked then a later coding line",
       post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n" + smuggled, bad},
      {"NUL in a value", get + std::string("X-A: a\0b\r\n\r\n", 12), bad},
      {"bare CR in a value", get + "X-A: a\rb\r\n\r\n", bad},
      {"bare LF in a value", get + "X-A: a\nTransfer-Encoding: chunked\r\n\r\n", bad},
      {"port beyond 65535", "GET http://h:99999999999/ HTTP/1.1\r\n\r\n", bad},
      {"port 65536", "GET http://h:65536/ HTTP/1.1\r\n\r\n", bad},
      {"port zero", "GET http://h:0/ HTTP/1.1\r\n\r\n", bad},
      {"port not a number", "GET http://h:x1/ HTTP/1.1\r\n\r\n", bad},
      {"empty host", "GET http:///x HTTP/1.1\r\nHost: h\r\n\r\n", bad},
      {"origin form", "GET /x HTTP/1.1\r\nHost: h\r\n\r\n", bad},
      {"asterisk", "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", bad},
      {"options asterisk", "OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n", bad},
      {"control byte in the host",
       "GET http://a\x01"
       "b/ HTTP/1.1\r\n\r\n",
       bad},
      {"DEL in the host",
       "GET http://a\x7f"
       "b/ HTTP/1.1\r\n\r\n",
       bad},
      {"tunnel to port zero", "CONNECT intl.test:0 HTTP/1.1\r\n\r\n", badTunnel},
      {"tunnel without a host", "CONNECT :443 HTTP/1.1\r\n\r\n", badTunnel},
      {"tunnel to an escape", "CONNECT a.b\x1b]0;x\x07:443 HTTP/1.1\r\n\r\n", badTunnel},
      {"tunnel with a folded line", "CONNECT h:443 HTTP/1.1\r\nA: b\r\n c\r\n\r\n", badTunnel},
  };
  for (const bool viaHop : {false, true}) {
    if (viaHop) UseHop("127.0.0.1", hop.Port());
    for (const Case& t : cases) {
      SCOPED_TRACE(std::string(t.name) + (viaHop ? " via a hop" : " direct"));
      EXPECT_EQ(AnswerTo(t.request), t.answer);
    }
  }
  EXPECT_FALSE(Has("ClientHeader"));
  EXPECT_FALSE(Has("TunnelRequest"));
  EXPECT_FALSE(Has("RemoteSocketPrepared"));
  EXPECT_EQ(dns.TotalQueries(), 0);
  EXPECT_EQ(origin.Count(), 0u);
  EXPECT_EQ(hop.Count(), 0u);
}

// Framing the strict reading still takes, so that the table above does not
// pass by refusing everything.
TEST_F(ProxyStrict, SoundFramingIsForwardedAsItCame) {
  const std::string answer = "HTTP/1.1 204 No Content\r\n\r\n";
  const std::vector<std::string> bodies = {
      "Content-Length:  3 \r\n\r\nabc",
      "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc",
      "Transfer-Encoding: gzip, Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
      "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
  };
  for (size_t i = 0; i < bodies.size(); ++i) {
    SCOPED_TRACE(bodies[i]);
    proxy.ClearConnectionPool();  // each on a connection of its own
    auto client = NewClient();
    const std::string head = " HTTP/1.1\r\nHost: 127.0.0.1:" + origin.PortText() + "\r\n";
    client->Send("POST " + Url("/") + head + bodies[i]);
    const std::string forwarded = "POST /" + head + bodies[i];
    ASSERT_TRUE(WaitFor([&] { return origin.Count() == i + 1 && origin.Last().In() == forwarded; }))
        << (origin.Count() == i + 1 ? origin.Last().In() : "nothing");
    origin.Last().Send(answer);
    ASSERT_TRUE(WaitFor([&] { return client->In() == answer; }));
  }
}

// An absolute URL names the host: the Host line sent on is its authority,
// once, whatever Host lines the client wrote.
TEST_F(ProxyStrict, AbsoluteUrlsSendTheirAuthorityAsTheOnlyHostLine) {
  struct Case {
    std::string url;
    std::string hostLines;  // the client's
    std::string sent;       // the one line that goes on
  };
  const std::string self = "127.0.0.1:" + origin.PortText();
  const std::vector<Case> direct = {
      {Url("/"), "Host: blocked.example\r\n", "Host: " + self},
      {Url("/"), "Host: a\r\nX: 1\r\nhost: b\r\n", "Host: " + self},
      {Url("/"), "", "Host: " + self},
  };
  for (const Case& t : direct) {
    SCOPED_TRACE(t.hostLines);
    const size_t before = origin.Count();
    auto client = NewClient();
    client->Send("GET " + t.url + " HTTP/1.1\r\n" + t.hostLines + "\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return origin.Count() == before + 1 && origin.Last().In().ends_with("\r\n\r\n"); }));
    const std::string& in = origin.Last().In();
    EXPECT_EQ(in.find(t.sent + "\r\n"), in.rfind("\r\nHost: ") + 2) << in;
    EXPECT_EQ(in.find("\r\nHost:"), in.rfind("\r\nHost:")) << in;
    EXPECT_EQ(in.find("ost: b"), std::string::npos) << in;
  }
  // Through a next hop the request line keeps the URL, and its Host line
  // leaves out only the scheme's own port.
  UseHop("127.0.0.1", hop.Port());
  const std::vector<Case> viaHop = {
      {"http://name.test:80/a", "Host: other\r\n", "Host: name.test"},
      {"http://name.test:8080/a", "", "Host: name.test:8080"},
      {"https://name.test:443/a", "Host: x\r\nHost: y\r\n", "Host: name.test"},
      {"http://u:p@Name.Test/a", "Host: x\r\n", "Host: Name.Test"},
  };
  for (const Case& t : viaHop) {
    SCOPED_TRACE(t.url);
    const size_t before = hop.Count();
    auto client = NewClient();
    client->Send("GET " + t.url + " HTTP/1.1\r\n" + t.hostLines + "\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return hop.Count() == before + 1 && hop.Last().In().ends_with("\r\n\r\n"); }));
    const std::string& in = hop.Last().In();
    EXPECT_NE(in.find("\r\n" + t.sent + "\r\n"), std::string::npos) << in;
    EXPECT_EQ(in.find("\r\nHost:"), in.rfind("\r\nHost:")) << in;
  }
}

// ---- connections back to the proxy ----

// A target that is this machine on the proxy's own port is refused before
// any routing, with one line saying why; names are refused once they are
// looked up.
TEST_F(ProxyStrict, TargetsThatAreTheProxyItselfAreRefused) {
  std::vector<std::string> refusals;
  proxy.OnRequestRefused = [&](TKwGenericProxy*, TKwProxyClient*, const std::string& why) {
    refusals.push_back(why);
  };
  dns.SetAddresses("loop.test", {"127.0.0.1"});
  char hostName[256] = {};
  ASSERT_EQ(gethostname(hostName, sizeof hostName - 1), 0);
  const std::string bad = Canned(proxy, kHTTPBadRequest);
  const std::string badTunnel = Canned(proxy, kTCPTunnelBadRequest);
  const std::string own = OwnPort();
  struct Case {
    std::string request;
    const std::string& answer;
    bool lookedUp;  // refused once its name is looked up
  };
  const std::vector<Case> cases = {
      {"CONNECT 127.0.0.1:" + own + " HTTP/1.1\r\n\r\n", badTunnel, false},
      {"CONNECT 0.0.0.0:" + own + " HTTP/1.1\r\n\r\n", badTunnel, false},
      {"CONNECT 127.9.9.9:" + own + " HTTP/1.1\r\n\r\n", badTunnel, false},
      {"CONNECT LocalHost:" + own + " HTTP/1.1\r\n\r\n", badTunnel, false},
      {"CONNECT " + std::string(hostName) + ":" + own + " HTTP/1.1\r\n\r\n", badTunnel, false},
      {"GET http://127.0.0.1:" + own + "/ HTTP/1.1\r\n\r\n", bad, false},
      {"CONNECT loop.test:" + own + " HTTP/1.1\r\n\r\n", badTunnel, true},
      {"GET http://loop.test:" + own + "/ HTTP/1.1\r\n\r\n", bad, true},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.request);
    const int headers = Count("ClientHeader") + Count("TunnelRequest");
    const size_t lines = refusals.size();
    EXPECT_EQ(AnswerTo(t.request), t.answer);
    EXPECT_EQ(Count("ClientHeader") + Count("TunnelRequest"), headers + (t.lookedUp ? 1 : 0));
    ASSERT_EQ(refusals.size(), lines + 1);
    EXPECT_NE(refusals.back().find(":" + own), std::string::npos) << refusals.back();
  }
  EXPECT_EQ(Count("RemoteConnect"), 0);
  // The proxy never accepted a connection from itself.
  EXPECT_EQ(Count("ClientConnect"), static_cast<int>(cases.size()));

  // The same address on another port is no loop.
  auto client = NewClient();
  client->Send("CONNECT loop.test:" + origin.PortText() + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
  EXPECT_EQ(refusals.size(), cases.size());
}

// Ten thousand nested requests in one write cost one refusal.
TEST_F(ProxyStrict, NestedConnectsToItselfEndAtTheFirst) {
  std::string nested;
  for (int i = 0; i < 10000; ++i) nested += "CONNECT 127.0.0.1:" + OwnPort() + " HTTP/1.1\r\n\r\n";
  EXPECT_EQ(AnswerTo(nested), Canned(proxy, kTCPTunnelBadRequest));
  EXPECT_EQ(Count("ClientConnect"), 1);
  EXPECT_EQ(Count("RemoteSocketPrepared"), 0);
}

// A SOCKS client asking for the proxy itself hears the SOCKS refusal.
TEST_F(ProxyStrict, SocksRequestForTheProxyItselfGetsTheReject) {
  const int own = proxy.Server().BoundPort();
  proxy.OnClientDataAvailable = [&](TKwGenericProxy*, TKwProxyClient* c, std::string& data) {
    c->Socks4Reply = true;
    c->Socks4ReplyBytes = {
        static_cast<uint8_t>(own >> 8), static_cast<uint8_t>(own & 0xFF), 127, 0, 0, 1};
    data = "CONNECT 127.0.0.1:" + std::to_string(own) + " HTTP/1.0\r\n\r\n";
  };
  const std::string reject{
      '\0', '\x5b', static_cast<char>(own >> 8), static_cast<char>(own & 0xFF), '\x7f', '\0',
      '\0', '\x01'};
  EXPECT_EQ(AnswerTo("socks"), reject);
}

// A next hop that is the proxy itself is never followed: the client hears
// what a hop that refused the connection would have given it.
TEST_F(ProxyStrict, NextHopThatIsTheProxyItselfIsNeverFollowed) {
  dns.SetAddresses("me.test", {"127.0.0.1"});
  for (const std::string address : {"127.0.0.1", "me.test"}) {
    SCOPED_TRACE(address);
    UseHop(address, proxy.Server().BoundPort());
    const int connects = Count("ClientConnect");
    EXPECT_EQ(AnswerTo("GET " + Url("/") + " HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(AnswerTo("CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Count("ClientConnect"), connects + 2);
  }
  EXPECT_EQ(Count("RemoteConnect"), 0);
  EXPECT_EQ(origin.Count(), 0u);
}

// ---- no descriptor for the remote ----

// The client hears what a refused connect gives it, the request is
// forgotten, and one line says why.
TEST_F(ProxyStrict, NoDescriptorForTheRemoteRefusesTheClientAndForgetsTheRequest) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizers' own type checks open descriptors while they run, and
  // report a false fault when none is left; the optimised suite runs this.
  GTEST_SKIP() << "needs every descriptor taken, which the sanitizers cannot run under";
#endif
  std::vector<std::string> refusals;
  proxy.OnRequestRefused = [&](TKwGenericProxy*, TKwProxyClient*, const std::string& why) {
    refusals.push_back(why);
  };
  const int p = origin.Port();
  bool socks = false;
  proxy.OnClientDataAvailable = [&](TKwGenericProxy*, TKwProxyClient* c, std::string&) {
    c->Socks4Reply = socks;
    c->Socks4ReplyBytes = {
        static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p & 0xFF), 127, 0, 0, 1};
  };
  const std::string tunnel = "CONNECT 127.0.0.1:" + origin.PortText() + " HTTP/1.1\r\n\r\n";
  struct Case {
    const char* name;
    std::string request;
    bool socks;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"request", "GET " + Url("/") + " HTTP/1.1\r\n\r\n", false, ""},
      {"tunnel", tunnel, false, ""},
      {"socks", tunnel, true,
       std::string{'\0', '\x5b', static_cast<char>(p >> 8), static_cast<char>(p & 0xFF), '\x7f',
                   '\0', '\0', '\x01'}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    socks = t.socks;
    auto client = NewClient();
    TKwProxyClient* session = Session(proxy.Server().ClientCount() - 1);
    ASSERT_NE(session, nullptr);
    const size_t lines = refusals.size();
    {
      DescriptorsTaken taken;
      client->Send(t.request);
      ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
    }
    EXPECT_EQ(client->In(), t.answer);
    EXPECT_TRUE(session->Exchange().ClientBuffer.empty());
    ASSERT_EQ(refusals.size(), lines + 1);
    EXPECT_EQ(
        refusals.back().rfind("could not connect to 127.0.0.1:" + origin.PortText() + ": ", 0), 0u)
        << refusals.back();
    EXPECT_EQ(refusals.back().find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(origin.Count(), 0u);
  // With descriptors again, the next request goes through.
  socks = false;
  auto client = NewClient();
  client->Send("GET " + Url("/") + " HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
}

}  // namespace
}  // namespace vantrel::engine::proxytest
