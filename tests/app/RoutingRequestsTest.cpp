// Requests on a real engine with loopback origins and a name server of the
// test's own: counting per request on a kept-alive connection, tunnels to
// blocked hosts, host names in one form, one lookup per new name.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "net/Resolver.h"
#include "tests/engine/proxy_harness.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using engine::TKwProxyClient;
using engine::proxytest::ConnectTo;
using engine::proxytest::Peer;
using engine::proxytest::PeerServer;
using engine::proxytest::WaitFor;

const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// An origin that answers each request (header and Content-Length body)
// on a connection with kAnswer.
class AnsweringOrigin {
 public:
  AnsweringOrigin() {
    server_.OnAccept = [this](Peer& peer) {
      peer.OnBytes = [this, &peer](std::string_view bytes) { Take(peer, bytes); };
    };
  }
  int Port() const { return server_.Port(); }
  // Each request as it arrived, in order.
  const std::vector<std::string>& Requests() const { return requests_; }
  // Ends every connection, as a server does once its client has ended: a
  // tunnel ends when both ways have.
  void EndAll() {
    for (size_t i = 0; i < server_.Count(); ++i) server_.At(i).CloseNow();
  }

 private:
  void Take(Peer& peer, std::string_view bytes) {
    std::string& in = pending_[&peer];
    in.append(bytes);
    for (;;) {
      const size_t end = in.find("\r\n\r\n");
      if (end == std::string::npos) return;
      size_t length = 0;
      if (const size_t at = in.find("Content-Length: "); at != std::string::npos && at < end)
        length = std::stoul(in.substr(at + 16));
      if (in.size() < end + 4 + length) return;
      requests_.push_back(in.substr(0, end + 4 + length));
      in.erase(0, end + 4 + length);
      peer.Send(kAnswer);
    }
  }

  PeerServer server_;
  std::map<Peer*, std::string> pending_;
  std::vector<std::string> requests_;
};

class RoutingRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vantrel-requests-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    SetDataFolder(folder_);
    net::Resolver::Default().SetServers(dns.Server());
    net::Resolver::Default().SetTimeouts(500, 2);
    for (const char* name : {"local.test", "intl.test", "lan.test"})
      dns.SetAddresses(name, {"127.0.0.1"});
    window = std::make_unique<TfrmVantrelMain>(ui);
    TMainControls& c = window->controls;
    c.cbAllowedConnections.SetChecked(false);
    c.cbBlock.SetChecked(true);
    c.memBlockedHosts.SetLines({"ads.test"});
    window->listFiles.RebuildBlockedHosts();
    // Classified before: no lookup by the routing.
    c.lbLocal.Add("local.test");
    c.lbInternational.Add("intl.test");
    c.lbLocalLAN.Add("lan.test");
    window->Proxy1.SetLocalAddress("127.0.0.1");
    window->Proxy1.SetPort(0);
    std::string error;
    window->Proxy1.Open(error);
    ASSERT_EQ(error, "");
  }
  void TearDown() override {
    window.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  TKwProxyClient* Session() {
    auto& server = window->Proxy1.Server();
    return server.ClientCount() > 0 ? static_cast<TKwProxyClient*>(server.Clients(0)) : nullptr;
  }

  fs::path folder_;
  TScriptedUserInterface ui;
  testsupport::DnsResponder dns;
  AnsweringOrigin origin;
  std::unique_ptr<TfrmVantrelMain> window;
};

enum TKind { Local, International, Bypassed, Blocked, Tunnel };

TEST_F(RoutingRequests, EachRequestCountsOnceUnderItsOwnDecisionAtEverySplit) {
  const std::string port = std::to_string(origin.Port());
  auto request = [&](TKind kind, const std::string& body) {
    const char* host = kind == Local || kind == Tunnel ? "local.test"
                       : kind == International         ? "intl.test"
                       : kind == Bypassed              ? "lan.test"
                                                       : "ads.test";
    const std::string target = std::string(host) + ":" + port;
    if (kind == Tunnel) return "CONNECT " + target + " HTTP/1.1\r\n\r\nGET /t HTTP/1.1\r\n\r\n";
    return "POST http://" + target + "/ HTTP/1.1\r\nHost: " + target +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  struct Step {
    TKind kind;
    std::string body;
  };
  const std::vector<std::vector<Step>> sequences = {
      {{Local, ""}, {International, "abc"}, {Bypassed, "xy"}, {International, ""}},
      {{Bypassed, "b"}, {Local, "12345"}, {Blocked, "zz"}, {Local, "late"}},
      {{International, "i"}, {Bypassed, ""}, {Tunnel, ""}},
  };
  for (size_t s = 0; s < sequences.size(); ++s) {
    // The model: a routed request's bytes and its answer under its locality.
    std::string stream;
    std::array<std::array<int64_t, 3>, 2> sent{}, received{};
    int answers = 0;
    bool blocked = false;
    for (const Step& step : sequences[s]) {
      const std::string bytes = request(step.kind, step.body);
      stream += bytes;
      if (blocked) continue;
      if (step.kind == Blocked) {
        blocked = true;
        continue;
      }
      ++answers;
      if (step.kind == Bypassed) continue;
      const int row = step.kind == International ? 1 : 0;
      sent[row][tcOTHER] += static_cast<int64_t>(bytes.size());
      received[row][tcOTHER] += static_cast<int64_t>(kAnswer.size());
    }
    for (size_t split = 1; split < stream.size(); ++split) {
      SCOPED_TRACE("sequence " + std::to_string(s) + " split at " + std::to_string(split));
      window->counters.Clear();
      auto client = ConnectTo(window->Proxy1.Server().BoundPort());
      client->Send(stream.substr(0, split));
      ASSERT_TRUE(WaitFor(
          [&] { return Session() && Session()->ReadCount() >= static_cast<int64_t>(split); }));
      client->Send(stream.substr(split));
      ASSERT_TRUE(WaitFor([&] {
        int seen = 0;
        for (size_t at = client->In().find(kAnswer); at != std::string::npos;
             at = client->In().find(kAnswer, at + 1))
          ++seen;
        return seen == answers && (!blocked || client->Eof());
      })) << client->In();
      EXPECT_EQ(window->counters.SentBytes, sent);
      EXPECT_EQ(window->counters.ReceivedBytes, received);
      client->CloseNow();
      origin.EndAll();
      ASSERT_TRUE(WaitFor([&] { return window->Proxy1.ActiveClients() == 0; }));
    }
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST_F(RoutingRequests, TunnelsToBlockedHostsAreRefusedWithoutALookup) {
  TMainControls& c = window->controls;
  c.cbLogging.SetChecked(true);
  // An address on the list blocks CONNECTs to it, never a SOCKS4 request.
  c.memBlockedHosts.SetLines({"ads.test", "127.0.0.1"});
  window->listFiles.RebuildBlockedHosts();
  dns.SetAddresses("ads.test", {"127.0.0.1"});
  const int p = origin.Port();
  const std::string port = std::to_string(p);
  const std::string refused = "HTTP/1.0 403 Forbidden\r\nConnection: close\r\n\r\n";
  const std::string socks4a = Bytes({4, 1, p >> 8, p & 0xFF, 0, 0, 0, 1}) + "me" +
                              std::string(1, '\0') + "ads.test" + std::string(1, '\0');
  struct Case {
    const char* name;
    bool blockTunnels;
    std::string request;
    std::string reply;  // empty: the tunnel is made
  };
  const std::vector<Case> cases = {
      {"connect", true, "CONNECT ads.test:" + port + " HTTP/1.1\r\n\r\nearly", refused},
      {"connect to a listed address", true, "CONNECT 127.0.0.1:" + port + " HTTP/1.1\r\n\r\n",
       refused},
      {"socks4a", true, socks4a, Bytes({0, 91, p >> 8, p & 0xFF, 0, 0, 0, 1})},
      {"socks4 names an address", true, Bytes({4, 1, p >> 8, p & 0xFF, 127, 0, 0, 1, 0}), ""},
      {"switch off", false, "CONNECT ads.test:" + port + " HTTP/1.1\r\n\r\n", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    c.cbBlockTunnels.SetChecked(k.blockTunnels);
    window->counters.Clear();
    window->memStatus.Clear();
    const int queries = dns.TotalQueries();
    auto client = ConnectTo(window->Proxy1.Server().BoundPort());
    client->Send(k.request);
    if (k.reply.empty()) {
      ASSERT_TRUE(WaitFor([&] { return client->In().size() >= 8; }));
      EXPECT_FALSE(client->Eof());
      EXPECT_NE(window->counters.Sent(false) + window->counters.Sent(true), 0);
    } else {
      ASSERT_TRUE(WaitFor([&] { return client->Eof(); }));
      EXPECT_EQ(client->In(), k.reply);
      EXPECT_EQ(dns.TotalQueries(), queries);
      EXPECT_EQ(window->counters.Sent(false) + window->counters.Sent(true), 0);
      EXPECT_EQ(Session()->Tag(), 0);
      std::vector<std::string> lines;
      for (const auto& entry : window->memStatus.Entries())
        if (entry.text.find(" tunnel to ") != std::string::npos) lines.push_back(entry.text);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("[Client 127.0.0.1 tunnel to "), std::string::npos) << lines[0];
      EXPECT_NE(lines[0].find(":" + port + " blocked]"), std::string::npos) << lines[0];
    }
    client->CloseNow();
    origin.EndAll();
    ASSERT_TRUE(WaitFor([&] { return window->Proxy1.ActiveClients() == 0; }));
  }
}

TEST_F(RoutingRequests, HostNamesMatchWhateverTheirCaseAndFinalDot) {
  const std::string port = std::to_string(origin.Port());
  // Blocked, plain and tunnelled, however the name is written.
  for (const std::string host : {"ADS.test.", "ads.test."}) {
    SCOPED_TRACE(host);
    auto plain = ConnectTo(window->Proxy1.Server().BoundPort());
    plain->Send("GET http://" + host + "/ HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return plain->Eof(); }));
    EXPECT_EQ(plain->In(), TConnectionRouting::BlockedPage(host));
    auto tunnel = ConnectTo(window->Proxy1.Server().BoundPort());
    tunnel->Send("CONNECT " + host + ":" + port + " HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return tunnel->Eof(); }));
    EXPECT_EQ(tunnel->In(), TConnectionRouting::kTunnelBlocked);
  }
  // Filed once, under one name.
  dns.SetAddresses("new.test", {"127.0.0.1"});
  for (const std::string host : {"New.Test.", "new.test", "new.test."}) {
    SCOPED_TRACE(host);
    auto client = ConnectTo(window->Proxy1.Server().BoundPort());
    client->Send("GET http://" + host + ":" + port + "/ HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return client->In() == kAnswer; })) << client->In();
  }
  EXPECT_EQ(window->controls.lbInternational.Items(),
            (std::vector<std::string>{"intl.test", "new.test"}));
  EXPECT_EQ(window->controls.lbUnclassified.Count(), 0);
}

TEST_F(RoutingRequests, ANewNameIsLookedUpOnceAndItsAnswerUsed) {
  const std::string port = std::to_string(origin.Port());
  struct Case {
    const char* name;
    std::string request;
  };
  const std::vector<Case> cases = {
      {"once.test",
       "GET http://once.test:" + port + "/p HTTP/1.1\r\nHost: once.test:" + port + "\r\n\r\n"},
      {"tunnel.test", "CONNECT tunnel.test:" + port + " HTTP/1.1\r\n\r\nGET /t HTTP/1.1\r\n\r\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    dns.SetAddresses(k.name, {"127.0.0.1"});
    auto client = ConnectTo(window->Proxy1.Server().BoundPort());
    client->Send(k.request);
    ASSERT_TRUE(WaitFor([&] { return client->In().find(kAnswer) != std::string::npos; }));
    EXPECT_EQ(dns.QueriesFor(k.name), 1);
    EXPECT_TRUE(window->controls.lbInternational.Contains(k.name));
  }
  // What the origin got names the host as the client did.
  EXPECT_EQ(origin.Requests().at(0), "GET /p HTTP/1.1\r\nHost: once.test:" + port + "\r\n\r\n");
}

TEST_F(RoutingRequests, ConnectionsKeptForOldSettingsAreNotUsedAgain) {
  const std::string port = std::to_string(origin.Port());
  struct Case {
    const char* name;
    std::function<void()> change;
  };
  TMainControls& c = window->controls;
  const Case cases[] = {
      {"a next-hop switch", [&] { c.cbIntCon.SetChecked(!c.cbIntCon.Checked()); }},
      {"SIGHUP's reload", [&] { window->ReloadConfiguration(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto client = ConnectTo(window->Proxy1.Server().BoundPort());
    client->Send("GET http://lan.test:" + port + "/k HTTP/1.1\r\nHost: lan.test\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return client->In() == kAnswer; }));
    // Pooled once its client has gone.
    client->CloseNow();
    ASSERT_TRUE(WaitFor([&] { return window->Proxy1.Pool().Size() == 1; }));
    k.change();
    EXPECT_EQ(window->Proxy1.Pool().Size(), 0u);
  }
}

}  // namespace
}  // namespace vantrel
