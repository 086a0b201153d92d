// GoogleTest main for the window tests: widgets need one QApplication for the
// whole run, created before any test and destroyed after the last.
#include <gtest/gtest.h>

#include <QStandardPaths>

#include "app/qt/Application.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Never open windows on a developer's desktop, and let test discovery run
  // where there is no display at all.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Settings and the like go to a test folder, never the user's.
  QStandardPaths::setTestModeEnabled(true);
  vantrel::TApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("vantrel-tests"));
  QCoreApplication::setApplicationName(QStringLiteral("qt_tests"));
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
