#include "app/qt/TrafficGraph.h"

#include <QPainter>
#include <QVector>
#include <cmath>

#include "app/TrafficHistory.h"

namespace vantrel {

namespace {

const QColor kLocal(0x00, 0x80, 0x00);
const QColor kInternational(0x00, 0x00, 0xff);

// The scale's top: 1, 2 or 5 times a power of ten, at least the peak.
double ScaleTop(int64_t peak) {
  double top = 1000;
  while (top < static_cast<double>(peak)) {
    const double power = std::pow(10.0, std::floor(std::log10(top)));
    const double digit = top / power;
    top = (digit < 2 ? 2 : digit < 5 ? 5 : 10) * power;
  }
  return top;
}

}  // namespace

QString RateText(double bytesPerSecond) {
  const char* units[] = {"B/s", "KB/s", "MB/s", "GB/s"};
  int unit = 0;
  while (bytesPerSecond >= 1024 && unit < 3) {
    bytesPerSecond /= 1024;
    ++unit;
  }
  const int decimals = unit == 0 || bytesPerSecond >= 10 ? 0 : 1;
  return QStringLiteral("%1 %2").arg(bytesPerSecond, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

TTrafficGraph::TTrafficGraph(TTrafficHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
  setObjectName(QStringLiteral("TrafficGraph"));
  setMinimumHeight(120);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  // It fills all of itself: nothing beneath it is painted first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize TTrafficGraph::sizeHint() const {
  return {600, 160};
}

void TTrafficGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QFontMetrics metrics = fontMetrics();
  const int line = metrics.height();
  const QRectF plot(metrics.horizontalAdvance(QStringLiteral("000.0 MB/s")) + 8, line + 4,
                    width() - metrics.horizontalAdvance(QStringLiteral("000.0 MB/s")) - 16,
                    height() - 2 * line - 10);
  if (plot.width() < 10 || plot.height() < 10) return;

  const double top = ScaleTop(history_.Peak());
  painter.setPen(QColor(0xd0, 0xd0, 0xd0));
  for (int i = 0; i <= 4; ++i) {
    const double y = plot.top() + plot.height() * i / 4;
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
  }
  painter.setPen(Qt::black);
  painter.drawText(QRectF(0, plot.top() - line / 2.0, plot.left() - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter, RateText(top));
  painter.drawText(QRectF(0, plot.bottom() - line / 2.0, plot.left() - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter, RateText(0));
  painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignLeft,
                   QStringLiteral("10 minutes ago"));
  painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignRight,
                   QStringLiteral("now"));

  // The newest sample at the right edge, one step per second.
  const size_t count = history_.Count();
  // Plain polylines: a repaint a second must stay cheap with 600 points.
  const double step = plot.width() / (TTrafficHistory::kSamples - 1);
  QVector<QPointF> points(static_cast<qsizetype>(count));
  for (int which = 0; which < 2; ++which) {
    for (size_t i = 0; i < count; ++i) {
      const TTrafficSample& sample = history_.At(i);
      const double value = static_cast<double>(which == 0 ? sample.local : sample.international);
      points[static_cast<qsizetype>(i)] =
          QPointF(plot.right() - step * static_cast<double>(count - 1 - i),
                  plot.bottom() - plot.height() * value / top);
    }
    // Two pixels as two one-pixel lines a pixel apart: the painter draws
    // thin lines directly, a wide pen is filled as an outline.
    QPen pen(which == 0 ? kLocal : kInternational, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.drawPolyline(points.constData(), static_cast<int>(points.size()));
    painter.translate(0, -1);
    painter.drawPolyline(points.constData(), static_cast<int>(points.size()));
    painter.translate(0, 1);
  }

  // The legend, with the last second's rates.
  const TTrafficSample last = count > 0 ? history_.At(count - 1) : TTrafficSample{};
  const QString local =
      QStringLiteral("Local Internet %1").arg(RateText(static_cast<double>(last.local)));
  const QString international = QStringLiteral("International Internet %1")
                                    .arg(RateText(static_cast<double>(last.international)));
  painter.setPen(kLocal);
  painter.drawText(QPointF(plot.left(), line), local);
  painter.setPen(kInternational);
  painter.drawText(QPointF(plot.left() + metrics.horizontalAdvance(local) + 24, line),
                   international);
}

}  // namespace vantrel
