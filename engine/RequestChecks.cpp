#include "engine/RequestChecks.h"

#include <cstdint>

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

// Every CR is followed by LF and every LF follows a CR; no NUL.
bool LineBreaksAreClean(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') return false;
    if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    if (c == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
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
  header = header.substr(0, end + 2);  // every line with its CR LF
  if (!LineBreaksAreClean(header)) return false;
  bool haveLength = false;
  uint64_t length = 0;
  bool transferCoded = false;
  bool chunked = false;
  // The request line is not a field line.
  for (size_t pos = header.find("\r\n") + 2; pos < header.size();) {
    const size_t eol = header.find("\r\n", pos);
    const std::string_view line = header.substr(pos, eol - pos);
    pos = eol + 2;
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
