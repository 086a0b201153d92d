#pragma once
// The Traffic page's graph: bytes per second, local and international as
// two lines over the last ten minutes. It takes the history's sample once a
// second (two sums) and paints only while it is on screen.

#include <QWidget>

class QTimer;

namespace vantrel {

class TTrafficHistory;

class TTrafficGraph : public QWidget {
  Q_OBJECT
 public:
  TTrafficGraph(TTrafficHistory& history, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  // The next sample now, as the timer takes it.
  void Tick();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TTrafficHistory& history_;
  QTimer* timer_;
};

// "0 B/s", "512 B/s", "1.5 KB/s", "12 MB/s": a rate as a short text.
QString RateText(double bytesPerSecond);

}  // namespace vantrel
