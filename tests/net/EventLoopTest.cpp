// The loop itself: task and timer order, cancellation from inside a
// callback, the nesting limit, and waking an embedding loop.

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using EventLoopTest = NetTest;

TEST_F(EventLoopTest, TasksRunLaterAndInOrderTimersByDueTime) {
  std::vector<std::string> order;
  loop.AddTimer(30ms, [&] { order.push_back("late timer"); });
  const auto cancelled = loop.AddTimer(10ms, [&] { order.push_back("cancelled"); });
  loop.AddTimer(5ms, [&] {
    order.push_back("early timer");
    loop.CancelTimer(cancelled);  // from inside another timer
  });
  loop.Post([&] {
    order.push_back("task 1");
    loop.Post([&] { order.push_back("task 3"); });  // a later turn
  });
  loop.Post([&] { order.push_back("task 2"); });
  EXPECT_TRUE(order.empty());  // nothing runs inside Post or AddTimer
  ASSERT_TRUE(Pump([&] { return order.size() == 5; }));
  Settle();
  EXPECT_EQ(order,
            (std::vector<std::string>{"task 1", "task 2", "task 3", "early timer", "late timer"}));
}

TEST_F(EventLoopTest, NestingIsBounded) {
  int deepest = 0;
  int refused = 0;
  int dives = 0;
  std::function<void()> dive = [&] {
    deepest = std::max(deepest, loop.Depth());
    if (++dives > 50) return;  // a storm of waits, but a bounded one
    loop.Post(dive);
    if (!loop.RunOnce(0)) ++refused;
  };
  loop.Post(dive);
  ASSERT_TRUE(Pump([&] { return dives > 50 && loop.PendingTasks() == 0; }));
  EXPECT_EQ(deepest, EventLoop::kMaxDepth);
  EXPECT_GT(refused, 0);
}

// Two descriptors ready in one round: whichever handler runs first closes
// the other and hands its number to a new watch. The event already fetched
// for the old descriptor must not reach the new watch, whether the old one
// was unwatched before its close or only closed.
TEST_F(EventLoopTest, StaleEventNeverReachesANewWatchOnAReusedNumber) {
  for (const bool unwatchFirst : {true, false}) {
    SCOPED_TRACE(unwatchFirst ? "unwatched, then closed" : "closed while watched");
    int fds[2] = {eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC), eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC)};
    ASSERT_GE(fds[0], 0);
    ASSERT_GE(fds[1], 0);
    int firstCalls = 0, reused = -1, newCalls = 0;
    for (int i = 0; i < 2; ++i) {
      loop.AddWatch(fds[i], EPOLLIN, [&, i](uint32_t) {
        ++firstCalls;
        uint64_t value;
        ASSERT_EQ(::read(fds[i], &value, sizeof value), static_cast<ssize_t>(sizeof value));
        if (reused >= 0) return;
        const int victim = fds[1 - i];
        if (unwatchFirst) loop.RemoveWatch(victim);
        ::close(victim);
        // Nothing to read on the new descriptor: any call now is the stale one.
        const int fresh = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ASSERT_GE(fresh, 0);
        if (fresh != victim) {
          ASSERT_EQ(::dup3(fresh, victim, O_CLOEXEC), victim);
          ::close(fresh);
        }
        reused = victim;
        loop.AddWatch(victim, EPOLLIN, [&](uint32_t) { ++newCalls; });
      });
    }
    // Both are ready before the round that fetches them.
    ASSERT_TRUE(loop.RunOnce(1000));
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(newCalls, 0);
    ASSERT_GE(reused, 0);
    // The new watch itself works.
    const uint64_t one = 1;
    ASSERT_EQ(::write(reused, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    ASSERT_TRUE(Pump([&] { return newCalls == 1; }));
    for (int fd : fds) {
      loop.RemoveWatch(fd);
      ::close(fd);
    }
  }
}

// Polling before a sleep pays only while events come densely: an idle loop
// must go back to sleeping after one poll that found nothing, and a window
// of zero or a round that does not wait must never poll.
TEST_F(EventLoopTest, PollsOnlyWhileEventsComeDensely) {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  int pings = 0;
  loop.AddWatch(fd, EPOLLIN, [&](uint32_t) {
    uint64_t v;
    ASSERT_EQ(::read(fd, &v, sizeof v), static_cast<ssize_t>(sizeof v));
    if (--pings > 0) {
      v = 1;
      ASSERT_EQ(::write(fd, &v, sizeof v), static_cast<ssize_t>(sizeof v));
    }
  });
  // Each event makes the next one at once: dense traffic. The wide window
  // keeps a preempted test thread from looking like a sparse one.
  const auto pingPong = [&](int count, int timeoutMs) {
    pings = count;
    uint64_t one = 1;
    ASSERT_EQ(::write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    for (int i = 0; i < 100 && pings > 0; ++i) loop.RunOnce(timeoutMs);
    ASSERT_EQ(pings, 0);
  };
  loop.SetPollWindow(std::chrono::milliseconds(20));
  const uint64_t won0 = loop.PollsWon();
  const uint64_t lost0 = loop.PollsLost();
  pingPong(20, 1000);
  EXPECT_GT(loop.PollsWon(), won0) << "dense events never polled for";
  EXPECT_EQ(loop.PollsLost(), lost0) << "a poll missed an event that was ready";

  for (int i = 0; i < 3; ++i) loop.RunOnce(5);  // idle
  EXPECT_LE(loop.PollsLost(), lost0 + 1) << "an idle loop kept polling";

  const uint64_t won1 = loop.PollsWon();
  const uint64_t lost1 = loop.PollsLost();
  pingPong(20, 0);
  loop.SetPollWindow(std::chrono::microseconds(0));
  pingPong(20, 1000);
  loop.RunOnce(5);
  EXPECT_EQ(loop.PollsWon(), won1);
  EXPECT_EQ(loop.PollsLost(), lost1);

  loop.SetPollWindow(EventLoop::kPollWindow);
  loop.RemoveWatch(fd);
  ::close(fd);
}

// A front end that watches the backend fd must see a post made between rounds.
TEST_F(EventLoopTest, PostBetweenRoundsWakesTheBackendFd) {
  loop.RunUntil([&] { return loop.PendingTasks() == 0; }, 1s);
  pollfd p{loop.BackendFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 0), 0) << "backend fd readable with nothing to do";
  bool ran = false;
  loop.Post([&] { ran = true; });
  EXPECT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_EQ(loop.NextTimeoutMs(), 0);
  loop.RunOnce(0);
  EXPECT_TRUE(ran);
}

// Embedded, a handler may open a modal box whose own loop watches the
// backend fd: a task posted from there must wake it, at any depth.
TEST_F(EventLoopTest, EmbeddedPostInsideAHandlerWakesTheBackendFd) {
  loop.RunUntil([&] { return loop.PendingTasks() == 0; }, 1s);
  loop.SetEmbedded(true);
  int readable = -1;
  bool ran = false;
  loop.Post([&] {
    loop.Post([&] { ran = true; });
    pollfd p{loop.BackendFd(), POLLIN, 0};
    readable = ::poll(&p, 1, 0);  // what the outer loop's box would see now
  });
  loop.RunOnce(0);
  loop.SetEmbedded(false);
  EXPECT_EQ(readable, 1);
  loop.RunUntil([&] { return ran; }, 1s);
  EXPECT_TRUE(ran);
}

// A round refused for depth leaves the backend fd readable; an embedder
// that stops watching on the refusal hears once when an outer round ends.
TEST_F(EventLoopTest, ARefusedRoundIsAnnouncedOnceWhenRoomComesBack) {
  int freed = 0;
  int refusedAt = -1;
  int depthWhenFreed = -1;
  loop.OnDepthFreed = [&] {
    ++freed;
    depthWhenFreed = loop.Depth();
  };
  std::function<void()> dive = [&] {
    if (loop.Depth() < EventLoop::kMaxDepth) {
      loop.Post(dive);
      loop.RunOnce(0);
    } else if (!loop.RunOnce(0) && !loop.RunOnce(0)) {
      refusedAt = loop.Depth();
      EXPECT_EQ(freed, 0);  // not while the deepest round still runs
    }
  };
  loop.Post(dive);
  ASSERT_TRUE(Pump([&] { return refusedAt > 0 && loop.PendingTasks() == 0; }));
  loop.OnDepthFreed = nullptr;
  EXPECT_EQ(refusedAt, EventLoop::kMaxDepth);
  EXPECT_EQ(freed, 1);
  EXPECT_EQ(depthWhenFreed, EventLoop::kMaxDepth - 1);
}

}  // namespace
}  // namespace vantrel::net
