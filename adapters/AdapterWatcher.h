#pragma once
// Timer1, the adapter watcher. Link changes arrive on a netlink socket in
// the event loop and are gathered into one run shortly after, so a change
// is seen at once and an idle machine is never woken. Where netlink cannot
// be had, it polls every 5 seconds instead.

#include <chrono>
#include <functional>

#include "net/EventLoop.h"

namespace vantrel {

class TAdapterWatcher {
 public:
  enum class TMode { Stopped, Netlink, Polling };

  // run: one look at the adapters; false when it found a run in progress.
  TAdapterWatcher(net::EventLoop& loop, std::function<bool()> run,
                  std::chrono::milliseconds interval = kTimer1Interval,
                  std::chrono::milliseconds settle = kSettle);
  ~TAdapterWatcher();
  TAdapterWatcher(const TAdapterWatcher&) = delete;
  TAdapterWatcher& operator=(const TAdapterWatcher&) = delete;

  // Enables the watcher; polling only when netlink is refused or not wanted.
  // With netlink, one run follows soon after, then runs only on changes.
  void Start(bool useNetlink = true);
  void Stop();
  TMode Mode() const { return mode_; }

  // Something about the links changed: one run follows after the settle
  // time, however many changes arrive meanwhile.
  void LinksChanged();

  static constexpr std::chrono::milliseconds kTimer1Interval{5000};
  static constexpr std::chrono::milliseconds kSettle{200};

 private:
  bool OpenNetlink();
  void CloseNetlink();
  void OnNetlinkReadable();
  void StartPolling();
  void Poll();
  void Settled();

  net::EventLoop& loop_;
  std::function<bool()> run_;
  std::chrono::milliseconds interval_;
  std::chrono::milliseconds settle_;
  TMode mode_ = TMode::Stopped;
  int netlinkFd_ = -1;
  net::EventLoop::TimerId timer_ = 0;  // the poll tick or the settle wait
};

}  // namespace vantrel
