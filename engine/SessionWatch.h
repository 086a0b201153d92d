#pragma once
// What the deadline sweep last saw of one client session: the waiting state
// it was in and since when, and how far each send queue had got. The sweep
// alone writes it; nothing on the data path touches it.

#include <chrono>
#include <cstdint>

namespace vantrel::engine {

enum class TWaitKind : uint8_t {
  None,     // something is under way, or waiting is fine (a quiet tunnel)
  Silent,   // a new connection that has sent nothing
  Header,   // a request header begun and not ended
  Idle,     // nothing in progress: between requests, or answered and ending
  Connect,  // the remote connection is being made
};

struct TSessionWatch {
  using TimePoint = std::chrono::steady_clock::time_point;

  TWaitKind kind = TWaitKind::None;
  uint32_t request = 0;  // which request the state belongs to
  TimePoint since{};

  // A send queue stalls when its sent count stays put while bytes wait.
  struct Queue {
    int64_t sent = -1;  // -1: nothing was queued at the last look
    const void* socket = nullptr;
    TimePoint since{};
  };
  Queue toClient, toRemote;
};

}  // namespace vantrel::engine
