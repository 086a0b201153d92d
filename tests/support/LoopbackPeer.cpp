#include "tests/support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace vantrel::testsupport {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  return sin;
}

Fd BoundSocket(int& port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error("socket failed");
  sockaddr_in sin = Loopback(0);
  socklen_t len = sizeof sin;
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 ||
      ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&sin), &len) < 0)
    throw std::runtime_error("bind failed");
  port = ntohs(sin.sin_port);
  return fd;
}

void SetNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Fd BindWithoutListening(int& port) {
  return BoundSocket(port);
}

Fd ListenOnLoopback(int& port, int backlog) {
  Fd fd = BoundSocket(port);
  if (::listen(fd.Get(), backlog) < 0) throw std::runtime_error("listen failed");
  SetNonBlocking(fd.Get());
  return fd;
}

Fd ConnectToLoopback(int port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error("socket failed");
  sockaddr_in sin = Loopback(port);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0)
    throw std::runtime_error("connect failed");
  SetNonBlocking(fd.Get());
  return fd;
}

Fd AcceptWaiting(int listenFd) {
  return Fd(::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

ReadState ReadAvailable(int fd, std::string& out, size_t limit) {
  char buf[16384];
  size_t taken = 0;
  for (;;) {
    size_t want = sizeof buf;
    if (limit) {
      if (taken >= limit) return ReadState::Open;
      want = std::min(want, limit - taken);
    }
    const ssize_t n = ::recv(fd, buf, want, 0);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
      taken += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ReadState::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadState::Open;
    return ReadState::Reset;
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 1000);
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

void CloseWithReset(Fd& fd) {
  linger l{1, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  fd.Reset();
}

}  // namespace vantrel::testsupport
