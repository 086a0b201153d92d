#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// One next hop as the routing uses it; an empty Address means none.
struct TProxyInfo {
  std::string Address;
  int32_t Port = 0;
  bool NeedsAuthentication = false;
  std::string UserName;
  std::string Password;

  bool operator==(const TProxyInfo&) const = default;
};

}  // namespace vantrel
