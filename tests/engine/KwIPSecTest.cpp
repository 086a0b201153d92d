#include "engine/KwIPSec.h"

#include <gtest/gtest.h>

#include <map>

#include "net/Resolve.h"
#include "net/SocketErrors.h"

namespace vantrel::engine {
namespace {

// A filter whose machine addresses and host names come from the test, so
// nothing is looked up on the network.
class FakeIPSec : public TKwIPSec {
 public:
  std::vector<std::string> localAddresses;
  std::map<std::string, uint32_t> names;
  int rebuilds = 0;

  uint32_t ParseIP(const std::string& text) const override {
    const auto it = names.find(text);
    if (it != names.end()) return it->second;
    uint32_t value;
    if (!net::ParseDottedAddress(text, value))
      throw net::ESocketException("cannot resolve '" + text + "'");
    return value;
  }

 protected:
  std::vector<std::string> LocalAddresses() const override { return localAddresses; }
  void Rebuild() override {
    ++rebuilds;
    TKwIPSec::Rebuild();
  }
};

std::vector<std::string> Lines(const TStringList& list) {
  return list.Lines();
}

class IPSecTest : public ::testing::Test {
 protected:
  void Load(std::initializer_list<std::string> lines) { sec.SetIPList(TStringList(lines)); }
  FakeIPSec sec;
};

TEST_F(IPSecTest, EmptyListAllowsEveryResolvableAddress) {
  EXPECT_TRUE(sec.IsAllowed("192.168.1.77"));
  EXPECT_TRUE(sec.IsAllowed("255.255.255.255"));
  EXPECT_FALSE(sec.IsAllowed("not-an-address"));
  EXPECT_FALSE(sec.IsAllowed(""));
}

TEST_F(IPSecTest, OnlyInvalidEntriesLeaveAnEmptyListThatAllowsAll) {
  Load({"192.168.1.0/24", "192.168.1.0/255.0.255.0", "0.0.0.0/0.0.0.0", "", "   ",
        "1.2.3.4/255.255.255.0/x", "unknown.host", "10.0.0.1/", "/255.0.0.0"});
  EXPECT_TRUE(sec.IPList().Empty());
  EXPECT_EQ(sec.Masks().Count(), 0u);
  EXPECT_TRUE(sec.IsAllowed("8.8.4.4"));
}

TEST_F(IPSecTest, NetworkWithMask) {
  Load({"192.168.1.0/255.255.255.0"});
  EXPECT_TRUE(sec.IsAllowed("192.168.1.77"));
  EXPECT_TRUE(sec.IsAllowed("192.168.1.0"));
  EXPECT_TRUE(sec.IsAllowed("192.168.1.255"));
  EXPECT_FALSE(sec.IsAllowed("192.168.2.1"));
  EXPECT_FALSE(sec.IsAllowed("garbage"));  // unresolvable is refused
}

TEST_F(IPSecTest, NetworkIsAddressAndMask) {
  Load({"10.1.2.3/255.0.0.0"});
  ASSERT_EQ(sec.Masks().Count(), 1u);
  EXPECT_EQ(sec.Masks().Items(0).Network, 0x0A000000u);
  EXPECT_TRUE(sec.IsAllowed("10.200.0.9"));
  EXPECT_FALSE(sec.IsAllowed("11.1.2.3"));
}

TEST_F(IPSecTest, FailedEntriesAreDroppedInPlaceKeepingOrderAndForm) {
  Load({"", "10.0.0.1", "bad/", " 10.0.0.2 ", "192.168.1.0/24", "192.168.1.0/24",
        "172.16.0.0/255.240.0.0", ""});
  EXPECT_EQ(Lines(sec.IPList()),
            (std::vector<std::string>{"10.0.0.1", " 10.0.0.2 ", "172.16.0.0/255.240.0.0"}));
  EXPECT_TRUE(sec.IsAllowed("10.0.0.2"));
  EXPECT_TRUE(sec.IsAllowed("172.31.255.1"));
  EXPECT_FALSE(sec.IsAllowed("10.0.0.3"));
}

TEST_F(IPSecTest, SingleLoopbackVersusLocalhost) {
  sec.localAddresses = {"10.9.8.7", "not dotted"};
  Load({"127.0.0.1"});
  EXPECT_TRUE(sec.IsAllowed("127.0.0.1"));
  EXPECT_FALSE(sec.IsAllowed("127.0.0.2"));
  EXPECT_FALSE(sec.IsAllowed("10.9.8.7"));

  Load({"LocalHost"});
  EXPECT_EQ(Lines(sec.IPList()), (std::vector<std::string>{"LocalHost"}));
  EXPECT_TRUE(sec.IsAllowed("127.0.0.1"));
  EXPECT_TRUE(sec.IsAllowed("10.9.8.7"));
  EXPECT_FALSE(sec.IsAllowed("10.9.8.8"));
}

TEST_F(IPSecTest, LocalhostWithoutMachineAddressesStillAllowsLoopback) {
  Load({"localhost"});
  EXPECT_TRUE(sec.IsAllowed("127.0.0.1"));
  EXPECT_FALSE(sec.IsAllowed("10.9.8.7"));
}

TEST_F(IPSecTest, HostNamesResolveOnceAtCompileTime) {
  sec.names["printer.lan"] = 0xC0A80105;  // 192.168.1.5
  Load({"printer.lan", "printer.lan/255.255.255.0", "gone.lan"});
  EXPECT_EQ(Lines(sec.IPList()),
            (std::vector<std::string>{"printer.lan", "printer.lan/255.255.255.0"}));
  sec.names.erase("printer.lan");
  EXPECT_TRUE(sec.IsAllowed("192.168.1.5"));
  EXPECT_TRUE(sec.IsAllowed("192.168.1.6"));
}

TEST_F(IPSecTest, BroadcastAddressIsAnOrdinaryAddress) {
  Load({"255.255.255.255"});
  EXPECT_TRUE(sec.IsAllowed("255.255.255.255"));
  EXPECT_FALSE(sec.IsAllowed("255.255.255.254"));
}

TEST_F(IPSecTest, EditingTheEntryListRecompilesOncePerChange) {
  Load({"10.0.0.1", "bogus"});
  EXPECT_EQ(sec.rebuilds, 1);  // dropping "bogus" did not rebuild again
  sec.IPList().Add("10.0.0.2");
  EXPECT_EQ(sec.rebuilds, 2);
  EXPECT_TRUE(sec.IsAllowed("10.0.0.2"));
  sec.IPList().Clear();
  EXPECT_TRUE(sec.IsAllowed("99.0.0.1"));
  sec.SetIPList(sec.IPList());  // its own list: no copy, no rebuild
  EXPECT_EQ(sec.rebuilds, 3);
}

TEST(IPMask, ValidMasksAreContiguousFromTheTop) {
  const TKwIPSec sec;
  EXPECT_TRUE(sec.IsValidMask(0xFFFFFFFFu));
  EXPECT_TRUE(sec.IsValidMask(0xFFFFFF00u));
  EXPECT_TRUE(sec.IsValidMask(0x80000000u));
  EXPECT_TRUE(sec.IsValidMask(0u));
  EXPECT_FALSE(sec.IsValidMask(0xFF00FF00u));
  EXPECT_FALSE(sec.IsValidMask(0x7FFFFFFFu));
  EXPECT_FALSE(sec.IsValidMask(0xFFFFFFFDu));

  EXPECT_EQ(sec.ParseMask("255.255.252.0"), 0xFFFFFC00u);
  EXPECT_EQ(sec.ParseMask("255.0.255.0"), 0u);
  EXPECT_EQ(sec.ParseMask("24"), 0u);
  EXPECT_EQ(sec.ParseMask(""), 0u);

  EXPECT_TRUE(sec.SameNetwork(0xC0A80101u, 0xC0A801FEu, 0xFFFFFF00u));
  EXPECT_FALSE(sec.SameNetwork(0xC0A80101u, 0xC0A80201u, 0xFFFFFF00u));
  EXPECT_TRUE(sec.SameNetwork(1u, 2u, 0u));
}

// The real resolver path, limited to dotted literals so no lookup leaves the host.
TEST(IPSecReal, DottedEntriesOnTheRealResolver) {
  TKwIPSec sec;
  sec.SetIPList(TStringList{"127.0.0.1", "10.0.0.0/255.0.0.0", "1.2.3.4/24", "10.0.0.1/0.0.0.0"});
  EXPECT_EQ(sec.IPList().Count(), 2u);
  EXPECT_TRUE(sec.IsAllowed("127.0.0.1"));
  EXPECT_TRUE(sec.IsAllowed("10.20.30.40"));
  EXPECT_FALSE(sec.IsAllowed("1.2.3.4"));
}

}  // namespace
}  // namespace vantrel::engine
