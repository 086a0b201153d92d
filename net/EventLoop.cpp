#include "net/EventLoop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vantrel::net {

namespace {

uint64_t Key(int fd, uint32_t generation) {
  return (static_cast<uint64_t>(generation) << 32) | static_cast<uint32_t>(fd);
}

[[noreturn]] void Fatal(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

[[noreturn]] void Refused(const char* what) {
  const int code = errno;
  throw WatchError(std::string(what) + ": " + std::strerror(code), code);
}

}  // namespace

EventLoop::EventLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) Fatal("epoll_create1");
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) Fatal("timerfd_create");
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) Fatal("eventfd");
  for (int fd : {timerFd_, wakeFd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = Key(fd, 0);
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) < 0) Fatal("epoll_ctl");
  }
}

EventLoop::~EventLoop() {
  for (int fd : {signalFd_, wakeFd_, timerFd_, epollFd_})
    if (fd >= 0) ::close(fd);
}

EventLoop& EventLoop::Default() {
  static thread_local EventLoop loop;
  return loop;
}

void EventLoop::ApplyInterest(Watch& w) {
  const bool wanted = !w.held && !w.removed && w.events != 0;
  epoll_event ev{};
  ev.events = w.events;
  ev.data.u64 = Key(w.fd, w.generation);
  if (wanted && !w.inEpoll) {
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, w.fd, &ev) < 0) Refused("epoll_ctl(ADD)");
    w.inEpoll = true;
  } else if (wanted) {
    if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, w.fd, &ev) < 0) Refused("epoll_ctl(MOD)");
  } else if (w.inEpoll) {
    // The fd may already be closed by its owner; then the kernel dropped it.
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, w.fd, nullptr);
    w.inEpoll = false;
  }
}

void EventLoop::AddWatch(int fd, uint32_t events, IoHandler handler) {
  RemoveWatch(fd);
  auto w = std::make_shared<Watch>();
  w->fd = fd;
  w->events = events;
  w->generation = nextGeneration_++;
  if (nextGeneration_ == 0) nextGeneration_ = 1;
  w->handler = std::move(handler);
  ApplyInterest(*w);
  if (static_cast<size_t>(fd) >= watches_.size()) watches_.resize(static_cast<size_t>(fd) + 1);
  watches_[static_cast<size_t>(fd)] = std::move(w);
}

void EventLoop::ModifyWatch(int fd, uint32_t events) {
  std::shared_ptr<Watch>* slot = Slot(fd);
  if (!slot) return;
  Watch& w = **slot;
  if (w.events == events) return;
  const uint32_t old = w.events;
  w.events = events;
  try {
    ApplyInterest(w);
  } catch (const WatchError&) {
    w.events = old;
    throw;
  }
}

void EventLoop::RemoveWatch(int fd) {
  std::shared_ptr<Watch>* slot = Slot(fd);
  if (!slot) return;
  Watch& w = **slot;
  w.removed = true;
  ApplyInterest(w);
  slot->reset();  // a handler on the stack keeps its own reference
}

void EventLoop::RemoveWatchBeforeClose(int fd) {
  std::shared_ptr<Watch>* slot = Slot(fd);
  if (!slot) return;
  Watch& w = **slot;
  w.removed = true;
  // Events still queued for it carry its generation and are dropped.
  w.inEpoll = false;
  slot->reset();
}

bool EventLoop::IsWatched(int fd) const {
  return fd >= 0 && static_cast<size_t>(fd) < watches_.size() &&
         watches_[static_cast<size_t>(fd)] != nullptr;
}

std::shared_ptr<EventLoop::Watch>* EventLoop::Slot(int fd) {
  if (!IsWatched(fd)) return nullptr;
  return &watches_[static_cast<size_t>(fd)];
}

void EventLoop::Post(Task task) {
  tasks_.push_back(std::move(task));
  // Inside a round the tasks run at its end or the next round does not
  // wait; only a post from outside must wake the epoll fd (an embedding
  // loop watches it). Embedded, a post from inside a handler may come from
  // a modal box the outer loop runs there: wake it too.
  if (depth_ == 0 || embedded_) Wake();
}

void EventLoop::SetEmbedded(bool embedded) {
  embedded_ = embedded;
  if (embedded_ && !tasks_.empty()) Wake();
}

void EventLoop::Wake() {
  if (wakePending_) return;
  uint64_t one = 1;
  if (::write(wakeFd_, &one, sizeof one) == sizeof one) wakePending_ = true;
}

EventLoop::TimerId EventLoop::AddTimer(std::chrono::milliseconds delay, Task task) {
  const TimerId id = nextTimer_++;
  const auto due = Clock::now() + delay;
  timers_.emplace(id, Timer{due, std::move(task)});
  timerOrder_.emplace(due, id);
  ArmTimerFd();
  return id;
}

void EventLoop::CancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  auto range = timerOrder_.equal_range(it->second.due);
  for (auto o = range.first; o != range.second; ++o) {
    if (o->second == id) {
      timerOrder_.erase(o);
      break;
    }
  }
  timers_.erase(it);
  ArmTimerFd();
}

void EventLoop::ArmTimerFd() {
  itimerspec when{};
  if (!timerOrder_.empty()) {
    auto wait = timerOrder_.begin()->first - Clock::now();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    if (ns < 1) ns = 1;  // zero would disarm
    when.it_value.tv_sec = ns / 1000000000;
    when.it_value.tv_nsec = ns % 1000000000;
  }
  timerfd_settime(timerFd_, 0, &when, nullptr);
}

int EventLoop::NextTimeoutMs() const {
  if (!tasks_.empty()) return 0;
  if (timerOrder_.empty()) return -1;
  auto wait = timerOrder_.begin()->first - Clock::now();
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

void EventLoop::DrainFd(int fd) {
  uint64_t value;
  while (::read(fd, &value, sizeof value) > 0) {
  }
}

void EventLoop::ReportException(const char* what) {
  if (OnUnhandledException) {
    try {
      OnUnhandledException(what);
      return;
    } catch (...) {
    }
  }
  std::fprintf(stderr, "EXCEPTION: %s\n", what);
}

void EventLoop::Dispatch(uint64_t key, uint32_t events) {
  const int fd = static_cast<int>(key & 0xffffffffu);
  const uint32_t generation = static_cast<uint32_t>(key >> 32);
  std::shared_ptr<Watch>* slot = Slot(fd);
  if (!slot) return;
  std::shared_ptr<Watch> w = *slot;
  if (w->generation != generation || w->removed) return;  // stale: fd closed or reused
  if (w->busy > 0) {
    // Its handler is further up the stack: hold the fd until that returns.
    w->held = true;
    ApplyInterest(*w);
    return;
  }
  events &= w->events | EPOLLERR | EPOLLHUP;
  if (events == 0) return;
  ++dispatched_;
  ++w->busy;
  try {
    w->handler(events);
  } catch (const std::exception& e) {
    ReportException(e.what());
  } catch (...) {
    ReportException("unknown exception");
  }
  if (--w->busy == 0 && w->held) {
    w->held = false;
    try {
      ApplyInterest(*w);
    } catch (const WatchError& e) {
      ReportException(e.what());  // not out of the round: the loop goes on
    }
  }
}

void EventLoop::RunTimers() {
  const auto now = Clock::now();
  now_ = now;
  const TimerId limit = nextTimer_;  // timers added while running wait for the next round
  bool ran = false;
  for (auto o = timerOrder_.begin(); o != timerOrder_.end() && o->first <= now;) {
    if (o->second >= limit) {
      ++o;
      continue;
    }
    const TimerId id = o->second;
    timerOrder_.erase(o);
    auto t = timers_.find(id);
    Task task = std::move(t->second.task);
    timers_.erase(t);
    ran = true;
    ++dispatched_;
    try {
      task();
    } catch (const std::exception& e) {
      ReportException(e.what());
    } catch (...) {
      ReportException("unknown exception");
    }
    o = timerOrder_.begin();  // the task may have changed the set
  }
  if (ran || !timerOrder_.empty()) ArmTimerFd();
}

void EventLoop::RunTasks() {
  size_t n = tasks_.size();  // tasks posted meanwhile run on a later turn
  while (n-- > 0 && !tasks_.empty()) {
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    ++dispatched_;
    try {
      task();
    } catch (const std::exception& e) {
      ReportException(e.what());
    } catch (...) {
      ReportException("unknown exception");
    }
  }
  if (!tasks_.empty() && (depth_ <= 1 || embedded_)) Wake();
}

bool EventLoop::RunOnce(int timeoutMs) {
  if (depth_ >= kMaxDepth) {
    refused_ = true;
    return false;
  }
  ++depth_;
  struct DepthGuard {
    EventLoop& loop;
    ~DepthGuard() {
      --loop.depth_;
      if (loop.refused_) {
        loop.refused_ = false;
        if (loop.OnDepthFreed) loop.OnDepthFreed();
      }
    }
  } guard{*this};

  if (!tasks_.empty()) timeoutMs = 0;
  epoll_event events[128];  // per round, so nested rounds never share it
  const int n = Wait(events, 128, timeoutMs);
  bool timersDue = false;
  for (int i = 0; i < n; ++i) {
    const uint64_t key = events[i].data.u64;
    if (key == Key(timerFd_, 0)) {
      DrainFd(timerFd_);
      timersDue = true;
    } else if (key == Key(wakeFd_, 0)) {
      DrainFd(wakeFd_);
      wakePending_ = false;
    } else if (signalFd_ >= 0 && key == Key(signalFd_, 0)) {
      signalfd_siginfo info;
      while (::read(signalFd_, &info, sizeof info) == sizeof info) {
        if (signalHandler_) signalHandler_(static_cast<int>(info.ssi_signo));
      }
    } else {
      Dispatch(key, events[i].events);
    }
  }
  if (timersDue || (!timerOrder_.empty() && timerOrder_.begin()->first <= Clock::now()))
    RunTimers();
  RunTasks();
  return true;
}

int EventLoop::Wait(epoll_event* events, int capacity, int timeoutMs) {
  const auto check = [](int n) {
    if (n < 0 && errno != EINTR) Fatal("epoll_wait");
    return n < 0 ? 0 : n;
  };
  if (timeoutMs == 0) {
    const int n = check(epoll_wait(epollFd_, events, capacity, 0));
    now_ = Clock::now();
    return n;
  }
  const auto start = Clock::now();
  int n = 0;
  if (pollNext_) {
    const auto until = start + pollWindow_;
    do {
      n = check(epoll_wait(epollFd_, events, capacity, 0));
    } while (n == 0 && Clock::now() < until);
    ++(n > 0 ? pollsWon_ : pollsLost_);
  }
  if (n == 0) n = check(epoll_wait(epollFd_, events, capacity, timeoutMs));
  now_ = Clock::now();
  pollNext_ = n > 0 && pollWindow_.count() > 0 && now_ - start <= pollWindow_;
  return n;
}

void EventLoop::Run() {
  while (!quit_) RunOnce(-1);
}

void EventLoop::Quit() {
  quit_ = true;
  Post([] {});  // wake a blocked round
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (!RunOnce(static_cast<int>(left))) break;
  }
  return done();
}

void EventLoop::WatchSignals(const std::vector<int>& signalNumbers,
                             std::function<void(int)> handler) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : signalNumbers) sigaddset(&set, s);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) < 0) Fatal("sigprocmask");
  if (signalFd_ >= 0) {
    if (signalfd(signalFd_, &set, SFD_NONBLOCK | SFD_CLOEXEC) < 0) Fatal("signalfd");
  } else {
    signalFd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd_ < 0) Fatal("signalfd");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = Key(signalFd_, 0);
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, signalFd_, &ev) < 0) Fatal("epoll_ctl");
  }
  signalHandler_ = std::move(handler);
}

}  // namespace vantrel::net
