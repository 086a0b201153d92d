// The country import's cost on a Tor-sized file made up in memory: parsing,
// sorting and merging, and writing the database text, each as a ratio to one
// pass over the same bytes that only finds the line ends (the least any
// line-by-line reader does).
// Usage: country_import_bench [lines]   (bounded: default 385000, at most 2000000)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "hosts/CountryImport.h"

using namespace vantrel::routing;
using Clock = std::chrono::steady_clock;

namespace {

volatile size_t sink;

template <class F>
double BestMillis(F&& f) {
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  long lines = argc > 1 ? std::atol(argv[1]) : 385000;
  lines = std::clamp(lines, 1000L, 2000000L);

  // Ascending ranges of a few hundred countries, as in Tor's file.
  std::mt19937 random(1);
  std::string text = "# made up for the benchmark\n";
  uint64_t next = 16777216;
  const uint64_t step = (uint64_t{1} << 32) / static_cast<uint64_t>(lines + 2);
  for (long i = 0; i < lines; ++i) {
    const uint64_t first = next;
    const uint64_t last = first + 1 + random() % (step - 1);
    next = last + 1;
    const char code[3] = {static_cast<char>('A' + random() % 26),
                          static_cast<char>('A' + random() % 25), 0};
    text += std::to_string(first) + "," + std::to_string(last) + "," + code + "\n";
  }

  const double scan = BestMillis([&] {
    size_t count = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + text.size() - p))); ++p) {
      ++count;
    }
    sink = count;
  });
  TImportResult result;
  const double parse = BestMillis([&] {
    result = {};
    ImportTorText(text, result);
    sink = result.ranges.size();
  });
  std::vector<TImportRange> ranges;
  const double normalise = BestMillis([&] {
    ranges = result.ranges;
    std::reverse(ranges.begin(), ranges.end());  // the sort must do real work
    sink = NormaliseRanges(ranges);
  });
  std::string csv;
  const double format = BestMillis([&] {
    csv = FormatCountryCsv(ranges, {});
    sink = csv.size();
  });

  std::printf("%ld lines, %.1f MB in, %zu ranges, %.1f MB out\n", lines, text.size() / 1e6,
              ranges.size(), csv.size() / 1e6);
  std::printf("find line ends    %8.2f ms  (baseline)\n", scan);
  std::printf("parse             %8.2f ms  %6.1fx baseline\n", parse, parse / scan);
  std::printf("sort and merge    %8.2f ms  %6.1fx baseline\n", normalise, normalise / scan);
  std::printf("write database    %8.2f ms  %6.1fx baseline\n", format, format / scan);
  return 0;
}
