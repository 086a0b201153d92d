#pragma once
// Name and number conversions of the socket layer, usable without a socket.
// Failures are thrown as ESocketException with the layer's own messages.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::net {

// The dotted-address test: four decimal parts of at most 255, blanks allowed
// before and after. "10.0.0.1" is dotted; "10.0.0", "10.0.0.1.5" and
// "256.0.0.1" are not.
bool IsDottedAddress(const std::string& text);

// Parses a dotted address into a host-order value; false when not dotted.
bool ParseDottedAddress(const std::string& text, uint32_t& hostOrder);

// "%d.%d.%d.%d" of a host-order value.
std::string DottedAddress(uint32_t hostOrder);

// Host text (dotted or a name, looked up blocking) to an IPv4 address in host order.
uint32_t WSocketResolveHost(const std::string& text);

// Port text (decimal, or a service name) to a port number.
int WSocketResolvePort(const std::string& port, const std::string& proto);

// Protocol text ("tcp", "udp", "raw", digits or a protocol name) to its number.
int WSocketResolveProto(const std::string& proto);

// All IPv4 addresses of a host name, dotted, blocking.
std::vector<std::string> WSocketGetHostByName(const std::string& name);

// The dotted addresses of the local host name.
std::vector<std::string> LocalAddressList();

std::string Trim(const std::string& text);

}  // namespace vantrel::net
