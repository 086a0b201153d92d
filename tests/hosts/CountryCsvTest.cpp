#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hosts/CountryCsv.h"

namespace vantrel {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges Contents(const TLocalRanges& table) {
  Ranges out;
  for (size_t i = 0; i < table.Count(); ++i) out.emplace_back(table.First(i), table.Last(i));
  return out;
}

TEST(CountryCsv, BoundsAreWholeUnsignedNumbersBetweenTheSecondAndFourthComma) {
  const struct {
    const char* line;
    bool ok;
    uint32_t first, last;
  } cases[] = {
      {R"("1.0.0.0","1.0.0.255","16777216","16777471","AU","Australia")", true, 16777216, 16777471},
      {R"("41.0.0.0","41.0.15.255","687865856","687869951","ZA","South Africa")", true, 687865856,
       687869951},
      {R"("196.0.0.0","196.0.255.255","3288334336","3288399871","ZA","South Africa")", true,
       3288334336, 3288399871},
      {R"("0.0.0.0","0.0.0.0","0","0","ZA","x")", true, 0, 0},
      {R"(a,b,4294967295,4294967295,"ZA")", true, 4294967295, 4294967295},  // no quotes
      {R"(a,b,"00000000016777216","16777216","ZA")", true, 16777216, 16777216},
      {R"(a,b,"16777216","16777216",)", true, 16777216, 16777216},  // four commas suffice
      {R"(a,b,"4294967296","4294967296","ZA")", false, 0, 0},       // beyond 32 bits: no wrap
      {R"(a,b,"99999999999","1","ZA")", false, 0, 0},
      {R"(a,b,"-1","5","ZA")", false, 0, 0},
      {R"(a,b," 1","5","ZA")", false, 0, 0},
      {R"(a,b,"1 ","5","ZA")", false, 0, 0},
      {R"(a,b,"","5","ZA")", false, 0, 0},
      {R"(a,b,"1.0.0.0","5","ZA")", false, 0, 0},
      {R"(a,b,"0x10","5","ZA")", false, 0, 0},
      {R"(a,b,"1","5")", false, 0, 0},  // three commas
      {R"("ZA")", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    uint32_t first = 7, last = 7;
    EXPECT_EQ(ParseRangeBounds(c.line, first, last), c.ok);
    EXPECT_EQ(first, c.ok ? c.first : 7u);
    EXPECT_EQ(last, c.ok ? c.last : 7u);
  }
}

TEST(CountryCsv, TakesTheLinesWithTheQuotedCodeAndCountsTheUnusableOnes) {
  const std::string data =
      "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n"
      "\"41.0.0.0\",\"41.0.15.255\",\"687865856\",\"687869951\",\"ZA\",\"South Africa\"\r\n"
      "\"41.0.16.0\",\"41.0.16.255\",\"687870000\",\"bad\",\"ZA\",\"South Africa\"\r\n"
      "\"x\",\"y\",\"4294967296\",\"4294967296\",\"ZA\",\"South Africa\"\r"
      "\"ZA\" alone\n"
      "\n"
      "\"41.0.32.0\",\"41.0.32.255\",\"687874048\",\"687874303\",\"ZAF\",\"not ZA\"\n"
      "\"196.0.0.0\",\"196.0.255.255\",\"3288334336\",\"3288399871\",\"ZA\",\"South Africa\"";
  TLocalRanges za;
  const TCountryLines lines = ReadCountryRanges(data, "ZA", za);
  EXPECT_EQ(lines.taken, 2u);
  EXPECT_EQ(lines.skipped, 3u);
  EXPECT_EQ(Contents(za), (Ranges{{687865856, 687869951}, {3288334336, 3288399871}}));

  TLocalRanges au;
  EXPECT_EQ(ReadCountryRanges(data, "AU", au).taken, 1u);
  EXPECT_EQ(Contents(au), (Ranges{{16777216, 16777471}}));

  // The search is for the quoted code anywhere in a line, case and all.
  TLocalRanges lower, none, broken;
  EXPECT_EQ(ReadCountryRanges(data, "za", lower).taken, 0u);
  EXPECT_EQ(ReadCountryRanges(data, "US", none).taken, 0u);
  EXPECT_EQ(ReadCountryRanges(data, "Z\n", broken).taken + broken.Count(), 0u);
  EXPECT_EQ(ReadCountryRanges("", "ZA", none).taken, 0u);
}

}  // namespace
}  // namespace vantrel
