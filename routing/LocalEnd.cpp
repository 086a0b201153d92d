#include "routing/LocalEnd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vantrel {

TLocalEnd LocalEnd(const net::TWSocket& socket) {
  TLocalEnd end;
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (socket.Handle() < 0 ||
      getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&sin), &len) < 0 ||
      sin.sin_family != AF_INET)
    return end;
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text)) end.address = text;
  end.port = ntohs(sin.sin_port);
  return end;
}

}  // namespace vantrel
