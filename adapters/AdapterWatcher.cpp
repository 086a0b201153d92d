#include "adapters/AdapterWatcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vantrel {

TAdapterWatcher::TAdapterWatcher(net::EventLoop& loop, std::function<bool()> run,
                                 std::chrono::milliseconds interval,
                                 std::chrono::milliseconds settle)
    : loop_(loop), run_(std::move(run)), interval_(interval), settle_(settle) {}

TAdapterWatcher::~TAdapterWatcher() {
  Stop();
}

void TAdapterWatcher::Start(bool useNetlink) {
  Stop();
  if (useNetlink && OpenNetlink()) {
    mode_ = TMode::Netlink;
    // One look once the watch is in place, for a change that came between
    // the start-up's list and now, as the first poll would have seen it.
    LinksChanged();
  } else {
    StartPolling();
  }
}

void TAdapterWatcher::Stop() {
  CloseNetlink();
  if (timer_ != 0) loop_.CancelTimer(timer_);
  timer_ = 0;
  mode_ = TMode::Stopped;
}

bool TAdapterWatcher::OpenNetlink() {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return false;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return false;
  }
  try {
    loop_.AddWatch(fd, EPOLLIN, [this](uint32_t) { OnNetlinkReadable(); });
  } catch (const net::WatchError&) {
    ::close(fd);
    return false;
  }
  netlinkFd_ = fd;
  return true;
}

void TAdapterWatcher::CloseNetlink() {
  if (netlinkFd_ < 0) return;
  loop_.RemoveWatch(netlinkFd_);
  ::close(netlinkFd_);
  netlinkFd_ = -1;
}

void TAdapterWatcher::OnNetlinkReadable() {
  // The messages only say that links changed; the run asks for the whole
  // list anyway, so they are read and dropped.
  char buffer[8192];
  bool changed = false;
  for (;;) {
    const ssize_t n = ::recv(netlinkFd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      changed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == ENOBUFS) {
      // Messages were lost: something changed, we cannot tell what.
      changed = true;
      continue;
    }
    // The socket is of no more use: fall back to polling, and look once
    // now in case the failure hid a change.
    CloseNetlink();
    StartPolling();
    changed = true;
    break;
  }
  if (changed) LinksChanged();
}

void TAdapterWatcher::LinksChanged() {
  if (mode_ == TMode::Stopped) return;
  if (mode_ == TMode::Netlink && timer_ != 0) return;  // a run is already due
  if (mode_ == TMode::Polling) {
    if (timer_ != 0) loop_.CancelTimer(timer_);
    timer_ = loop_.AddTimer(settle_, [this] { Poll(); });
    return;
  }
  timer_ = loop_.AddTimer(settle_, [this] { Settled(); });
}

void TAdapterWatcher::Settled() {
  timer_ = 0;
  // A run still in progress further up the stack may have read the links
  // before this change: look again once it is over.
  if (!run_()) LinksChanged();
}

void TAdapterWatcher::StartPolling() {
  mode_ = TMode::Polling;
  timer_ = loop_.AddTimer(interval_, [this] { Poll(); });
}

void TAdapterWatcher::Poll() {
  // The next tick is set before the run, so a run that throws does not
  // stop the watcher.
  timer_ = loop_.AddTimer(interval_, [this] { Poll(); });
  run_();
}

}  // namespace vantrel
