// Connecting, closing and sending: the order and count of events a program
// built on the socket layer relies on.

#include <fcntl.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using testsupport::ReadAvailable;
using testsupport::ReadState;

class ConnectionTest : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    listenFd = testsupport::ListenOnLoopback(port);
  }
  // Event names with their codes, in the order raised.
  TSocketEvent Record(const char* name) {
    return [this, name](TWSocket*, uint16_t err) {
      events.push_back(std::string(name) + " " + std::to_string(err));
    };
  }
  int port = 0;
  Fd listenFd;
  std::vector<std::string> events;
};

// A failed connect is reported once, as OnSessionConnected with its code;
// once that handler returns the socket is closed and raises nothing more,
// whether the failure came back from the peer or from connect() itself.
struct FailedConnectCase {
  const char* name;
  enum Cause { Refused, RefusedAtOnce } cause;
  enum Handler { Nothing, Closes, Destroys } handler;
  std::vector<std::string> events;
};

void PrintTo(const FailedConnectCase& c, std::ostream* os) {
  *os << c.name;
}

class FailedConnect : public ConnectionTest,
                      public ::testing::WithParamInterface<FailedConnectCase> {};

TEST_P(FailedConnect, ReportsTheCodeThenClosesAndRaisesNothingMore) {
  const FailedConnectCase& c = GetParam();
  int closedPort = 0;
  Fd bound = testsupport::BindWithoutListening(closedPort);
  std::unique_ptr<TWSocket> holder;
  auto s = std::make_unique<TWSocket>();
  s->OnSessionConnected = [&](TWSocket* sender, uint16_t err) {
    events.push_back("connected " + std::to_string(err));
    if (c.handler == FailedConnectCase::Closes) sender->Close();
    if (c.handler == FailedConnectCase::Destroys) s.reset();
  };
  s->OnSessionClosed = Record("closed");
  s->OnDataAvailable = Record("data");
  s->OnDataSent = Record("sent");
  s->OnError = [&](TWSocket*) { events.push_back("error"); };
  s->SetAddr("127.0.0.1");
  if (c.cause == FailedConnectCase::Refused) {
    s->SetPort(std::to_string(closedPort));
  } else {
    // Another connection already holds the same local address and port to
    // the same destination: connect() itself refuses, before any packet.
    holder = std::make_unique<TWSocket>();
    holder->SetLocalAddr("127.0.0.1");
    holder->SetAddr("127.0.0.1");
    holder->SetPort(std::to_string(port));
    bool up = false;
    holder->OnSessionConnected = [&up](TWSocket*, uint16_t err) { up = err == 0; };
    holder->Connect();
    ASSERT_TRUE(Pump([&] { return up; }));
    s->SetLocalAddr("127.0.0.1");
    s->SetLocalPort(holder->LocalPort());
    s->SetPort(std::to_string(port));
  }
  s->Connect();
  EXPECT_TRUE(events.empty()) << "reported inside Connect";
  ASSERT_TRUE(Pump([&] { return events.size() >= c.events.size(); }));
  Settle();
  EXPECT_EQ(events, c.events);
  if (s) {
    EXPECT_EQ(s->State(), wsClosed);
    EXPECT_EQ(s->Handle(), -1);
  }
}

using FC = FailedConnectCase;
INSTANTIATE_TEST_SUITE_P(
    Connection, FailedConnect,
    ::testing::Values(
        FC{"Refused", FC::Refused, FC::Nothing, {"connected 10061", "closed 0"}},
        FC{"RefusedHandlerCloses", FC::Refused, FC::Closes, {"connected 10061", "closed 0"}},
        FC{"RefusedHandlerDestroys", FC::Refused, FC::Destroys, {"connected 10061"}},
        FC{"AtOnce", FC::RefusedAtOnce, FC::Nothing, {"connected 10049", "closed 0"}},
        FC{"AtOnceHandlerCloses", FC::RefusedAtOnce, FC::Closes, {"connected 10049", "closed 0"}},
        FC{"AtOnceHandlerDestroys", FC::RefusedAtOnce, FC::Destroys, {"connected 10049"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectionTest, DataAndPeerCloseAllArriveBeforeClosed) {
  Link link = Connected(listenFd, port);
  const std::string sent = testsupport::PatternStream(7).Next(300000);
  std::string received;
  size_t receivedAtClose = 0;
  int closedCount = 0;
  link.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    char buf[1000];  // small reads: the layer must keep asking
    const int n = s->Receive(buf, sizeof buf);
    if (n > 0) received.append(buf, static_cast<size_t>(n));
  };
  link.sock->OnSessionClosed = [&](TWSocket*, uint16_t err) {
    EXPECT_EQ(err, 0);
    receivedAtClose = received.size();
    ++closedCount;
  };
  ASSERT_TRUE(testsupport::WriteAll(link.peer.Get(), sent));
  link.peer.Reset();
  ASSERT_TRUE(Pump([&] { return closedCount > 0; }));
  Settle();
  EXPECT_EQ(closedCount, 1);
  EXPECT_EQ(receivedAtClose, sent.size());
  EXPECT_TRUE(received == sent);
  EXPECT_EQ(link.sock->State(), wsClosed);
}

TEST_F(ConnectionTest, SessionClosedIsRaisedExactlyOnce) {
  // Close first, then the peer goes.
  Link first = Connected(listenFd, port);
  first.sock->OnSessionClosed = Record("first");
  first.sock->Close();
  EXPECT_EQ(events, std::vector<std::string>{"first 0"});  // raised inside Close
  first.peer.Reset();

  // The peer goes first, then Close.
  Link second = Connected(listenFd, port);
  second.sock->OnSessionClosed = Record("second");
  second.peer.Reset();
  ASSERT_TRUE(Pump([&] { return events.size() == 2; }));
  second.sock->Close();

  // Destroyed while open: never.
  Link third = Connected(listenFd, port);
  third.sock->OnSessionClosed = Never("OnSessionClosed on destruction");
  third.sock.reset();
  std::string rest;
  ASSERT_TRUE(Pump([&] { return ReadAvailable(third.peer.Get(), rest) != ReadState::Open; }));

  Settle();
  EXPECT_EQ(events, (std::vector<std::string>{"first 0", "second 0"}));
}

TEST_F(ConnectionTest, SendWhenNotConnected) {
  TWSocket idle;
  idle.OnSessionClosed = Never("OnSessionClosed of a closed socket");
  try {
    idle.SendText("x");
    ADD_FAILURE() << "Send on a closed socket did not fail";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
  }
  EXPECT_EQ(idle.LastError(), 10057);
  EXPECT_EQ(idle.SendText(""), 0);  // nothing to send, nothing to report

  // Still connecting: the send closes the socket and reports it as closed.
  auto s = Connecting(port);
  int errors = 0;
  s->OnError = [&](TWSocket*) { ++errors; };
  s->OnSessionClosed = Record("closed");
  s->OnSessionConnected = Never("OnSessionConnected after the failed send");
  EXPECT_EQ(s->SendText("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s->LastError(), 10057);
  EXPECT_EQ(s->State(), wsClosed);
  EXPECT_EQ(events, std::vector<std::string>{"closed 10057"});
  Settle();
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(ConnectionTest, DataSentComesFromTheLoopNeverFromSend) {
  Link link = Connected(listenFd, port);
  bool inSend = false;
  int sentEvents = 0;
  link.sock->OnDataSent = [&](TWSocket*, uint16_t err) {
    EXPECT_FALSE(inSend) << "OnDataSent inside Send";
    EXPECT_EQ(err, 0);
    ++sentEvents;
  };
  EXPECT_EQ(link.sock->SendText(""), 0);
  inSend = true;
  EXPECT_EQ(link.sock->SendText("hello"), 5);
  inSend = false;
  EXPECT_EQ(sentEvents, 0);
  ASSERT_TRUE(Pump([&] { return sentEvents > 0; }));
  std::string got;
  ASSERT_TRUE(Pump([&] {
    ReadAvailable(link.peer.Get(), got);
    return got.size() >= 5;
  }));
  EXPECT_EQ(got, "hello");  // the empty send added nothing
  Settle();
  EXPECT_EQ(sentEvents, 1);
}

TEST_F(ConnectionTest, PeerAddressOnlyWhileConnected) {
  TWSocket idle;
  EXPECT_EQ(idle.GetPeerAddr(), "error");
  EXPECT_EQ(idle.GetPeerPort(), "error");
  Link link = Connected(listenFd, port);
  EXPECT_EQ(link.sock->GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(link.sock->GetPeerPort(), std::to_string(port));
  link.sock->Close();
  EXPECT_EQ(link.sock->GetPeerAddr(), "error");
}

TEST_F(ConnectionTest, SettingsGuardedWhileOpenAndResetByClose) {
  auto listener = Listener();
  const std::string bound = listener->Port();
  try {
    listener->SetPort("1234");
    ADD_FAILURE() << "Port changed while listening";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Port if not closed");
  }
  EXPECT_NO_THROW(listener->SetPort(" " + bound + " "));  // same text after trimming
  EXPECT_EQ(listener->State(), wsListening);

  Link link = Connected(listenFd, port);
  link.sock->Close();
  try {
    link.sock->Connect();
    ADD_FAILURE() << "Connect after Close without a port";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Port Specified");
  }
  EXPECT_EQ(link.sock->Port(), std::to_string(port));  // the text stays readable
}

TEST_F(ConnectionTest, ListenIsRefusedOnATakenPortAndOnAnOpenSocket) {
  auto first = Listener();
  TWSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(first->BoundPort()));
  try {
    second.Listen();
    ADD_FAILURE() << "two listeners on one port";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10048 in function Bind\r\nAddress already in use");
  }
  EXPECT_EQ(second.LastError(), 10048);
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.Handle(), -1);

  // Listening again on a socket that listens already: refused, and the
  // first listener goes on as before.
  const int boundPort = first->BoundPort();
  const int handle = first->Handle();
  try {
    first->Listen();
    ADD_FAILURE() << "Listen on an open socket";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10022 in function Listen\r\nInvalid argument");
  }
  EXPECT_EQ(first->LastError(), 10022);
  EXPECT_EQ(first->State(), wsListening);
  EXPECT_EQ(first->Handle(), handle);
  EXPECT_EQ(first->BoundPort(), boundPort);
  int available = 0;
  first->OnSessionAvailable = [&](TWSocket*, uint16_t) { ++available; };
  Fd client = testsupport::ConnectToLoopback(boundPort);
  ASSERT_TRUE(Pump([&] { return available > 0; }));
  const uint64_t before = loop.DispatchedEvents();
  Settle();
  EXPECT_LE(loop.DispatchedEvents() - before, 1u) << "the listener keeps waking the loop";
  EXPECT_EQ(available, 1);
  Fd accepted(first->Accept());
  EXPECT_TRUE(accepted.Valid());
}

// The loop refusing a descriptor is a socket failure like any other: the
// table's code, to OnError or as ESocketException, and the socket closed.
TEST_F(ConnectionTest, LoopRefusingTheHandleIsASocketError) {
  for (const bool withOnError : {false, true}) {
    SCOPED_TRACE(withOnError ? "OnError" : "exception");
    TWSocket s;
    s.LingerOnOff = wsLingerNoSet;  // a file takes no socket options
    int errors = 0;
    if (withOnError) s.OnError = [&](TWSocket*) { ++errors; };
    s.OnSessionClosed = Never("OnSessionClosed for a connection never reported");
    // epoll refuses regular files.
    const int file = memfd_create("not-a-socket", MFD_CLOEXEC);
    ASSERT_GE(file, 0);
    try {
      s.Dup(file);
      EXPECT_TRUE(withOnError) << "Dup of an unwatchable handle did not fail";
    } catch (const ESocketException& e) {
      EXPECT_FALSE(withOnError);
      EXPECT_STREQ(e.what(), "Error 10013 in function WSAAsyncSelect\r\nPermission denied");
    }
    EXPECT_EQ(errors, withOnError ? 1 : 0);
    EXPECT_EQ(s.LastError(), 10013);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.Handle(), -1);
    EXPECT_EQ(::fcntl(file, F_GETFD), -1) << "the refused handle was left open";
  }
}

}  // namespace
}  // namespace vantrel::net
