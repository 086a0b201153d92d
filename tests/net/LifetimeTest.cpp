// Sockets destroyed from inside their own handlers or another socket's, and
// exceptions escaping handlers. Run under AddressSanitizer to mean anything.

#include <stdexcept>
#include <string>

#include "net/WSocketServer.h"
#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using testsupport::ReadAvailable;
using testsupport::ReadState;

class LifetimeTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    listenFd = testsupport::ListenOnLoopback(port);
  }
  // The peer sees our side go away.
  bool PeerSeesEnd(Fd& peer) {
    std::string ignored;
    return Pump([&] { return ReadAvailable(peer.Get(), ignored) != ReadState::Open; });
  }
  int port = 0;
  Fd listenFd;
};

TEST_F(LifetimeTest, DestroyedInsideItsOwnHandlers) {
  // OnDataAvailable, with more data and the peer's close still to come.
  {
    Link link = Connected(listenFd, port);
    TWSocket* raw = link.sock.get();
    raw->OnSessionClosed = Never("OnSessionClosed after destruction");
    raw->OnDataAvailable = [&](TWSocket*, uint16_t) {
      char c;
      raw->Receive(&c, 1);
      link.sock.reset();
    };
    ASSERT_TRUE(testsupport::WriteAll(link.peer.Get(), std::string(50000, 'd')));
    link.peer.Reset();
    ASSERT_TRUE(Pump([&] { return !link.sock; }));
  }
  // OnSessionClosed raised by the peer's end.
  {
    Link link = Connected(listenFd, port);
    link.sock->OnSessionClosed = [&](TWSocket*, uint16_t) { link.sock.reset(); };
    link.peer.Reset();
    ASSERT_TRUE(Pump([&] { return !link.sock; }));
  }
  // OnSessionClosed raised inside our own Close.
  {
    Link link = Connected(listenFd, port);
    link.sock->OnSessionClosed = [&](TWSocket*, uint16_t) { link.sock.reset(); };
    link.sock->Close();
    EXPECT_FALSE(link.sock);
    EXPECT_TRUE(PeerSeesEnd(link.peer));
  }
  // OnSessionConnected of a successful connect.
  {
    auto s = Connecting(port);
    s->OnSessionConnected = [&](TWSocket*, uint16_t err) {
      EXPECT_EQ(err, 0);
      s.reset();
    };
    ASSERT_TRUE(Pump([&] { return !s; }));
    Fd peer = testsupport::AcceptWaiting(listenFd.Get());
    ASSERT_TRUE(peer.Valid());
    EXPECT_TRUE(PeerSeesEnd(peer));
  }
  // OnDnsLookupDone, from the loop and from inside DnsLookup.
  {
    dns.SetAddresses("here.vantrel.test", {"127.0.0.1"});
    auto s = std::make_unique<TWSocket>();
    s->OnDnsLookupDone = [&](TWSocket*, uint16_t) { s.reset(); };
    s->DnsLookup("here.vantrel.test.");
    ASSERT_TRUE(Pump([&] { return !s; }));
    s = std::make_unique<TWSocket>();
    s->OnDnsLookupDone = [&](TWSocket*, uint16_t) { s.reset(); };
    s->DnsLookup("127.0.0.1");
    EXPECT_FALSE(s);
  }
  // OnSessionAvailable of a server, which accepts after that handler.
  {
    auto server = std::make_unique<TWSocketServer>();
    server->SetAddr("127.0.0.1");
    server->SetPort("0");
    server->Listen();
    server->OnSessionAvailable = [&](TWSocket*, uint16_t) { server.reset(); };
    Fd client = testsupport::ConnectToLoopback(server->BoundPort());
    ASSERT_TRUE(Pump([&] { return !server; }));
    EXPECT_TRUE(PeerSeesEnd(client));
  }
  // OnError, from a refused Send and from a refused Connect.
  {
    Link link = Connected(listenFd, port);
    link.sock->Close();
    link.sock->OnError = [&](TWSocket*) { link.sock.reset(); };
    EXPECT_EQ(link.sock->SendText("x"), -1);
    EXPECT_FALSE(link.sock);
    auto s = std::make_unique<TWSocket>();
    s->OnError = [&](TWSocket*) { s.reset(); };
    s->Connect();
    EXPECT_FALSE(s);
  }
}

TEST_F(LifetimeTest, HandlerDestroysAnotherSocketWithEventsPending) {
  Link a = Connected(listenFd, port);
  Link b = Connected(listenFd, port);
  int handled = 0;
  // Both become readable in the same round; whichever runs first frees the other,
  // whose event is then already fetched from the kernel.
  a.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    s->ReceiveText();
    ++handled;
    b.sock.reset();
  };
  b.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    s->ReceiveText();
    ++handled;
    a.sock.reset();
  };
  // A writable notice queued by Send must not reach a freed socket either.
  a.sock->SendText("queued");
  b.sock->SendText("queued");
  ASSERT_TRUE(testsupport::WriteAll(a.peer.Get(), "ping"));
  ASSERT_TRUE(testsupport::WriteAll(b.peer.Get(), "ping"));
  ASSERT_TRUE(Pump([&] { return !a.sock || !b.sock; }));
  Settle();
  EXPECT_EQ(handled, 1);
  EXPECT_NE(!a.sock, !b.sock);
}

// A data handler that throws is not reported, and the round ends as if it
// had returned: one that threw before reading gets no further call until
// someone reads, instead of one per turn of the loop.
TEST_F(LifetimeTest, ExceptionFromOnDataAvailableIsDropped) {
  for (const bool readsFirst : {true, false}) {
    SCOPED_TRACE(readsFirst ? "throws after reading" : "throws before reading");
    Link link = Connected(listenFd, port);
    link.sock->OnBgException = [](TWSocket*, const std::exception& e, bool&) {
      ADD_FAILURE() << "OnBgException for a data handler: " << e.what();
    };
    std::string received;
    int calls = 0;
    link.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
      ++calls;
      if (readsFirst) received += s->ReceiveText();
      throw std::runtime_error("data handler failed");
    };
    int writes = 0;
    for (const char* piece : {"one", "two"}) {
      ASSERT_TRUE(testsupport::WriteAll(link.peer.Get(), piece));
      ++writes;
      ASSERT_TRUE(Pump([&] { return calls >= writes; }));
      Settle();
      EXPECT_EQ(calls, writes) << "the data handler was called again without a read";
      if (!readsFirst) received += link.sock->ReceiveText();  // reading re-arms it
      EXPECT_EQ(link.sock->State(), wsConnected);
    }
    EXPECT_EQ(received, "onetwo");
  }
}

TEST_F(LifetimeTest, ExceptionFromOnSessionConnectedGoesToOnBgException) {
  for (const bool keepOpen : {false, true}) {
    SCOPED_TRACE(keepOpen ? "CanClose cleared" : "CanClose left true");
    auto s = Connecting(port);
    int bg = 0, closed = 0;
    s->OnSessionConnected = [](TWSocket*, uint16_t) { throw std::runtime_error("boom"); };
    s->OnBgException = [&](TWSocket* sender, const std::exception& e, bool& canClose) {
      EXPECT_EQ(sender, s.get());
      EXPECT_STREQ(e.what(), "boom");
      EXPECT_TRUE(canClose);
      if (keepOpen) canClose = false;
      ++bg;
    };
    s->OnSessionClosed = [&](TWSocket*, uint16_t err) {
      EXPECT_EQ(err, 0);
      ++closed;
    };
    ASSERT_TRUE(Pump([&] { return bg > 0; }));
    Settle();
    EXPECT_EQ(bg, 1);
    EXPECT_EQ(closed, keepOpen ? 0 : 1);
    EXPECT_EQ(s->State(), keepOpen ? wsConnected : wsClosed);
    Fd peer = testsupport::AcceptWaiting(listenFd.Get());
  }
}

TEST_F(LifetimeTest, NestedPumpDoesNotReenterTheDataHandler) {
  Link busy = Connected(listenFd, port);
  Link other = Connected(listenFd, port);
  int depth = 0, maxDepth = 0, otherCalls = 0;
  std::string received;
  busy.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    received += s->ReceiveText();
    if (received == "first") {
      // More for this socket and some for another, then a nested wait.
      testsupport::WriteAll(busy.peer.Get(), "second");
      testsupport::WriteAll(other.peer.Get(), "x");
      loop.RunUntil([&] { return otherCalls > 0; }, 5s);
    }
    --depth;
  };
  other.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    s->ReceiveText();
    ++otherCalls;
  };
  ASSERT_TRUE(testsupport::WriteAll(busy.peer.Get(), "first"));
  ASSERT_TRUE(Pump([&] { return received == "firstsecond"; }));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(otherCalls, 1);  // the nested round did run the other socket
}

}  // namespace
}  // namespace vantrel::net
