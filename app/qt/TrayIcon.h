#pragma once
// The notification-area icon: its hint, an icon per proxy state, the menu
// with a disabled status line, "Start Proxy"/"Stop Proxy", "Restore"
// (default) and "Close". Where no tray host runs (stock GNOME),
// the window stays reachable instead; when a host appears later, the
// program switches to tray mode.

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace vantrel {

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  enum class TState { Stopped, Active, Error };

  explicit TTrayIcon(QObject* parent = nullptr);
  ~TTrayIcon() override;

  // The hint; the icon follows the state it names.
  void SetHint(const QString& hint);
  QString Hint() const { return hint_; }
  TState State() const { return state_; }
  static TState StateOfHint(const QString& hint);
  // The drawn icon of a state; the active one is also the window's.
  static QIcon IconFor(TState state);

  // Whether a tray host showed the icon when last looked at.
  bool TrayMode() const { return trayMode_; }
  // Looks for a tray host now; the timer does it every few seconds while
  // there is none.
  void CheckHost();
  // Asks again whether the host is still there, right before the window
  // hides into it: a host that went away leaves tray mode, so the window
  // is iconified instead of lost.
  bool HostStillThere();
  // How a host is found; tests replace it.
  std::function<bool()> HostAvailable;

  // A balloon where the host shows them; false otherwise.
  bool ShowMessage(const QString& title, const QString& text);

  QMenu* Menu() const { return menu_; }
  // The first line, "Vantrel: ACTIVE on port 1080"; never enabled.
  QAction* StatusAction() const { return status_; }
  // The main button's command, under its caption.
  QAction* StartAction() const { return start_; }
  QAction* RestoreAction() const { return restore_; }
  QAction* CloseAction() const { return close_; }
  QSystemTrayIcon* Icon() const { return icon_; }

  std::function<void()> OnRestore;
  std::function<void()> OnClose;
  // Tray mode began (a host appeared after start).
  std::function<void()> OnTrayModeStarted;

 private:
  void Activated(int reason);

  QSystemTrayIcon* icon_;
  QMenu* menu_;
  QAction* status_ = nullptr;
  QAction* start_ = nullptr;
  QAction* restore_ = nullptr;
  QAction* close_ = nullptr;
  QTimer* hostTimer_;
  QString hint_;
  TState state_ = TState::Stopped;
  bool trayMode_ = false;
};

}  // namespace vantrel
