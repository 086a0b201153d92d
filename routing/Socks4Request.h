#pragma once
// A SOCKS version 4 connect request at the start of a connection, read into
// the CONNECT request the engine understands.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

struct TSocks4Request {
  enum Result {
    Incomplete,  // more bytes are needed
    Connect,     // Header is the CONNECT request, followed by any early data
    Reject,      // not a request we can serve: answer 00 5B and close
    Socks5,      // a SOCKS5 greeting: answer 05 FF and close
  };
  Result result = Incomplete;
  std::string Header;
  // Port and address bytes as received, for the grant or the reject.
  std::array<uint8_t, 6> ReplyBytes{};
};

// A request (with its user id and, for SOCKS4a, the host name) is never
// longer than this; anything longer is refused.
inline constexpr size_t kMaxSocks4Request = 1024;

// Characters a host name in a SOCKS request may hold; a name with anything
// else is no host, and must not smuggle text into the request line.
bool HostCharacter(char c);

// Reads bytes that begin with 0x04 or 0x05.
TSocks4Request ReadSocks4Request(std::string_view bytes);

// The address 0.0.0.x (x not 0) of a SOCKS4a request: a host name follows.
inline bool IsSocks4aAddress(const std::array<uint8_t, 6>& replyBytes) {
  return replyBytes[2] == 0 && replyBytes[3] == 0 && replyBytes[4] == 0 && replyBytes[5] != 0;
}

// The reply for a refused request: 00 5B and the request's six bytes.
std::string Socks4Reject(const std::array<uint8_t, 6>& replyBytes);

}  // namespace vantrel
