#include "app/qt/RecordTableModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTableView>

#include "model/Controls.h"

namespace vantrel {

TRecordTableModel::TRecordTableModel(TRecordTable& table, std::vector<TGridColumn> columns,
                                     QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {
  for (const auto& column : columns_) fieldIndexes_.push_back(table_.FieldIndex(column.field));
  watch_ = table_.Watch([this](TTableChange change, int row) { TableChanged(change, row); });
}

int TRecordTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.RecordCount();
}

int TRecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TRecordTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= table_.RecordCount() ||
      index.column() >= static_cast<int>(columns_.size())) {
    return {};
  }
  const size_t field = fieldIndexes_[static_cast<size_t>(index.column())];
  const TFieldValue& value = table_.Row(index.row())[field];
  if (role == Qt::DisplayRole) {
    if (const auto* text = std::get_if<std::string>(&value)) return QString::fromStdString(*text);
    if (const auto* number = std::get_if<int32_t>(&value)) return QString::number(*number);
    return std::get<bool>(value) ? QStringLiteral("True") : QStringLiteral("False");
  }
  if (role == Qt::TextAlignmentRole && std::holds_alternative<int32_t>(value)) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
  }
  return {};
}

QVariant TRecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(columns_.size())) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return QString::fromStdString(columns_[static_cast<size_t>(section)].header);
}

void TRecordTableModel::TableChanged(TTableChange change, int row) {
  switch (change) {
    case TTableChange::AboutToReset:
      if (!resetting_) {
        resetting_ = true;
        beginResetModel();
      }
      return;
    case TTableChange::Reset:
      if (!resetting_) beginResetModel();
      resetting_ = false;
      endResetModel();
      break;
    case TTableChange::RowAboutToBeInserted:
      changing_ = true;
      beginInsertRows({}, row, row);
      return;
    case TTableChange::RowInserted:
      endInsertRows();
      changing_ = false;
      break;
    case TTableChange::RowAboutToBeRemoved:
      changing_ = true;
      beginRemoveRows({}, row, row);
      return;
    case TTableChange::RowRemoved:
      endRemoveRows();
      changing_ = false;
      break;
    case TTableChange::RowChanged:
      Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
      return;
    case TTableChange::CursorMoved:
    case TTableChange::StateChanged: break;
  }
  // A row being inserted sits behind the last one and shows nowhere.
  const int cursor = table_.RecNo();
  Q_EMIT CursorChanged(cursor >= 0 && cursor < table_.RecordCount() ? cursor : -1);
}

namespace {

void SyncGridState(QTableView* view, const TDBGrid& grid) {
  view->setEnabled(grid.Enabled());
  if (!grid.Visible()) {
    view->setHidden(true);
  } else if (view->isHidden() && view->parentWidget() != nullptr) {
    view->setHidden(false);
  }
  view->setToolTip(QString::fromStdString(grid.Hint()));
}

// Lives as the view's child, so the grid's subscription ends with the view.
class TGridLifetime : public QObject {
 public:
  TGridLifetime(QObject* parent, TSubscription subscription)
      : QObject(parent), subscription_(std::move(subscription)) {}

 private:
  TSubscription subscription_;
};

}  // namespace

TRecordTableModel* BindGrid(QTableView* view, TRecordTable& table, TDBGrid& grid,
                            std::vector<TGridColumn> columns) {
  view->setObjectName(QString::fromStdString(grid.Name()));
  auto* model = new TRecordTableModel(table, std::move(columns), view);
  view->setModel(model);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setTabKeyNavigation(false);
  view->setWordWrap(false);
  view->verticalHeader()->hide();
  view->horizontalHeader()->setStretchLastSection(true);
  view->horizontalHeader()->setHighlightSections(false);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);

  SyncGridState(view, grid);
  new TGridLifetime(view, grid.Views().Watch([view, &grid] { SyncGridState(view, grid); }));

  // The selection shows the cursor; while it is being set from the cursor,
  // the selection's own signals must not move the cursor back.
  auto syncing = std::make_shared<bool>(false);
  auto select = [view, syncing](int row) {
    QItemSelectionModel* selection = view->selectionModel();
    const int shown = selection->currentIndex().isValid() && selection->hasSelection()
                          ? selection->currentIndex().row()
                          : -1;
    if (shown == row) return;
    *syncing = true;
    if (row < 0) {
      selection->clear();
    } else {
      const QModelIndex at = view->model()->index(row, 0);
      selection->setCurrentIndex(at,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      view->scrollTo(at);
    }
    *syncing = false;
  };
  QObject::connect(model, &TRecordTableModel::CursorChanged, view, select);
  QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, view,
                   [&table, model, syncing](const QModelIndex& current) {
                     if (*syncing || model->Changing() || !current.isValid()) return;
                     if (table.State() != TDataSetState::Browse) return;
                     if (table.RecNo() != current.row()) table.MoveTo(current.row());
                   });
  QObject::connect(view, &QAbstractItemView::doubleClicked, view,
                   [&grid](const QModelIndex&) { grid.DblClick(); });
  const int cursor = table.RecNo();
  select(cursor >= 0 && cursor < table.RecordCount() ? cursor : -1);
  return model;
}

}  // namespace vantrel
