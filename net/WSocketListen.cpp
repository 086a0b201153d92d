#include "net/WSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/DescriptorShortage.h"
#include "net/Resolve.h"
#include "net/SocketAddress.h"

namespace vantrel::net {

namespace {

constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// A descriptor shortage that lasts is reported once a second, not per retry.
constexpr auto kShortageReport = std::chrono::seconds(1);

int AcceptOn(int listenFd, sockaddr_in& peer) {
  socklen_t peerLen = sizeof peer;
  return ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &peerLen,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
}

}  // namespace

// ---- listening ----

void TWSocket::ArmAccept(bool on) {
  acceptArmed_ = on;
  UpdateInterest();
}

void TWSocket::Listen() {
  if (fd_ >= 0) {
    // Listening starts from a closed socket; a second handle would orphan
    // the first one, still watched.
    return SocketError("Listen", kWsaEINVAL);
  }
  const TEndpoints& ends = Endpoints();
  if (!ends.portAssigned) {
    lastError_ = kWsaEINVAL;
    return RaiseException("listen: port not assigned");
  }
  if (!ends.protoAssigned) {
    lastError_ = kWsaEINVAL;
    return RaiseException("listen: protocol not assigned");
  }
  if (!ends.addrAssigned) {
    lastError_ = kWsaEINVAL;
    return RaiseException("listen: address not assigned");
  }
  uint32_t addr = 0;
  int port = 0;
  try {
    WSocketResolveProto(ends.proto);
    port = WSocketResolvePort(ends.port, ends.proto);
    addr = WSocketResolveHost(ends.addr);
  } catch (const ESocketException& e) {
    return RaiseException(std::string("listen: ") + e.what());
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return SocketError("socket", TranslateErrno(errno));
  // Reuse lets a restarted proxy bind while old connections sit in TIME_WAIT;
  // Linux still refuses a second listener on the same port.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local = MakeAddr(addr, port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    const int code = TranslateErrno(errno);
    ::close(fd);
    lastError_ = code;
    return RaiseException(SocketErrorMessage(code, "Bind"));
  }
  fd_ = fd;
  ++connection_;
  closeReported_ = false;
  AliveToken alive = alive_;
  ChangeState(wsBound);
  if (!*alive) return;
  if (::listen(fd_, ListenBacklog) < 0) {
    const int code = TranslateErrno(errno);
    ForgetHandle();
    ChangeState(wsClosed);
    if (!*alive) return;
    lastError_ = code;
    return RaiseException(SocketErrorMessage(code, "Listen"));
  }
  acceptArmed_ = true;
  ChangeState(wsListening);
  if (!*alive) return;
  Register("WSAASyncSelect");
}

bool TWSocket::FreeDescriptorsForAccept() {
  return RelieveDescriptorShortage();
}

int TWSocket::Accept() {
  std::string peerAddr, peerPort;
  return Accept(peerAddr, peerPort);
}

int TWSocket::Accept(std::string& peerAddr, std::string& peerPort) {
  if (state_ != wsListening) {
    lastError_ = kWsaEINVAL;
    RaiseException("not a listening socket");
    return -1;
  }
  sockaddr_in peer{};
  int fd = AcceptOn(fd_, peer);
  int err = fd < 0 ? errno : 0;
  if (fd < 0 && IsDescriptorShortage(err)) {
    AliveToken alive = alive_;
    const bool freed = FreeDescriptorsForAccept();
    if (!*alive || state_ != wsListening) return -1;
    if (freed) {
      fd = AcceptOn(fd_, peer);
      err = fd < 0 ? errno : 0;
    }
  }
  if (fd >= 0) {
    peerAddr = DottedAddress(ntohl(peer.sin_addr.s_addr));
    peerPort = std::to_string(ntohs(peer.sin_port));
    try {
      ArmAccept(true);
    } catch (...) {
      ::close(fd);
      throw;
    }
    return fd;
  }
  if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
    // Out of descriptors: the connection stays queued and would wake us
    // again at once; wait a little instead of spinning.
    if (!acceptRetry_) {
      AliveToken alive = alive_;
      acceptRetry_ = EventLoop::Default().AddTimer(kAcceptRetry, [this, alive] {
        if (!*alive) return;
        acceptRetry_ = 0;
        if (state_ == wsListening) ArmAccept(true);
      });
    }
    const auto now = EventLoop::Default().Now();
    if (shortageReported_ != EventLoop::Clock::time_point{} &&
        now - shortageReported_ < kShortageReport) {
      lastError_ = TranslateErrno(err);
      return -1;
    }
    shortageReported_ = now;
  } else {
    ArmAccept(true);
    if (err == EAGAIN || err == ECONNABORTED || err == EINTR) {
      lastError_ = TranslateErrno(err);
      return -1;  // the peer gave up before we took it: nothing to report
    }
  }
  SocketError("Accept", TranslateErrno(err));
  return -1;
}

void TWSocket::Dup(int handle) {
  if (handle < 0) {
    lastError_ = kWsaEINVAL;
    return SocketError("Dup", kWsaEINVAL);
  }
  AliveToken alive = alive_;
  if (fd_ >= 0) {
    ForgetHandle();
    ChangeState(wsClosed);
    if (!*alive) return;
  }
  AdoptHandle(handle);
  sendQueue_.Clear();
  int nonBlocking = 1;
  ioctl(fd_, FIONBIO, &nonBlocking);  // one call, where F_GETFL and F_SETFL take two
  ApplyLinger(false);
  if (ComponentOptions & wsoTcpNoDelay) {
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ChangeState(wsConnected);
  if (!*alive) return;
  Register("WSAAsyncSelect");
}

}  // namespace vantrel::net
