#include "net/Resolve.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "net/SocketErrors.h"

namespace vantrel::net {

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

bool ParseDottedAddress(const std::string& text, uint32_t& hostOrder) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && text[i] == '.') return false;
  uint32_t parts[4] = {0, 0, 0, 0};
  int dots = 0;
  uint32_t value = 0;
  bool haveDigit = false;
  for (; i < n; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<uint32_t>(c - '0');
      if (value > 255) return false;
      haveDigit = true;
    } else if (c == '.') {
      if (!haveDigit || dots >= 3) return false;
      parts[dots++] = value;
      value = 0;
      haveDigit = false;
      if (i + 1 >= n || text[i + 1] < '0' || text[i + 1] > '9') return false;
    } else if (c == ' ') {
      for (; i < n; ++i)
        if (text[i] != ' ') return false;
      break;
    } else {
      return false;
    }
  }
  if (dots != 3 || !haveDigit) return false;
  parts[3] = value;
  hostOrder = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
  return true;
}

bool IsDottedAddress(const std::string& text) {
  uint32_t ignored;
  return ParseDottedAddress(text, ignored);
}

std::string DottedAddress(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
  return buf;
}

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

// Blocking IPv4 lookup; returns the getaddrinfo code.
int LookupIPv4(const std::string& name, std::vector<uint32_t>& out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &raw);
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  if (rc != 0) return rc;
  for (addrinfo* ai = raw; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    const uint32_t a = ntohl(sin->sin_addr.s_addr);
    bool seen = false;
    for (uint32_t x : out) seen = seen || x == a;
    if (!seen) out.push_back(a);
  }
  return out.empty() ? EAI_NONAME : 0;
}

bool StartsWithDigit(const std::string& s) {
  return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

int LeadingNumber(const std::string& s) {
  long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
    if (v > 1000000) break;
  }
  return static_cast<int>(v);
}

}  // namespace

uint32_t WSocketResolveHost(const std::string& text) {
  const std::string host = Trim(text);
  if (text.size() > 256 || host.empty())
    throw ESocketException("WSocketResolveHost: '" + text + "' Invalid Hostname.");
  uint32_t addr;
  if (ParseDottedAddress(host, addr)) return addr;
  std::vector<uint32_t> found;
  const int rc = LookupIPv4(host, found);
  if (rc != 0) {
    char msg[600];
    std::snprintf(msg, sizeof msg,
                  "WSocketResolveHost: Cannot convert host address '%s', Error #%d", host.c_str(),
                  TranslateGaiError(rc));
    throw ESocketException(msg);
  }
  return found.front();
}

int WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() > 31) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (proto.empty() || proto.size() > 31)
    throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (StartsWithDigit(port)) {
    const int value = LeadingNumber(port);
    // A number that does not fit a port would silently wrap to another one.
    if (value > 65535) throw ESocketException("WSocketResolvePort: Invalid Port.");
    return value;
  }
  servent* se = getservbyname(port.c_str(), proto.c_str());
  if (!se) {
    char msg[200];
    std::snprintf(msg, sizeof msg, "WSocketResolvePort: Cannot convert port '%s', Error #%d",
                  port.c_str(), kWsaNO_DATA);
    throw ESocketException(msg);
  }
  return ntohs(static_cast<uint16_t>(se->s_port));
}

int WSocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() > 31)
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string lower;
  for (char c : proto) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "tcp") return 6;
  if (lower == "udp") return 17;
  if (lower == "raw") return 255;
  if (StartsWithDigit(proto)) return LeadingNumber(proto);
  protoent* pe = getprotobyname(proto.c_str());
  if (!pe) {
    char msg[200];
    std::snprintf(msg, sizeof msg, "WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                  proto.c_str(), kWsaNO_DATA);
    throw ESocketException(msg);
  }
  return pe->p_proto;
}

std::vector<std::string> WSocketGetHostByName(const std::string& name) {
  if (name.empty() || name.size() > 256)
    throw ESocketException("WSocketGetHostByName: Invalid Hostname.");
  std::vector<uint32_t> found;
  const int rc = LookupIPv4(name, found);
  if (rc != 0) throw ESocketException(SocketErrorMessage(TranslateGaiError(rc), "gethostbyname"));
  std::vector<std::string> out;
  for (uint32_t a : found) out.push_back(DottedAddress(a));
  return out;
}

std::vector<std::string> LocalAddressList() {
  char name[256 + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) throw ESocketException("gethostname failed");
  return WSocketGetHostByName(name);
}

}  // namespace vantrel::net
