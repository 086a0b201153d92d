#pragma once
// One thread, one epoll loop: sockets, timers (timerfd), posted messages
// (eventfd), the resolver's sockets and signals are all file descriptors in
// one epoll set. The loop is re-entrant: a handler may pump it again
// (ProcessMessages, RunOnce) and a watcher whose handler is still on the
// stack is held until that handler returns.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct epoll_event;

namespace vantrel::net {

// The system refused to watch a descriptor; Code() is its errno.
class WatchError : public std::runtime_error {
 public:
  WatchError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class EventLoop {
 public:
  using IoHandler = std::function<void(uint32_t events)>;
  using Task = std::function<void()>;
  using TimerId = uint64_t;
  using Clock = std::chrono::steady_clock;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The loop of this thread; every socket uses it.
  static EventLoop& Default();

  // Watches a file descriptor for epoll events (EPOLLIN, EPOLLOUT, ...).
  // Re-adding an fd replaces its handler. Events pending for an fd that was
  // removed (or removed and added again) in the same round are dropped.
  // A refusal of the system throws WatchError; the fd is then not watched
  // (AddWatch) or keeps its former events (ModifyWatch).
  void AddWatch(int fd, uint32_t events, IoHandler handler);
  void ModifyWatch(int fd, uint32_t events);
  void RemoveWatch(int fd);
  // As RemoveWatch, for an fd its owner closes next: closing takes it out of
  // epoll, so no system call is spent on that here. Only for descriptors
  // that are never duplicated (ours are close-on-exec).
  void RemoveWatchBeforeClose(int fd);
  bool IsWatched(int fd) const;

  // Runs a task on a later turn of the loop, never inside Post.
  void Post(Task task);

  TimerId AddTimer(std::chrono::milliseconds delay, Task task);
  void CancelTimer(TimerId id);

  // The time of this round, read once after its wait (and again before its
  // timers run): handlers that need the time use it instead of a clock read.
  Clock::time_point Now() const { return now_; }

  // Runs until Quit. Returns at once when a Quit is already pending.
  void Run();
  void Quit();
  bool QuitRequested() const { return quit_; }
  void ResetQuit() { quit_ = false; }

  // One round: waits at most timeoutMs (-1: until something happens) for
  // events, then dispatches them, due timers and posted tasks. Returns false
  // when the nesting limit refused the round.
  bool RunOnce(int timeoutMs);

  // Waking a core that has gone idle costs tens of microseconds, more in a
  // virtual machine: several times what the proxy spends on a request. So
  // while events come densely (the last wait ended within the poll window),
  // a waiting round first polls for up to that window, and the next event
  // finds the core awake. One poll that finds nothing and the loop sleeps
  // again until traffic is dense, so an idle or lightly used loop never
  // polls. Zero turns polling off. Rounds that do not wait (a timeout of 0,
  // as an embedding loop runs them) never poll.
  static constexpr std::chrono::microseconds kPollWindow{100};
  void SetPollWindow(std::chrono::microseconds window) { pollWindow_ = window; }
  // Rounds whose events a poll found, and polls that found none in time.
  uint64_t PollsWon() const { return pollsWon_; }
  uint64_t PollsLost() const { return pollsLost_; }
  // A non-blocking round, for handlers that must let the loop breathe.
  bool ProcessMessages() { return RunOnce(0); }

  // Runs rounds until done() is true or the time is up. Returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

  // Delivers the given signals through the loop instead of the default action.
  void WatchSignals(const std::vector<int>& signalNumbers, std::function<void(int)> handler);

  // For embedding in another event loop (the desktop front end), which runs
  // a round whenever BackendFd() is readable.
  int BackendFd() const { return epollFd_; }
  int NextTimeoutMs() const;
  // Embedded, the outer loop may open a modal box inside one of our
  // handlers; a task posted then must wake it, whatever the depth.
  void SetEmbedded(bool embedded);
  bool Embedded() const { return embedded_; }
  // Called once when a round returns after a round was refused for depth:
  // an embedder that stopped watching BackendFd() on the refusal (else it
  // would spin on a readable fd) starts again here.
  std::function<void()> OnDepthFreed;

  // An exception that escapes a handler or task ends up here; the loop goes on.
  std::function<void(const std::string& message)> OnUnhandledException;

  int Depth() const { return depth_; }
  static constexpr int kMaxDepth = 8;

  // Counts of dispatched work, for tests that must prove the loop is idle.
  uint64_t DispatchedEvents() const { return dispatched_; }
  size_t PendingTasks() const { return tasks_.size(); }
  size_t PendingTimers() const { return timers_.size(); }

 private:
  struct Watch {
    int fd = -1;
    uint32_t events = 0;
    uint32_t generation = 0;
    IoHandler handler;
    int busy = 0;       // handler frames on the stack
    bool held = false;  // taken out of epoll while busy
    bool removed = false;
    bool inEpoll = false;
  };

  void Dispatch(uint64_t key, uint32_t events);
  void ApplyInterest(Watch& w);
  // The fd's watch, or null.
  std::shared_ptr<Watch>* Slot(int fd);
  void ReportException(const char* what);
  void RunTimers();
  void RunTasks();
  void ArmTimerFd();
  void DrainFd(int fd);
  void Wake();

  int epollFd_ = -1;
  int timerFd_ = -1;
  int wakeFd_ = -1;
  int signalFd_ = -1;
  // Indexed by descriptor: the system hands out the lowest free one, so the
  // table stays as small as the busiest moment.
  std::vector<std::shared_ptr<Watch>> watches_;
  uint32_t nextGeneration_ = 1;

  std::deque<Task> tasks_;
  bool wakePending_ = false;

  Clock::time_point now_ = Clock::now();
  std::multimap<Clock::time_point, TimerId> timerOrder_;
  struct Timer {
    Clock::time_point due;
    Task task;
  };
  std::unordered_map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;

  std::function<void(int)> signalHandler_;
  int depth_ = 0;
  bool quit_ = false;
  bool embedded_ = false;
  bool refused_ = false;
  uint64_t dispatched_ = 0;

  int Wait(epoll_event* events, int capacity, int timeoutMs);
  std::chrono::microseconds pollWindow_ = kPollWindow;
  bool pollNext_ = false;
  uint64_t pollsWon_ = 0;
  uint64_t pollsLost_ = 0;
};

}  // namespace vantrel::net
