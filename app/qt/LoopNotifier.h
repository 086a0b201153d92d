#pragma once
// Runs the program's epoll loop inside Qt's: a round whenever its fd is
// readable. Timers live in epoll (timerfd), so no Qt timer is needed.

#include <QObject>
#include <QSocketNotifier>

#include "net/EventLoop.h"

namespace vantrel {

class TLoopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit TLoopNotifier(net::EventLoop& loop, QObject* parent = nullptr);
  ~TLoopNotifier() override;

  // Stops serving the loop (before the window and engine go away).
  void Stop();
  bool Active() const { return notifier_ != nullptr && notifier_->isEnabled(); }
  uint64_t Rounds() const { return rounds_; }
  uint64_t RefusedRounds() const { return refused_; }

 private:
  void Activated();

  net::EventLoop& loop_;
  QSocketNotifier* notifier_;
  uint64_t rounds_ = 0;
  uint64_t refused_ = 0;
};

}  // namespace vantrel
