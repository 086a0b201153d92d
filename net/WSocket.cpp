#include "net/WSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "net/DescriptorShortage.h"
#include "net/Resolve.h"
#include "net/SocketAddress.h"

namespace vantrel::net {

int TWSocket::SendBlocksPerCall = TWSocket::kDefaultSendBlocksPerCall;

namespace {

constexpr size_t kMaxReceiveText = 1 << 20;  // one read never holds more than this

// Failures of the attempt itself that a non-blocking connect may return at
// once (no route, no free local address and port, refused by policy); they
// are delivered like any later failure, through OnSessionConnected.
bool IsConnectOutcome(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT ||
         err == ECONNRESET || err == ENETDOWN || err == EHOSTDOWN || err == EADDRNOTAVAIL ||
         err == EACCES || err == EPERM;
}

// The defaults a close restores. Assigned from strings, not literals: g++ 12
// at -O3 sees a false overlap in the literal assignment (-Wrestrict).
const std::string kDefaultProto = "tcp";
const std::string kAnyAddress = "0.0.0.0";
const std::string kAnyPort = "0";

}  // namespace

TWSocket::TWSocket(TComponent* owner) : TComponent(owner) {}

TWSocket::~TWSocket() {
  destroying_ = true;
  if (lookupId_) {
    Resolver::Default().Cancel(lookupId_);
    lookupId_ = 0;
  }
  if (acceptRetry_) EventLoop::Default().CancelTimer(acceptRetry_);
  if (fd_ >= 0) InternalClose(false, false);
  *alive_ = false;
}

// ---- properties ----

const TWSocket::TEndpoints TWSocket::kDefaultEndpoints{};
const TWSocket::TLookupResult TWSocket::kNoLookup{};

TWSocket::TEndpoints& TWSocket::EditEndpoints() {
  if (!endpoints_) endpoints_ = std::make_unique<TEndpoints>();
  return *endpoints_;
}

void TWSocket::SetAddr(const std::string& value) {
  const std::string v = Trim(value);
  if (state_ != wsClosed) {
    if (v != Addr()) RaiseException("Cannot change Addr if not closed");
    return;
  }
  TEndpoints& e = EditEndpoints();
  e.addr = v;
  e.addrAssigned = !v.empty();
}

void TWSocket::SetPort(const std::string& value) {
  const std::string v = Trim(value);
  if (state_ != wsClosed) {
    if (v != Port()) RaiseException("Cannot change Port if not closed");
    return;
  }
  TEndpoints& e = EditEndpoints();
  e.port = v;
  e.portAssigned = !v.empty();
}

void TWSocket::SetProto(const std::string& value) {
  const std::string v = Trim(value);
  if (state_ != wsClosed) {
    if (v != Proto()) RaiseException("Cannot change Proto if not closed");
    return;
  }
  TEndpoints& e = EditEndpoints();
  e.proto = v;
  e.protoAssigned = !v.empty();
}

void TWSocket::SetLocalAddr(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseException("Cannot change LocalAddr if not closed");
    return;
  }
  EditEndpoints().localAddr = value.empty() ? kAnyAddress : value;
}

void TWSocket::SetLocalPort(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseException("Cannot change LocalPort if not closed");
    return;
  }
  EditEndpoints().localPort = value;
}

int TWSocket::RcvdCount() {
  if (fd_ < 0) return 0;
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) < 0) {
    lastError_ = TranslateErrno(errno);
    return -1;
  }
  return n;
}

int TWSocket::BoundPort() const {
  if (fd_ < 0) return 0;
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return 0;
  return ntohs(sin.sin_port);
}

// ---- error reporting ----

void TWSocket::RaiseException(const std::string& message) {
  if (OnError) {
    HandlerFrame frame(*this);
    OnError(this);
    return;
  }
  throw ESocketException(message);
}

void TWSocket::SocketError(const std::string& label, int code) {
  const std::string message = SocketErrorMessage(code, label);
  const bool hasOnError = static_cast<bool>(OnError);
  AliveToken alive = alive_;
  if (code == kWsaECONNRESET || code == kWsaENOTCONN) {
    const bool wasOpen = state_ != wsClosed;
    ForgetHandle();
    ChangeState(wsClosed);
    if (*alive && wasOpen && !closeReported_ && !destroying_) TriggerSessionClosed(code);
    if (!*alive) {
      if (hasOnError) return;
      throw ESocketException(message);
    }
  }
  lastError_ = code;
  RaiseException(message);
}

void TWSocket::HandleBackgroundException(const std::exception& e) {
  AliveToken alive = alive_;
  bool canClose = true;
  if (OnBgException) {
    try {
      HandlerFrame frame(*this);
      OnBgException(this, e, canClose);
    } catch (...) {
    }
  }
  if (*alive && canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TWSocket::RunFromLoop(const std::function<void()>& fn) {
  AliveToken alive = alive_;
  ++busy_;
  try {
    fn();
  } catch (const std::exception& e) {
    if (*alive) {
      --busy_;
      HandleBackgroundException(e);
      return;
    }
  } catch (...) {
    if (*alive) {
      --busy_;
      HandleBackgroundException(std::runtime_error("unknown exception"));
      return;
    }
  }
  if (*alive) --busy_;
}

// ---- state ----

void TWSocket::ChangeState(TSocketState newState) {
  const TSocketState old = state_;
  state_ = newState;
  if (old != newState && OnChangeState) {
    HandlerFrame frame(*this);
    OnChangeState(this, old, newState);
  }
}

void TWSocket::ResetSettings() {
  if (endpoints_) {
    // The texts of Addr and Port stay; only their assignment is forgotten.
    TEndpoints& e = *endpoints_;
    e.addrAssigned = false;
    e.portAssigned = false;
    e.proto = kDefaultProto;
    e.protoAssigned = true;
    e.localAddr = kAnyAddress;
    e.localPort = kAnyPort;
  }
  LingerOnOff = wsLingerOn;
  LingerTimeout = 0;
  readCount_ = 0;
}

void TWSocket::ForgetHandle() {
  if (fd_ < 0) return;
  EventLoop::Default().RemoveWatchBeforeClose(fd_);
  ::close(fd_);
  fd_ = -1;
  writablePosted_ = false;
  if (acceptRetry_) {
    EventLoop::Default().CancelTimer(acceptRetry_);
    acceptRetry_ = 0;
  }
}

void TWSocket::AdoptHandle(int fd) {
  fd_ = fd;
  ++connection_;
  closeReported_ = false;
  readArmed_ = true;
  paused_ = false;
  peerEnded_ = false;
  writeShut_ = false;
  peerError_ = 0;
  connectError_ = 0;
}

uint32_t TWSocket::Interest() const {
  switch (state_) {
    case wsConnecting: return EPOLLOUT;
    case wsListening: return acceptArmed_ ? static_cast<uint32_t>(EPOLLIN) : 0u;
    case wsConnected:
    case wsSocksConnected: {
      // Nothing more can come: only what we still send is of interest.
      if (peerEnded_) return sendQueue_.Empty() ? 0u : static_cast<uint32_t>(EPOLLOUT);
      // While paused, the peer's orderly end waits too: reporting it would
      // read everything the system holds at once, and the peer may still
      // read what we send. A reset or a hang-up (nothing can flow either
      // way) is still heard, or the socket would stay open for good.
      uint32_t events = paused_ ? static_cast<uint32_t>(EPOLLERR | EPOLLHUP) : EPOLLRDHUP;
      if (!paused_ && readArmed_) events |= EPOLLIN;
      if (!sendQueue_.Empty()) events |= EPOLLOUT;
      return events;
    }
    default: return 0;
  }
}

void TWSocket::UpdateInterest() {
  if (fd_ < 0) return;
  try {
    EventLoop::Default().ModifyWatch(fd_, Interest());
  } catch (const WatchError& e) {
    SocketError("WSAAsyncSelect", TranslateErrno(e.Code()));
  }
}

bool TWSocket::Register(const char* label) {
  try {
    EventLoop::Default().AddWatch(fd_, Interest(), [this](uint32_t ev) { HandleIo(ev); });
    return true;
  } catch (const WatchError& e) {
    // A socket the loop cannot watch would never hear anything again.
    const int code = TranslateErrno(e.Code());
    AliveToken alive = alive_;
    ForgetHandle();
    ChangeState(wsClosed);
    if (*alive) SocketError(label, code);
    return false;
  }
}

bool TWSocket::SetOption(int level, int name, int value, const char* label) {
  if (setsockopt(fd_, level, name, &value, sizeof value) == 0) return true;
  SocketError(label, TranslateErrno(errno));
  return false;
}

void TWSocket::ApplyLinger(bool freshSocket) {
  if (LingerOnOff == wsLingerNoSet || fd_ < 0) return;
  linger l{};
  l.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
  l.l_linger = LingerTimeout;
  // Here linger on for zero seconds makes close send a reset and drop what the
  // system has not sent yet; an orderly close must deliver it, so zero seconds
  // lets the system finish in the background instead.
  if (l.l_linger == 0) l.l_onoff = 0;
  // A socket of our own making lingers off already: no call needed.
  if (freshSocket && l.l_onoff == 0) return;
  if (setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0)
    SocketError("setsockopt(SO_LINGER)", TranslateErrno(errno));
}

// ---- connecting ----

void TWSocket::Connect() {
  if (fd_ >= 0 && state_ != wsClosed) return RaiseException("Connect: Socket already in use");
  const TEndpoints& e = Endpoints();
  if (!e.portAssigned) return RaiseException("Connect: No Port Specified");
  if (!e.addrAssigned) return RaiseException("Connect: No IP Address Specified");
  if (!e.protoAssigned) return RaiseException("Connect: No Protocol Specified");

  uint32_t addr = 0, localAddr = 0;
  int port = 0, localPort = 0;
  try {
    WSocketResolveProto(e.proto);
    port = WSocketResolvePort(e.port, e.proto);
    localPort = WSocketResolvePort(e.localPort, e.proto);
    addr = WSocketResolveHost(e.addr);
    localAddr = WSocketResolveHost(e.localAddr);
  } catch (const ESocketException& e) {
    return RaiseException(std::string("connect: ") + e.what());
  }

  sendQueue_.Clear();
  AliveToken alive = alive_;
  auto newSocket = [] {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  };
  int fd = newSocket();
  if (fd < 0) {
    int err = errno;
    // Out of descriptors: idle connections elsewhere may give some back.
    if (IsDescriptorShortage(err) && RelieveDescriptorShortage()) {
      if (!*alive) return;
      fd = newSocket();
      err = errno;
    }
    if (fd < 0) return SocketError("Connect (socket)", TranslateErrno(err));
  }
  AdoptHandle(fd);
  ChangeState(wsOpened);
  if (!*alive) return;

  // Options cost a system call each on every outgoing connection: only
  // those that change something are set.
  if ((ComponentOptions & wsoTcpNoDelay) &&
      !SetOption(IPPROTO_TCP, TCP_NODELAY, 1, "setsockopt(IPPROTO_TCP, TCP_NODELAY)"))
    return;
  ApplyLinger(true);
  if (!SetOption(SOL_SOCKET, SO_KEEPALIVE, 1, "setsockopt(SO_KEEPALIVE)")) return;

  if (localPort != 0 || localAddr != 0) {
    // Only a chosen local address can collide with a recent connection's.
    if (!SetOption(SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt(SO_REUSEADDR)")) return;
    sockaddr_in local = MakeAddr(localAddr, localPort);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "winsock.bind failed, error #%d", TranslateErrno(errno));
      return RaiseException(msg);
    }
    socklen_t slen = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &slen) < 0) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "winsock.getsockname failed, error #%d",
                    TranslateErrno(errno));
      return RaiseException(msg);
    }
    EditEndpoints().localPort = std::to_string(ntohs(local.sin_port));
  }

  ChangeState(wsConnecting);  // interest: writable means connect-complete
  if (!*alive) return;
  if (!Register("WSAAsyncSelect")) return;
  sockaddr_in remote = MakeAddr(addr, port);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) return;
  const int err = errno;
  if (err == EINPROGRESS || err == EINTR) return;  // completes in the background
  const int code = TranslateErrno(err);
  if (IsConnectOutcome(err)) {
    // Refused before anything was sent: the system keeps no error for the
    // loop to find and the socket looks writable, so the code is kept here.
    connectError_ = static_cast<uint16_t>(code);
    const uint64_t connection = connection_;
    EventLoop::Default().Post([this, alive, connection] {
      if (!*alive || connection_ != connection || state_ != wsConnecting) return;
      RunFromLoop([&] { ConnectComplete(connectError_); });
    });
    return;
  }
  // Nothing is under way: leave nothing that could later pass for success.
  ForgetHandle();
  ChangeState(wsClosed);
  if (!*alive) return;
  SocketError("Connect", code);
}

void TWSocket::GiveUpConnect(uint16_t errCode) {
  if (fd_ < 0 || state_ != wsConnecting) return;
  RunFromLoop([&] { ConnectComplete(errCode); });
}

void TWSocket::ConnectComplete(uint16_t errCode) {
  AliveToken alive = alive_;
  ChangeState(wsConnected);
  if (!*alive) return;
  UpdateInterest();
  if (OnSessionConnected) {
    HandlerFrame frame(*this);
    OnSessionConnected(this, errCode);
  }
  if (!*alive) return;
  if (errCode != 0 && state_ != wsClosed) Close();
}

// ---- event dispatch ----

void TWSocket::HandleIo(uint32_t events) {
  RunFromLoop([&] { ProcessIo(events); });
}

void TWSocket::ProcessIo(uint32_t events) {
  AliveToken alive = alive_;
  const uint64_t connection = connection_;
  auto gone = [&] { return !*alive || connection_ != connection || fd_ < 0; };

  if (state_ == wsListening) {
    if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
      ArmAccept(false);  // the next one waits until Accept is called
      TriggerSessionAvailable(0);
    }
    return;
  }
  if (state_ == wsConnecting) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    const uint16_t code = err != 0 ? static_cast<uint16_t>(TranslateErrno(err)) : connectError_;
    ConnectComplete(code);
    if (gone() || code != 0) return;
  }
  if (state_ != wsConnected && state_ != wsSocksConnected) return;

  // Take the pending error first: reading would consume it, and a reset
  // would then look like an orderly end.
  if (events & EPOLLERR) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) peerError_ = static_cast<uint16_t>(TranslateErrno(err));
  }
  if ((events & EPOLLIN) && !paused_) {
    ReceiveRound(0, false);
    if (gone()) return;
  }
  if (events & EPOLLOUT) {
    HandleWritable(0);
    if (gone()) return;
  }
  if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
    if (HalfClose && !(events & EPOLLERR) && peerError_ == 0) {
      HandlePeerEnded(events);
    } else {
      HandleClosed(peerError_);
    }
  }
}

void TWSocket::ReceiveRound(uint16_t errCode, bool ignoreNoReceiveLoop) {
  AliveToken alive = alive_;
  const uint64_t connection = connection_;
  auto stillHere = [&] { return *alive && connection_ == connection && fd_ >= 0; };
  // A handler that left the bytes where they are gets no further data
  // events until it reads again, or the loop would spin on them.
  auto holdUntilRead = [&] {
    readArmed_ = false;
    UpdateInterest();
  };
  for (;;) {
    lastError_ = 0;
    if (OnDataAvailable) {
      receiveCalled_ = false;
      try {
        HandlerFrame frame(*this);
        OnDataAvailable(this, errCode);
      } catch (...) {
        // Dropped: an exception ends the round and goes no further.
        if (stillHere() && !receiveCalled_) holdUntilRead();
        return;
      }
      if (!stillHere()) return;
      if (!receiveCalled_) {
        holdUntilRead();
        return;
      }
    } else {
      char discard[1024];
      if (Receive(discard, sizeof discard) <= 0) return;
    }
    if (!ignoreNoReceiveLoop && ((ComponentOptions & wsoNoReceiveLoop) || paused_)) return;
    if (lastError_ == -1) lastError_ = 0;
    if (lastError_ != 0) return;
    if (RcvdCount() <= 0) return;
  }
}

void TWSocket::HandleClosed(uint16_t errCode) {
  AliveToken alive = alive_;
  const uint64_t connection = connection_;
  ReceiveRound(0, true);
  if (!*alive || connection_ != connection) return;
  if (!closeReported_) TriggerSessionClosed(errCode);
  if (!*alive || connection_ != connection) return;
  if (fd_ >= 0 && state_ != wsClosed) InternalClose(true, false);
}

void TWSocket::HandlePeerEnded(uint32_t events) {
  AliveToken alive = alive_;
  const uint64_t connection = connection_;
  auto stillHere = [&] { return *alive && connection_ == connection && fd_ >= 0; };
  // Shut both ways: no reason left to hold the bytes back.
  const bool hungUp = (events & EPOLLHUP) != 0;
  if (!peerEnded_) {
    // The bytes before the end go first, at the pace the handler takes them.
    while (RcvdCount() > 0) {
      if (paused_ && !hungUp) return;  // the end is heard again once resumed
      if (!OnDataAvailable) {
        char discard[4096];
        if (Receive(discard, sizeof discard) <= 0) break;
        continue;
      }
      receiveCalled_ = false;
      lastError_ = 0;
      bool failed = false;
      try {
        HandlerFrame frame(*this);
        OnDataAvailable(this, 0);
      } catch (...) {
        failed = true;
      }
      if (!stillHere()) return;
      // A handler that does not take them, or a reset meanwhile: the
      // connection ends as a socket without half-closes would.
      if (failed || !receiveCalled_ || peerError_ != 0) return HandleClosed(peerError_);
    }
    peerEnded_ = true;
    UpdateInterest();
    if (OnPeerEnded) {
      HandlerFrame frame(*this);
      OnPeerEnded(this, 0);
    }
    if (!stillHere()) return;
  }
  // Both ways are shut: the system would report it without end. Nothing
  // can happen on it any more until its owner closes it.
  if (hungUp) EventLoop::Default().RemoveWatch(fd_);
}

// ---- sending ----

int TWSocket::Send(const void* data, size_t length) {
  if (state_ != wsConnected && state_ != wsSocksConnected) {
    lastError_ = kWsaENOTCONN;
    SocketError("Send", kWsaENOTCONN);
    return -1;
  }
  if (length == 0) return 0;
  AliveToken alive = alive_;
  std::string_view bytes(static_cast<const char*>(data), length);
  if (sendQueue_.Empty()) {
    // Nothing waits before them: offered to the system at once, and only
    // what it does not take is copied into the queue.
    const size_t offer = SendBlocksPerCall <= 1 ? std::min(length, TBuffer::kSize) : length;
    iovec iov{const_cast<char*>(bytes.data()), offer};
    const ssize_t taken = SendToSystem(&iov, 1);
    if (!*alive || fd_ < 0) return static_cast<int>(length);
    bytes.remove_prefix(static_cast<size_t>(std::max<ssize_t>(taken, 0)));
    if (!bytes.empty()) sendQueue_.Append(bytes);
    // Taken in part: the system's buffer is full, and writable will say when.
    if (taken >= 0 && static_cast<size_t>(taken) == offer) TryToSend();
  } else {
    sendQueue_.Append(bytes);
    TryToSend();
  }
  if (!*alive || fd_ < 0) return static_cast<int>(length);
  if (sendQueue_.Empty()) {
    PostWritable();  // OnDataSent comes from the loop, never from inside Send
  } else {
    UpdateInterest();
  }
  return static_cast<int>(length);
}

int TWSocket::SendText(std::string_view text) {
  if (text.empty()) return 0;
  return Send(text.data(), text.size());
}

ssize_t TWSocket::SendToSystem(const iovec* iov, int count) {
  msghdr msg{};
  msg.msg_iov = const_cast<iovec*>(iov);
  msg.msg_iovlen = static_cast<size_t>(count);
  for (;;) {
    const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n >= 0) {
      sentCount_ += n;
      return n;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;  // wait for writable
    return SendFailed(errno);
  }
}

ssize_t TWSocket::SendFailed(int error) {
  const int code = TranslateErrno(error);
  if (code == 10022 || code == 10038 || code == 10053 || code == 10054 || code == 10057) {
    AliveToken alive = alive_;
    const bool report = !closeReported_ && !destroying_;
    InternalClose(false, false);
    if (*alive && report) TriggerSessionClosed(static_cast<uint16_t>(code));
    return -1;
  }
  SocketError("TryToSend failed", code);
  return -1;
}

void TWSocket::TryToSend() {
  if (fd_ < 0) return;
  constexpr int kMaxIov = 64;
  while (!sendQueue_.Empty()) {
    iovec iov[kMaxIov];
    const int count = sendQueue_.Gather(iov, std::clamp(SendBlocksPerCall, 1, kMaxIov));
    size_t offered = 0;
    for (int i = 0; i < count; ++i) offered += iov[i].iov_len;
    const ssize_t n = SendToSystem(iov, count);
    if (n <= 0) return;
    sendQueue_.Consume(static_cast<size_t>(n));
    if (static_cast<size_t>(n) < offered) return;
  }
}

void TWSocket::PostWritable() {
  if (writablePosted_) return;
  writablePosted_ = true;
  AliveToken alive = alive_;
  const uint64_t connection = connection_;
  EventLoop::Default().Post([this, alive, connection] {
    if (!*alive || connection_ != connection) return;
    writablePosted_ = false;
    if (fd_ < 0 || (state_ != wsConnected && state_ != wsSocksConnected)) return;
    RunFromLoop([&] { HandleWritable(0); });
  });
}

void TWSocket::HandleWritable(uint16_t errCode) {
  AliveToken alive = alive_;
  TryToSend();
  if (!*alive || fd_ < 0) return;
  UpdateInterest();
  if (sendQueue_.Empty()) NotifyDataSent(errCode);
}

void TWSocket::NotifyDataSent(uint16_t errCode) {
  if (!OnDataSent) return;
  HandlerFrame frame(*this);
  OnDataSent(this, errCode);
}

// ---- receiving ----

void TWSocket::NoteReceive() {
  receiveCalled_ = true;
  if (!readArmed_) {
    readArmed_ = true;
    UpdateInterest();
  }
}

int TWSocket::Receive(void* buffer, size_t maximum) {
  NoteReceive();
  if (fd_ < 0) {
    lastError_ = kWsaENOTCONN;
    return -1;
  }
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, maximum, 0);
    if (n >= 0) {
      readCount_ += n;
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    lastError_ = TranslateErrno(errno);
    if (errno != EAGAIN && errno != EWOULDBLOCK) peerError_ = static_cast<uint16_t>(lastError_);
    return -1;
  }
}

namespace {

thread_local std::vector<char> scratch(64 * 1024);

// The thread's pipe for moving bytes between sockets: empty between calls.
struct TRelayPipe {
  int readEnd = -1;
  int writeEnd = -1;
  size_t capacity = 0;
  TRelayPipe() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return;
    readEnd = ends[0];
    writeEnd = ends[1];
    // Larger than the default 64 KiB, so a read takes what a socket holds;
    // the system may refuse, and the default still works.
    fcntl(writeEnd, F_SETPIPE_SZ, 1 << 20);
    const int size = fcntl(writeEnd, F_GETPIPE_SZ);
    capacity = size > 0 ? static_cast<size_t>(size) : 64 * 1024;
  }
  ~TRelayPipe() {
    if (readEnd >= 0) ::close(readEnd);
    if (writeEnd >= 0) ::close(writeEnd);
  }
  TRelayPipe(const TRelayPipe&) = delete;
  TRelayPipe& operator=(const TRelayPipe&) = delete;
};

thread_local std::unique_ptr<TRelayPipe> relayPipe;

// A pipe that could not be made is tried again only after a while: the
// usual reason is a full descriptor table.
TRelayPipe* RelayPipe() {
  thread_local unsigned misses = 0;
  if (!relayPipe || relayPipe->readEnd < 0) {
    if (relayPipe && ++misses % 1024 != 0) return nullptr;
    relayPipe = std::make_unique<TRelayPipe>();
    if (relayPipe->readEnd < 0) return nullptr;
  }
  return relayPipe.get();
}

}  // namespace

int TWSocket::ReceiveTo(TWSocket& to, size_t maximum) {
  const bool toOpen = to.fd_ >= 0 && (to.state_ == wsConnected || to.state_ == wsSocksConnected);
  TRelayPipe* pipe = toOpen && to.sendQueue_.Empty() ? RelayPipe() : nullptr;
  if (pipe == nullptr) {
    const int n = Receive(scratch.data(), std::min(maximum, scratch.size()));
    if (n > 0) to.Send(scratch.data(), static_cast<size_t>(n));
    return n;
  }
  NoteReceive();
  if (fd_ < 0) {
    lastError_ = kWsaENOTCONN;
    return -1;
  }
  const size_t want = std::min(maximum, pipe->capacity);
  ssize_t n;
  while ((n = ::splice(fd_, nullptr, pipe->writeEnd, nullptr, want,
                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK)) < 0 &&
         errno == EINTR) {
  }
  if (n < 0) {
    lastError_ = TranslateErrno(errno);
    if (errno != EAGAIN && errno != EWOULDBLOCK) peerError_ = static_cast<uint16_t>(lastError_);
    return -1;
  }
  if (n == 0) return 0;
  readCount_ += n;

  size_t left = static_cast<size_t>(n);
  int failure = 0;
  while (left > 0) {
    const ssize_t m = ::splice(pipe->readEnd, nullptr, to.fd_, nullptr, left,
                               SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (m > 0) {
      to.sentCount_ += m;
      left -= static_cast<size_t>(m);
    } else if (m < 0 && errno == EINTR) {
      continue;
    } else {
      if (m < 0 && errno != EAGAIN && errno != EWOULDBLOCK) failure = errno;
      break;
    }
  }
  // The pipe must be empty for the next call: what `to` did not take waits
  // in its queue (or is dropped with `to`, when it failed).
  while (left > 0) {
    const ssize_t r = ::read(pipe->readEnd, scratch.data(), std::min(left, scratch.size()));
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      // Cannot happen, the bytes are in the pipe; but a pipe that may still
      // hold some must never serve another pair of sockets.
      relayPipe.reset();
      break;
    }
    if (failure == 0) to.sendQueue_.Append({scratch.data(), static_cast<size_t>(r)});
    left -= static_cast<size_t>(r);
  }
  if (failure != 0) {
    to.SendFailed(failure);
    return static_cast<int>(n);
  }
  if (to.sendQueue_.Empty()) {
    to.PostWritable();  // OnDataSent comes from the loop, as after Send
  } else {
    to.UpdateInterest();
  }
  return static_cast<int>(n);
}

std::string TWSocket::ReceiveText() {
  // Read what is waiting: one large read, then the rest the system reports.
  const int n = Receive(scratch.data(), scratch.size());
  if (n <= 0) return {};
  std::string text(scratch.data(), static_cast<size_t>(n));
  if (static_cast<size_t>(n) == scratch.size()) {
    const int more = RcvdCount();
    if (more > 0) {
      const size_t want = std::min(static_cast<size_t>(more), kMaxReceiveText - text.size());
      const size_t old = text.size();
      text.resize(old + want);
      const int got = Receive(text.data() + old, want);
      text.resize(old + static_cast<size_t>(std::max(got, 0)));
    }
  }
  return text;
}

void TWSocket::PauseReading() {
  if (paused_) return;
  paused_ = true;
  UpdateInterest();
}

void TWSocket::ResumeReading() {
  if (!paused_) return;
  paused_ = false;
  UpdateInterest();
}

// ---- closing ----

void TWSocket::InternalClose(bool shutdownFirst, bool raise) {
  if (fd_ < 0) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      ResetSettings();
    }
    return;
  }
  if (state_ == wsClosed) {
    ForgetHandle();  // a handle taken before a setup step failed
    return;
  }
  if ((shutdownFirst || destroying_) && (state_ == wsConnected || state_ == wsSocksConnected))
    DiscardUnread();
  if (shutdownFirst) ::shutdown(fd_, SHUT_WR);
  ForgetHandle();
  AliveToken alive = alive_;
  ChangeState(wsClosed);
  if (!*alive) return;
  if (raise && !destroying_ && !closeReported_) {
    TriggerSessionClosed(0);
    if (!*alive) return;
  }
  if (fd_ < 0) ResetSettings();  // unless a handler already opened it again
}

void TWSocket::DiscardUnread() {
  // Bounded: a peer that sends without pause must not hold the close up.
  constexpr int kMaxReads = 256;
  char discard[64 * 1024];
  for (int i = 0; i < kMaxReads; ++i) {
    const ssize_t n = ::recv(fd_, discard, sizeof discard, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

void TWSocket::Close() {
  InternalClose(true, true);
}

void TWSocket::Abort() {
  AliveToken alive = alive_;
  CancelLookup();
  if (!*alive) return;
  sendQueue_.Clear();
  if (fd_ >= 0 && (state_ == wsConnected || state_ == wsSocksConnected)) {
    linger l{};  // off: let the system finish in the background
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  InternalClose(false, true);
}

void TWSocket::AbortWithReset() {
  if (fd_ >= 0) {
    linger l{};
    l.l_onoff = 1;  // zero seconds: close resets
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  AliveToken alive = alive_;
  CancelLookup();
  if (!*alive) return;
  sendQueue_.Clear();
  InternalClose(false, true);
}

void TWSocket::Shutdown(int how) {
  if (fd_ < 0) return;
  if (how != 0) writeShut_ = true;
  ::shutdown(fd_, how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR);
}

void TWSocket::CloseLater() {
  AliveToken alive = alive_;
  EventLoop::Default().Post([this, alive] {
    if (!*alive) return;
    RunFromLoop([&] { Close(); });
  });
}

void TWSocket::TriggerSessionClosed(uint16_t errCode) {
  if (closeReported_) return;
  closeReported_ = true;
  if (!OnSessionClosed) return;
  HandlerFrame frame(*this);
  OnSessionClosed(this, errCode);
}

void TWSocket::TriggerSessionAvailable(uint16_t errCode) {
  if (!OnSessionAvailable) return;
  HandlerFrame frame(*this);
  OnSessionAvailable(this, errCode);
}

}  // namespace vantrel::net
