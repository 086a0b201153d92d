#pragma once
// Whether a host text names this machine, without looking anything up: the
// loopback and wildcard addresses, "localhost", the host name and the
// addresses of the machine's interfaces.

#include <string>

namespace vantrel {

bool IsThisMachine(const std::string& host);

}  // namespace vantrel
