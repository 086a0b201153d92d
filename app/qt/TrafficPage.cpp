#include "app/qt/TrafficPage.h"

#include <QAbstractTableModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "app/MainWindow.h"
#include "app/qt/PageWidgets.h"
#include "app/qt/TrafficGraph.h"

namespace vantrel {

namespace {

// One locality's hosts as two columns, host and bytes, in the order the
// totals give them. A refresh that keeps the order only repaints figures,
// so selection and scrolling stay where the user left them.
class THostTableModel : public QAbstractTableModel {
 public:
  THostTableModel(TTrafficTotals& totals, bool international, QObject* parent)
      : QAbstractTableModel(parent), totals_(totals), international_(international) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const THostRow& row = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
      return index.column() == 0 ? QString::fromStdString(row.host)
                                 : QString::fromStdString(totals_.FormatBytes(row.bytes));
    }
    if (role == Qt::TextAlignmentRole && index.column() == 1) {
      return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("Host") : QStringLiteral("Bytes");
  }

  void Refresh() {
    std::vector<THostRow> fresh = totals_.HostRows(international_);
    bool sameOrder = fresh.size() == rows_.size();
    for (size_t i = 0; sameOrder && i < fresh.size(); ++i) {
      sameOrder = fresh[i].host == rows_[i].host;
    }
    if (!sameOrder) {
      beginResetModel();
      rows_ = std::move(fresh);
      endResetModel();
      return;
    }
    // One signal for the rows that changed, not one per row.
    int first = -1;
    int last = -1;
    for (size_t i = 0; i < fresh.size(); ++i) {
      if (fresh[i].bytes == rows_[i].bytes) continue;
      rows_[i].bytes = fresh[i].bytes;
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
    }
    if (first >= 0) Q_EMIT dataChanged(index(first, 1), index(last, 1), {Qt::DisplayRole});
  }

 private:
  TTrafficTotals& totals_;
  bool international_;
  std::vector<THostRow> rows_;
};

// Catches up with the figures whenever it comes on screen.
class THostListView : public QTreeView {
 public:
  THostListView(THostTableModel* model, QWidget* parent) : QTreeView(parent), model_(model) {
    model_->setParent(this);
    setModel(model_);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    model_->Refresh();
    QTreeView::showEvent(event);
  }

 private:
  THostTableModel* model_;
};

QTreeView* HostList(TTrafficTotals& totals, TListBox& hosts, bool international,
                    QWidget* parent) {
  auto* model = new THostTableModel(totals, international, nullptr);
  auto* view = new THostListView(model, parent);
  view->setObjectName(QString::fromStdString(hosts.Name()));
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setItemsExpandable(false);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->header()->setStretchLastSection(false);
  view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  view->header()->setSectionResizeMode(1, QHeaderView::Fixed);
  view->header()->resizeSection(
      1, view->fontMetrics().horizontalAdvance(QStringLiteral("000,000,000,000")) + 12);
  // Figures change with every block relayed: the list catches up once a
  // second while it is on screen, at once when a host comes or goes.
  auto refresh = [view, model] {
    if (view->isVisible()) model->Refresh();
  };
  Follow(view, hosts, refresh);
  auto* timer = new QTimer(view);
  timer->setInterval(1000);
  timer->setTimerType(Qt::CoarseTimer);
  QObject::connect(timer, &QTimer::timeout, view, refresh);
  timer->start();
  model->Refresh();
  return view;
}

// One locality of the Traffic page: the three totals, the hidden per-class
// figures, then the host list and its switch.
QGroupBox* TrafficGroup(TfrmVantrelMain& window, const QString& title,
                        std::array<TLabel*, 3> totals, std::array<TLabel*, 6> perClass,
                        TCheckBox& show, QChar mnemonic, TListBox& hosts, bool international,
                        QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(group);
  auto* figures = new QGridLayout;
  const QString captions[] = {QStringLiteral("Bytes Received"), QStringLiteral("Bytes Sent"),
                              QStringLiteral("Total Bytes")};
  for (int i = 0; i < 3; ++i) {
    figures->addWidget(Text(captions[i], group), i, 0);
    auto* value = Bound<QLabel>(*totals[static_cast<size_t>(i)], group);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Room for a large figure, so a growing number does not move the page.
    value->setMinimumWidth(
        value->fontMetrics().horizontalAdvance(QStringLiteral("0,000,000,000,000")));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures->addWidget(value, i, 1);
  }
  // Per class: received then sent, for HTTP, SSL and the others. The model
  // keeps them hidden; their headings go with them.
  const QString classes[] = {QStringLiteral("HTTP (80)"), QStringLiteral("SSL (443)"),
                             QStringLiteral("All Others")};
  for (int i = 0; i < 3; ++i) {
    QLabel* heading = Text(classes[i], group);
    heading->setObjectName(QStringLiteral("lblClass%1").arg(i));
    TLabel& received = *perClass[static_cast<size_t>(i)];
    TLabel& sent = *perClass[static_cast<size_t>(i) + 3];
    Follow(heading, received, [heading, &received] { heading->setHidden(!received.Visible()); });
    figures->addWidget(heading, 3 + i, 0);
    figures->addWidget(Bound<QLabel>(received, group), 3 + i, 1);
    figures->addWidget(Bound<QLabel>(sent, group), 3 + i, 2);
  }
  figures->setColumnStretch(2, 1);
  layout->addLayout(figures);

  layout->addWidget(Box(show, mnemonic, group));
  auto* listBox = new QGroupBox(QString::fromStdString(hosts.Caption()), group);
  listBox->setObjectName(QStringLiteral("gb_") + QString::fromStdString(hosts.Name()));
  auto* listLayout = new QVBoxLayout(listBox);
  listLayout->addWidget(HostList(window.totals, hosts, international, listBox));
  // The list's box goes with the list when the switch hides it.
  Follow(listBox, hosts, [listBox, &hosts] { listBox->setHidden(!hosts.Visible()); });
  layout->addWidget(listBox, 1);
  // Takes the room of a hidden list, so the figures and the switch stay
  // where they are.
  layout->addStretch(0);
  return group;
}

}  // namespace

QWidget* TrafficPage(TfrmVantrelMain& window, QWidget* parent) {
  TTrafficTotals& t = window.totals;
  TMainControls& c = window.controls;
  auto* page = new QWidget(parent);
  page->setObjectName(QStringLiteral("tsTraffic"));
  auto* layout = new QVBoxLayout(page);
  auto* groups = new QHBoxLayout;
  groups->addWidget(TrafficGroup(
      window, QStringLiteral("Local Internet"),
      {&t.lblLocalBytesRTotal, &t.lblLocalBytesSTotal, &t.lblLocalBytesAllTotal},
      {&t.lblLocalBytesRHTTP, &t.lblLocalBytesRSSL, &t.lblLocalBytesROTHER, &t.lblLocalBytesSHTTP,
       &t.lblLocalBytesSSSL, &t.lblLocalBytesSOTHER},
      c.cbShowLocalHosts, QLatin1Char('h'), c.lbLocal, false, page));
  groups->addWidget(TrafficGroup(
      window, QStringLiteral("International Internet"),
      {&t.lblIntBytesRTotal, &t.lblIntBytesSTotal, &t.lblIntBytesAllTotal},
      {&t.lblIntBytesRHTTP, &t.lblIntBytesRSSL, &t.lblIntBytesROTHER, &t.lblIntBytesSHTTP,
       &t.lblIntBytesSSSL, &t.lblIntBytesSOTHER},
      c.cbShowIntHosts, QLatin1Char('i'), c.lbInternational, true, page));
  layout->addLayout(groups, 1);
  auto* graphBox = new QGroupBox(QStringLiteral("Bytes per second, last 10 minutes"), page);
  auto* graphLayout = new QVBoxLayout(graphBox);
  graphLayout->addWidget(new TTrafficGraph(window.history, graphBox));
  layout->addWidget(graphBox);
  return page;
}

}  // namespace vantrel
