#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace vantrel::net {

inline sockaddr_in MakeAddr(uint32_t hostOrderAddr, int port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(hostOrderAddr);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  return sin;
}

}  // namespace vantrel::net
