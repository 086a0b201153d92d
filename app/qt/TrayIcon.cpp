#include "app/qt/TrayIcon.h"

#include <QAction>
#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vantrel {

namespace {

// Drawn, so the icon needs no image plugin or theme: a ring in the colour
// of the state.
QIcon StateIcon(TTrayIcon::TState state) {
  QColor colour(0x80, 0x80, 0x80);
  if (state == TTrayIcon::TState::Active) colour = QColor(0x1e, 0xa0, 0x3c);
  if (state == TTrayIcon::TState::Error) colour = QColor(0xd0, 0x20, 0x20);
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = size / 8.0;
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), size / 16.0));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(pen / 2, pen / 2, size - pen, size - pen));
    painter.setBrush(Qt::white);
    const qreal inner = size * 0.34;
    painter.drawEllipse(QRectF((size - inner) / 2, (size - inner) / 2, inner, inner));
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

TTrayIcon::TTrayIcon(QObject* parent)
    : QObject(parent),
      HostAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }),
      icon_(new QSystemTrayIcon(this)),
      menu_(new QMenu),
      hostTimer_(new QTimer(this)) {
  status_ = menu_->addAction(QStringLiteral("Vantrel"));
  menu_->addSeparator();
  start_ = menu_->addAction(QStringLiteral("Start Proxy"));
  menu_->addSeparator();
  restore_ = menu_->addAction(QStringLiteral("Restore"));
  close_ = menu_->addAction(QStringLiteral("Close"));
  status_->setObjectName(QStringLiteral("TrayStatus"));
  status_->setEnabled(false);
  start_->setObjectName(QStringLiteral("TrayStart"));
  restore_->setObjectName(QStringLiteral("Restore1"));
  close_->setObjectName(QStringLiteral("Close1"));
  // The default item; panels that draw the menu themselves may ignore it.
  QFont bold = restore_->font();
  bold.setBold(true);
  restore_->setFont(bold);
  menu_->setDefaultAction(restore_);
  icon_->setContextMenu(menu_);
  QObject::connect(restore_, &QAction::triggered, this, [this] {
    if (OnRestore) OnRestore();
  });
  QObject::connect(close_, &QAction::triggered, this, [this] {
    if (OnClose) OnClose();
  });
  QObject::connect(icon_, &QSystemTrayIcon::activated, this,
                   [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
  SetHint(QStringLiteral("Vantrel initialising"));
  icon_->show();
  hostTimer_->setInterval(3000);
  QObject::connect(hostTimer_, &QTimer::timeout, this, [this] { CheckHost(); });
  hostTimer_->start();
  CheckHost();
}

TTrayIcon::~TTrayIcon() {
  delete menu_;
}

QIcon TTrayIcon::IconFor(TState state) {
  return StateIcon(state);
}

TTrayIcon::TState TTrayIcon::StateOfHint(const QString& hint) {
  if (hint == QStringLiteral("Vantrel Active")) return TState::Active;
  if (hint.startsWith(QStringLiteral("ERROR"))) return TState::Error;
  return TState::Stopped;
}

void TTrayIcon::SetHint(const QString& hint) {
  hint_ = hint;
  state_ = StateOfHint(hint);
  icon_->setIcon(StateIcon(state_));
  icon_->setToolTip(hint);
}

void TTrayIcon::CheckHost() {
  if (trayMode_) return;
  if (!HostAvailable || !HostAvailable()) return;
  trayMode_ = true;
  hostTimer_->stop();
  icon_->show();
  if (OnTrayModeStarted) OnTrayModeStarted();
}

bool TTrayIcon::HostStillThere() {
  if (!trayMode_) return false;
  if (HostAvailable && HostAvailable()) return true;
  trayMode_ = false;
  hostTimer_->start();
  return false;
}

bool TTrayIcon::ShowMessage(const QString& title, const QString& text) {
  if (!trayMode_ || !QSystemTrayIcon::supportsMessages()) return false;
  icon_->showMessage(title, text, QSystemTrayIcon::Warning, 10000);
  return true;
}

void TTrayIcon::Activated(int reason) {
  // Some hosts send a single click as Trigger, others only a double click.
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
    if (OnRestore) OnRestore();
  }
}

}  // namespace vantrel
