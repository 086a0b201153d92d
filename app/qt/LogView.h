#pragma once
// The screen log on the Logging page: one row per screen line, read straight
// from the log's ring, in the line's colour, batched onto a short timer so a
// busy proxy does not repaint per line.

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

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class Model;
  Model* model_;
  TCheckBox& autoScroll_;
  QTimer* timer_ = nullptr;
  bool scrollPending_ = false;
  TSubscription logWatch_;
  TSubscription autoScrollWatch_;
};

}  // namespace vantrel
