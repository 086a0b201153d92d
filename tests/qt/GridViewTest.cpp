// The record grids: the selected row is the table's cursor both ways, so
// Edit and Delete act on the row the user sees selected, and a double click
// edits it.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <memory>

#include "app/MainWindow.h"
#include "app/qt/RecordTableModel.h"
#include "model/ProxyTables.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

using namespace proxy_fields;

class GridViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fill();
    grid = std::make_unique<QTableView>();
    BindGrid(grid.get(), window.mtblProxy, window.controls.DBGrid1,
             {{ProxyName, "Proxy Name"},
              {ProxyAddress, "Proxy Address"},
              {ProxyPort, "Proxy Port"},
              {NeedsAuthentication, "Auth Req"}});
    grid->resize(500, 300);
    grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  }

  void Fill() {
    window.mtblProxy.EmptyTable();
    for (int id = 1; id <= 3; ++id) {
      window.mtblProxy.Append();
      window.mtblProxy.SetInteger(ProxyID, id);
      window.mtblProxy.SetString(ProxyName, "Proxy " + std::to_string(id));
      window.mtblProxy.SetString(ProxyAddress, "10.0.0." + std::to_string(id));
      window.mtblProxy.SetInteger(ProxyPort, 3128);
      window.mtblProxy.SetBoolean(NeedsAuthentication, id == 2);
      window.mtblProxy.Post();
    }
  }

  int SelectedRow() const {
    const auto rows = grid->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.front().row() : -1;
  }
  QString Cell(int row, int column) const {
    return grid->model()->index(row, column).data().toString();
  }
  QPoint CellCentre(int row) const {
    return grid->visualRect(grid->model()->index(row, 0)).center();
  }
  void ClickRow(int row) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(row));
  }

  testsupport::ScratchFolder folder{"vantrel-grid"};
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
  std::unique_ptr<QTableView> grid;
};

TEST_F(GridViewTest, ShowsTheRecordsUnderTheirHeadings) {
  EXPECT_EQ(grid->objectName(), "DBGrid1");
  ASSERT_EQ(grid->model()->rowCount(), 3);
  ASSERT_EQ(grid->model()->columnCount(), 4);
  EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "Proxy Name");
  EXPECT_EQ(grid->model()->headerData(3, Qt::Horizontal).toString(), "Auth Req");
  EXPECT_EQ(Cell(1, 0), "Proxy 2");
  EXPECT_EQ(Cell(1, 1), "10.0.0.2");
  EXPECT_EQ(Cell(1, 2), "3128");
  EXPECT_EQ(Cell(1, 3), "True");
  EXPECT_EQ(Cell(0, 3), "False");
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(GridViewTest, SelectionAndCursorFollowEachOther) {
  // The last Post left the cursor on the third record.
  EXPECT_EQ(SelectedRow(), 2);
  ClickRow(0);
  EXPECT_EQ(window.mtblProxy.RecNo(), 0);
  EXPECT_EQ(SelectedRow(), 0);
  QTest::keyClick(grid.get(), Qt::Key_Down);
  EXPECT_EQ(window.mtblProxy.RecNo(), 1);

  window.mtblProxy.Last();
  EXPECT_EQ(SelectedRow(), 2);
  // A lookup that moves the cursor with the grid's updates suspended, as the
  // next-hop refresh does, still leaves the selection on the cursor.
  window.mtblProxy.DisableControls();
  window.mtblProxy.First();
  window.mtblProxy.Locate(ProxyID, 2);
  window.mtblProxy.EnableControls();
  EXPECT_EQ(SelectedRow(), 1);
}

TEST_F(GridViewTest, EditChangesTheSelectedRow) {
  ClickRow(1);
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText("Edited");
    dialog.Button1.Click();
  });
  window.controls.btnEdit.Click();
  EXPECT_EQ(Cell(0, 0), "Proxy 1");
  EXPECT_EQ(Cell(1, 0), "Edited");
  EXPECT_EQ(Cell(2, 0), "Proxy 3");
  EXPECT_EQ(SelectedRow(), 1);
}

TEST_F(GridViewTest, DoubleClickEditsTheRowClicked) {
  std::string shownName;
  ui.proxyScripts.push_back([&](TfrmProxyProperties& dialog) {
    shownName = dialog.dbProxyName.Text();
    dialog.Button2.Click();
  });
  // A real double click: a click, then the double-click event and release.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(0));
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(0));
  QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, CellCentre(0));
  EXPECT_EQ(shownName, "Proxy 1");
  EXPECT_EQ(ui.dialogsShown, 1);
}

TEST_F(GridViewTest, DeleteAsksAboutAndRemovesTheSelectedRow) {
  ClickRow(1);
  ui.answers.push_back(TAnswer::Yes);
  window.controls.btnDelete.Click();
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "Delete proxy \"Proxy 2\" - are you sure?");
  ASSERT_EQ(grid->model()->rowCount(), 2);
  EXPECT_EQ(Cell(0, 0), "Proxy 1");
  EXPECT_EQ(Cell(1, 0), "Proxy 3");

  // A second delete takes the row now selected, not a stale one.
  const std::string next = window.mtblProxy.AsString(ProxyName);
  ui.answers.push_back(TAnswer::No);
  window.controls.btnDelete.Click();
  EXPECT_EQ(ui.questions.back(), "Delete proxy \"" + next + "\" - are you sure?");
  EXPECT_EQ(grid->model()->rowCount(), 2);
}

TEST_F(GridViewTest, AfterADeleteCursorAndSelectionAreWhereTheTablePutsThem) {
  // The view's selection moves on its own while a row leaves; that must not
  // move the table's cursor in the middle of the deletion.
  struct Case {
    int row;
    int nextRow;
    const char* nextName;
  };
  for (const Case& c : {Case{0, 0, "Proxy 2"}, Case{1, 1, "Proxy 3"}, Case{2, 1, "Proxy 2"}}) {
    SCOPED_TRACE(c.row);
    Fill();
    ClickRow(c.row);
    ASSERT_EQ(window.mtblProxy.RecNo(), c.row);
    ui.answers.push_back(TAnswer::Yes);
    window.controls.btnDelete.Click();
    EXPECT_EQ(window.mtblProxy.RecNo(), c.nextRow);
    EXPECT_EQ(window.mtblProxy.AsString(ProxyName), c.nextName);
    EXPECT_EQ(SelectedRow(), c.nextRow);
  }
}

TEST_F(GridViewTest, AddShowsTheNewRowSelectedAndCancelLeavesTheSelection) {
  ClickRow(0);
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText("Cancelled");
    dialog.Button2.Click();
  });
  window.controls.btnAdd.Click();
  EXPECT_EQ(grid->model()->rowCount(), 3);
  EXPECT_EQ(SelectedRow(), window.mtblProxy.RecNo());

  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText("Added");
    dialog.dbProxyAddress.SetText("10.0.0.9");
    dialog.dbProxyPort.SetText("8080");
    dialog.Button1.Click();
  });
  window.controls.btnAdd.Click();
  ASSERT_EQ(grid->model()->rowCount(), 4);
  EXPECT_EQ(Cell(3, 0), "Added");
  EXPECT_EQ(SelectedRow(), 3);
  EXPECT_EQ(window.mtblProxy.RecNo(), 3);
}

TEST_F(GridViewTest, EmptyingTheTableClearsTheSelection) {
  window.mtblProxy.EmptyTable();
  EXPECT_EQ(grid->model()->rowCount(), 0);
  EXPECT_EQ(SelectedRow(), -1);
  window.mtblProxy.Append();
  window.mtblProxy.SetString(ProxyName, "Only");
  window.mtblProxy.Post();
  EXPECT_EQ(SelectedRow(), 0);
}

}  // namespace
}  // namespace vantrel
