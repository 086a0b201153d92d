// Filing real lookup answers from a name server of the test's own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosts/Addresses.h"
#include "tests/net/NetFixture.h"
#include "tests/hosts/CountryFixture.h"

namespace vantrel {
namespace {

using Reply = testsupport::DnsResponder::Reply;

class HostFilingTest : public CountryFixture, public net::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    // The local country holds 127.1.0.0/16; the bypass list 127.2.0.0/16 and
    // 127.1.5.0/24, which is also local.
    Write("GeoIPCountryWhoIs.csv",
          CsvLine("127.1.0.0", "127.1.255.255", 0x7F010000, 0x7F01FFFF, "ZA", "South Africa") +
              CsvLine("127.3.0.0", "127.3.255.255", 0x7F030000, 0x7F03FFFF, "US", "United States"));
    controls.jvdbCountry.SetValue("ZA");
    countries.LoadCountryRanges("ZA");
    hosts.SetBypassIPList({RangeEntry(0x7F020000, 0x7F02FFFF), RangeEntry(0x7F010500, 0x7F0105FF)});
    controls.cbBypass.SetChecked(true);
    comments.clear();
  }

  // Starts a lookup as the routing does and files its answer when it comes.
  void LookUpAndFile(const std::string& host) {
    controls.lbUnclassified.Add(host);
    net::TWSocket lookup;
    lookup.SetAddr(host);
    bool answered = false;
    lookup.OnDnsLookupDone = [&](net::TWSocket* sender, uint16_t errCode) {
      hosts.FileLookupAnswer(sender->Addr(), errCode, sender->DnsResult(), sender->DnsIPv6Only());
      answered = true;
    };
    lookup.DnsLookup(host);
    ASSERT_TRUE(Pump([&] { return answered; })) << host;
  }

  // Which lists hold the host: 'N' LAN, 'L' local, 'I' international, 'U' unclassified.
  std::string Lists(const std::string& host) const {
    std::string in;
    if (controls.lbLocalLAN.Contains(host)) in += 'N';
    if (controls.lbLocal.Contains(host)) in += 'L';
    if (controls.lbInternational.Contains(host)) in += 'I';
    if (controls.lbUnclassified.Contains(host)) in += 'U';
    return in;
  }
};

TEST_F(HostFilingTest, AFailedLookupIsAlwaysLoggedAndFilesTheHostNowhere) {
  dns.SetReply("nosuch.vantrel.test", Reply::NxDomain);
  dns.SetReply("broken.vantrel.test", Reply::ServFail);
  dns.SetReply("empty.vantrel.test", Reply::Empty);
  dns.SetAddresses("v6.vantrel.test", {"2001:db8::5"});
  LookUpAndFile("nosuch.vantrel.test");
  LookUpAndFile("broken.vantrel.test");
  LookUpAndFile("empty.vantrel.test");
  LookUpAndFile("v6.vantrel.test");
  EXPECT_EQ(comments,
            (std::vector<std::string>{
                "Error code 11001 nosuch.vantrel.test", "Error code 11002 broken.vantrel.test",
                "Error code 11004 empty.vantrel.test",
                "Error code 11004 v6.vantrel.test (IPv6 addresses only; the proxy connects over "
                "IPv4)"}));
  for (const char* host :
       {"nosuch.vantrel.test", "broken.vantrel.test", "empty.vantrel.test", "v6.vantrel.test"}) {
    EXPECT_EQ(Lists(host), "") << host;
    EXPECT_EQ(hosts.HostClass(host), THostClass::International) << host;
  }
}

TEST_F(HostFilingTest, TheFirstAddressFilesTheHostBypassBeforeLocal) {
  const struct {
    const char* host;
    std::vector<std::string> addresses;  // empty: the host is a dotted address
    bool bypass;                         // cbBypass
    const char* lists;
    THostClass hostClass;
  } cases[] = {
      {"lan.vantrel.test", {"127.2.0.1"}, true, "N", THostClass::LocalLAN},
      {"both.vantrel.test", {"127.1.5.1"}, true, "N", THostClass::LocalLAN},
      {"local.vantrel.test", {"127.1.0.1"}, true, "L", THostClass::Local},
      {"far.vantrel.test", {"127.3.0.1"}, true, "I", THostClass::International},
      {"first-counts.vantrel.test",
       {"127.3.0.1", "127.1.0.1"},
       true,
       "I",
       THostClass::International},
      {"unchecked.vantrel.test", {"127.1.5.1"}, false, "L", THostClass::Local},
      {"unchecked-lan.vantrel.test", {"127.2.0.1"}, false, "I", THostClass::International},
      {"127.1.0.9", {}, true, "L", THostClass::Local},
      {"127.2.0.9", {}, true, "N", THostClass::LocalLAN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    if (!c.addresses.empty()) dns.SetAddresses(c.host, c.addresses);
    controls.cbBypass.SetChecked(c.bypass);
    LookUpAndFile(c.host);
    EXPECT_EQ(Lists(c.host), c.lists);
    EXPECT_EQ(hosts.HostClass(c.host), c.hostClass);
  }
  EXPECT_EQ(dns.QueriesFor("127.1.0.9"), 0);
  EXPECT_TRUE(comments.empty());
  countries.FlushLocalHostsFile();
  EXPECT_EQ(Read("localhosts_ZA.dat"), "127.1.0.9\nlocal.vantrel.test\nunchecked.vantrel.test\n");
}

TEST_F(HostFilingTest, ASecondAnswerNeitherDuplicatesNorRewrites) {
  dns.SetAddresses("local.vantrel.test", {"127.1.0.1"});
  dns.SetAddresses("far.vantrel.test", {"127.3.0.1"});
  dns.SetAddresses("lan.vantrel.test", {"127.2.0.1"});
  for (const char* host : {"local.vantrel.test", "far.vantrel.test", "lan.vantrel.test"}) {
    LookUpAndFile(host);
  }
  countries.FlushLocalHostsFile();
  ASSERT_EQ(Read("localhosts_ZA.dat"), "local.vantrel.test\n");
  fs::remove(folder / "localhosts_ZA.dat");

  for (const char* host : {"local.vantrel.test", "Local.Vantrel.Test", "far.vantrel.test",
                           "FAR.vantrel.test", "lan.vantrel.test", "Lan.vantrel.test"}) {
    LookUpAndFile(host);
  }
  EXPECT_EQ(controls.lbLocal.Items(), std::vector<std::string>{"local.vantrel.test"});
  EXPECT_EQ(controls.lbInternational.Items(), std::vector<std::string>{"far.vantrel.test"});
  EXPECT_EQ(controls.lbLocalLAN.Items(), std::vector<std::string>{"lan.vantrel.test"});
  EXPECT_EQ(controls.lbUnclassified.Count(), 0);
  countries.FlushLocalHostsFile();
  EXPECT_FALSE(fs::exists(folder / "localhosts_ZA.dat"));
}

TEST_F(HostFilingTest, AFailedWriteKeepsTheHostAndSaysWhy) {
  fs::create_directory(folder / "localhosts_ZA.dat");
  dns.SetAddresses("local.vantrel.test", {"127.1.0.1"});
  LookUpAndFile("local.vantrel.test");  // NetTest fails if anything escapes to the loop
  countries.FlushLocalHostsFile();
  EXPECT_EQ(Lists("local.vantrel.test"), "L");
  EXPECT_EQ(comments,
            std::vector<std::string>{"Unable to write to " +
                                     (folder / "localhosts_ZA.dat").string() + ": Is a directory"});
}

TEST_F(HostFilingTest, APendingCountryChangeWritesNoCountrysFile) {
  Write("localhosts_ZA.dat", "za.example\n");
  Write("localhosts_US.dat", "us.example\n");
  controls.jvdbCountry.SetValue("US");
  countries.LoadLocalHostsFile("US");
  dns.SetAddresses("local.vantrel.test", {"127.1.0.1"});  // local by South Africa's ranges
  LookUpAndFile("local.vantrel.test");
  countries.FlushLocalHostsFile();
  EXPECT_EQ(Lists("local.vantrel.test"), "L");
  EXPECT_EQ(Read("localhosts_ZA.dat"), "za.example\n");
  EXPECT_EQ(Read("localhosts_US.dat"), "us.example\n");
}

TEST_F(HostFilingTest, LanHostsAreForgottenWhenTheBypassSettingsChange) {
  dns.SetAddresses("lan.vantrel.test", {"127.2.0.1"});
  LookUpAndFile("lan.vantrel.test");
  ASSERT_EQ(Lists("lan.vantrel.test"), "N");
  // The range is gone from the rebuilt list: the next request looks again.
  hosts.SetBypassIPList({RangeEntry(0x7F010500, 0x7F0105FF)});
  EXPECT_EQ(Lists("lan.vantrel.test"), "");
  LookUpAndFile("lan.vantrel.test");
  EXPECT_EQ(Lists("lan.vantrel.test"), "I");

  dns.SetAddresses("both.vantrel.test", {"127.1.5.1"});
  LookUpAndFile("both.vantrel.test");
  ASSERT_EQ(Lists("both.vantrel.test"), "N");
  controls.cbBypass.SetChecked(false);
  hosts.cbBypassClick(controls.cbBypass);
  EXPECT_EQ(controls.lbLocalLAN.Count(), 0);
  LookUpAndFile("both.vantrel.test");
  EXPECT_EQ(Lists("both.vantrel.test"), "L");
}

}  // namespace
}  // namespace vantrel
