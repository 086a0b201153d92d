#include "app/qt/LogView.h"

#include <QAbstractListModel>
#include <QClipboard>
#include <QColor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <vector>

#include "app/ScreenLog.h"
#include "model/Controls.h"

namespace vantrel {

namespace {

// Updates wait this long, so a busy proxy repaints a few times a second
// instead of once per line.
constexpr int kFlushMs = 50;

// Where an entry's screen lines lie in its text: breaks at CR LF, CR or LF,
// and a final break opens no line, as the log counts them.
struct TLineSpan {
  uint32_t offset;
  uint32_t length;
};

void SplitLines(const std::string& text, std::vector<TLineSpan>& spans) {
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    spans.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(i - start)});
    i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size() || text.empty() || spans.empty()) {
    spans.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(text.size() - start)});
  }
}

}  // namespace

// Rows point into the log's own entries; the text is never copied.
class TLogView::Model : public QAbstractListModel {
 public:
  Model(TScreenLog& log, QObject* parent) : QAbstractListModel(parent), log_(log) {
    AppendSince(0, false);
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const TLogEntry* entry = EntryOf(rows_[static_cast<size_t>(index.row())].id);
    // An evicted entry's row stays until the next flush removes it: blank.
    if (entry == nullptr) return {};
    if (role == Qt::DisplayRole) return LineText(index.row(), *entry);
    if (role == Qt::ForegroundRole) {
      return QColor(entry->colour.r, entry->colour.g, entry->colour.b);
    }
    if (role == Qt::BackgroundRole && Matches(index.row())) return QColor(0xff, 0xee, 0x80);
    return {};
  }

  // Painting asks only for the rows on screen, so testing there costs
  // nothing while the log grows.
  void SetFindText(const QString& text) {
    if (findText_ == text) return;
    findText_ = text;
    if (!rows_.empty()) {
      Q_EMIT dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1),
                         {Qt::BackgroundRole});
    }
  }

  bool Matches(int row) const {
    return !findText_.isEmpty() && LineText(row).contains(findText_, Qt::CaseInsensitive);
  }

  QString LineText(int row) const {
    const TLogEntry* entry = EntryOf(rows_[static_cast<size_t>(row)].id);
    return entry == nullptr ? QString() : LineText(row, *entry);
  }

  // Rows whose entries left the ring; they lead the list.
  void Evicting(const TLogEntry& entry) {
    while (evicted_ < rows_.size() && rows_[evicted_].id == entry.id) ++evicted_;
  }

  void Cleared() {
    beginResetModel();
    rows_.clear();
    evicted_ = 0;
    shownThrough_ = log_.LastId();
    endResetModel();
  }

  // Returns how many rows left the top.
  int RemoveEvicted() {
    if (evicted_ == 0) return 0;
    const int count = static_cast<int>(evicted_);
    beginRemoveRows({}, 0, count - 1);
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(evicted_));
    evicted_ = 0;
    endRemoveRows();
    return count;
  }

  void AppendNew() { AppendSince(shownThrough_, true); }

  bool HasNew() const { return log_.LastId() > shownThrough_; }

 private:
  struct TRow {
    uint64_t id;
    TLineSpan span;
  };

  const TLogEntry* EntryOf(uint64_t id) const {
    const auto& entries = log_.Entries();
    if (entries.empty() || id < entries.front().id) return nullptr;
    const uint64_t at = id - entries.front().id;
    if (at >= entries.size()) return nullptr;
    return &entries[static_cast<size_t>(at)];
  }

  QString LineText(int row, const TLogEntry& entry) const {
    const TLineSpan& span = rows_[static_cast<size_t>(row)].span;
    // Latin-1 keeps one character per byte, so hex dumps stay in columns.
    return QString::fromLatin1(entry.text.data() + span.offset,
                               static_cast<qsizetype>(span.length));
  }

  void AppendSince(uint64_t after, bool announce) {
    const auto& entries = log_.Entries();
    if (entries.empty() || entries.back().id <= after) {
      shownThrough_ = std::max(shownThrough_, log_.LastId());
      return;
    }
    const uint64_t first = std::max(after + 1, entries.front().id);
    std::vector<TRow> fresh;
    std::vector<TLineSpan> spans;
    for (size_t at = static_cast<size_t>(first - entries.front().id); at < entries.size(); ++at) {
      spans.clear();
      SplitLines(entries[at].text, spans);
      for (const TLineSpan& span : spans) fresh.push_back({entries[at].id, span});
    }
    const int begin = static_cast<int>(rows_.size());
    if (announce) beginInsertRows({}, begin, begin + static_cast<int>(fresh.size()) - 1);
    rows_.insert(rows_.end(), fresh.begin(), fresh.end());
    shownThrough_ = entries.back().id;
    if (announce) endInsertRows();
  }

  TScreenLog& log_;
  QString findText_;
  std::deque<TRow> rows_;
  size_t evicted_ = 0;
  uint64_t shownThrough_ = 0;
};

TLogView::TLogView(TScreenLog& log, TCheckBox& autoScroll, QWidget* parent)
    : QListView(parent), model_(new Model(log, this)), autoScroll_(autoScroll) {
  setObjectName(QStringLiteral("memStatus"));
  setModel(model_);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // Black, green and blue lines need a light ground, whatever the theme.
  QPalette colours = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, Qt::white);
    colours.setColor(group, QPalette::AlternateBase, Qt::white);
    colours.setColor(group, QPalette::Text, Qt::black);
  }
  setPalette(colours);
  setAutoFillBackground(true);

  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  timer_->setInterval(kFlushMs);
  connect(timer_, &QTimer::timeout, this, &TLogView::Flush);
  // The user's own scrolling: away from the end pauses, back at it resumes.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!scrolling_) paused_ = value < verticalScrollBar()->maximum();
  });

  logWatch_ = log.Watch([this](TScreenLogEvent event, const TLogEntry& entry) {
    switch (event) {
      case TScreenLogEvent::Added: break;
      case TScreenLogEvent::Evicting: model_->Evicting(entry); break;
      case TScreenLogEvent::Cleared: model_->Cleared(); return;
      case TScreenLogEvent::ScrollToEnd: scrollPending_ = true; break;
    }
    if (!timer_->isActive()) timer_->start();
  });
  // Checking Auto Scroll is a request for the end, also after a pause.
  autoScrollWatch_ = autoScroll.Views().Watch([this] {
    if (autoScroll_.Checked()) {
      scrollPending_ = true;
      paused_ = false;
    }
    if (!timer_->isActive()) timer_->start();
  });
}

TLogView::~TLogView() = default;

int TLogView::RowCount() const {
  return model_->rowCount({});
}

QString TLogView::LineText(int row) const {
  return model_->LineText(row);
}

void TLogView::Flush() {
  timer_->stop();
  // The range must be the current one before it is read or set.
  executeDelayedItemsLayout();
  QScrollBar* bar = verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  const int before = bar->value();
  const QScopedValueRollback<bool> ours(scrolling_, true);
  const int removed = model_->RemoveEvicted();
  model_->AppendNew();
  executeDelayedItemsLayout();
  // A log line asks for the end; a user reading further up is not moved.
  const bool follow = autoScroll_.Checked() && !paused_ && (scrollPending_ || atEnd);
  scrollPending_ = false;
  if (follow) {
    scrollToBottom();
  } else if (removed > 0) {
    // Lines leaving the top must not move the lines the user is reading.
    bar->setValue(std::max(0, before - removed));
  }
}

void TLogView::SetFindText(const QString& text) {
  findText_ = text;
  model_->SetFindText(text);
}

int TLogView::MatchCount() const {
  int count = 0;
  for (int row = 0; row < model_->rowCount({}); ++row) count += model_->Matches(row) ? 1 : 0;
  return count;
}

int TLogView::FindNext(bool backwards) {
  const int rows = model_->rowCount({});
  if (findText_.isEmpty() || rows == 0) return -1;
  const int from = currentIndex().isValid() ? currentIndex().row() : (backwards ? rows : -1);
  for (int step = 1; step <= rows; ++step) {
    const int row = ((backwards ? from - step : from + step) % rows + rows) % rows;
    if (!model_->Matches(row)) continue;
    const QModelIndex at = model_->index(row);
    setCurrentIndex(at);
    // Showing a line further up is the user's move: Auto Scroll waits.
    scrollTo(at, QAbstractItemView::PositionAtCenter);
    return row;
  }
  return -1;
}

QString TLogView::SelectedText() const {
  QModelIndexList selected = selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  lines.reserve(selected.size());
  for (const QModelIndex& index : selected) lines.push_back(model_->LineText(index.row()));
  return lines.join(QLatin1Char('\n'));
}

void TLogView::showEvent(QShowEvent* event) {
  QListView::showEvent(event);
  // A hidden page gets its size only now, so the end it scrolled to while
  // hidden is not the end any more.
  if (autoScroll_.Checked()) {
    scrollPending_ = true;
    if (!timer_->isActive()) timer_->start();
  }
}

void TLogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    QGuiApplication::clipboard()->setText(SelectedText());
    event->accept();
    return;
  }
  QListView::keyPressEvent(event);
}

}  // namespace vantrel
