// Tunnel connections against a fake local proxy: the request on the wire,
// the answers it may give, the allowed list, and failures on the way.

#include <string>
#include <vector>

#include "tests/tunnels/TunnelHarness.h"

namespace vantrel::tunneltest {
namespace {

class TunnelSession : public TunnelTest {};

TEST_F(TunnelSession, AnswersAreCollectedJudgedAndWhatFollowsThemIsRelayed) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;  // each arrives in a read of its own
    bool ok;
    std::string clientGets;
  };
  const Case cases[] = {
      // Servers that speak first: the greeting often shares the 200's read.
      {"greeting in the same write",
       {kEstablished + "220 mail ready\r\n"},
       true,
       "220 mail ready\r\n"},
      {"answer split",
       {"HTTP/1.0 200 Conn", "ection established\r\n", "\r\n220 hi\r\n"},
       true,
       "220 hi\r\n"},
      {"HTTP/1.1 with its own phrase",
       {"HTTP/1.1 200 OK\r\n\r\nSSH-2.0-x\r\n"},
       true,
       "SSH-2.0-x\r\n"},
      {"any letter case", {"http/1.0 200 CONNECTION ESTABLISHED\r\n\r\n"}, true, ""},
      {"refused", {"HTTP/1.0 403 Forbidden\r\nConnection: close\r\n\r\n<html>"}, false, ""},
      {"refused in two reads", {"HTTP/1.0 403 Forb", "idden\r\n\r\n"}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines.clear();
    table.EmptyTable();
    const int remote = 4000 + static_cast<int>(&c - cases);
    const int port = AddTunnel("mail", "127.0.0.1", remote);
    tunnels->StartTunnels();
    const size_t before = fakeProxy.Count();
    auto client = ConnectTo(port);
    ASSERT_TRUE(WaitFor([&] {
      return fakeProxy.Count() > before && fakeProxy.Last().In().ends_with("\r\n\r\n");
    })) << Log();
    Peer& far = fakeProxy.Last();
    EXPECT_EQ(far.In(), RequestFor(remote));
    std::string sent;
    for (const std::string& chunk : c.chunks) {
      far.Send(chunk);
      sent += chunk;
      // Let the tunnel read this piece before the next one is written.
      WaitFor([&] {
        auto proxies = Sides(TTunnelRole::ProxySide);
        return proxies.empty() || proxies[0]->Stage != TTunnelStage::Requested ||
               proxies[0]->Answer.size() == sent.size();
      });
    }
    if (c.ok) {
      ASSERT_TRUE(WaitFor([&] { return client->In().size() >= c.clientGets.size(); })) << Log();
      EXPECT_EQ(client->In(), c.clientGets);
      EXPECT_EQ(Logged("Tunnel connection successful"), 1) << Log();
      far.In().clear();
      client->Send("ping");
      ASSERT_TRUE(WaitFor([&] { return far.In() == "ping"; }));
      far.Send("pong");
      ASSERT_TRUE(WaitFor([&] { return client->In().ends_with("pong"); }));
      client->CloseNow();
      EXPECT_TRUE(WaitFor([&] { return far.Eof(); }));
      // One way has ended; the connection goes once the proxy ends the other.
      far.CloseNow();
    } else {
      EXPECT_TRUE(WaitFor([&] { return client->Eof() && far.Eof(); })) << Log();
      EXPECT_EQ(client->In(), "");
      EXPECT_EQ(Logged("ERROR: Could not connect to remote, error returned: \r\n" + sent), 1)
          << Log();
    }
    EXPECT_TRUE(AllGone());
  }
}

TEST_F(TunnelSession, EarlyClientBytesFollowTheRequest) {
  const int port = AddTunnel("early", "127.0.0.1", 25);
  tunnels->StartTunnels();
  auto client = ConnectTo(port);
  client->Send("EHLO me\r\n");
  const std::string expected = RequestFor(25) + "EHLO me\r\n";
  ASSERT_TRUE(WaitFor([&] {
    return fakeProxy.Count() == 1 && fakeProxy.Last().In().size() >= expected.size();
  })) << Log();
  EXPECT_EQ(fakeProxy.Last().In(), expected);
  fakeProxy.Last().Send(kEstablished + "250 ok\r\n");
  ASSERT_TRUE(WaitFor([&] { return client->In() == "250 ok\r\n"; })) << Log();
}

TEST_F(TunnelSession, TheAllowedListDecidesWhichClientsAreCarried) {
  const int port = AddTunnel("guarded", "127.0.0.1", 22);
  tunnels->StartTunnels();

  // Not in the list: taken, then closed at once; the proxy hears nothing.
  auto stranger = ConnectFrom("127.0.0.5", port);
  ASSERT_TRUE(WaitFor([&] { return stranger->Eof() || stranger->WasReset(); })) << Log();
  EXPECT_EQ(Logged("client 127.0.0.5 connection rejected (not in allowed IP list)"), 1) << Log();
  ASSERT_EQ(fakeProxy.Count(), 1u);
  EXPECT_TRUE(WaitFor([&] { return fakeProxy.At(0).Eof(); }));
  EXPECT_EQ(fakeProxy.At(0).In(), "");
  EXPECT_TRUE(AllGone());

  // A range that holds it lets it through.
  allowed = {"127.000.000.000-127.000.000.255"};
  auto friendClient = ConnectFrom("127.0.0.5", port);
  ASSERT_TRUE(WaitFor([&] {
    return fakeProxy.Count() == 2 && fakeProxy.At(1).In().ends_with("\r\n\r\n");
  })) << Log();
  EXPECT_EQ(fakeProxy.At(1).In(), RequestFor(22));

  // An empty list carries nobody, not even this machine's own address.
  allowed.clear();
  auto local = ConnectTo(port);
  ASSERT_TRUE(WaitFor([&] { return local->Eof() || local->WasReset(); })) << Log();
  EXPECT_EQ(Logged("client 127.0.0.1 connection rejected (not in allowed IP list)"), 1) << Log();
}

TEST_F(TunnelSession, AProxyThatCannotBeReachedLetsEveryWaitingClientGo) {
  testsupport::Fd refusing = testsupport::BindWithoutListening(proxyPort);
  const int port = AddTunnel("nowhere", "127.0.0.1", 80);
  tunnels->StartTunnels();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    auto client = ConnectTo(port);
    ASSERT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << Log();
    EXPECT_TRUE(AllGone());
  }
  EXPECT_EQ(Logged("Tunnel nowhere connected to remote 127.0.0.1:80, error code 10061"), 3)
      << Log();
  EXPECT_EQ(Logged("Tunnel nowhere on port " + std::to_string(port) +
                   " received (redirect to 127.0.0.1:80)"),
            3);
}

TEST_F(TunnelSession, AProxyThatHangsUpWithoutAnAnswerIsLoggedAsAFailure) {
  const int port = AddTunnel("silent", "127.0.0.1", 110);
  tunnels->StartTunnels();
  auto client = ConnectTo(port);
  ASSERT_TRUE(WaitFor(
      [&] { return fakeProxy.Count() == 1 && fakeProxy.At(0).In().ends_with("\r\n\r\n"); }));
  fakeProxy.At(0).CloseNow();
  ASSERT_TRUE(WaitFor([&] { return client->Eof(); })) << Log();
  EXPECT_EQ(Logged("Tunnel silent connection to 127.0.0.1:110 failed: the proxy closed the "
                   "connection without an answer"),
            1)
      << Log();
  EXPECT_TRUE(AllGone());
}

TEST_F(TunnelSession, ResetsOnEitherSideEndBothAndTheListenerServesOn) {
  const int port = AddTunnel("r", "127.0.0.1", 443);
  tunnels->StartTunnels();
  for (bool clientResets : {true, false}) {
    SCOPED_TRACE(clientResets ? "client resets" : "proxy side resets");
    std::unique_ptr<Peer> client;
    Peer& far = Established(client, port, kEstablished);
    client->Send("x");
    ASSERT_TRUE(WaitFor([&] { return far.In() == "x"; }));
    if (clientResets) {
      client->ResetNow();
      EXPECT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); })) << Log();
    } else {
      far.ResetNow();
      EXPECT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); })) << Log();
    }
    EXPECT_TRUE(AllGone());
    EXPECT_TRUE(LoggedStarting("Tunnel r closed, error code: 10054")) << Log();
    lines.clear();
  }
}

}  // namespace
}  // namespace vantrel::tunneltest
