// Loading one country's ranges from a country file of the real one's size
// (about 385,000 lines, 28 MB), against the least any reader must do: read
// the file once and find its line ends. Then lookups in the loaded table,
// against a loop that only touches the same addresses.
// Usage: country_bench [lookups]   (bounded: default 1000000, at most 20000000)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "hosts/CountryCsv.h"
#include "hosts/DataFiles.h"
#include "hosts/LocalRanges.h"

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

volatile size_t sink;

// Best of five runs, in milliseconds.
template <class F>
double BestMs(F&& f) {
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

// Ascending ranges; every 145th line is ZA (about 2650), 40% are US.
std::string MakeFile(size_t lines) {
  std::string text;
  text.reserve(lines * 76);
  uint32_t next = 16777216;
  char line[160];
  for (size_t i = 0; i < lines; ++i) {
    const uint32_t first = next, last = next + 255 + static_cast<uint32_t>(i % 7) * 256;
    next = last + 1 + 256;
    const char* code = i % 145 == 0 ? "ZA" : i % 5 < 2 ? "US" : "DE";
    const char* name = code[0] == 'Z'   ? "South Africa"
                       : code[0] == 'U' ? "United States"
                                        : "Germany";
    std::snprintf(line, sizeof line,
                  "\"%u.%u.%u.%u\",\"%u.%u.%u.%u\",\"%u\",\"%u\",\"%s\",\"%s\"\n", first >> 24,
                  first >> 16 & 255, first >> 8 & 255, first & 255, last >> 24, last >> 16 & 255,
                  last >> 8 & 255, last & 255, first, last, code, name);
    text += line;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  long lookups = argc > 1 ? std::atol(argv[1]) : 1000000;
  lookups = std::clamp(lookups, 1000L, 20000000L);

  char pattern[] = "/tmp/vantrel-country-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::filesystem::path file = std::filesystem::path(pattern) / "GeoIPCountryWhoIs.csv";
  const std::string text = MakeFile(385000);
  std::ofstream(file, std::ios::binary) << text;
  std::printf("file: %zu lines, %.1f MB\n", size_t{385000}, static_cast<double>(text.size()) / 1e6);

  std::string data, error;
  const double baseline = BestMs([&] {
    ReadWholeFile(file, data, error);
    size_t ends = 0;
    for (const char* p = data.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', data.data() + data.size() - p))); ++p) {
      ++ends;
    }
    sink = ends;
  });
  std::printf("read and find line ends:        %7.1f ms (baseline)\n", baseline);

  TLocalRanges za, us;
  for (auto [code, table] : {std::pair<const char*, TLocalRanges*>{"ZA", &za}, {"US", &us}}) {
    const double ms = BestMs([&] {
      table->Clear();
      ReadWholeFile(file, data, error);
      ReadCountryRanges(data, code, *table);
      table->Normalize();
    });
    std::printf("load %s (%6zu ranges):         %7.1f ms  %.2fx baseline\n", code, table->Count(),
                ms, ms / baseline);
  }

  std::mt19937 random(20261207);
  std::vector<uint32_t> addresses(static_cast<size_t>(std::min(lookups, 1000000L)));
  for (auto& a : addresses) a = 16777216 + static_cast<uint32_t>(random() % 400000000u);
  auto perLookupNs = [&](auto&& probe) {
    const double ms = BestMs([&] {
      size_t hits = 0;
      for (long i = 0; i < lookups; ++i)
        hits += probe(addresses[static_cast<size_t>(i) % addresses.size()]);
      sink = hits;
    });
    return ms * 1e6 / static_cast<double>(lookups);
  };
  const double loop = perLookupNs([](uint32_t a) { return a & 1; });
  const double zaNs = perLookupNs([&](uint32_t a) { return za.Contains(a); });
  const double usNs = perLookupNs([&](uint32_t a) { return us.Contains(a); });
  std::printf("lookup loop alone:              %7.1f ns (baseline)\n", loop);
  std::printf("lookup in ZA:                   %7.1f ns  %.1fx baseline\n", zaNs, zaNs / loop);
  std::printf("lookup in US:                   %7.1f ns  %.1fx baseline\n", usNs, usNs / loop);

  std::filesystem::remove_all(pattern);
  return 0;
}
