#include "routing/Socks4Request.h"

namespace vantrel {

namespace {

constexpr std::string_view kUserAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

}  // namespace

bool HostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

TSocks4Request ReadSocks4Request(std::string_view bytes) {
  TSocks4Request r;
  if (bytes.empty()) return r;
  if (static_cast<uint8_t>(bytes[0]) == 5) {
    r.result = TSocks4Request::Socks5;
    return r;
  }
  for (size_t i = 0; i < 6 && i + 2 < bytes.size(); ++i)
    r.ReplyBytes[i] = static_cast<uint8_t>(bytes[i + 2]);
  auto reject = [&r] {
    r.result = TSocks4Request::Reject;
    return r;
  };
  if (static_cast<uint8_t>(bytes[0]) != 4) return reject();
  if (bytes.size() >= 2 && bytes[1] != 1) return reject();  // only connect
  if (bytes.size() < 9) return bytes.size() > kMaxSocks4Request ? reject() : r;
  const size_t userEnd = bytes.find('\0', 8);  // the user id is ignored
  if (userEnd == std::string_view::npos) return bytes.size() > kMaxSocks4Request ? reject() : r;
  const int port = r.ReplyBytes[0] * 256 + r.ReplyBytes[1];
  const auto& a = r.ReplyBytes;
  std::string host;
  size_t end = userEnd + 1;
  if (IsSocks4aAddress(a)) {
    // SOCKS4a: the host name follows the user id.
    const size_t nameEnd = bytes.find('\0', end);
    if (nameEnd == std::string_view::npos) return bytes.size() > kMaxSocks4Request ? reject() : r;
    host = std::string(bytes.substr(end, nameEnd - end));
    end = nameEnd + 1;
    if (host.empty()) return reject();
    for (char c : host)
      if (!HostCharacter(c)) return reject();
  } else {
    if (a[2] == 0 && a[3] == 0 && a[4] == 0) return reject();
    host = std::to_string(a[2]) + "." + std::to_string(a[3]) + "." + std::to_string(a[4]) + "." +
           std::to_string(a[5]);
  }
  if (end > kMaxSocks4Request || port == 0) return reject();
  r.result = TSocks4Request::Connect;
  r.Header.reserve(96 + host.size() + bytes.size() - end);
  r.Header.append("CONNECT ").append(host).append(":").append(std::to_string(port));
  r.Header.append(" HTTP/1.0\r\n").append(kUserAgent).append("\r\n\r\n");
  r.Header.append(bytes.substr(end));  // data the client sent early
  return r;
}

std::string Socks4Reject(const std::array<uint8_t, 6>& replyBytes) {
  std::string reply{'\0', static_cast<char>(91)};
  for (uint8_t b : replyBytes) reply.push_back(static_cast<char>(b));
  return reply;
}

}  // namespace vantrel
