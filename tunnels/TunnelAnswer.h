#pragma once
// The tunnel's CONNECT request and the reading of the local proxy's answer.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// The request sent on the proxy side for host:port.
std::string TunnelConnectRequest(const std::string& host, int port);

enum class TAnswerVerdict {
  Incomplete,  // the header has not ended yet: read on
  Accepted,    // HTTP/1.0 or HTTP/1.1 with status 200
  Refused,     // anything else, or a header beyond the bound
};

// A header longer than this is no answer to a CONNECT.
inline constexpr size_t kMaxAnswerHeader = 16 * 1024;

// Judges the bytes collected so far. On a verdict other than Incomplete,
// headerEnd is the offset of the first byte behind the header (the tunnel's
// own bytes start there); a header over the bound is Refused.
TAnswerVerdict JudgeAnswer(std::string_view collected, size_t& headerEnd);

}  // namespace vantrel
