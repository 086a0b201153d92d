#include "adapters/AdapterSource.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace vantrel {

namespace {

struct Link {
  int index = 0;
  std::string name;
  unsigned flags = 0;
  std::vector<std::string> addresses;
};

// An ioctl socket for the driver queries of one listing; nothing is sent.
class QuerySocket {
 public:
  QuerySocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }
  ~QuerySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  QuerySocket(const QuerySocket&) = delete;
  QuerySocket& operator=(const QuerySocket&) = delete;

  std::string DriverName(const std::string& ifname) const {
    if (fd_ < 0 || ifname.size() >= IFNAMSIZ) return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::memcpy(request.ifr_name, ifname.data(), ifname.size());
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (::ioctl(fd_, SIOCETHTOOL, &request) != 0) return {};
    return std::string(info.driver, ::strnlen(info.driver, sizeof info.driver));
  }

 private:
  int fd_;
};

// An alias label ("br7:1") names its link before the colon; a link's own
// name never holds one.
std::string LinkName(const char* label) {
  std::string name(label);
  const size_t colon = name.find(':');
  if (colon != std::string::npos) name.erase(colon);
  return name;
}

}  // namespace

std::string InterfaceDriverName(const std::string& ifname) {
  return QuerySocket().DriverName(ifname);
}

std::string InterfaceAlias(const std::string& ifname) {
  if (ifname.empty() || ifname.find('/') != std::string::npos || ifname == "." || ifname == "..") {
    return {};
  }
  std::ifstream file("/sys/class/net/" + ifname + "/ifalias", std::ios::binary);
  std::string alias((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  while (!alias.empty() && (alias.back() == '\n' || alias.back() == '\0')) alias.pop_back();
  return alias;
}

int TLinuxAdapterSource::GetAdapterInfoList(std::vector<AdapterRecord>& list) {
  list.clear();
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return errno != 0 ? errno : EIO;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(all, ::freeifaddrs);

  // Every link comes once as a packet entry, down or without an address too.
  std::vector<Link> links;
  for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* packet = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
    links.push_back({packet->sll_ifindex, a->ifa_name, a->ifa_flags, {}});
  }
  auto find = [&links](const std::string& name) -> Link* {
    for (Link& link : links) {
      if (link.name == name) return &link;
    }
    return nullptr;
  };
  for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    const std::string name = LinkName(a->ifa_name);
    Link* link = find(name);
    if (link == nullptr) {
      // A link that appeared between the two halves of the dump.
      const unsigned index = ::if_nametoindex(name.c_str());
      if (index == 0) continue;
      links.push_back({static_cast<int>(index), name, a->ifa_flags, {}});
      link = &links.back();
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) {
      link->addresses.emplace_back(text);
    }
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.index < b.index; });

  const QuerySocket query;
  for (Link& link : links) {
    if ((link.flags & IFF_LOOPBACK) != 0) continue;
    const std::string driver = query.DriverName(link.name);
    if (driver == "veth") continue;
    std::string description = CleanAdapterText(InterfaceAlias(link.name), kRecordDescriptionWidth);
    if (description.empty()) description = CleanAdapterText(driver, kRecordDescriptionWidth);
    list.push_back({CleanAdapterText("{" + link.name + "}", kRecordNameWidth),
                    std::move(description), std::move(link.addresses), link.index});
  }
  return 0;
}

}  // namespace vantrel
