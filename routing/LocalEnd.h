#pragma once
// The address and port of a connected socket's own end: what a client
// connected to, or where a remote connection leaves from.

#include <string>

#include "net/WSocket.h"

namespace vantrel {

struct TLocalEnd {
  std::string address = "0.0.0.0";
  int port = 0;
};

// "0.0.0.0" and 0 when the socket has no IPv4 end.
TLocalEnd LocalEnd(const net::TWSocket& socket);

}  // namespace vantrel
