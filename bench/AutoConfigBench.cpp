// What answering one proxy auto-config request costs the proxy: the script
// and the answer from a bypass list of 10,000 ranges, each range as its CIDR
// blocks; built anew, and as the proxy does it, where a list that has not
// changed since the last request is only compared. Three lists: aligned /24 nets (one block each),
// ranges of 2 to 4 blocks (the shape of most country-database ranges), and
// ranges between random addresses (about 40 blocks each, a worst case).
//
//   auto_config_bench [ranges]    (default 10000; 200 answers per list)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "hosts/Addresses.h"
#include "routing/ProxyAutoConfig.h"

namespace {

// The figure is proxy CPU: thread CPU time, which other work on a busy
// machine does not add to.
double CpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Median CPU microseconds of 200 answers; cached: through the proxy's own
// TAutoConfigFile (the list compared, its test built once), else built anew.
double MedianMicroseconds(const std::vector<std::string>& list, bool cached, size_t& bytes) {
  vantrel::TAutoConfigFile file;
  const vantrel::TLocalEnd proxy{"192.168.1.5", 1080};
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    const double start = CpuMicroseconds();
    const std::string answer = vantrel::AutoConfigResponse(
        cached ? file.Script(list, true, proxy) : vantrel::AutoConfigScript(list, true, proxy),
        false);
    times.push_back(CpuMicroseconds() - start);
    bytes = answer.size();
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
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
    const double built = MedianMicroseconds(*list, false, bytes);
    const double cached = MedianMicroseconds(*list, true, bytes);
    std::printf(
        "%zu ranges, %s: %zu bytes; built %.0f us, list unchanged %.0f us CPU (medians of 200)\n",
        count, name, bytes, built, cached);
  }
  return 0;
}
