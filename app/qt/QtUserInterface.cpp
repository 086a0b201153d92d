#include "app/qt/QtUserInterface.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>

#include "app/qt/PropertiesDialogs.h"
#include "app/qt/TrayIcon.h"

#ifdef VANTREL_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace vantrel {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QString kBoxTitle = QStringLiteral("Vantrel");

}  // namespace

TQtUserInterface::TQtUserInterface()
    : OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      tray_(new TTrayIcon) {}

TQtUserInterface::~TQtUserInterface() {
  delete tray_;
}

void TQtUserInterface::SetMainWidget(QWidget* widget) {
  main_ = widget;
  if (main_) main_->setWindowIcon(TTrayIcon::IconFor(tray_->State()));
}

QWidget* TQtUserInterface::BoxParent() const {
  // A hidden or iconified parent would hide the box with it.
  if (main_ && main_->isVisible() && !main_->isMinimized()) return main_;
  return nullptr;
}

TAnswer TQtUserInterface::Confirm(const std::string& question) {
  QMessageBox box(QMessageBox::Question, kBoxTitle, FromUtf8(question),
                  QMessageBox::Yes | QMessageBox::No, BoxParent());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  // Closing the box answers No.
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
}

void TQtUserInterface::ShowError(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, kBoxTitle, FromUtf8(message), QMessageBox::Ok,
                  BoxParent());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

TModalResult TQtUserInterface::ShowProxyProperties(TfrmProxyProperties& dialog) {
  return ExecProxyProperties(dialog, BoxParent());
}

TModalResult TQtUserInterface::ShowTunnelProperties(TfrmTunnelProperties& dialog) {
  return ExecTunnelProperties(dialog, BoxParent());
}

void TQtUserInterface::SetTrayHint(const std::string& hint) {
  tray_->SetHint(FromUtf8(hint));
  // The window's icon tells the same state as the tray's.
  if (main_) main_->setWindowIcon(TTrayIcon::IconFor(tray_->State()));
}

void TQtUserInterface::ShowApplication() {
  if (!main_) return;
  if (main_->isMinimized()) {
    main_->showNormal();
  } else {
    main_->show();
  }
  main_->raise();
  main_->activateWindow();
}

void TQtUserInterface::HideApplication() {
  if (!main_ || terminating_) return;
  // Without a tray host a hidden window could never come back: iconify.
  // The host may have gone since it was last seen.
  if (tray_->HostStillThere()) {
    main_->hide();
  } else {
    main_->showMinimized();
  }
}

void TQtUserInterface::OpenAddress(const std::string& address, bool /*maximised*/) {
  // The browser decides its own window size; "maximised" has no portable
  // request behind it.
  const QString text = FromUtf8(address);
  if (OpenUrl && OpenUrl(QUrl(text))) return;
  QMessageBox box(QMessageBox::Information, kBoxTitle,
                  QStringLiteral("No program to open this address was found:\n\n") + text,
                  QMessageBox::Ok, BoxParent());
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
}

void TQtUserInterface::Terminate() {
  if (terminating_) return;
  terminating_ = true;
  if (OnTerminate) OnTerminate();
  // Ends nested loops too: a box still open under us closes with them.
  QCoreApplication::exit(0);
}

void TQtUserInterface::Notify(const std::string& title, const std::string& text) {
  const QString t = FromUtf8(title);
  const QString body = FromUtf8(text);
  lastNotification_ = t + QStringLiteral(": ") + body;
  if (tray_->ShowMessage(t, body)) return;
  if (SendDesktopNotification(t, body)) return;
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

bool TQtUserInterface::SendDesktopNotification(const QString& title, const QString& text) {
#ifdef VANTREL_HAVE_QTDBUS
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << QStringLiteral("Vantrel") << 0u << QString() << title << text << QStringList()
       << QVariantMap() << -1;
  // Nobody waits for the answer: the loop must not stall on a slow daemon.
  return bus.send(call);
#else
  (void)title;
  (void)text;
  return false;
#endif
}

}  // namespace vantrel
