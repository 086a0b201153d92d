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
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/MainWindow.h"
#include "app/TrafficHistory.h"
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

// The page: one tick a second takes the graph's sample and, while the page
// is on screen, brings the lists, the figures and the graph up to date in
// the same turn of the loop, so that Qt paints the page once a second.
// Hidden or minimised, the sample is all there is to do.
class TTrafficPageWidget : public QWidget {
 public:
  TTrafficPageWidget(TTrafficHistory& history, QWidget* parent)
      : QWidget(parent), history_(history) {
    auto* timer = new QTimer(this);
    timer->setInterval(1000);
    timer->setTimerType(Qt::CoarseTimer);
    connect(timer, &QTimer::timeout, this, [this] {
      history_.Sample();
      if (isVisible() && !window()->isMinimized()) Refresh();
    });
    timer->start();
  }

  void OnRefresh(std::function<void()> refresh) { refreshes_.push_back(std::move(refresh)); }

 protected:
  // Catches up whenever it comes on screen.
  void showEvent(QShowEvent* event) override {
    Refresh();
    QWidget::showEvent(event);
  }

 private:
  void Refresh() {
    for (const auto& refresh : refreshes_) refresh();
  }

  TTrafficHistory& history_;
  std::vector<std::function<void()>> refreshes_;
};

QTreeView* HostList(TTrafficPageWidget& page, TTrafficTotals& totals, TListBox& hosts,
                    bool international, QWidget* parent) {
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
  // Figures change with every block relayed: the list catches up on the
  // page's tick, at once when a host comes or goes.
  auto refresh = [view, model] {
    if (view->isVisible()) model->Refresh();
  };
  Follow(view, hosts, refresh);
  page.OnRefresh(refresh);
  model->Refresh();
  return view;
}

// One of the six totals. It moves with every block relayed, so it is shown
// on the page's tick. Its size is fixed: a new text then repaints the label
// alone, where a label free to grow would lay out the whole window again.
QLabel* Figure(TTrafficPageWidget& page, TLabel& figure, QWidget* parent) {
  auto* label = new QLabel(parent);
  BindPaced(label, figure);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Room for a large figure; a larger one widens the label.
  const QString room = QStringLiteral("0,000,000,000,000");
  label->setFixedSize(label->fontMetrics().horizontalAdvance(room), label->sizeHint().height());
  page.OnRefresh([label, &figure, fits = room.size()]() mutable {
    const QString before = label->text();
    ShowCaption(label, figure);
    // A selectable text is laid out lazily and asks for a second repaint
    // when it is; laid out now, that request joins this turn's paint.
    if (label->text() != before) (void)label->sizeHint();
    if (label->text().size() <= fits) return;
    // Digits are the widest characters a figure has.
    fits = label->text().size();
    label->setFixedWidth(
        label->fontMetrics().horizontalAdvance(QString(fits, QLatin1Char('0'))));
  });
  return label;
}

// One locality of the Traffic page: the three totals, the hidden per-class
// figures, then the host list and its switch.
QGroupBox* TrafficGroup(TTrafficPageWidget& page, TTrafficTotals& totals, const QString& title,
                        std::array<TLabel*, 3> figures, std::array<TLabel*, 6> perClass,
                        TCheckBox& show, QChar mnemonic, TListBox& hosts, bool international,
                        QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(group);
  auto* grid = new QGridLayout;
  const QString captions[] = {QStringLiteral("Bytes Received"), QStringLiteral("Bytes Sent"),
                              QStringLiteral("Total Bytes")};
  for (int i = 0; i < 3; ++i) {
    grid->addWidget(Text(captions[i], group), i, 0);
    grid->addWidget(Figure(page, *figures[static_cast<size_t>(i)], group), i, 1);
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
    grid->addWidget(heading, 3 + i, 0);
    grid->addWidget(Bound<QLabel>(received, group), 3 + i, 1);
    grid->addWidget(Bound<QLabel>(sent, group), 3 + i, 2);
  }
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);

  layout->addWidget(Box(show, mnemonic, group));
  auto* listBox = new QGroupBox(QString::fromStdString(hosts.Caption()), group);
  listBox->setObjectName(QStringLiteral("gb_") + QString::fromStdString(hosts.Name()));
  auto* listLayout = new QVBoxLayout(listBox);
  listLayout->addWidget(HostList(page, totals, hosts, international, listBox));
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
  auto* page = new TTrafficPageWidget(window.history, parent);
  page->setObjectName(QStringLiteral("tsTraffic"));
  auto* layout = new QVBoxLayout(page);
  auto* groups = new QHBoxLayout;
  groups->addWidget(TrafficGroup(
      *page, t, QStringLiteral("Local Internet"),
      {&t.lblLocalBytesRTotal, &t.lblLocalBytesSTotal, &t.lblLocalBytesAllTotal},
      {&t.lblLocalBytesRHTTP, &t.lblLocalBytesRSSL, &t.lblLocalBytesROTHER, &t.lblLocalBytesSHTTP,
       &t.lblLocalBytesSSSL, &t.lblLocalBytesSOTHER},
      c.cbShowLocalHosts, QLatin1Char('h'), c.lbLocal, false, page));
  groups->addWidget(TrafficGroup(
      *page, t, QStringLiteral("International Internet"),
      {&t.lblIntBytesRTotal, &t.lblIntBytesSTotal, &t.lblIntBytesAllTotal},
      {&t.lblIntBytesRHTTP, &t.lblIntBytesRSSL, &t.lblIntBytesROTHER, &t.lblIntBytesSHTTP,
       &t.lblIntBytesSSSL, &t.lblIntBytesSOTHER},
      c.cbShowIntHosts, QLatin1Char('i'), c.lbInternational, true, page));
  layout->addLayout(groups, 1);
  auto* graphBox = new QGroupBox(QStringLiteral("Bytes per second, last 10 minutes"), page);
  auto* graphLayout = new QVBoxLayout(graphBox);
  auto* graph = new TTrafficGraph(window.history, graphBox);
  graphLayout->addWidget(graph);
  page->OnRefresh([graph] { graph->update(); });
  layout->addWidget(graphBox);
  return page;
}

}  // namespace vantrel
