// What a client that asks the proxy to connect to itself costs: one write
// of 10,000 nested CONNECT requests for the proxy's own port, against one
// such request alone, each timed from the client's write to the end of its
// stream, and against one such request followed by as many other bytes.
// Also the most sessions and descriptors the proxy held meanwhile.
// Usage: self_loop_bench [rounds]   (bounded: default 50, at most 1000;
// the whole run stops after 120 s)

#include <dirent.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoopbackSockets.h"
#include "engine/KwHttpProxy.h"
#include "net/EventLoop.h"

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

const auto kRunEnd = Clock::now() + std::chrono::seconds(120);

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count - 3;  // ".", ".." and the directory itself
}

struct Round {
  double ms = 0;     // the client's write to the end of its stream
  double cpuMs = 0;  // the proxy's thread meanwhile
  size_t answer = 0;
};

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Writes the request from a thread of its own and reads until the end of
// the stream, while this thread runs the proxy's loop.
Round Run(engine::TKwHttpProxy& proxy, const std::string& request, int& maxSessions,
          int& maxDescriptors) {
  std::atomic<bool> done{false};
  Round round;
  const double cpuStart = ThreadCpuMs();
  const auto start = Clock::now();
  std::thread client([&] {
    const int fd = ConnectLoopback(proxy.Server().BoundPort());
    size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;  // the proxy may close before taking it all
      sent += static_cast<size_t>(n);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) round.answer += static_cast<size_t>(n);
    round.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    close(fd);
    done = true;
  });
  net::EventLoop& loop = net::EventLoop::Default();
  while (!done && Clock::now() < kRunEnd) {
    loop.RunOnce(5);
    maxSessions = std::max(maxSessions, proxy.Server().ClientCount());
    maxDescriptors = std::max(maxDescriptors, OpenDescriptors());
  }
  if (!done) {
    std::fprintf(stderr, "a round did not end in time\n");
    std::exit(1);
  }
  client.join();
  round.cpuMs = ThreadCpuMs() - cpuStart;
  // Let the session go before the next round.
  for (int i = 0; i < 200 && proxy.Server().ClientCount() > 0; ++i) loop.RunOnce(5);
  return round;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
  rounds = std::clamp(rounds, 1, 1000);

  engine::TKwHttpProxy proxy;
  proxy.SetLocalAddress("127.0.0.1");
  proxy.SetPort(0);
  std::string error;
  proxy.Open(error);
  if (!error.empty()) {
    std::fprintf(stderr, "listen: %s\n", error.c_str());
    return 2;
  }
  const std::string one =
      "CONNECT 127.0.0.1:" + std::to_string(proxy.Server().BoundPort()) + " HTTP/1.1\r\n\r\n";
  std::string nested;
  for (int i = 0; i < 10000; ++i) nested += one;
  // One refused request with as many bytes behind it: what reading them costs.
  const std::string padded = one + std::string(nested.size() - one.size(), 'x');

  const int idleDescriptors = OpenDescriptors();
  std::vector<double> single, many, same, singleCpu, manyCpu, sameCpu;
  int maxSessions = 0, maxDescriptors = 0;
  size_t singleAnswer = 0, manyAnswer = 0;
  for (int i = 0; i < rounds; ++i) {
    const Round a = Run(proxy, one, maxSessions, maxDescriptors);
    const Round b = Run(proxy, nested, maxSessions, maxDescriptors);
    const Round c = Run(proxy, padded, maxSessions, maxDescriptors);
    same.push_back(c.ms);
    sameCpu.push_back(c.cpuMs);
    single.push_back(a.ms);
    many.push_back(b.ms);
    singleCpu.push_back(a.cpuMs);
    manyCpu.push_back(b.cpuMs);
    singleAnswer = a.answer;
    manyAnswer = b.answer;
  }
  std::printf("one refused CONNECT: %.3f ms, proxy CPU %.3f ms (answer %zu bytes)\n",
              Median(single), Median(singleCpu), singleAnswer);
  std::printf(
      "10,000 nested CONNECTs in one write (%zu bytes): %.3f ms, proxy CPU %.3f ms "
      "(answer %zu bytes)\n",
      nested.size(), Median(many), Median(manyCpu), manyAnswer);
  std::printf(
      "one refused CONNECT and as many other bytes in one write: %.3f ms, proxy CPU %.3f ms\n",
      Median(same), Median(sameCpu));
  std::printf("medians of %d rounds\n", rounds);
  std::printf("most proxy sessions at once %d; descriptors idle %d, most %d, after %d\n",
              maxSessions, idleDescriptors, maxDescriptors, OpenDescriptors());
  return 0;
}
