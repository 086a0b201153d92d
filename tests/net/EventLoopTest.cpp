// The loop itself: task and timer order, cancellation from inside a
// callback, the nesting limit, and waking an embedding loop.

#include <poll.h>

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

}  // namespace
}  // namespace vantrel::net
