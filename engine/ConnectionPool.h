#pragma once
// Idle connections onward, kept after an answer that ended by its framing,
// so that a later request to the same place skips the connect. A key names
// the place: the destination, or the next hop with the credentials sent to
// it; a connection is only ever handed out under the key it was kept under.
//
// An idle connection is still watched: any byte or end from its peer while
// nobody asked closes it, as does its idle time running out. The newest is
// handed out first (the least likely to have been closed meanwhile), the
// oldest goes first when a limit is reached.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/EventLoop.h"
#include "net/WSocket.h"

namespace vantrel::engine {

class TConnectionPool {
 public:
  TConnectionPool();
  ~TConnectionPool();
  TConnectionPool(const TConnectionPool&) = delete;
  TConnectionPool& operator=(const TConnectionPool&) = delete;

  // Keeps a connected socket with nothing queued under key; anything else
  // is closed. The socket's handlers are replaced by the pool's own.
  void Park(const std::string& key, std::unique_ptr<net::TWSocket> socket);
  // The newest live connection kept under key, without handlers; null when
  // there is none.
  std::unique_ptr<net::TWSocket> Take(const std::string& key);
  // Closes every kept connection.
  void Clear();
  // Out of descriptors: every kept connection goes; true when there were any.
  bool Relieve();

  size_t Size() const { return total_; }
  size_t Size(const std::string& key) const;

  std::chrono::milliseconds IdleTimeout() const { return idleTimeout_; }
  void SetIdleTimeout(std::chrono::milliseconds timeout);

  static constexpr size_t kMaxPerKey = 8;
  static constexpr size_t kMaxTotal = 256;
  static constexpr std::chrono::seconds kDefaultIdleTimeout{30};

 private:
  using TimePoint = net::EventLoop::Clock::time_point;
  struct TIdle {
    std::unique_ptr<net::TWSocket> socket;
    TimePoint since;
  };
  // Per key, oldest first.
  using TIdleList = std::vector<TIdle>;

  // The peer spoke or ended while the connection was idle.
  void PeerStirred(net::TWSocket* socket);
  void Discard(std::unique_ptr<net::TWSocket> socket);
  void RemoveOldest();
  void Expire();
  void ArmTimer();
  void FreeClosed();

  std::unordered_map<std::string, TIdleList> idle_;
  size_t total_ = 0;
  std::chrono::milliseconds idleTimeout_ = kDefaultIdleTimeout;
  net::EventLoop::TimerId timer_ = 0;
  // Closed sockets wait here until no handler of theirs is on the stack.
  std::vector<std::unique_ptr<net::TWSocket>> closed_;
  bool freePosted_ = false;
  uint64_t reliever_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantrel::engine
