// Filing a burst of new local host names, as their lookups answer on the
// event loop: how long each filing holds the loop (and so every request
// behind it, a known host's too), with the local-host file written once per
// new host (as a save that waits for nothing would) against saves that are
// gathered and written later from the loop. Both in the same run, on the
// same disk.
// Usage: local_hosts_bench [hosts]   (bounded: default 1000, at most 5000)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/DataFolder.h"
#include "hosts/CountryData.h"
#include "hosts/HostClassification.h"
#include "hosts/LocalRanges.h"
#include "model/ChangeTracker.h"
#include "model/CountryTable.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/ProxyTables.h"

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

struct TFigures {
  double p50 = 0, p99 = 0, max = 0, total = 0, flush = 0;
};

double Millis(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

TFigures FileBurst(int count, bool writeEach) {
  TRecordTable mtblProxy = CreateProxyTable();
  TRecordTable mtblCountries = CreateCountryTable();
  TMainControls controls{mtblProxy, mtblCountries};
  TChangeTracker changes{controls};
  TNextHopRecords nextHops{controls, mtblProxy, changes};
  TLocalRanges ranges;
  auto quiet = [](const std::string&) {};
  TCountryData countries{controls, mtblCountries, ranges, nextHops, quiet};
  THostClassification hosts{controls, ranges, countries, quiet};
  controls.jvdbCountry.SetValue("ZA");
  countries.LoadCountryRanges("ZA");
  ranges.Append(0x7F000000, 0x7FFFFFFF);  // 127.0.0.0/8 is local
  controls.lbLocal.Clear();

  std::vector<double> stalls;
  stalls.reserve(static_cast<size_t>(count));
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string host = "host" + std::to_string(i) + ".bench.test";
    const std::string address =
        "127.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    const auto t0 = Clock::now();
    hosts.FileLookupAnswer(host, 0, address);
    if (writeEach) countries.FlushLocalHostsFile();
    // The known host's request, decided right behind the filing.
    if (hosts.HostClass("host0.bench.test") != THostClass::Local) std::abort();
    stalls.push_back(Millis(Clock::now() - t0));
  }
  TFigures f;
  f.total = Millis(Clock::now() - start);
  const auto t0 = Clock::now();
  countries.FlushLocalHostsFile();
  f.flush = Millis(Clock::now() - t0);
  std::sort(stalls.begin(), stalls.end());
  f.p50 = stalls[stalls.size() / 2];
  f.p99 = stalls[std::min(stalls.size() - 1, stalls.size() * 99 / 100)];
  f.max = stalls.back();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  count = std::clamp(count, 10, 5000);
  char pattern[] = "/tmp/vantrel-local-hosts-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::filesystem::path folder = pattern;
  SetDataFolder(folder);

  std::printf("%d new local hosts, stall of the loop per filing (ms)\n", count);
  std::printf("%-22s %9s %9s %9s %10s %10s\n", "", "p50", "p99", "max", "burst", "last write");
  for (const bool writeEach : {true, false}) {
    const TFigures f = FileBurst(count, writeEach);
    std::printf("%-22s %9.3f %9.3f %9.3f %10.1f %10.3f\n",
                writeEach ? "file written per host" : "writes gathered", f.p50, f.p99, f.max,
                f.total, f.flush);
    std::filesystem::remove(folder / TCountryData::LocalHostsFileName("ZA"));
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
