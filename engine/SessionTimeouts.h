#pragma once
// How long a client session may sit in each waiting state, in seconds;
// 0 means it may wait for ever.

namespace vantrel::engine {

struct TSessionTimeouts {
  // From a new connection to its first byte, and from a request header's
  // first byte to its end: a total, not renewed as bytes trickle in.
  int HeaderTimeout = 30;
  // A kept-alive client between two requests.
  int IdleTimeout = 120;
  // Bytes queued for either side that the peer does not take.
  int StallTimeout = 120;
  // A connect to the remote that is neither accepted nor refused.
  int ConnectTimeout = 30;

  static constexpr int kMaxSeconds = 86400;

  bool operator==(const TSessionTimeouts&) const = default;
};

}  // namespace vantrel::engine
