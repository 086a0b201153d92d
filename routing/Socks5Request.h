#pragma once
// A SOCKS5 greeting and connect request at the start of a connection (no
// authentication, CONNECT only), read into the CONNECT request the engine
// understands, and the replies that tell the client how it went.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/KwProxyClient.h"
#include "net/WSocket.h"

namespace vantrel {

struct TSocks5Request {
  enum Result {
    Incomplete,  // more bytes are needed
    Connect,     // Header is the CONNECT request, followed by any early data
    NoMethod,    // "no authentication" is not offered: answer 05 FF and close
    Reject,      // answer with ReplyCode and close
  };
  Result result = Incomplete;
  // The greeting is whole and offers "no authentication": the client waits
  // for 05 00 before it sends its request.
  bool Greeted = false;
  uint8_t ReplyCode = 0;
  std::string Header;
};

// Reply codes of the request.
enum TSocks5ReplyCode : uint8_t {
  s5Succeeded = 0,
  s5GeneralFailure = 1,
  s5NotAllowed = 2,
  s5HostUnreachable = 4,
  s5ConnectionRefused = 5,
  s5TtlExpired = 6,
  s5CommandNotSupported = 7,
  s5AddressTypeNotSupported = 8,
};

// The greeting and the request together are never longer than this (the
// longest possible pair is 519 bytes); whatever follows is early data.
inline constexpr size_t kMaxSocks5Request = 600;

inline constexpr std::string_view kSocks5NoAuthentication{"\x05\x00", 2};
inline constexpr std::string_view kSocks5NoMethod{"\x05\xFF", 2};

// Reads the bytes a connection began with (the first one is 0x05): the
// greeting, then the request.
TSocks5Request ReadSocks5Request(std::string_view bytes);

// The reply code for how a tunnel request ended up.
uint8_t Socks5ReplyCode(engine::TTunnelOutcome outcome);

// 05, the code, 00, 01, the bound IPv4 address and port.
std::string Socks5Reply(uint8_t code, const std::string& boundAddress = "0.0.0.0",
                        int boundPort = 0);

// The reply for a tunnel's outcome; a tunnel made directly names the local
// end of its remote socket, one through a next hop names 0.0.0.0:0.
std::string Socks5Answer(engine::TTunnelOutcome outcome, const net::TWSocket* remote);

}  // namespace vantrel
