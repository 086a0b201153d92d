#pragma once
// The user-interface port on screen: Yes/No message boxes, error boxes, the
// record dialogs, the tray hint, showing and hiding the window (iconified
// where no tray host runs), web and mail addresses, notifications, and the
// end of the application's loop.

#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "model/UserInterface.h"

class QWidget;

namespace vantrel {

class TTrayIcon;

class TQtUserInterface : public TUserInterface {
 public:
  TQtUserInterface();
  ~TQtUserInterface() override;

  // The main window, once built; boxes and dialogs are centred on it. Its
  // icon follows the tray's state from here on.
  void SetMainWidget(QWidget* widget);
  QWidget* MainWidget() const { return main_; }
  TTrayIcon& Tray() { return *tray_; }

  TAnswer Confirm(const std::string& question) override;
  void ShowError(const std::string& message) override;
  TModalResult ShowProxyProperties(TfrmProxyProperties& dialog) override;
  TModalResult ShowTunnelProperties(TfrmTunnelProperties& dialog) override;
  void SetTrayHint(const std::string& hint) override;
  void ShowApplication() override;
  void HideApplication() override;
  void OpenAddress(const std::string& address, bool maximised) override;
  void Terminate() override;
  void Notify(const std::string& title, const std::string& text) override;

  // Set by Terminate: the window may close now, and nothing hides it.
  bool Terminating() const { return terminating_; }

  // How addresses are opened; tests replace it. False: no launcher.
  std::function<bool(const QUrl&)> OpenUrl;
  // Runs before the loop is told to end (saves the window's geometry).
  std::function<void()> OnTerminate;
  // The last notification sent, by whichever way it went.
  QString LastNotification() const { return lastNotification_; }

 private:
  QWidget* BoxParent() const;
  bool SendDesktopNotification(const QString& title, const QString& text);

  QPointer<QWidget> main_;
  TTrayIcon* tray_;
  bool terminating_ = false;
  QString lastNotification_;
};

}  // namespace vantrel
