// An exception that escapes a slot or a timer of the window is reported and
// the program goes on.

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/qt/Application.h"

namespace vantrel {
namespace {

TEST(ApplicationTest, AnExceptionFromATimerIsReportedAndTheLoopGoesOn) {
  auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<std::string> reported;
  app->OnException = [&](const std::string& message) { reported.push_back(message); };
  bool later = false;
  QTimer::singleShot(0, [] { throw std::runtime_error("disk on fire"); });
  QTimer::singleShot(0, [] { throw 42; });
  QTimer::singleShot(20, [&] { later = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
  app->OnException = nullptr;
  EXPECT_EQ(reported, (std::vector<std::string>{"disk on fire", "unknown exception"}));
}

}  // namespace
}  // namespace vantrel
