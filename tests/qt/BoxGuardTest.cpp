// The test main's guard: a message box nobody answers fails the running
// test with the box's text within seconds, instead of holding the run.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>

namespace vantrel {
namespace {

TEST(UnexpectedMessageBox, FailsTheTestWithItsTextAndIsClosed) {
  EXPECT_NONFATAL_FAILURE(
      {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantrel"),
                        QStringLiteral("Error: nobody answers this"), QMessageBox::Ok);
        // Only if the guard failed to act: the run must not hang here.
        QTimer::singleShot(30000, &box, [&box] { box.done(QMessageBox::Ok); });
        box.exec();
      },
      "Error: nobody answers this");
}

}  // namespace
}  // namespace vantrel
