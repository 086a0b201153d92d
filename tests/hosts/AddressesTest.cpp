#include <gtest/gtest.h>

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
