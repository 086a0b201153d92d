#include "engine/ConnectionReuse.h"

#include "engine/HttpHeader.h"
#include "engine/KwString.h"

namespace vantrel::engine {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Calls fn(name, value) for each header line after the request line.
template <typename Fn>
void ForEachHeaderLine(std::string_view header, Fn fn) {
  const size_t end = FindHeaderEnd(header);
  if (end != std::string_view::npos) header = header.substr(0, end + 2);
  size_t pos = header.find("\r\n");
  while (pos != std::string_view::npos) {
    const size_t start = pos + 2;
    pos = header.find("\r\n", start);
    const std::string_view line =
        header.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) fn(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }
}

}  // namespace

bool ListHasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (SameText(Trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

bool IsConnectionBoundAuth(std::string_view value) {
  // Challenges may be listed in one line: any of them counts.
  while (!value.empty()) {
    const size_t comma = value.find(',');
    const std::string_view item = Trim(value.substr(0, comma));
    const std::string_view scheme = item.substr(0, item.find(' '));
    if (SameText(scheme, "NTLM") || SameText(scheme, "Negotiate")) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

bool RequestKeepsConnection(std::string_view header) {
  const std::string_view line = header.substr(0, header.find("\r\n"));
  const std::string_view version = line.substr(line.rfind(' ') + 1);
  if (!SameText(version, "HTTP/1.1") && !SameText(version, "HTTP/1.0")) return false;
  bool close = false, keepAlive = false, bound = false;
  ForEachHeaderLine(header, [&](std::string_view name, std::string_view value) {
    if (SameText(name, "Connection") || SameText(name, "Proxy-Connection")) {
      close = close || ListHasToken(value, "close");
      keepAlive = keepAlive || ListHasToken(value, "keep-alive");
    } else if (SameText(name, "Authorization") || SameText(name, "Proxy-Authorization")) {
      bound = bound || IsConnectionBoundAuth(value);
    }
  });
  if (close || bound) return false;
  return SameText(version, "HTTP/1.1") || keepAlive;
}

bool MayResend(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "OPTIONS" || method == "PUT" ||
         method == "DELETE";
}

std::string RouteKey(bool viaNextHop, std::string_view host, std::string_view port,
                     std::string_view header) {
  std::string key(viaNextHop ? "hop " : "origin ");
  key.append(host).append(":").append(port).push_back('\n');
  if (viaNextHop) {
    key.append(GetHeaderValue(header, "Proxy-Authorization"));
  } else {
    for (char c : GetHeaderValue(header, "Host"))
      key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return key;
}

}  // namespace vantrel::engine
