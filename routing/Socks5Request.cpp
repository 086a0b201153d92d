#include "routing/Socks5Request.h"

#include "hosts/Addresses.h"
#include "routing/LocalEnd.h"
#include "routing/Socks4Request.h"

namespace vantrel {

namespace {

// Greeting: 05, count, up to 255 methods. Request: 05, command, 00, type,
// a name of up to 255 bytes after its length, two port bytes.
static_assert(2 + 255 + 4 + 1 + 255 + 2 <= kMaxSocks5Request);

uint8_t At(std::string_view bytes, size_t i) {
  return static_cast<uint8_t>(bytes[i]);
}

}  // namespace

TSocks5Request ReadSocks5Request(std::string_view bytes) {
  TSocks5Request r;
  auto finish = [&r](TSocks5Request::Result result, uint8_t code = 0) {
    r.result = result;
    r.ReplyCode = code;
    return r;
  };
  if (bytes.empty()) return r;
  if (At(bytes, 0) != 5) return finish(TSocks5Request::NoMethod);
  if (bytes.size() < 2) return r;
  const size_t greetingEnd = 2 + At(bytes, 1);
  if (bytes.size() < greetingEnd) return r;
  if (bytes.substr(2, greetingEnd - 2).find('\0') == std::string_view::npos)
    return finish(TSocks5Request::NoMethod);
  r.Greeted = true;

  const std::string_view q = bytes.substr(greetingEnd);
  if (q.empty()) return r;
  if (At(q, 0) != 5) return finish(TSocks5Request::Reject, s5GeneralFailure);
  if (q.size() < 2) return r;
  if (At(q, 1) != 1) return finish(TSocks5Request::Reject, s5CommandNotSupported);
  if (q.size() < 3) return r;
  if (At(q, 2) != 0) return finish(TSocks5Request::Reject, s5GeneralFailure);
  if (q.size() < 4) return r;
  std::string host;
  size_t end = 0;
  if (At(q, 3) == 1) {
    end = 4 + 4 + 2;
    if (q.size() < end) return r;
    const uint32_t address =
        (uint32_t{At(q, 4)} << 24) | (At(q, 5) << 16) | (At(q, 6) << 8) | At(q, 7);
    if (address == 0) return finish(TSocks5Request::Reject, s5GeneralFailure);
    host = std::to_string(At(q, 4)) + "." + std::to_string(At(q, 5)) + "." +
           std::to_string(At(q, 6)) + "." + std::to_string(At(q, 7));
  } else if (At(q, 3) == 3) {
    if (q.size() < 5) return r;
    const size_t length = At(q, 4);
    if (length == 0) return finish(TSocks5Request::Reject, s5GeneralFailure);
    end = 5 + length + 2;
    if (q.size() < end) return r;
    host = std::string(q.substr(5, length));
    for (char c : host)
      if (!HostCharacter(c)) return finish(TSocks5Request::Reject, s5GeneralFailure);
  } else {
    return finish(TSocks5Request::Reject, s5AddressTypeNotSupported);
  }
  const int port = At(q, end - 2) * 256 + At(q, end - 1);
  if (port == 0) return finish(TSocks5Request::Reject, s5GeneralFailure);

  r.Header.reserve(32 + host.size() + q.size() - end);
  r.Header.append("CONNECT ").append(host).append(":").append(std::to_string(port));
  r.Header.append(" HTTP/1.0\r\n\r\n");
  r.Header.append(q.substr(end));  // data the client sent early
  return finish(TSocks5Request::Connect);
}

uint8_t Socks5ReplyCode(engine::TTunnelOutcome outcome) {
  using engine::TTunnelOutcome;
  switch (outcome) {
    case TTunnelOutcome::Established: return s5Succeeded;
    case TTunnelOutcome::LookupFailed: return s5HostUnreachable;
    case TTunnelOutcome::ConnectRefused:
    case TTunnelOutcome::HopRefused: return s5ConnectionRefused;
    case TTunnelOutcome::NotAllowed: return s5NotAllowed;
    case TTunnelOutcome::TimedOut: return s5TtlExpired;
    case TTunnelOutcome::Failed: break;
  }
  return s5GeneralFailure;
}

std::string Socks5Reply(uint8_t code, const std::string& boundAddress, int boundPort) {
  uint32_t address = 0;
  if (!ParseAddress(boundAddress, address)) address = 0;
  const char reply[] = {5,
                        static_cast<char>(code),
                        0,
                        1,
                        static_cast<char>(address >> 24),
                        static_cast<char>(address >> 16),
                        static_cast<char>(address >> 8),
                        static_cast<char>(address),
                        static_cast<char>(boundPort >> 8),
                        static_cast<char>(boundPort)};
  return std::string(reply, sizeof reply);
}

std::string Socks5Answer(engine::TTunnelOutcome outcome, const net::TWSocket* remote) {
  const uint8_t code = Socks5ReplyCode(outcome);
  if (code != s5Succeeded || !remote) return Socks5Reply(code);
  const TLocalEnd end = LocalEnd(*remote);
  return Socks5Reply(code, end.address, end.port);
}

}  // namespace vantrel
