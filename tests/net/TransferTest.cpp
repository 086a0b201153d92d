// Volume and hostile conditions: a slow reader, a peer that resets, a
// listener out of file descriptors.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <string>

#include "net/WSocketServer.h"
#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using testsupport::Checksum;
using testsupport::PatternStream;
using testsupport::ReadAvailable;
using testsupport::ReadState;

class TransferTest : public NetTest {
 protected:
  // A listener whose accepted sockets have a small receive window, so that
  // a sender quickly has to queue.
  void ListenSmall() {
    listenFd = testsupport::ListenOnLoopback(port);
    const int small = 32 * 1024;
    setsockopt(listenFd.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  int port = 0;
  Fd listenFd;
};

// Reads at most `piece` bytes per loop event, checksumming as it goes.
struct SlowReader {
  SlowReader(EventLoop& loop, int fd, size_t piece) : loop(loop), fd(fd) {
    loop.AddWatch(fd, EPOLLIN, [this, piece](uint32_t) {
      std::string chunk;
      state = ReadAvailable(this->fd, chunk, piece);
      sum.Add(chunk);
    });
  }
  ~SlowReader() { loop.RemoveWatch(fd); }
  EventLoop& loop;
  int fd;
  Checksum sum;
  ReadState state = ReadState::Open;
};

class BlocksPerCall : public TransferTest, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    TWSocket::SendBlocksPerCall = TWSocket::kDefaultSendBlocksPerCall;
    TransferTest::TearDown();
  }
};

TEST_P(BlocksPerCall, LargeTransferToASlowReaderArrivesIntact) {
  TWSocket::SendBlocksPerCall = GetParam();
  ListenSmall();
  Link link = Connected(listenFd, port);
  constexpr size_t kTotal = 64u << 20;
  constexpr size_t kPiece = 100003;  // never a multiple of the block size
  int sentEvents = 0;
  link.sock->OnDataSent = [&](TWSocket*, uint16_t) { ++sentEvents; };
  PatternStream pattern(GetParam());
  Checksum expected;
  for (size_t done = 0; done < kTotal;) {
    const std::string piece = pattern.Next(std::min(kPiece, kTotal - done));
    expected.Add(piece);
    ASSERT_EQ(link.sock->Send(piece.data(), piece.size()), static_cast<int>(piece.size()));
    done += piece.size();
  }
  EXPECT_GT(link.sock->BufferedBytes(), 0u);  // the queue really holds most of it

  SlowReader reader(loop, link.peer.Get(), 4096);
  ASSERT_TRUE(Pump([&] { return reader.sum.Bytes() >= kTotal; }, 90s))
      << "received " << reader.sum.Bytes();
  EXPECT_EQ(reader.sum.Bytes(), kTotal);
  EXPECT_EQ(reader.sum.Value(), expected.Value());
  ASSERT_TRUE(Pump([&] { return sentEvents > 0; }));
  EXPECT_EQ(sentEvents, 1);
  EXPECT_TRUE(link.sock->SendQueueEmpty());

  link.sock->Close();
  ASSERT_TRUE(Pump([&] { return reader.state != ReadState::Open; }));
  EXPECT_EQ(reader.state, ReadState::Closed);
}

INSTANTIATE_TEST_SUITE_P(SendBlocks, BlocksPerCall,
                         ::testing::Values(1, TWSocket::kDefaultSendBlocksPerCall, 64));

// Closed or destroyed right after our queue drains, also over bytes the
// peer sent that nobody read: the system must not reset the connection,
// which would destroy what it still holds for the peer.
struct CloseCase {
  const char* name;
  bool peerSentUnread;
  bool destroy;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
  *os << c.name;
}

class CloseAfterDrain : public TransferTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseAfterDrain, LosesNothing) {
  const CloseCase& c = GetParam();
  ListenSmall();
  Link link = Connected(listenFd, port);
  if (c.peerSentUnread) {
    // Left where they are: a handler that does not read them.
    link.sock->OnDataAvailable = [](TWSocket*, uint16_t) {};
    const std::string unread(3000, 'u');
    ASSERT_EQ(::send(link.peer.Get(), unread.data(), unread.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(unread.size()));
    ASSERT_TRUE(Pump([&] { return link.sock->RcvdCount() == static_cast<int>(unread.size()); }));
  }
  const std::string data = PatternStream(3).Next(4u << 20);
  Checksum expected;
  expected.Add(data);
  bool closed = false;
  // The system still holds much of it when our own queue runs dry.
  link.sock->OnDataSent = [&](TWSocket* s, uint16_t) {
    if (c.destroy) {
      EventLoop::Default().Post([&] {
        link.sock.reset();
        closed = true;
      });
    } else {
      s->Close();
      closed = true;
    }
  };
  SlowReader reader(loop, link.peer.Get(), 4096);
  link.sock->SendText(data);
  ASSERT_TRUE(Pump([&] { return closed; }, 30s));
  ASSERT_TRUE(Pump([&] { return reader.state != ReadState::Open; }, 30s));
  EXPECT_EQ(reader.state, ReadState::Closed);
  EXPECT_EQ(reader.sum.Bytes(), data.size());
  EXPECT_EQ(reader.sum.Value(), expected.Value());
}

INSTANTIATE_TEST_SUITE_P(TransferTest, CloseAfterDrain,
                         ::testing::Values(CloseCase{"Closed", false, false},
                                           CloseCase{"ClosedOverUnreadBytes", true, false},
                                           CloseCase{"DestroyedOverUnreadBytes", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Bytes moved from socket to socket inside the system arrive whole and in
// order whatever the far reader takes: what it cannot take at once waits in
// the queue, the next move goes through memory behind it, and the drained
// queue is announced, so a relay paused for back-pressure resumes.
struct MoveCase {
  const char* name;
  size_t readerPiece;  // bytes the far reader takes per event
  size_t perMove;      // most bytes one move may take
};

void PrintTo(const MoveCase& c, std::ostream* os) {
  *os << c.name;
}

class MoveBetweenSockets : public TransferTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveBetweenSockets, ArriveWholeAndInOrder) {
  const MoveCase& c = GetParam();
  Fd inListen;
  int inPort = 0;
  inListen = testsupport::ListenOnLoopback(inPort);
  Link in = Connected(inListen, inPort);
  ListenSmall();
  Link out = Connected(listenFd, port);

  int moves = 0;
  size_t moved = 0;
  size_t largestMove = 0;
  in.sock->OnDataAvailable = [&](TWSocket* s, uint16_t) {
    const int n = s->ReceiveTo(*out.sock, c.perMove);
    if (n > 0) {
      ++moves;
      moved += static_cast<size_t>(n);
      largestMove = std::max(largestMove, static_cast<size_t>(n));
    }
    if (out.sock->BufferedBytes() > 256 * 1024) s->PauseReading();
  };
  out.sock->OnDataSent = [&](TWSocket*, uint16_t) { in.sock->ResumeReading(); };

  constexpr size_t kTotal = 16u << 20;
  const std::string data = PatternStream(7).Next(kTotal);
  Checksum expected;
  expected.Add(data);
  const int writer = in.peer.Get();
  ASSERT_EQ(fcntl(writer, F_SETFL, fcntl(writer, F_GETFL) | O_NONBLOCK), 0);
  size_t written = 0;
  loop.AddWatch(writer, EPOLLOUT, [&](uint32_t) {
    while (written < kTotal) {
      const ssize_t n = ::send(writer, data.data() + written, kTotal - written, MSG_NOSIGNAL);
      if (n <= 0) return;
      written += static_cast<size_t>(n);
    }
    loop.RemoveWatch(writer);
    ::shutdown(writer, SHUT_WR);
  });
  SlowReader reader(loop, out.peer.Get(), c.readerPiece);
  ASSERT_TRUE(Pump([&] { return reader.sum.Bytes() >= kTotal; }, 90s))
      << "received " << reader.sum.Bytes();
  EXPECT_EQ(reader.sum.Bytes(), kTotal);
  EXPECT_EQ(reader.sum.Value(), expected.Value());
  EXPECT_EQ(moved, kTotal);
  EXPECT_LE(largestMove, c.perMove);
  EXPECT_GT(moves, 0);
  EXPECT_TRUE(out.sock->SendQueueEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    TransferTest, MoveBetweenSockets,
    ::testing::Values(MoveCase{"PromptReader", 1u << 20, 1u << 20},
                      MoveCase{"SlowReaderFillsTheQueue", 4096, 1u << 20},
                      MoveCase{"SmallMovesOfAnOddSize", 64 * 1024, 1000 + 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, SendingToAResetPeerNeitherKillsNorHangs) {
  // Without MSG_NOSIGNAL these sends would end the process.
  struct sigaction defaultAction {
  }, old{};
  defaultAction.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &defaultAction, &old);
  ListenSmall();

  for (const bool shutDownFirst : {false, true}) {
    SCOPED_TRACE(shutDownFirst ? "after our own shutdown" : "after the peer's reset");
    Link link = Connected(listenFd, port);
    std::vector<uint16_t> codes;
    link.sock->OnSessionClosed = [&](TWSocket*, uint16_t err) { codes.push_back(err); };
    if (shutDownFirst) {
      link.sock->Shutdown(1);
    } else {
      testsupport::CloseWithReset(link.peer);
      pollfd p{link.sock->Handle(), POLLIN, 0};
      ASSERT_EQ(poll(&p, 1, 5000), 1);
      char c;
      EXPECT_EQ(link.sock->Receive(&c, 1), -1);  // takes the reset; the next send gets EPIPE
      EXPECT_EQ(link.sock->LastError(), 10054);
    }
    link.sock->SendText("after the end");
    EXPECT_EQ(codes, std::vector<uint16_t>{10053});
    EXPECT_EQ(link.sock->State(), wsClosed);
    Settle();
    EXPECT_EQ(codes.size(), 1u);
  }
  sigaction(SIGPIPE, &old, nullptr);
}

// Lowers the soft descriptor limit so that no new descriptor can be opened,
// and restores it however the test ends.
class DescriptorLimit {
 public:
  DescriptorLimit() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const int next = dup(0);  // the lowest free descriptor
    close(next);
    rlimit tight = saved_;
    tight.rlim_cur = static_cast<rlim_t>(next);
    setrlimit(RLIMIT_NOFILE, &tight);
  }
  ~DescriptorLimit() { Restore(); }
  void Restore() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(TransferTest, ListenerOutOfDescriptorsWaitsInsteadOfSpinning) {
  TWSocketServer server;
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.Banner = "in";
  int failures = 0;
  server.OnBgException = [&](TWSocket*, const std::exception& e, bool& canClose) {
    EXPECT_STREQ(e.what(), "Error 10024 in function Accept\r\nToo many open files");
    canClose = false;  // a listener stays up, as the proxy keeps its own
    ++failures;
  };
  server.Listen();
  // One ordinary accept first, while descriptors are plentiful.
  Fd first = testsupport::ConnectToLoopback(server.BoundPort());
  ASSERT_TRUE(Pump([&] { return server.ClientCount() == 1; }));
  // The same failure path once more while descriptors are plentiful: the
  // sanitizer's type checks need a pipe the first time they see a type.
  {
    int probePort = 0;
    Fd probeListener = testsupport::ListenOnLoopback(probePort);
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort(std::to_string(probePort));
    bool seen = false;
    probe.OnSessionConnected = [](TWSocket* s, uint16_t) { s->Accept(); };
    probe.OnBgException = [&](TWSocket*, const std::exception& e, bool& canClose) {
      seen = std::string(e.what()) == "not a listening socket";
      canClose = true;
    };
    probe.Connect();
    ASSERT_TRUE(Pump([&] { return seen; }));
  }
  ASSERT_TRUE(Pump([&] { return loop.PendingTasks() == 0; }));  // nothing left to free a descriptor
  Fd client = testsupport::ConnectToLoopback(server.BoundPort());
  {
    DescriptorLimit limit;
    ASSERT_TRUE(Pump([&] { return failures > 0; }));
    const uint64_t before = loop.DispatchedEvents();
    for (int i = 0; i < 200; ++i) loop.ProcessMessages();
    // A spinning listener would dispatch on every round; a waiting one at most
    // for its retry.
    EXPECT_LE(loop.DispatchedEvents() - before, 4u);
    EXPECT_EQ(server.ClientCount(), 1);
    EXPECT_EQ(server.State(), wsListening);
  }
  ASSERT_TRUE(Pump([&] { return server.ClientCount() == 2; }));
  std::string got;
  ASSERT_TRUE(Pump([&] {
    ReadAvailable(client.Get(), got);
    return got.size() >= 4;
  }));
  EXPECT_EQ(got, "in\r\n");
}

}  // namespace
}  // namespace vantrel::net

namespace vantrel::net {

// The read that finds a reset consumes the system's error; the close must
// still be reported with the reset's code, not as an orderly end.
TEST_F(TransferTest, PeerResetIsReportedWithItsCode) {
  int port = 0;
  Fd listenFd = testsupport::ListenOnLoopback(port);
  for (bool withReader : {true, false}) {
    Link link = Connected(listenFd, port);
    std::string got;
    if (withReader) {
      link.sock->OnDataAvailable = [&got](TWSocket* s, uint16_t) { got += s->ReceiveText(); };
    }
    std::vector<uint16_t> closed;
    link.sock->OnSessionClosed = [&closed](TWSocket*, uint16_t err) { closed.push_back(err); };
    ASSERT_TRUE(testsupport::WriteAll(link.peer.Get(), "last words"));
    testsupport::CloseWithReset(link.peer);
    ASSERT_TRUE(Pump([&] { return !closed.empty(); }));
    Settle();
    EXPECT_EQ(closed, std::vector<uint16_t>{10054}) << "reader: " << withReader;
  }
}

// A pause holds back reading, never the news that the peer is gone. An
// orderly end waits for the resume (the peer may still read what we send,
// and nothing it sent may be lost); a reset, or a hang-up once our side has
// finished sending too, is reported while paused, or the socket would stay
// open for good.
struct PausedEndCase {
  const char* name;
  enum How { Fin, HangUp, Reset } how;
  bool reportedWhilePaused;
  uint16_t code;
};

void PrintTo(const PausedEndCase& c, std::ostream* os) {
  *os << c.name;
}

class PausedEnd : public TransferTest, public ::testing::WithParamInterface<PausedEndCase> {};

TEST_P(PausedEnd, ResetsAndHangUpsAreReportedOrderlyEndsWaitForTheResume) {
  const PausedEndCase& c = GetParam();
  listenFd = testsupport::ListenOnLoopback(port);
  Link link = Connected(listenFd, port);
  std::string got;
  std::vector<uint16_t> closed;
  size_t gotAtClose = 0;
  link.sock->OnDataAvailable = [&got](TWSocket* s, uint16_t) { got += s->ReceiveText(); };
  link.sock->OnSessionClosed = [&](TWSocket*, uint16_t err) {
    closed.push_back(err);
    gotAtClose = got.size();
  };
  link.sock->PauseReading();
  if (c.how == PausedEndCase::HangUp) link.sock->Shutdown(1);
  const std::string payload = testsupport::PatternStream(7).Next(20000);
  ASSERT_TRUE(testsupport::WriteAll(link.peer.Get(), payload));
  if (c.how == PausedEndCase::Reset) {
    testsupport::CloseWithReset(link.peer);
  } else {
    ::shutdown(link.peer.Get(), SHUT_WR);
  }
  if (c.reportedWhilePaused) {
    ASSERT_TRUE(Pump([&] { return !closed.empty(); }, 3s)) << "close never reported";
    EXPECT_TRUE(link.sock->ReadingPaused());
  } else {
    const uint64_t before = loop.DispatchedEvents();
    Settle();
    EXPECT_LE(loop.DispatchedEvents() - before, 1u) << "a paused socket keeps waking the loop";
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(closed.empty());
    link.sock->ResumeReading();
    ASSERT_TRUE(Pump([&] { return !closed.empty(); }));
  }
  Settle();
  EXPECT_EQ(closed, std::vector<uint16_t>{c.code});
  EXPECT_EQ(link.sock->State(), wsClosed);
  // Whatever the system still held came before the close; a reset may
  // have taken it with it.
  EXPECT_EQ(gotAtClose, got.size());
  if (c.how != PausedEndCase::Reset) {
    EXPECT_EQ(got, payload);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, PausedEnd,
    ::testing::Values(PausedEndCase{"OrderlyEnd", PausedEndCase::Fin, false, 0},
                      PausedEndCase{"HangUp", PausedEndCase::HangUp, true, 0},
                      PausedEndCase{"Reset", PausedEndCase::Reset, true, 10054}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace vantrel::net

namespace vantrel::net {

// An abandoned connection ends with a reset, not an orderly end, and its
// close is still reported once.
TEST_F(TransferTest, AbortWithResetResetsThePeer) {
  int port = 0;
  Fd listenFd = testsupport::ListenOnLoopback(port);
  Link link = Connected(listenFd, port);
  int closed = 0;
  link.sock->OnSessionClosed = [&closed](TWSocket*, uint16_t err) {
    EXPECT_EQ(err, 0);
    ++closed;
  };
  link.sock->AbortWithReset();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(link.sock->State(), wsClosed);
  pollfd p{link.peer.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(link.peer.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
  EXPECT_EQ(err, ECONNRESET);
}

}  // namespace vantrel::net
