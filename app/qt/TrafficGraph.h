#pragma once
// The Traffic page's graph: bytes per second, local and international as
// two lines over the last ten minutes. The page takes the samples and asks
// for a repaint while it is on screen.

#include <QWidget>

namespace vantrel {

class TTrafficHistory;

class TTrafficGraph : public QWidget {
  Q_OBJECT
 public:
  TTrafficGraph(TTrafficHistory& history, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TTrafficHistory& history_;
};

// "0 B/s", "512 B/s", "1.5 KB/s", "12 MB/s": a rate as a short text.
QString RateText(double bytesPerSecond);

}  // namespace vantrel
