// The Logging page's find bar and "Save Log As...", driven from the keyboard
// and the button as a user does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "app/MainWindow.h"
#include "app/qt/LogPage.h"
#include "app/qt/LogView.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

class LogPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* line : {"alpha one", "beta", "ALPHA two", "gamma", "alpha three"}) {
      window.log.DoComment(line, false);
    }
    page.resize(700, 400);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    page.View()->Flush();
  }
  int CurrentRow() const { return page.View()->currentIndex().row(); }
  bool Highlighted(int row) const {
    return page.View()->model()->index(row, 0).data(Qt::BackgroundRole).value<QColor>().isValid();
  }

  testsupport::ScratchFolder folder{"vantrel-logpage"};
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
  TLogPage page{window};
};

TEST_F(LogPageTest, CtrlFHighlightsTheMatchingLinesAndEnterStepsThroughThem) {
  ASSERT_FALSE(page.FindBar()->isVisible());
  QTest::keyClick(page.View(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(page.FindBar()->isVisible());
  auto* edit = page.findChild<QLineEdit*>(QStringLiteral("edFind"));
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->hasFocus());
  QTest::keyClicks(edit, "alpha");
  EXPECT_EQ(page.findChild<QLabel*>(QStringLiteral("lblMatches"))->text(), "3 lines");
  const bool expected[] = {true, false, true, false, true};
  for (int row = 0; row < 5; ++row) EXPECT_EQ(Highlighted(row), expected[row]) << row;

  // Enter goes down and round the end; Shift+Enter goes up.
  std::vector<int> rows;
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(edit, Qt::Key_Return);
    rows.push_back(CurrentRow());
  }
  QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
  rows.push_back(CurrentRow());
  EXPECT_EQ(rows, (std::vector<int>{0, 2, 4, 0, 4}));

  QTest::keyClicks(edit, "x");
  EXPECT_EQ(page.findChild<QLabel*>(QStringLiteral("lblMatches"))->text(), "No matching line");
  EXPECT_FALSE(Highlighted(0));
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_FALSE(page.FindBar()->isVisible());
}

TEST_F(LogPageTest, SaveLogAsWritesTheShownLines) {
  const auto file = folder.Path() / "saved.log";
  page.ChooseFile = [&](QWidget*) { return QString::fromStdString(file.string()); };
  window.log.DoComment(std::string("bytes \xE9\x01 kept"), false);
  QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("btnSaveLogAs")), Qt::LeftButton);
  const std::string saved = folder.Read("saved.log");
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 6);
  EXPECT_NE(saved.find("[alpha one]\n"), std::string::npos) << saved;
  // The log shows control bytes in its own way; the line is there whole.
  EXPECT_NE(saved.find(" kept]\n"), std::string::npos) << saved;
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A file that cannot be written is reported, not passed over.
  page.ChooseFile = [&](QWidget*) {
    return QString::fromStdString((folder.Path() / "missing" / "x.log").string());
  };
  QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("btnSaveLogAs")), Qt::LeftButton);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].rfind("Unable to write to ", 0), 0u) << ui.errors[0];
  // Cancelled: nothing happens.
  page.ChooseFile = [](QWidget*) { return QString(); };
  QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("btnSaveLogAs")), Qt::LeftButton);
  EXPECT_EQ(ui.errors.size(), 1u);
}

}  // namespace
}  // namespace vantrel
