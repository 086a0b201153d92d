#pragma once
// Whether a connection would come back to one of our own listeners: to
// this machine (loopback, the wildcard address, an interface address,
// "localhost" or the host name) on a port we listen on. Each such
// connection would open another one until no descriptor is left.

#include <span>
#include <string>

namespace vantrel::engine {

// Whether a host text names this machine, without looking anything up.
bool IsThisMachine(const std::string& host);

// host:port is this machine on one of ownPorts. The port is compared
// first, so other targets cost no system call.
bool IsSelfTarget(const std::string& host, int port, std::span<const int> ownPorts);

}  // namespace vantrel::engine
