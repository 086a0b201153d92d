// The watcher's scheduling on a loop of its own: one run per burst of link
// changes, a run found busy is repeated, and polling where netlink is not
// wanted or not there.

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "adapters/AdapterWatcher.h"
#include "net/EventLoop.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

class AdapterWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.OnUnhandledException = [this](const std::string& message) { errors.push_back(message); };
  }
  void TearDown() override {
    watcher.Stop();
    EXPECT_EQ(loop.PendingTimers(), 0u);
  }
  // Runs the loop a while so that a run that should not come would show.
  void Settle(std::chrono::milliseconds time) {
    loop.RunUntil([] { return false; }, time);
  }

  net::EventLoop loop;
  std::vector<std::string> errors;
  int runs = 0;
  std::function<bool()> onRun = [] { return true; };
  TAdapterWatcher watcher{loop,
                          [this] {
                            ++runs;
                            return onRun();
                          },
                          40ms, 20ms};
};

TEST_F(AdapterWatcherTest, ABurstOfLinkChangesGivesOneRunAndAnIdleWatcherSleeps) {
  watcher.Start();
  if (watcher.Mode() != TAdapterWatcher::TMode::Netlink) GTEST_SKIP() << "no netlink socket";
  // One look once the watch is in place; then nothing is armed while
  // nothing changes: an idle machine is not woken.
  ASSERT_TRUE(loop.RunUntil([&] { return runs == 1; }, 5s));
  EXPECT_EQ(loop.PendingTimers(), 0u);
  Settle(100ms);
  EXPECT_EQ(runs, 1);

  for (int i = 0; i < 5; ++i) watcher.LinksChanged();
  ASSERT_TRUE(loop.RunUntil([&] { return runs > 1; }, 5s));
  Settle(100ms);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

TEST_F(AdapterWatcherTest, ARunThatFindsAnotherInProgressIsRepeatedAfterIt) {
  watcher.Start();
  if (watcher.Mode() != TAdapterWatcher::TMode::Netlink) GTEST_SKIP() << "no netlink socket";
  onRun = [this] { return runs > 1; };  // the first run meets one in progress
  ASSERT_TRUE(loop.RunUntil([&] { return runs == 2; }, 5s));
  Settle(100ms);
  EXPECT_EQ(runs, 2);
}

TEST_F(AdapterWatcherTest, WithoutNetlinkItPollsAndARunThatFailsDoesNotStopIt) {
  onRun = [this]() -> bool {
    if (runs == 1) throw std::runtime_error("Cannot write adapters.dat");
    return true;
  };
  watcher.Start(false);
  EXPECT_EQ(watcher.Mode(), TAdapterWatcher::TMode::Polling);
  ASSERT_TRUE(loop.RunUntil([&] { return runs >= 3; }, 5s));
  EXPECT_EQ(errors, std::vector<std::string>{"Cannot write adapters.dat"});
  watcher.Stop();
  const int stoppedAt = runs;
  Settle(100ms);
  EXPECT_EQ(runs, stoppedAt);
}

}  // namespace
}  // namespace vantrel
