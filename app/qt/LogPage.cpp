#include "app/qt/LogPage.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "app/MainWindow.h"
#include "app/qt/LogView.h"
#include "app/qt/PageWidgets.h"
#include "files/FileIO.h"

namespace vantrel {

namespace {

// The find bar's edit: Enter steps down, Shift+Enter up, Escape closes.
class TFindEdit : public QLineEdit {
 public:
  TFindEdit(QWidget* parent, std::function<void(bool backwards)> step,
            std::function<void()> close)
      : QLineEdit(parent), step_(std::move(step)), close_(std::move(close)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      step_((event->modifiers() & Qt::ShiftModifier) != 0);
      return;
    }
    if (event->key() == Qt::Key_Escape) {
      close_();
      return;
    }
    QLineEdit::keyPressEvent(event);
  }

 private:
  std::function<void(bool)> step_;
  std::function<void()> close_;
};

}  // namespace

TLogPage::TLogPage(TfrmVantrelMain& window, QWidget* parent)
    : QWidget(parent),
      ChooseFile([](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save Log As"),
                                            QStringLiteral("vantrel.log"));
      }),
      window_(window) {
  setObjectName(QStringLiteral("tsLogging"));
  TMainControls& c = window.controls;
  auto* layout = new QVBoxLayout(this);
  auto* switches = new QHBoxLayout;
  const std::pair<TCheckBox*, char> boxes[] = {{&c.cbLogging, 'r'},
                                               {&c.cbDebug, 'd'},
                                               {&c.cbWriteLog, 'k'},
                                               {&c.cbDetailedLog, 'e'},
                                               {&c.cbAutoScroll, 'u'}};
  for (const auto& [box, mnemonic] : boxes) {
    switches->addWidget(Box(*box, QLatin1Char(mnemonic), this));
  }
  switches->addStretch(1);
  switches->addWidget(Bound<QPushButton>(c.btnClearLog, this));
  auto* save = new QPushButton(QStringLiteral("Save Log As..."), this);
  save->setObjectName(QStringLiteral("btnSaveLogAs"));
  connect(save, &QPushButton::clicked, this, &TLogPage::SaveLogAs);
  switches->addWidget(save);
  layout->addLayout(switches);

  findBar_ = new QWidget(this);
  findBar_->setObjectName(QStringLiteral("FindBar"));
  auto* find = new QHBoxLayout(findBar_);
  find->setContentsMargins(0, 0, 0, 0);
  find->addWidget(Text(QStringLiteral("Find:"), findBar_));
  findEdit_ = new TFindEdit(
      findBar_, [this](bool backwards) { Find(backwards); }, [this] { findBar_->hide(); });
  findEdit_->setObjectName(QStringLiteral("edFind"));
  findEdit_->setClearButtonEnabled(true);
  find->addWidget(findEdit_, 1);
  auto* previous = new QToolButton(findBar_);
  previous->setArrowType(Qt::UpArrow);
  previous->setToolTip(QStringLiteral("Previous match (Shift+Enter)"));
  auto* next = new QToolButton(findBar_);
  next->setArrowType(Qt::DownArrow);
  next->setToolTip(QStringLiteral("Next match (Enter)"));
  find->addWidget(previous);
  find->addWidget(next);
  matches_ = Text(QString(), findBar_);
  matches_->setObjectName(QStringLiteral("lblMatches"));
  find->addWidget(matches_);
  auto* close = new QToolButton(findBar_);
  close->setText(QStringLiteral("Close"));
  find->addWidget(close);
  connect(previous, &QToolButton::clicked, this, [this] { Find(true); });
  connect(next, &QToolButton::clicked, this, [this] { Find(false); });
  connect(close, &QToolButton::clicked, findBar_, &QWidget::hide);
  connect(findEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    view_->SetFindText(text);
    ShowMatches();
  });
  findBar_->hide();
  layout->addWidget(findBar_);

  view_ = new TLogView(window.memStatus, c.cbAutoScroll, this);
  layout->addWidget(view_, 1);

  auto* open = new QShortcut(QKeySequence::Find, this);
  open->setContext(Qt::WidgetWithChildrenShortcut);
  connect(open, &QShortcut::activated, this, &TLogPage::ShowFindBar);
}

void TLogPage::ShowFindBar() {
  findBar_->show();
  findEdit_->setFocus(Qt::ShortcutFocusReason);
  findEdit_->selectAll();
  ShowMatches();
}

void TLogPage::Find(bool backwards) {
  view_->Flush();
  view_->FindNext(backwards);
  ShowMatches();
}

void TLogPage::ShowMatches() {
  if (view_->FindText().isEmpty()) {
    matches_->clear();
    return;
  }
  const int count = view_->MatchCount();
  matches_->setText(count == 0   ? QStringLiteral("No matching line")
                    : count == 1 ? QStringLiteral("1 line")
                                 : QStringLiteral("%1 lines").arg(count));
}

void TLogPage::SaveLogAs() {
  const QString file = ChooseFile ? ChooseFile(this) : QString();
  if (file.isEmpty()) return;
  std::string error;
  // Data lines may hold what clients sent: readable by the user only.
  if (!WriteFileAtomically(file.toStdString(), window_.memStatus.Text(), error, 0600)) {
    window_.ui.ShowError("Unable to write to " + file.toStdString() + ": " + error);
  }
}

}  // namespace vantrel
