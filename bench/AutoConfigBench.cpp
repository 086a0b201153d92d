// What answering one proxy auto-config request costs the proxy, for a bypass
// list of 10,000 ranges, each range as its CIDR blocks: the answer as the
// proxy builds it for the request, moved on as the engine moves it, and
// copied into a fresh connection's send queue. Two cases: the first request
// after the list changed (each request sees a new version of the list, its
// last entry different from the one before, so the test is built again), and
// a list unchanged since the last request. Three lists: aligned /24 nets (one
// block each), ranges of 2 to 4 blocks (the shape of most country-database
// ranges), and ranges between random addresses (about 40 blocks each, a worst
// case). Left out: the request's parsing, the log line and the system calls
// (the local address, the send itself).
//
//   auto_config_bench [ranges]    (default 10000; 200 answers per case)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hosts/Addresses.h"
#include "net/SendQueue.h"
#include "routing/ProxyAutoConfig.h"

namespace {

// The figure is proxy CPU: thread CPU time, which other work on a busy
// machine does not add to.
double CpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Median CPU microseconds of 200 answers through one kept file; changed:
// the list alternates with a copy whose last entry differs.
double MedianMicroseconds(const std::vector<std::string>& list, bool changed, size_t& bytes) {
  std::vector<std::string> other = list;
  other.back() = vantrel::RangeEntry(0x0A000000, 0x0A0000FF);
  vantrel::TAutoConfigFile file;
  const vantrel::TLocalEnd proxy{"192.168.1.5", 1080};
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    const std::vector<std::string>& live = changed && i % 2 ? other : list;
    const double start = CpuMicroseconds();
    {
      std::string returnContent;
      // A changed list comes with a new version, as the list files give it.
      file.Answer(live, changed ? static_cast<uint64_t>(i) + 1 : 1, true, proxy, false, returnContent);
      const std::string responseText = std::move(returnContent);
      vantrel::net::SendQueue queue;
      queue.Append(responseText);
      bytes = queue.Bytes();
      queue.Consume(queue.Bytes());
    }
    times.push_back(CpuMicroseconds() - start);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  if (count == 0) return 1;
  std::mt19937 random(7);
  std::vector<std::string> aligned, few, wide;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t net = (static_cast<uint32_t>(random()) & 0xFFFFFF00u);
    aligned.push_back(vantrel::RangeEntry(net, net + 255));
    // A /24 and the next half and quarter: three blocks.
    few.push_back(vantrel::RangeEntry(net & 0xFFFFF800u, (net & 0xFFFFF800u) + 256 + 128 + 63));
    uint32_t a = static_cast<uint32_t>(random()), b = static_cast<uint32_t>(random());
    if (a > b) std::swap(a, b);
    wide.push_back(vantrel::RangeEntry(a, b));
  }
  for (const auto& [name, list] : {std::pair{"aligned /24", &aligned}, std::pair{"3 blocks", &few},
                                   std::pair{"random ends", &wide}}) {
    size_t bytes = 0;
    const double changed = MedianMicroseconds(*list, true, bytes);
    const double unchanged = MedianMicroseconds(*list, false, bytes);
    std::printf(
        "%zu ranges, %s: %zu bytes; list changed %.0f us, unchanged %.0f us CPU (medians of "
        "200)\n",
        count, name, bytes, changed, unchanged);
  }
  return 0;
}
