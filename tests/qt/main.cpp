// GoogleTest main for the window tests: widgets need one QApplication for the
// whole run, created before any test and destroyed after the last.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <QStandardPaths>

#include "app/qt/Application.h"

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
  const int result = RUN_ALL_TESTS();
  if (!runtime.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
  }
  return result;
}
