#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hosts/Addresses.h"

namespace vantrel {
namespace {

TEST(Addresses, NormalizeWritesThreeDigitsAndRefusesAnythingElse) {
  const struct {
    const char* text;
    const char* normal;  // nullptr: not an address
  } cases[] = {
      {"192.168.0.1", "192.168.000.001"},
      {"0.0.0.0", "000.000.000.000"},
      {"255.255.255.255", "255.255.255.255"},
      // A leading zero is decimal: octal would make 010 eight and refuse 08.
      {"010.08.009.0255", "010.008.009.255"},
      {"10.0.0.256", nullptr},
      {"1.2.3", nullptr},
      {"1.2.3.4.5", nullptr},
      {"a.b.c.d", nullptr},
      {"1..3.4", nullptr},
      {"1.2.3.", nullptr},
      {"", nullptr},
      {" 1.2.3.4", nullptr},
      {"1.2.3.4 ", nullptr},
      {"+1.2.3.4", nullptr},
      {"0x7f.0.0.1", nullptr},
      {"127.1", nullptr},
      {"99999999999999999999.0.0.1", nullptr},
      {"::1", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    EXPECT_EQ(NormalizeAddress(text), c.normal != nullptr);
    EXPECT_EQ(text, c.normal ? c.normal : c.text);  // untouched on failure
  }
  EXPECT_EQ(RangeEntry(0x0A000000, 0x0AFFFFFF), "010.000.000.000-010.255.255.255");
}

// Entries are read eight bytes at a time: every byte of one is checked,
// wherever it sits, and every part is read into its place.
TEST(Addresses, RangeEntryIsReadBackAndAnyOtherByteRefused) {
  std::mt19937 random(3);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t a = static_cast<uint32_t>(random()), b = static_cast<uint32_t>(random());
    uint32_t first = 0, last = 0;
    ASSERT_TRUE(ParseRangeEntry(RangeEntry(a, b), first, last)) << RangeEntry(a, b);
    EXPECT_EQ(first, a);
    EXPECT_EQ(last, b);
  }
  const std::string good = "255.255.255.255-000.000.000.000";
  for (size_t at = 0; at < good.size(); ++at) {
    const bool digit = good[at] != '.' && good[at] != '-';
    // Next to the digits, the separators, and bytes whose top bit is set.
    for (const char c : {'/', ':', 'A', '.', '-', '0', ' ', '\0', '\x80', '\xB9', '\xFF'}) {
      if (c == good[at] || (digit && c == '0')) continue;
      std::string entry = good;
      entry[at] = c;
      uint32_t first = 7, last = 7;
      EXPECT_FALSE(ParseRangeEntry(entry, first, last)) << entry;
      EXPECT_EQ(first + last, 14u);  // untouched
    }
  }
  // A part above 255, in each of the eight places.
  for (size_t part = 0; part < 8; ++part) {
    for (const char* number : {"256", "999"}) {
      std::string entry = good;
      entry.replace(part * 4, 3, number);
      uint32_t first = 0, last = 0;
      EXPECT_FALSE(ParseRangeEntry(entry, first, last)) << entry;
    }
  }
  uint32_t first = 0, last = 0;
  EXPECT_FALSE(ParseRangeEntry(good.substr(0, 30), first, last));
  EXPECT_FALSE(ParseRangeEntry(good + "0", first, last));
  EXPECT_FALSE(ParseRangeEntry("", first, last));
}

TEST(Addresses, RangeListFindsTheAddressInAnyEntryAndNothingThatIsNoAddress) {
  const std::vector<std::string> list = {
      "192.168.000.000-192.168.255.255",
      "127.000.000.001-127.000.000.001",
      "000.000.000.000-009.255.255.255",
      "short entry",
  };
  const struct {
    const char* address;
    bool inside;
  } cases[] = {
      {"192.168.10.20", true},
      {"192.168.0.0", true},
      {"192.168.255.255", true},
      {"192.169.0.1", false},
      {"192.167.255.255", false},
      {"127.0.0.1", true},
      {"127.0.0.2", false},
      {"127.0.0.0", false},
      {"9.255.255.255", true},
      {"10.0.0.0", false},
      // Text compared byte by byte would fall inside 000...-009...: not here.
      {"100", false},
      {"0", false},
      {"::1", false},
      {"", false},
      {"192.168.1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddressInRangeList(c.address, list), c.inside) << c.address;
  }
  EXPECT_FALSE(AddressInRangeList("127.0.0.1", {}));
}

}  // namespace
}  // namespace vantrel
