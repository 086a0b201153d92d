#pragma once
// Loopback sockets for the benches' own sources and sinks. Any failure ends
// the bench: its figures would mean nothing.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Listens on 127.0.0.1 with a port of the system's choosing.
inline int ListenLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0 || listen(fd, 4) < 0) {
    std::perror("listen");
    std::exit(2);
  }
  port = ntohs(sin.sin_port);
  return fd;
}

inline int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0) {
    std::perror("connect");
    std::exit(2);
  }
  return fd;
}
