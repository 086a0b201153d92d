#include "app/qt/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/MainWindow.h"
#include "app/qt/ControlBinding.h"
#include "app/qt/Pages.h"
#include "app/qt/QtUserInterface.h"
#include "app/qt/TrayIcon.h"
#include "files/DataFolder.h"

namespace vantrel {

namespace {

// Kept per data folder, so two programs on two folders each open where
// they were left; the key of one folder is a digest of its path.
QString GeometryKey() {
  const QByteArray folder = QByteArray::fromStdString(DataFolder().string());
  const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex();
  return QStringLiteral("MainWindow/geometry-") + QString::fromLatin1(digest.left(16));
}

// Where one key served every folder, before.
const QString kSharedGeometryKey = QStringLiteral("MainWindow/geometry");

}  // namespace

TMainForm::TMainForm(TfrmVantrelMain& window, TQtUserInterface& ui, QWidget* parent)
    : QMainWindow(parent), window_(window), ui_(ui) {
  setObjectName(QStringLiteral("frmVantrelMain"));
  Follow(this, window_.controls.frmVantrelMain, [this] {
    setWindowTitle(QString::fromStdString(window_.controls.frmVantrelMain.Caption()));
  });
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* bar = new QHBoxLayout;
  auto* statusCaption = new QLabel(QStringLiteral("Proxy Status:"), central);
  statusCaption->setTextFormat(Qt::PlainText);
  bar->addWidget(statusCaption);
  auto* status = new QLabel(central);
  Bind(status, window_.controls.lblProxyStatus);
  QFont bold = status->font();
  bold.setBold(true);
  status->setFont(bold);
  status->setMinimumWidth(status->fontMetrics().horizontalAdvance(QStringLiteral("INACTIVE")) + 8);
  bar->addWidget(status);
  bar->addStretch(1);
  // Alt-key letters: Start/Stop, Close, Save, Cancel.
  bar->addWidget(Button(window_.controls.btnStart, QLatin1Char('s')));
  bar->addWidget(Button(window_.controls.Button1, QLatin1Char('o')));
  bar->addWidget(Button(window_.controls.btnSave, QLatin1Char('v')));
  bar->addWidget(Button(window_.controls.btnCancel, QLatin1Char('n')));
  layout->addLayout(bar);

  pages_ = BuildPages(window_, central);
  layout->addWidget(pages_, 1);
  setCentralWidget(central);

  auto* connectionsCaption = new QLabel(QStringLiteral("Connections"), this);
  connectionsCaption->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(connectionsCaption);
  auto* connections = new QLabel(this);
  Bind(connections, window_.routing.StatusBarConnections);
  connections->setMinimumWidth(
      connections->fontMetrics().horizontalAdvance(QStringLiteral("000000")));
  statusBar()->addWidget(connections);
  auto* problem = new QLabel(this);
  Bind(problem, window_.StatusBarProblem);
  statusBar()->addWidget(problem, 1);
  statusBar()->setSizeGripEnabled(true);

  // Ctrl+S is "Save Changes", while it is enabled.
  auto* save = new QShortcut(QKeySequence::Save, this);
  QObject::connect(save, &QShortcut::activated, this, [this] { window_.controls.btnSave.Click(); });

  popup_ = new QMenu(this);
  popup_->setObjectName(QStringLiteral("PopupMenu1"));
  AddMenuItem(window_.totals.ClearTotals1);
  popup_->addSeparator();
  AddMenuItem(window_.totals.ClearLocalHosts1);
  AddMenuItem(window_.totals.ClearInternationalHosts1);

  // A tray host that appears later takes over an iconified window.
  ui_.Tray().OnTrayModeStarted = [this] {
    if (isMinimized()) ui_.HideApplication();
  };
}

TMainForm::~TMainForm() {
  ui_.Tray().OnTrayModeStarted = nullptr;
}

QPushButton* TMainForm::Button(TButton& control, QChar mnemonic) {
  auto* button = new QPushButton(this);
  Bind(button, control);
  SetMnemonic(button, mnemonic);
  return button;
}

void TMainForm::AddMenuItem(TButton& control) {
  QAction* action = popup_->addAction(QString::fromStdString(control.Caption()));
  action->setObjectName(QString::fromStdString(control.Name()));
  QObject::connect(action, &QAction::triggered, this, [&control] { control.Click(); });
  Follow(action, control, [action, &control] {
    action->setText(QString::fromStdString(control.Caption()));
    action->setEnabled(control.Enabled());
    action->setVisible(control.Visible());
  });
}

void TMainForm::SaveGeometry() const {
  QSettings settings;
  settings.setValue(GeometryKey(), saveGeometry());
}

void TMainForm::RestoreGeometry() {
  QSettings settings;
  const QByteArray geometry =
      settings.value(GeometryKey(), settings.value(kSharedGeometryKey)).toByteArray();
  if (geometry.isEmpty() || !restoreGeometry(geometry)) resize(780, 580);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (ui_.Terminating()) {
    event->accept();
    return;
  }
  // The close box closes nothing: the window goes to the tray (or the task
  // bar where there is no tray).
  event->ignore();
  if (OnFormClose) {
    OnFormClose();
  } else {
    ui_.HideApplication();
  }
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  if (!isMinimized() || !ui_.Tray().TrayMode() || ui_.Terminating()) return;
  // Hiding inside the state change confuses some window managers.
  QTimer::singleShot(0, this, [this] {
    if (isMinimized()) ui_.HideApplication();
  });
}

void TMainForm::contextMenuEvent(QContextMenuEvent* event) {
  popup_->popup(event->globalPos());
  event->accept();
}

}  // namespace vantrel
