#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hosts/Addresses.h"
#include "hosts/LocalRanges.h"

namespace vantrel {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

TLocalRanges Table(const Ranges& ranges) {
  TLocalRanges table;
  for (auto [first, last] : ranges) table.Append(first, last);
  table.Normalize();
  return table;
}

Ranges Contents(const TLocalRanges& table) {
  Ranges out;
  for (size_t i = 0; i < table.Count(); ++i) out.emplace_back(table.First(i), table.Last(i));
  return out;
}

std::string Dotted(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
         std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

TEST(LocalRanges, BoundsOfEightNineAndTenDigitsBothEndsInclusive) {
  // 1.0.0.0-1.0.0.255, 41.0.0.0-41.0.15.255, 196.0.0.0-196.0.255.255: the last
  // is above 2^31 and is lost by any signed comparison.
  const TLocalRanges table =
      Table({{16777216, 16777471}, {687865856, 687869951}, {3288334336, 3288399871}});
  const struct {
    const char* address;
    bool local;
  } cases[] = {
      {"1.0.0.1", true},          {"41.0.0.1", true},        {"196.0.0.1", true},
      {"1.0.1.0", false},         {"100.0.0.1", false},      {"1.0.0.0", true},
      {"1.0.0.255", true},        {"41.0.15.255", true},     {"41.0.16.0", false},
      {"196.0.0.0", true},        {"196.0.255.255", true},   {"195.255.255.255", false},
      {"0.255.255.255", false},   {"0.0.0.0", false},        {"196.1.0.0", false},
      {"255.255.255.255", false}, {"not an address", false}, {"196.0.0.1.5", false},
  };
  for (const auto& c : cases) EXPECT_EQ(table.IsLocal(c.address), c.local) << c.address;
}

TEST(LocalRanges, EmptyAndSingleRangeTables) {
  const TLocalRanges empty;
  for (const char* a : {"0.0.0.0", "1.0.0.1", "255.255.255.255"}) EXPECT_FALSE(empty.IsLocal(a));
  const TLocalRanges single = Table({{100, 200}});
  EXPECT_FALSE(single.Contains(99));
  EXPECT_TRUE(single.Contains(100));
  EXPECT_TRUE(single.Contains(200));
  EXPECT_FALSE(single.Contains(201));
  const TLocalRanges everything = Table({{0, UINT32_MAX}});
  EXPECT_TRUE(everything.Contains(0));
  EXPECT_TRUE(everything.Contains(UINT32_MAX));
}

TEST(LocalRanges, NormalizeSortsMergesAndDropsInvertedRanges) {
  const struct {
    const char* what;
    Ranges in;
    Ranges out;
    size_t dropped;
  } cases[] = {
      {"sorted and apart stays", {{1, 5}, {7, 9}, {20, 20}}, {{1, 5}, {7, 9}, {20, 20}}, 0},
      {"a range appended at the end",
       {{10, 20}, {30, 40}, {1, 5}},
       {{1, 5}, {10, 20}, {30, 40}},
       0},
      {"overlapping", {{10, 20}, {15, 30}, {25, 26}}, {{10, 30}}, 0},
      {"adjacent", {{10, 20}, {21, 30}}, {{10, 30}}, 0},
      {"contained", {{10, 100}, {20, 30}, {101, 101}}, {{10, 101}}, 0},
      {"inverted dropped", {{30, 10}, {1, 2}}, {{1, 2}}, 1},
      {"top of the space",
       {{UINT32_MAX - 1, UINT32_MAX}, {UINT32_MAX, UINT32_MAX}, {0, 0}},
       {{0, 0}, {UINT32_MAX - 1, UINT32_MAX}},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLocalRanges table;
    for (auto [first, last] : c.in) table.Append(first, last);
    EXPECT_EQ(table.Normalize(), c.dropped);
    EXPECT_EQ(Contents(table), c.out);
  }
}

// Whatever order and overlap the file had, the search agrees with a plain
// scan of the ranges as given.
TEST(LocalRanges, AgreesWithALinearScanOnRandomTables) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    Ranges given;
    const int count = static_cast<int>(random() % 60);
    const bool narrow = round % 2 == 0;  // crowded ranges overlap and touch
    for (int i = 0; i < count; ++i) {
      const uint32_t first =
          narrow ? 3000000000u + random() % 5000 : static_cast<uint32_t>(random());
      const uint32_t length = narrow ? random() % 200 : random() % 0x1000000;
      const uint32_t last = first > UINT32_MAX - length ? UINT32_MAX : first + length;
      given.emplace_back(first, last);
    }
    TLocalRanges table;
    for (auto [first, last] : given) table.Append(first, last);
    table.Normalize();

    auto scan = [&given](uint32_t a) {
      for (auto [first, last] : given) {
        if (first <= a && a <= last) return true;
      }
      return false;
    };
    std::vector<uint32_t> probes;
    for (auto [first, last] : given) {
      for (uint32_t p : {first - 1, first, last, last + 1}) probes.push_back(p);
    }
    for (int i = 0; i < 300; ++i) {
      probes.push_back(narrow ? 3000000000u - 100 + random() % 5400
                              : static_cast<uint32_t>(random()));
    }
    for (uint32_t a : probes) {
      ASSERT_EQ(table.Contains(a), scan(a)) << "round " << round << " address " << a;
      ASSERT_EQ(table.IsLocal(Dotted(a)), scan(a)) << "round " << round << " address " << Dotted(a);
    }
  }
}

}  // namespace
}  // namespace vantrel
