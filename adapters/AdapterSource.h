#pragma once
// Where the adapter list comes from. The watcher asks a source; tests hand
// in their own.

#include <string>
#include <vector>

#include "adapters/AdapterRecord.h"

namespace vantrel {

class TAdapterSource {
 public:
  virtual ~TAdapterSource() = default;
  // Fills list with the adapters in the system's order. Answers 0 on
  // success, otherwise the system's error code with list empty.
  virtual int GetAdapterInfoList(std::vector<AdapterRecord>& list) = 0;
};

// The machine's links from getifaddrs, in interface index order. Loopback
// and veth links (container plumbing that comes and goes) are left out;
// every other link is listed, up or down, with or without an address.
class TLinuxAdapterSource : public TAdapterSource {
 public:
  int GetAdapterInfoList(std::vector<AdapterRecord>& list) override;
};

// The driver name of a link as ethtool reports it; empty when it has none.
std::string InterfaceDriverName(const std::string& ifname);
// The alias set with "ip link set ... alias"; empty when none is set.
std::string InterfaceAlias(const std::string& ifname);

}  // namespace vantrel
