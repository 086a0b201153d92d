#pragma once
// The Logging page: the five switches and "Clear Log", a find bar (Ctrl+F)
// over the screen log, the log itself and "Save Log As...".

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;

namespace vantrel {

class TLogView;
class TfrmVantrelMain;

class TLogPage : public QWidget {
  Q_OBJECT
 public:
  TLogPage(TfrmVantrelMain& window, QWidget* parent = nullptr);

  TLogView* View() const { return view_; }
  QWidget* FindBar() const { return findBar_; }
  // Opens the find bar with its text selected, as Ctrl+F does.
  void ShowFindBar();
  // "Save Log As...": the shown lines to the chosen file.
  void SaveLogAs();

  // Asks for the file to write; empty when the user cancels. Tests replace
  // it.
  std::function<QString(QWidget* parent)> ChooseFile;

 private:
  void Find(bool backwards);
  void ShowMatches();

  TfrmVantrelMain& window_;
  TLogView* view_ = nullptr;
  QWidget* findBar_ = nullptr;
  QLineEdit* findEdit_ = nullptr;
  QLabel* matches_ = nullptr;
};

}  // namespace vantrel
