#pragma once
// A read-only grid over a record table. The selected row is the table's
// cursor, both ways, so commands act on the row the user sees selected.

#include <QAbstractTableModel>
#include <string>
#include <vector>

class QTableView;

namespace vantrel {

class TDBGrid;
class TRecordTable;

struct TGridColumn {
  std::string field;
  std::string header;
};

class TRecordTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  TRecordTableModel(TRecordTable& table, std::vector<TGridColumn> columns,
                    QObject* parent = nullptr);
  ~TRecordTableModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  TRecordTable& Table() { return table_; }

 Q_SIGNALS:
  // The table's cursor moved, or rows changed under it.
  void CursorChanged(int row);

 private:
  struct Impl;
  TRecordTable& table_;
  std::vector<TGridColumn> columns_;
  Impl* impl_;
};

// Shows the table in the view: no editing, whole-row single selection,
// selection and cursor kept together, double click runs the grid's
// DblClick. The view's objectName becomes the grid's name.
TRecordTableModel* BindGrid(QTableView* view, TRecordTable& table, TDBGrid& grid,
                            std::vector<TGridColumn> columns);

}  // namespace vantrel
