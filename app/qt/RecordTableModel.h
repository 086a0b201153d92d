#pragma once
// A read-only grid over a record table. The selected row is the table's
// cursor, both ways, so commands act on the row the user sees selected.

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "model/Notifier.h"
#include "model/RecordTable.h"

class QTableView;

namespace vantrel {

class TDBGrid;

struct TGridColumn {
  std::string field;
  std::string header;
};

class TRecordTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  TRecordTableModel(TRecordTable& table, std::vector<TGridColumn> columns,
                    QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  TRecordTable& Table() { return table_; }
  // Between a table's "about to" and its change: the selection moves on its
  // own then and must not be taken for the user's.
  bool Changing() const { return resetting_ || changing_; }

 Q_SIGNALS:
  // The row a view should select: the cursor, -1 for none. Sent when the
  // cursor moves and after rows changed under it.
  void CursorChanged(int row);

 private:
  void TableChanged(TTableChange change, int row);

  TRecordTable& table_;
  std::vector<TGridColumn> columns_;
  std::vector<size_t> fieldIndexes_;
  bool resetting_ = false;
  bool changing_ = false;
  TSubscription watch_;
};

// Shows the table in the view: no editing, whole-row single selection,
// selection and cursor kept together, double click runs the grid's
// DblClick. The view's objectName becomes the grid's name.
TRecordTableModel* BindGrid(QTableView* view, TRecordTable& table, TDBGrid& grid,
                            std::vector<TGridColumn> columns);

}  // namespace vantrel
