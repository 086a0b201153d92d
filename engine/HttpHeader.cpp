#include "engine/HttpHeader.h"

#include <algorithm>

namespace vantrel::engine {

namespace {

constexpr std::size_t npos = std::string_view::npos;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

// Offset just after the colon of the first line "name:", or npos. A line
// counts only when its CR LF lies within the header part.
std::size_t FindValueStart(std::string_view header, std::string_view name) {
  const std::size_t end = FindHeaderEnd(header);
  const std::size_t last = end == npos ? header.size() : end;
  for (std::size_t p = header.find("\r\n"); p != npos && p <= last;
       p = header.find("\r\n", p + 1)) {
    const std::size_t n = p + 2;
    if (header.size() - n < name.size() + 1) break;
    if (header[n + name.size()] == ':' && StartsWithNoCase(header.substr(n), name))
      return n + name.size() + 1;
  }
  return npos;
}

// The part of an authority-plus-path text after the scheme.
void SplitAuthority(std::string_view rest, std::string& user, std::string& pass, std::string& host,
                    std::string& port, std::string& path) {
  const std::size_t pathAt = rest.find_first_of("/?");
  const std::string_view authority = rest.substr(0, pathAt);
  if (pathAt != npos) path = rest.substr(pathAt);

  std::string_view hostPort = authority;
  const std::size_t at = authority.rfind('@');
  if (at != npos) {
    const std::string_view userInfo = authority.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    user = userInfo.substr(0, colon);
    if (colon != npos) pass = userInfo.substr(colon + 1);
    hostPort = authority.substr(at + 1);
  }

  std::size_t colon = hostPort.rfind(':');
  // "[::1]:8080": the colons inside the brackets belong to the address.
  if (colon != npos && !hostPort.empty() && hostPort.front() == '[') {
    const std::size_t close = hostPort.rfind(']');
    if (close != npos && colon < close) colon = npos;
  }
  if (colon == npos) {
    host = hostPort;
  } else {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
}

}  // namespace

std::size_t FindHeaderEnd(std::string_view buffer, std::size_t from) {
  if (from >= buffer.size()) return npos;
  return buffer.find("\r\n\r\n", from);
}

std::string GetHeaderValue(std::string_view header, std::string_view name) {
  std::size_t v = FindValueStart(header, name);
  if (v == npos) return {};
  while (v < header.size() && (header[v] == ' ' || header[v] == '\t')) ++v;
  const std::size_t eol = header.find("\r\n", v);
  return std::string(header.substr(v, eol == npos ? npos : eol - v));
}

void SetHeaderValue(std::string& header, std::string_view name, std::string_view value) {
  const std::size_t v = FindValueStart(header, name);
  if (v != npos) {
    const std::size_t eol = header.find("\r\n", v);
    const std::size_t oldLength = (eol == npos ? header.size() : eol) - v;
    std::string replacement;
    replacement.reserve(value.size() + 1);
    replacement += ' ';
    replacement += value;
    header.replace(v, oldLength, replacement);
    return;
  }
  std::string line;
  line.reserve(name.size() + value.size() + 4);
  const std::size_t end = FindHeaderEnd(header);
  // Without a terminator the line goes last; a leading CR LF after a trailing
  // one would make a terminator and end the header in front of the new line.
  const bool afterLineBreak =
      end == npos && header.size() >= 2 && header.compare(header.size() - 2, 2, "\r\n") == 0;
  if (!afterLineBreak) line += "\r\n";
  line += name;
  line += ": ";
  line += value;
  header.insert(end == npos ? header.size() : end, line);
}

void SetOnlyHeaderValue(std::string& header, std::string_view name, std::string_view value) {
  SetHeaderValue(header, name, value);
  // The lines behind the one just written, searched as a header of their own.
  const std::size_t eol = header.find("\r\n", FindValueStart(header, name));
  if (eol == npos) return;
  std::string rest = header.substr(eol);
  if (RemoveHeaderLines(rest, name) == 0) return;
  header.resize(eol);
  header += rest;
}

std::size_t RemoveHeaderLines(std::string& header, std::initializer_list<std::string_view> names) {
  const std::size_t end = FindHeaderEnd(header);
  std::size_t last = end == npos ? header.size() : end;
  std::size_t removed = 0;
  // p is the line break in front of a header line; one pass over the header.
  for (std::size_t p = header.find("\r\n"); p != npos && p < last;) {
    const std::size_t n = p + 2;
    const std::size_t eol = std::min(header.find("\r\n", n), header.size());
    const std::string_view line = std::string_view(header).substr(n, eol - n);
    bool match = false;
    for (std::string_view name : names)
      match = match || (line.size() > name.size() && line[name.size()] == ':' &&
                        StartsWithNoCase(line, name));
    if (match) {
      header.erase(p, eol - p);  // the line break that followed is now at p
      last -= eol - p;
      ++removed;
    } else {
      p = eol == header.size() ? npos : eol;
    }
  }
  return removed;
}

std::size_t RemoveHeaderLines(std::string& header, std::string_view name) {
  return RemoveHeaderLines(header, {name});
}

std::string BuildURL(std::string_view proto, std::string_view user, std::string_view pass,
                     std::string_view host, std::string_view port, std::string_view path) {
  std::string url;
  url.reserve(proto.size() + user.size() + pass.size() + host.size() + port.size() + path.size() +
              6);
  url += proto;
  if (!proto.empty() && proto.back() == ':')
    url += "//";
  else if (proto.empty() || proto.back() != '/')
    url += "://";
  if (!user.empty()) {
    url += user;
    if (!pass.empty()) {
      url += ':';
      url += pass;
    }
    url += '@';
  }
  url += host;
  if (!port.empty() && port != "80") {
    url += ':';
    url += port;
  }
  url += path;
  return url;
}

void SplitURL(std::string_view url, std::string& proto, std::string& user, std::string& pass,
              std::string& host, std::string& port, std::string& path) {
  proto.clear();
  user.clear();
  pass.clear();
  host.clear();
  port.clear();
  path.clear();

  std::string_view rest = url;
  const std::size_t scheme = url.find("://");
  if (scheme != npos && scheme < url.find_first_of("/?")) {
    proto = url.substr(0, scheme);
    rest = url.substr(scheme + 3);
  } else if (url.starts_with("//")) {
    proto = "http";
    rest = url.substr(2);
  } else if (url.starts_with("/") || url.starts_with("./") || url.starts_with("../")) {
    proto = "http";
    path = url;
    return;
  } else if (StartsWithNoCase(url, "mailto:")) {
    proto = url.substr(0, 6);
    path = url.substr(7);
    return;
  } else if (StartsWithNoCase(url, "http:") || StartsWithNoCase(url, "https:")) {
    const std::size_t colon = url.find(':');
    proto = url.substr(0, colon);
    rest = url.substr(colon + 1);
    if (rest.starts_with("/")) {
      path = rest;
      return;
    }
  }
  SplitAuthority(rest, user, pass, host, port, path);
}

}  // namespace vantrel::engine
