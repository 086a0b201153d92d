#pragma once
// The notification-area icon: its hint, an icon per proxy state, the menu
// "Restore" (default) and "Close". Where no tray host runs (stock GNOME),
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

  // Whether a tray host shows the icon, so hiding the window is safe.
  bool TrayMode() const { return trayMode_; }
  // Looks for a tray host now; the timer does it every few seconds.
  void CheckHost();
  // How a host is found; tests replace it.
  std::function<bool()> HostAvailable;

  // A balloon where the host shows them; false otherwise.
  bool ShowMessage(const QString& title, const QString& text);

  QMenu* Menu() const { return menu_; }
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
  QAction* restore_;
  QAction* close_;
  QTimer* hostTimer_;
  QString hint_;
  TState state_ = TState::Stopped;
  bool trayMode_ = false;
};

}  // namespace vantrel
