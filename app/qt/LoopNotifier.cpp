#include "app/qt/LoopNotifier.h"

namespace vantrel {

TLoopNotifier::TLoopNotifier(net::EventLoop& loop, QObject* parent)
    : QObject(parent),
      loop_(loop),
      notifier_(new QSocketNotifier(loop.BackendFd(), QSocketNotifier::Read, this)) {
  loop_.SetEmbedded(true);
  // A round refused for depth leaves the fd readable: Qt would call us again
  // at once, without end. Wait until an outer round has returned.
  loop_.OnDepthFreed = [this] {
    if (notifier_ != nullptr) notifier_->setEnabled(true);
  };
  QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { Activated(); });
  // Work posted before we were watching (start-up) must not wait for a socket.
  if (loop_.PendingTasks() > 0) loop_.Post([] {});
}

TLoopNotifier::~TLoopNotifier() {
  Stop();
}

void TLoopNotifier::Stop() {
  if (notifier_ == nullptr) return;
  loop_.OnDepthFreed = nullptr;
  loop_.SetEmbedded(false);
  notifier_->setEnabled(false);
  delete notifier_;
  notifier_ = nullptr;
}

void TLoopNotifier::Activated() {
  ++rounds_;
  if (!loop_.RunOnce(0)) {
    ++refused_;
    if (notifier_ != nullptr) notifier_->setEnabled(false);
  }
}

}  // namespace vantrel
