#pragma once
// The screen log on the Logging page: one row per screen line, read straight
// from the log's ring, in the line's colour, batched onto a short timer so a
// busy proxy does not repaint per line. Auto Scroll pauses while the user
// has scrolled up and resumes at the end; lines holding a search text are
// highlighted and can be stepped through.

#include <QListView>

#include "model/Notifier.h"

class QTimer;

namespace vantrel {

class TCheckBox;
class TScreenLog;

class TLogView : public QListView {
  Q_OBJECT

 public:
  TLogView(TScreenLog& log, TCheckBox& autoScroll, QWidget* parent = nullptr);
  ~TLogView() override;

  // Shows at once what the timer would show at its next tick.
  void Flush();
  // The selected lines, one per line, in log order.
  QString SelectedText() const;
  // Rows as shown: one per screen line.
  int RowCount() const;
  QString LineText(int row) const;

  // Highlights the lines that hold text (any case); empty for none.
  void SetFindText(const QString& text);
  QString FindText() const { return findText_; }
  int MatchCount() const;
  // Moves to the next (or previous) highlighted line after the current one,
  // round the end; its row, or -1 when no line matches.
  int FindNext(bool backwards = false);
  // The user has scrolled away from the end: Auto Scroll waits.
  bool Paused() const { return paused_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class Model;
  Model* model_;
  TCheckBox& autoScroll_;
  QTimer* timer_ = nullptr;
  bool scrollPending_ = false;
  bool paused_ = false;
  // Set while the view scrolls itself, so only the user's scrolling pauses.
  bool scrolling_ = false;
  QString findText_;
  TSubscription logWatch_;
  TSubscription autoScrollWatch_;
};

}  // namespace vantrel
