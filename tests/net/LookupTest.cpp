// Name lookups against our own responder: every way a lookup can end, and
// what Abort and destruction do to one still pending.

#include <string>
#include <vector>

#include "tests/net/NetFixture.h"

namespace vantrel::net {
namespace {

using Reply = testsupport::DnsResponder::Reply;

class LookupTest : public NetTest {
 protected:
  // Looks up `host` on `s` and waits for the result; -1 when none came.
  int LookUp(TWSocket& s, const std::string& host) {
    int code = -1;
    s.OnDnsLookupDone = [&code](TWSocket*, uint16_t err) { code = err; };
    s.DnsLookup(host);
    Pump([&] { return code != -1; });
    s.OnDnsLookupDone = nullptr;
    return code;
  }
};

TEST_F(LookupTest, DottedAddressCompletesInsideDnsLookup) {
  TWSocket s;
  int done = 0;
  std::string resultInHandler;
  s.OnDnsLookupDone = [&](TWSocket* sender, uint16_t err) {
    EXPECT_EQ(err, 0);
    resultInHandler = sender->DnsResult();
    ++done;
  };
  s.DnsLookup("127.0.0.1");
  EXPECT_EQ(done, 1);
  EXPECT_EQ(resultInHandler, "127.0.0.1");
  EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"127.0.0.1"});
  s.DnsLookup(" 10.0.0.1 ");
  EXPECT_EQ(done, 2);
  EXPECT_EQ(s.DnsResult(), "10.0.0.1");
  EXPECT_EQ(dns.TotalQueries(), 0);
}

TEST_F(LookupTest, AllAddressesInTheResolversOrder) {
  dns.SetAddresses("multi.vantrel.test", {"127.0.0.9", "127.0.0.3", "127.0.0.5"});
  TWSocket s;
  EXPECT_EQ(LookUp(s, "multi.vantrel.test."), 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.9");
  EXPECT_EQ(s.DnsResultList(), (std::vector<std::string>{"127.0.0.9", "127.0.0.3", "127.0.0.5"}));
  EXPECT_EQ(dns.QueriesFor("multi.vantrel.test"), 1);
}

TEST_F(LookupTest, FailuresGiveTheirCodesAndClearTheResult) {
  dns.SetAddresses("ok.vantrel.test", {"127.0.0.2"});
  dns.SetReply("nx.vantrel.test", Reply::NxDomain);
  dns.SetReply("empty.vantrel.test", Reply::Empty);
  dns.SetReply("servfail.vantrel.test", Reply::ServFail);
  dns.SetReply("refused.vantrel.test", Reply::Refused);
  dns.SetReply("silent.vantrel.test", Reply::Silent);
  dns.SetReply("formerr.vantrel.test", Reply::FormErr);
  const struct {
    const char* host;
    int code;
  } cases[] = {
      {"nx.vantrel.test.", 11001},       {"empty.vantrel.test.", 11004},
      {"servfail.vantrel.test.", 11002}, {"refused.vantrel.test.", 11002},
      {"silent.vantrel.test.", 11002},   {"formerr.vantrel.test.", 11003},
  };
  // The resolver reports a refusing server like one it could not reach, so a
  // refusal, a server failure and silence all mean "try again".
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    TWSocket s;
    ASSERT_EQ(LookUp(s, "ok.vantrel.test."), 0);  // a result the failure must clear
    EXPECT_EQ(LookUp(s, c.host), c.code);
    EXPECT_EQ(s.DnsResult(), "");
    EXPECT_TRUE(s.DnsResultList().empty());
    EXPECT_GE(dns.QueriesFor(c.host), 1);
  }
}

// No Data either way; only a name without IPv4 addresses costs a second
// query, and only one with IPv6 addresses is marked.
TEST_F(LookupTest, ANameWithIPv6AddressesOnlyIsToldApartFromOneWithNone) {
  dns.SetAddresses("v6.vantrel.test", {"2001:db8::1"});
  dns.SetAddresses("both.vantrel.test", {"127.0.0.6", "2001:db8::6"});
  dns.SetReply("empty.vantrel.test", Reply::Empty);
  const struct {
    const char* host;
    int code;
    bool ipv6Only;
    int queries;
  } cases[] = {
      {"v6.vantrel.test", 11004, true, 2},
      {"empty.vantrel.test", 11004, false, 2},
      {"both.vantrel.test", 0, false, 1},
  };
  TWSocket s;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(LookUp(s, c.host), c.code);
    EXPECT_EQ(s.DnsIPv6Only(), c.ipv6Only);
    EXPECT_EQ(s.DnsResult(), c.code == 0 ? "127.0.0.6" : "");
    EXPECT_EQ(dns.QueriesFor(c.host), c.queries);
  }
}

TEST_F(LookupTest, EmptyHostIsRefused) {
  TWSocket s;
  s.OnDnsLookupDone = Never("OnDnsLookupDone after a thrown report");
  try {
    s.DnsLookup("");
    ADD_FAILURE() << "empty host accepted";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "DNS lookup: invalid host name.");
  }
  // With OnError the report is not thrown, and the lookup ends with 10022.
  int errors = 0, code = -1;
  s.OnError = [&](TWSocket*) { ++errors; };
  s.OnDnsLookupDone = [&](TWSocket*, uint16_t err) { code = err; };
  s.DnsLookup("");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(code, 10022);
}

TEST_F(LookupTest, AbortReportsTheCancelBeforeReturningAndNothingLater) {
  dns.SetReply("silent.vantrel.test", Reply::Silent);
  TWSocket s;
  std::vector<int> codes;
  s.OnDnsLookupDone = [&](TWSocket*, uint16_t err) { codes.push_back(err); };
  s.DnsLookup("silent.vantrel.test.");
  ASSERT_TRUE(Pump([&] { return dns.QueriesFor("silent.vantrel.test") > 0; }));
  EXPECT_TRUE(codes.empty());
  s.Abort();
  EXPECT_EQ(codes, std::vector<int>{10004});
  EXPECT_FALSE(s.LookupPending());
  // Let the resolver give up on the query it still has out.
  ASSERT_TRUE(Pump([&] { return loop.PendingTimers() == 0 && loop.PendingTasks() == 0; }));
  EXPECT_EQ(codes, std::vector<int>{10004});
}

TEST_F(LookupTest, DestroyingWithALookupPendingRaisesNothing) {
  dns.SetAddresses("late.vantrel.test", {"127.0.0.7"});
  auto s = std::make_unique<TWSocket>();
  s->OnDnsLookupDone = Never("OnDnsLookupDone after destruction");
  s->DnsLookup("late.vantrel.test.");
  s.reset();  // the answer is still on its way
  ASSERT_TRUE(Pump([&] { return dns.QueriesFor("late.vantrel.test") > 0; }));
  ASSERT_TRUE(Pump([&] { return loop.PendingTimers() == 0 && loop.PendingTasks() == 0; }));
}

TEST_F(LookupTest, NewLookupReplacesAPendingOneSilently) {
  dns.SetReply("slow.vantrel.test", Reply::Silent);
  dns.SetAddresses("fast.vantrel.test", {"127.0.0.4"});
  TWSocket s;
  std::vector<int> codes;
  s.OnDnsLookupDone = [&](TWSocket*, uint16_t err) { codes.push_back(err); };
  s.DnsLookup("slow.vantrel.test.");
  s.DnsLookup("fast.vantrel.test.");
  ASSERT_TRUE(Pump([&] { return !codes.empty(); }));
  ASSERT_TRUE(Pump([&] { return loop.PendingTimers() == 0 && loop.PendingTasks() == 0; }));
  EXPECT_EQ(codes, std::vector<int>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.4");
}

}  // namespace
}  // namespace vantrel::net
