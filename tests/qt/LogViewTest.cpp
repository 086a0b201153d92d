// The screen log's view: one row per screen line read from the log's ring,
// batched, evicted with the ring, coloured, Latin-1, copyable, and scrolled
// only as Auto Scroll allows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QFontMetrics>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "app/ScreenLog.h"
#include "app/qt/LogView.h"
#include "model/Controls.h"

namespace vantrel {
namespace {

class LogViewTest : public ::testing::Test {
 protected:
  void Make(size_t capacity = TScreenLog::kDefaultCapacity) {
    log = std::make_unique<TScreenLog>(capacity);
    view = std::make_unique<TLogView>(*log, autoScroll);
    view->resize(500, 300);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }
  QVariant Data(int row, int role = Qt::DisplayRole) const {
    return view->model()->index(row, 0).data(role);
  }

  TCheckBox autoScroll{"cbAutoScroll", "Auto Scroll"};
  std::unique_ptr<TScreenLog> log;
  std::unique_ptr<TLogView> view;
};

TEST_F(LogViewTest, ShowsWhatTheLogHeldBeforeAndSplitsEntriesIntoScreenLines) {
  log = std::make_unique<TScreenLog>();
  log->Add("first", clBlack);
  log->Add("GET / HTTP/1.1\r\nHost: a\r\n\r\n", clGreen);
  log->Add("a\rb\nc", clBlue);
  view = std::make_unique<TLogView>(*log, autoScroll);
  EXPECT_EQ(view->objectName(), "memStatus");
  const QStringList expected{"first", "GET / HTTP/1.1", "Host: a", "", "a", "b", "c"};
  ASSERT_EQ(view->RowCount(), expected.size());
  for (int row = 0; row < expected.size(); ++row) EXPECT_EQ(view->LineText(row), expected[row]);
  // As many rows as the log counts screen lines.
  EXPECT_EQ(static_cast<size_t>(view->RowCount()), log->LineCount());
  EXPECT_EQ(Data(0, Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 0));
  EXPECT_EQ(Data(2, Qt::ForegroundRole).value<QColor>(), QColor(0, 128, 0));
  EXPECT_EQ(Data(6, Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
}

TEST_F(LogViewTest, NewLinesWaitForTheBatchTimer) {
  Make();
  log->Add("one", clBlack);
  log->Add("two", clBlack);
  EXPECT_EQ(view->RowCount(), 0);
  QSignalSpy inserted(view->model(), &QAbstractItemModel::rowsInserted);
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->RowCount() == 2; }, 2000));
  // Both lines arrived in one insertion.
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(view->LineText(1), "two");
}

TEST_F(LogViewTest, TwentyThousandLinesAndEvictionKeepRowsAndLogTogether) {
  Make(20000);
  for (int i = 1; i <= 20000; ++i) log->Add("line " + std::to_string(i), clBlack);
  view->Flush();
  ASSERT_EQ(view->RowCount(), 20000);
  EXPECT_EQ(view->LineText(0), "line 1");
  EXPECT_EQ(view->LineText(19999), "line 20000");

  // The ring is full: each new entry pushes the oldest out.
  for (int i = 20001; i <= 20500; ++i) log->Add("line " + std::to_string(i), clBlack);
  // An evicted line never shows its old text, even before the flush.
  EXPECT_EQ(Data(0).toString(), "");
  view->Flush();
  ASSERT_EQ(view->RowCount(), 20000);
  EXPECT_EQ(view->LineText(0), "line 501");
  EXPECT_EQ(view->LineText(19999), "line 20500");

  // Multi-line entries leave with all their rows.
  log->Add("x\ny\nz", clBlue);
  view->Flush();
  EXPECT_EQ(static_cast<size_t>(view->RowCount()), log->LineCount());
  EXPECT_EQ(view->LineText(view->RowCount() - 1), "z");
  EXPECT_EQ(view->LineText(0), "line 502");

  log->Clear();
  EXPECT_EQ(view->RowCount(), 0);
  log->Add("after", clBlack);
  view->Flush();
  ASSERT_EQ(view->RowCount(), 1);
  EXPECT_EQ(view->LineText(0), "after");
}

TEST_F(LogViewTest, EntriesEvictedBeforeTheyWereShownNeverShow) {
  Make(3);
  for (int i = 1; i <= 5; ++i) log->Add(std::to_string(i), clBlack);
  view->Flush();
  ASSERT_EQ(view->RowCount(), 3);
  EXPECT_EQ(view->LineText(0), "3");
  EXPECT_EQ(view->LineText(2), "5");
}

TEST_F(LogViewTest, BytesAreLatin1AndMarkupStaysText) {
  Make();
  // A hex dump's text area: bytes above 127 stay one character each.
  log->Add(std::string("0000 41 FF E9 \xff\xe9<b>x</b>"), clBlack);
  view->Flush();
  const QString line = view->LineText(0);
  EXPECT_EQ(line.size(), 24);
  EXPECT_EQ(line[14], QChar(0xFF));
  EXPECT_EQ(line[15], QChar(0xE9));
  EXPECT_TRUE(line.endsWith("<b>x</b>"));
}

TEST_F(LogViewTest, UsesAFixedPitchFontOnALightBackground) {
  Make();
  // Measured, not asked: some monospace fonts do not declare their spacing.
  const QFontMetrics metrics(view->font());
  const int width = metrics.horizontalAdvance(QLatin1Char('M'));
  EXPECT_GT(width, 0);
  for (const QChar glyph : QStringLiteral("il.|W0 -")) {
    EXPECT_EQ(metrics.horizontalAdvance(glyph), width) << "'" << QString(glyph).toStdString() << "'";
  }
  EXPECT_EQ(view->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(LogViewTest, CtrlCCopiesTheSelectedLinesInOrder) {
  Make();
  for (const char* text : {"alpha", "beta", "gamma", "delta"}) log->Add(text, clBlack);
  view->Flush();
  auto* selection = view->selectionModel();
  selection->select(view->model()->index(2, 0), QItemSelectionModel::Select);
  selection->select(view->model()->index(0, 0), QItemSelectionModel::Select);
  QApplication::clipboard()->clear();
  QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "alpha\ngamma");
}

TEST_F(LogViewTest, AutoScrollFollowsTheEndOnlyWhileChecked) {
  autoScroll.SetChecked(false);
  Make();
  for (int i = 0; i < 500; ++i) log->Add("line", clBlack);
  log->ScrollToEnd();
  view->Flush();
  QScrollBar* bar = view->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), 0);

  autoScroll.SetChecked(true);
  view->Flush();
  EXPECT_EQ(bar->value(), bar->maximum());

  for (int i = 0; i < 100; ++i) log->Add("more", clGreen);
  log->ScrollToEnd();
  view->Flush();
  EXPECT_EQ(bar->value(), bar->maximum());

  // Unchecked, the user's place stays where it is.
  autoScroll.SetChecked(false);
  bar->setValue(10);
  for (int i = 0; i < 100; ++i) log->Add("more", clGreen);
  log->ScrollToEnd();
  view->Flush();
  EXPECT_EQ(bar->value(), 10);
}

TEST_F(LogViewTest, AutoScrollPausesWhileScrolledUpAndResumesAtTheEnd) {
  autoScroll.SetChecked(true);
  Make();
  for (int i = 0; i < 500; ++i) log->Add("line", clBlack);
  log->ScrollToEnd();
  view->Flush();
  QScrollBar* bar = view->verticalScrollBar();
  ASSERT_EQ(bar->value(), bar->maximum());

  // The user reads further up: new lines do not pull the view away.
  bar->setValue(10);
  EXPECT_TRUE(view->Paused());
  for (int i = 0; i < 100; ++i) log->Add("more", clGreen);
  log->ScrollToEnd();
  view->Flush();
  EXPECT_EQ(bar->value(), 10);

  // Back at the end, the view follows again.
  bar->setValue(bar->maximum());
  EXPECT_FALSE(view->Paused());
  for (int i = 0; i < 100; ++i) log->Add("more", clGreen);
  log->ScrollToEnd();
  view->Flush();
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogViewTest, AViewShownAfterLinesArrivedWhileHiddenStartsAtTheEnd) {
  // The Logging page is usually not the one on screen while traffic is logged.
  autoScroll.SetChecked(true);
  log = std::make_unique<TScreenLog>();
  QTabWidget pages;
  pages.addTab(new QWidget, QStringLiteral("Configuration"));
  auto* logView = new TLogView(*log, autoScroll);
  pages.addTab(logView, QStringLiteral("Logging"));
  pages.resize(500, 300);
  pages.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&pages));
  for (int i = 0; i < 500; ++i) log->Add("line", clBlack);
  log->ScrollToEnd();
  logView->Flush();
  pages.setCurrentIndex(1);
  QScrollBar* bar = logView->verticalScrollBar();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 2000));
}

TEST_F(LogViewTest, LinesLeavingTheTopDoNotMoveTheLinesBeingRead) {
  autoScroll.SetChecked(false);
  Make(1000);
  for (int i = 0; i < 1000; ++i) log->Add("line " + std::to_string(i), clBlack);
  view->Flush();
  QScrollBar* bar = view->verticalScrollBar();
  bar->setValue(500);
  const QModelIndex top = view->indexAt(QPoint(2, 2));
  ASSERT_EQ(view->LineText(top.row()), "line 500");
  for (int i = 1000; i < 1010; ++i) log->Add("line " + std::to_string(i), clBlack);
  view->Flush();
  EXPECT_EQ(view->LineText(view->indexAt(QPoint(2, 2)).row()), "line 500");
}

TEST_F(LogViewTest, ALongLineAfterShortOnesCanBeScrolledIntoView) {
  Make();
  log->Add("short", clBlack);
  view->Flush();
  log->Add(std::string(400, 'x') + "END", clBlack);
  view->Flush();
  QScrollBar* bar = view->horizontalScrollBar();
  const QRect shown = view->visualRect(view->model()->index(1, 0));
  const int width = QFontMetrics(view->font()).horizontalAdvance(view->LineText(1));
  // The end of the long line is within the scrollable range.
  EXPECT_GE(shown.width(), width);
  EXPECT_GT(bar->maximum(), 0);
}
}  // namespace
}  // namespace vantrel
