#pragma once
// The Traffic page: per locality the three totals, the hidden per-class
// figures, the host-list switch and the host list with each host's bytes,
// largest first; below them the graph of the last ten minutes.

class QWidget;

namespace vantrel {

class TfrmVantrelMain;

QWidget* TrafficPage(TfrmVantrelMain& window, QWidget* parent);

}  // namespace vantrel
