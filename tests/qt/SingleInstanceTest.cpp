// One running program per data folder; a second launch shows the first's
// window and a lock left by a dead process does not block a new start.

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>
#include <memory>

#include "app/qt/SingleInstance.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

TEST(SingleInstanceTest, ASecondLaunchOnTheSameFolderRaisesTheFirst) {
  testsupport::ScratchFolder folder("vantrel-single");
  testsupport::ScratchFolder other("vantrel-single-other");
  auto first = std::make_unique<TSingleInstance>(folder.Path());
  int raised = 0;
  first->OnRaise = [&] { ++raised; };
  ASSERT_TRUE(first->Acquire());

  TSingleInstance second(folder.Path());
  EXPECT_FALSE(second.Acquire());
  EXPECT_TRUE(second.RaiseRunning());
  EXPECT_TRUE(QTest::qWaitFor([&] { return raised == 1; }, 3000));

  TSingleInstance elsewhere(other.Path());
  EXPECT_TRUE(elsewhere.Acquire()) << "another data folder is another program";

  first.reset();
  TSingleInstance next(folder.Path());
  EXPECT_TRUE(next.Acquire()) << "the folder stays locked after its program ended";
}

TEST(SingleInstanceTest, ALockLeftByADeadProcessIsTakenOver) {
  testsupport::ScratchFolder folder("vantrel-stale");
  TSingleInstance probe(folder.Path());
  // A lock file as a crashed program leaves it: a process id that does not
  // run, this host and this program's name.
  QFile lock(probe.LockPath());
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.write("2147483646\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
             QSysInfo::machineHostName().toUtf8() + "\n");
  lock.close();
  EXPECT_TRUE(probe.Acquire());
}

}  // namespace
}  // namespace vantrel
