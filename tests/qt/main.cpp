// GoogleTest main for the window tests: widgets need one QApplication for the
// whole run, created before any test and destroyed after the last.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "app/qt/Application.h"

namespace {

// A message box nobody answers would hold its test until ctest's timeout.
// One still open after the grace fails the running test with its text and
// is closed. Boxes a test answers (marked "answered") or keeps open on
// purpose (marked "expected") are left alone.
class TUnexpectedBoxGuard {
 public:
  static constexpr qint64 kGraceMs = 3000;

  TUnexpectedBoxGuard() {
    clock_.start();
    timer_.setInterval(200);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
    timer_.start();
  }

 private:
  void Check() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible() || box->property("answered").toBool() ||
          box->property("expected").toBool()) {
        continue;
      }
      const QVariant seen = box->property("guardSeenAt");
      if (!seen.isValid()) {
        box->setProperty("guardSeenAt", clock_.elapsed());
        continue;
      }
      if (clock_.elapsed() - seen.toLongLong() < kGraceMs) continue;
      box->setProperty("answered", true);
      ADD_FAILURE() << "a message box nobody expected: \"" << box->text().toStdString() << "\"";
      box->reject();
    }
  }

  QElapsedTimer clock_;
  QTimer timer_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Never open windows on a developer's desktop, and let test discovery run
  // where there is no display at all.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A private runtime folder (0700, as Qt wants it) when the caller gave
  // none: local sockets of one run never meet another's.
  std::string runtime;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    runtime = "/tmp/vantrel-qt-tests-XXXXXX";
    if (mkdtemp(runtime.data()) != nullptr) {
      qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
    } else {
      runtime.clear();
    }
  }
  // Settings and the like go to a test folder, never the user's.
  QStandardPaths::setTestModeEnabled(true);
  vantrel::TApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("vantrel-tests"));
  QCoreApplication::setApplicationName(QStringLiteral("qt_tests"));
  QApplication::setQuitOnLastWindowClosed(false);
  TUnexpectedBoxGuard boxGuard;
  const int result = RUN_ALL_TESTS();
  if (!runtime.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
  }
  return result;
}
