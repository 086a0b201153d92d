#pragma once
// The main window on screen: the status bar above the pages ("Proxy
// Status:", Start, Close, Save, Cancel), the pages, the status bar with the
// client count, the right-click menu, and the close box and minimise button,
// which hide to the tray (or iconify where there is none). Its size and
// position are kept in the user's settings.

#include <QMainWindow>
#include <functional>

class QChar;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

namespace vantrel {

class TButton;
class TfrmVantrelMain;
class TQtUserInterface;

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  TMainForm(TfrmVantrelMain& window, TQtUserInterface& ui, QWidget* parent = nullptr);
  ~TMainForm() override;

  QMenu* PopupMenu() const { return popup_; }
  QTabWidget* Pages() const { return pages_; }

  void SaveGeometry() const;
  void RestoreGeometry();

  // The close box: hide (the window's own handler decides how).
  std::function<void()> OnFormClose;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QPushButton* Button(TButton& control, QChar mnemonic);
  void AddMenuItem(TButton& control);

  TfrmVantrelMain& window_;
  TQtUserInterface& ui_;
  QTabWidget* pages_ = nullptr;
  QMenu* popup_ = nullptr;
};

}  // namespace vantrel
