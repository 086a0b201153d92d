// The program's loop inside Qt's: socket events and posted tasks go on while
// a modal box is open inside one of our handlers, and a round refused for
// depth does not make Qt call us again without end.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/qt/LoopNotifier.h"
#include "net/EventLoop.h"

namespace vantrel {
namespace {

class LoopNotifierTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::pipe(pipe_), 0); }
  void TearDown() override {
    loop.RemoveWatch(pipe_[0]);
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    // Whatever a test left behind must not leak into the next.
    loop.RunUntil([&] { return loop.PendingTasks() == 0; }, std::chrono::seconds(1));
  }

  net::EventLoop& loop = net::EventLoop::Default();
  int pipe_[2] = {-1, -1};
};

TEST_F(LoopNotifierTest, SocketsAndPostedTasksGoOnWhileABoxIsOpenInAHandler) {
  TLoopNotifier notifier(loop);
  bool served = false;
  bool taskRan = false;
  int servedAtDepth = 0;
  loop.AddWatch(pipe_[0], 0x001 /* EPOLLIN */, [&](uint32_t) {
    char byte;
    (void)::read(pipe_[0], &byte, 1);
    served = true;
    servedAtDepth = loop.Depth();
  });
  bool boxDone = false;
  loop.Post([&] {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Vantrel"), QStringLiteral("Sure?"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setProperty("expected", true);  // closed below, however busy the machine
    QTimer::singleShot(10, &box, [&] { (void)::write(pipe_[1], "x", 1); });
    // Qt code posting to our loop while the box is open.
    QTimer::singleShot(20, &box, [&] { loop.Post([&] { taskRan = true; }); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
      if (served && taskRan) box.done(QMessageBox::No);
    });
    poll.start(5);
    QTimer::singleShot(3000, &box, [&] { box.done(QMessageBox::No); });
    box.exec();
    boxDone = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxDone; }, 5000));
  EXPECT_TRUE(served);
  EXPECT_EQ(servedAtDepth, 2);
  EXPECT_TRUE(taskRan) << "a task posted while the box was open waited for it to close";
}

TEST_F(LoopNotifierTest, ARefusedRoundWaitsForAnOuterRoundInsteadOfSpinning) {
  TLoopNotifier notifier(loop);
  uint64_t roundsWhileDeepest = 0;
  bool lateTaskRan = false;
  bool done = false;
  std::function<void()> dive = [&] {
    if (loop.Depth() < net::EventLoop::kMaxDepth) {
      loop.Post(dive);
      loop.RunOnce(0);
      return;
    }
    // The deepest round: work is waiting, so the fd stays readable while
    // Qt runs a nested loop (a box) here.
    loop.Post([&] { lateTaskRan = true; });
    const uint64_t before = notifier.Rounds();
    QEventLoop nested;
    QTimer::singleShot(300, &nested, &QEventLoop::quit);
    nested.exec();
    roundsWhileDeepest = notifier.Rounds() - before;
    done = true;
  };
  loop.Post(dive);
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
  EXPECT_GE(notifier.RefusedRounds(), 1u);
  EXPECT_LE(roundsWhileDeepest, 3u) << "the notifier spun on refused rounds";
  // Once the rounds above have returned, the notifier serves the loop again.
  EXPECT_TRUE(QTest::qWaitFor([&] { return lateTaskRan; }, 2000));
  EXPECT_TRUE(notifier.Active());
}

}  // namespace
}  // namespace vantrel
