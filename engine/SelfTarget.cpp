#include "engine/SelfTarget.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "net/Resolve.h"

namespace vantrel::engine {

namespace {

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsInterfaceAddress(uint32_t hostOrder) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* ifa = list; ifa && !found; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
    const auto* sin = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
    found = ntohl(sin->sin_addr.s_addr) == hostOrder;
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

bool IsThisMachine(const std::string& host) {
  std::string name = Lowered(net::Trim(host));
  while (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) return false;
  uint32_t address = 0;
  if (net::ParseDottedAddress(name, address)) {
    return address == 0 || (address >> 24) == 127 || IsInterfaceAddress(address);
  }
  if (name == "localhost" || name.ends_with(".localhost")) return true;
  char own[256] = {};
  return gethostname(own, sizeof own - 1) == 0 && name == Lowered(own);
}

bool IsSelfTarget(const std::string& host, int port, std::span<const int> ownPorts) {
  return std::find(ownPorts.begin(), ownPorts.end(), port) != ownPorts.end() && IsThisMachine(host);
}

}  // namespace vantrel::engine
