#include "engine/RequestChecks.h"

#include <cstdint>
#include <cstring>

#include "engine/HttpHeader.h"
#include "engine/KwString.h"

namespace vantrel::engine {

namespace {

constexpr size_t npos = std::string_view::npos;

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// Digits only, without overflow.
bool ParseLength(std::string_view value, uint64_t& length) {
  if (value.empty()) return false;
  length = 0;
  for (char c : value) {
    if (c < '0' || c > '9' || length > (UINT64_MAX - 9) / 10) return false;
    length = length * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool FinalCodingIsChunked(std::string_view value) {
  const size_t comma = value.rfind(',');
  return SameText(Trimmed(comma == npos ? value : value.substr(comma + 1)), "chunked");
}

bool RequestFramingIsSound(std::string_view header) {
  const size_t end = FindHeaderEnd(header);
  if (end == npos) return false;
  header = header.substr(0, end + 4);  // every line with its CR LF, the blank one too
  if (std::memchr(header.data(), '\0', header.size())) return false;
  bool haveLength = false;
  uint64_t length = 0;
  bool transferCoded = false;
  bool chunked = false;
  // Line by line, each ended by CR LF: a CR anywhere else or an LF without
  // its CR makes the framing unsound. Read once, with memchr: it runs for
  // every request.
  bool requestLine = true;
  for (size_t pos = 0; pos < header.size();) {
    const auto* lf =
        static_cast<const char*>(std::memchr(header.data() + pos, '\n', header.size() - pos));
    const size_t eol = static_cast<size_t>(lf - header.data());
    if (eol == pos || header[eol - 1] != '\r') return false;
    const std::string_view line = header.substr(pos, eol - 1 - pos);
    pos = eol + 1;
    if (std::memchr(line.data(), '\r', line.size())) return false;
    if (requestLine) {  // not a field line
      requestLine = false;
      continue;
    }
    if (line.empty()) break;                // the blank line that ends the header
    if (Blank(line.front())) return false;  // a folded line
    const size_t colon = line.find(':');
    if (colon == npos) continue;
    const std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t") != npos) return false;
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (SameText(name, "Content-Length")) {
      uint64_t v = 0;
      if (!ParseLength(value, v) || (haveLength && v != length)) return false;
      haveLength = true;
      length = v;
    } else if (SameText(name, "Transfer-Encoding")) {
      // The codings of several lines form one list: the last line ends it.
      transferCoded = true;
      chunked = FinalCodingIsChunked(value);
    }
  }
  return !transferCoded || chunked;
}

bool ValidTarget(std::string_view host, std::string_view port) {
  if (host.empty() || host == "*" || port.empty() || port.size() > 5) return false;
  for (char c : host) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || c == '[' || c == ']' || c == ':') return false;
  }
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

std::string UrlAuthority(std::string_view proto, std::string_view host, std::string_view port) {
  std::string authority(host);
  const bool standard = port.empty() || (SameText(proto, "http") && port == "80") ||
                        (SameText(proto, "https") && port == "443");
  if (!standard) {
    authority += ':';
    authority += port;
  }
  return authority;
}

}  // namespace vantrel::engine
