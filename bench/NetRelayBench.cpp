// Relay throughput of the socket layer on loopback: source -> relay in ->
// relay out -> sink, with the relay made of two TWSockets on our loop, against
// a plain blocking copy through the same topology in the same run.
//
//   net_relay_bench [MiB]     (default 1024; the whole run stops after 120 s)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoopbackSockets.h"
#include "net/EventLoop.h"
#include "net/WSocket.h"

namespace {

using namespace vantrel::net;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kHighWater = 1 << 20;  // relay out's queue before relay in pauses
const auto kCap = std::chrono::seconds(120);
Clock::time_point gDeadline;

// Waits for a condition on fd until the run's deadline; false when time is up.
bool WaitFor(int fd, short events) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(gDeadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (r > 0) return true;
  }
}

// Writes `total` bytes, then ends the connection. Blocking, with the deadline.
void Source(int fd, uint64_t total, std::atomic<bool>& failed) {
  std::vector<char> buf(kChunk);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<char>(i * 31 + 7);
  uint64_t sent = 0;
  while (sent < total) {
    if (!WaitFor(fd, POLLOUT)) {
      failed = true;
      break;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), total - sent));
    const ssize_t n = send(fd, buf.data(), want, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
      sent += static_cast<uint64_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      failed = true;
      break;
    }
  }
  shutdown(fd, SHUT_WR);
}

// Reads until the peer ends; returns the byte count.
uint64_t Sink(int fd) {
  std::vector<char> buf(kChunk);
  uint64_t got = 0;
  for (;;) {
    if (!WaitFor(fd, POLLIN)) break;
    const ssize_t n = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n > 0)
      got += static_cast<uint64_t>(n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
      break;
  }
  return got;
}

struct Result {
  double seconds = 0;
  uint64_t bytes = 0;
  bool complete = false;
};

// The relay as the program builds one: two TWSockets, back-pressure through
// PauseReading while relay out's queue is long.
Result RelayThroughSockets(uint64_t total, int blocksPerCall) {
  TWSocket::SendBlocksPerCall = blocksPerCall;
  EventLoop& loop = EventLoop::Default();
  int inPort = 0, outPort = 0;
  const int inListen = ListenLoopback(inPort);
  const int outListen = ListenLoopback(outPort);

  TWSocket relayOut;
  relayOut.SetAddr("127.0.0.1");
  relayOut.SetPort(std::to_string(outPort));
  bool outUp = false;
  relayOut.OnSessionConnected = [&](TWSocket*, uint16_t err) { outUp = err == 0; };
  relayOut.Connect();
  const int sinkFd = accept4(outListen, nullptr, nullptr, SOCK_CLOEXEC);
  loop.RunUntil([&] { return outUp; }, std::chrono::seconds(5));

  const int sourceFd = ConnectLoopback(inPort);
  TWSocket relayIn;
  relayIn.Dup(accept4(inListen, nullptr, nullptr, SOCK_CLOEXEC));
  std::vector<char> buf(kChunk);
  bool inEnded = false;
  relayIn.OnDataAvailable = [&](TWSocket* s, uint16_t) {
    const int n = s->Receive(buf.data(), buf.size());
    if (n > 0) relayOut.Send(buf.data(), static_cast<size_t>(n));
    if (relayOut.BufferedBytes() > kHighWater) s->PauseReading();
  };
  relayIn.OnSessionClosed = [&](TWSocket*, uint16_t) { inEnded = true; };
  relayOut.OnDataSent = [&](TWSocket* s, uint16_t) {
    if (inEnded)
      s->Shutdown(1);  // everything is out: pass the end on
    else
      relayIn.ResumeReading();
  };

  std::atomic<bool> failed{false};
  uint64_t received = 0;
  const auto start = Clock::now();
  std::thread source(Source, sourceFd, total, std::ref(failed));
  std::thread sink([&] { received = Sink(sinkFd); });
  loop.RunUntil([&] { return (inEnded && relayOut.SendQueueEmpty()) || failed; },
                std::chrono::duration_cast<std::chrono::milliseconds>(gDeadline - Clock::now()));
  if (inEnded && relayOut.SendQueueEmpty()) relayOut.Shutdown(1);
  source.join();
  sink.join();
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.bytes = received;
  r.complete = received == total && !failed;
  relayOut.Close();
  relayIn.Close();
  for (int fd : {inListen, outListen, sourceFd, sinkFd}) close(fd);
  loop.RunUntil([&] { return loop.PendingTasks() == 0; }, std::chrono::seconds(1));
  TWSocket::SendBlocksPerCall = TWSocket::kDefaultSendBlocksPerCall;
  return r;
}

// The physical reference: one thread copying with blocking read and write.
Result RelayPlainCopy(uint64_t total) {
  int inPort = 0, outPort = 0;
  const int inListen = ListenLoopback(inPort);
  const int outListen = ListenLoopback(outPort);
  const int sourceFd = ConnectLoopback(inPort);
  const int relayIn = accept4(inListen, nullptr, nullptr, SOCK_CLOEXEC);
  const int relayOut = ConnectLoopback(outPort);
  const int sinkFd = accept4(outListen, nullptr, nullptr, SOCK_CLOEXEC);

  std::atomic<bool> failed{false};
  uint64_t received = 0;
  const auto start = Clock::now();
  std::thread source(Source, sourceFd, total, std::ref(failed));
  std::thread sink([&] { received = Sink(sinkFd); });
  std::thread relay([&] {
    std::vector<char> buf(kChunk);
    for (;;) {
      if (!WaitFor(relayIn, POLLIN)) break;
      const ssize_t n = recv(relayIn, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      size_t done = 0;
      while (done < static_cast<size_t>(n)) {
        const ssize_t w =
            send(relayOut, buf.data() + done, static_cast<size_t>(n) - done, MSG_NOSIGNAL);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
      }
    }
    shutdown(relayOut, SHUT_WR);
  });
  source.join();
  relay.join();
  sink.join();
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.bytes = received;
  r.complete = received == total && !failed;
  for (int fd : {inListen, outListen, sourceFd, relayIn, relayOut, sinkFd}) close(fd);
  return r;
}

double MBps(const Result& r) {
  return r.seconds > 0 ? r.bytes / r.seconds / 1e6 : 0;
}

void Print(const char* name, const Result& r, double reference) {
  std::printf("%-28s %8.1f MB/s  %6.2f s  ratio %.2f%s\n", name, MBps(r), r.seconds,
              reference > 0 ? MBps(r) / reference : 0.0, r.complete ? "" : "  INCOMPLETE");
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1024;
  if (mib <= 0 || mib > 16384) {
    std::fprintf(stderr, "usage: %s [MiB 1..16384]\n", argv[0]);
    return 2;
  }
  const uint64_t total = static_cast<uint64_t>(mib) << 20;
  gDeadline = Clock::now() + kCap;
  std::printf("relaying %ld MiB over loopback: source -> relay in -> relay out -> sink\n", mib);

  const Result plain = RelayPlainCopy(total);
  const double reference = MBps(plain);
  Print("plain blocking copy", plain, reference);
  bool ok = plain.complete;
  for (const int blocks : {1, 4, 16, 32, 64}) {
    const Result relayed = RelayThroughSockets(total, blocks);
    const std::string name =
        "TWSocket, " + std::to_string(blocks) + (blocks == 1 ? " block" : " blocks") + " per call";
    Print(name.c_str(), relayed, reference);
    ok = ok && relayed.complete;
  }
  if (!ok)
    std::printf("a run did not finish within the %lld s cap\n",
                static_cast<long long>(kCap.count()));
  return ok ? 0 : 1;
}
