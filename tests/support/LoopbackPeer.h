#pragma once
// Plain loopback sockets for the far side of a test: a client or a listener
// that is not one of ours, so what arrives is what a real peer would see.

#include <string>

namespace vantrel::testsupport {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

// A TCP socket bound to 127.0.0.1 that does not listen: connects to its port are refused.
Fd BindWithoutListening(int& port);
// A plain listener on 127.0.0.1 with an ephemeral port.
Fd ListenOnLoopback(int& port, int backlog = 16);
// A connected client socket (the handshake completes in the kernel's backlog,
// so no accept is needed first); it is non-blocking afterwards.
Fd ConnectToLoopback(int port);
// Takes one waiting connection, non-blocking; invalid when none waits.
Fd AcceptWaiting(int listenFd);

enum class ReadState { Open, Closed, Reset };
// Appends every byte readable now (at most `limit` when given) without blocking.
ReadState ReadAvailable(int fd, std::string& out, size_t limit = 0);
// Writes all of `bytes` to a socket, blocking on a full buffer.
bool WriteAll(int fd, const std::string& bytes);
// Closes with a reset instead of an orderly end.
void CloseWithReset(Fd& fd);

}  // namespace vantrel::testsupport
