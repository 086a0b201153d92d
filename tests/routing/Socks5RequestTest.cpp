// SOCKS5 greetings and requests as they arrive, in whole and cut short.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routing/Socks5Request.h"

namespace vantrel {
namespace {

using engine::TTunnelOutcome;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

const std::string kGreeting = Bytes({5, 1, 0});

std::string DomainRequest(const std::string& name, int port) {
  return Bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name +
         Bytes({port >> 8, port & 0xFF});
}

// Every prefix is held (and shows whether the greeting is whole); the whole
// is the CONNECT request, early data behind it kept byte for byte.
TEST(Socks5Request, ConnectRequestsAreReadWholeAfterEveryPrefix) {
  struct Case {
    const char* name;
    std::string greeting, request, early, header;
  };
  const std::string longName(255, 'a');
  const std::vector<Case> cases = {
      {"ipv4", kGreeting, Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}), "",
       "CONNECT 127.0.0.1:8080 HTTP/1.0\r\n\r\n"},
      {"name among methods", Bytes({5, 3, 2, 1, 0}), DomainRequest("Near.test", 80), "",
       "CONNECT Near.test:80 HTTP/1.0\r\n\r\n"},
      {"longest name", Bytes({5, 1, 0}), DomainRequest(longName, 65535), "",
       "CONNECT " + longName + ":65535 HTTP/1.0\r\n\r\n"},
      {"early data", kGreeting, DomainRequest("x_y-1.test", 443),
       std::string("\x16\x03\x01\0\x05", 5) + "hello",
       "CONNECT x_y-1.test:443 HTTP/1.0\r\n\r\n" + std::string("\x16\x03\x01\0\x05", 5) + "hello"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string all = k.greeting + k.request;
    for (size_t n = 1; n < all.size(); ++n) {
      const TSocks5Request r = ReadSocks5Request(std::string_view(all).substr(0, n));
      ASSERT_EQ(r.result, TSocks5Request::Incomplete) << n;
      EXPECT_EQ(r.Greeted, n >= k.greeting.size()) << n;
    }
    const TSocks5Request r = ReadSocks5Request(all + k.early);
    ASSERT_EQ(r.result, TSocks5Request::Connect);
    EXPECT_TRUE(r.Greeted);
    EXPECT_EQ(r.Header, k.header);
  }
}

TEST(Socks5Request, MalformedGreetingsAndRequestsGetTheirAnswer) {
  struct Case {
    const char* name;
    std::string bytes;
    TSocks5Request::Result result;
    int code;
    bool greeted;
  };
  const auto ipv4 = [](int command, int reserved, int type) {
    return kGreeting + Bytes({5, command, reserved, type, 127, 0, 0, 1, 0, 80});
  };
  const auto no = TSocks5Request::NoMethod;
  const auto reject = TSocks5Request::Reject;
  const std::vector<Case> cases = {
      {"only user and password", Bytes({5, 1, 2}), no, 0, false},
      {"no methods", Bytes({5, 0}), no, 0, false},
      {"request version 4", kGreeting + Bytes({4, 1, 0, 1}), reject, 1, true},
      {"bind", kGreeting + Bytes({5, 2}), reject, 7, true},
      {"udp associate", ipv4(3, 0, 1), reject, 7, true},
      {"command 0", ipv4(0, 0, 1), reject, 7, true},
      {"command 255", ipv4(255, 0, 1), reject, 7, true},
      {"reserved byte", ipv4(1, 1, 1), reject, 1, true},
      {"ipv6", kGreeting + Bytes({5, 1, 0, 4}), reject, 8, true},
      {"type 2", ipv4(1, 0, 2), reject, 8, true},
      {"type 0", ipv4(1, 0, 0), reject, 8, true},
      {"address 0.0.0.0", kGreeting + Bytes({5, 1, 0, 1, 0, 0, 0, 0, 0, 80}), reject, 1, true},
      {"port 0", kGreeting + Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 0}), reject, 1, true},
      {"empty name", kGreeting + Bytes({5, 1, 0, 3, 0, 0, 80}), reject, 1, true},
      {"name with a space", kGreeting + DomainRequest("a b", 80), reject, 1, true},
      {"name with a colon", kGreeting + DomainRequest("a:81", 80), reject, 1, true},
      {"name with a line break", kGreeting + DomainRequest("a\r\nX: y", 80), reject, 1, true},
      {"name with a zero byte", kGreeting + DomainRequest(std::string("a\0b", 3), 80), reject, 1,
       true},
      {"name port 0", kGreeting + DomainRequest("a.test", 0), reject, 1, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const TSocks5Request r = ReadSocks5Request(k.bytes);
    EXPECT_EQ(r.result, k.result);
    EXPECT_EQ(r.ReplyCode, k.code);
    EXPECT_EQ(r.Greeted, k.greeted);
    EXPECT_EQ(r.Header, "");
  }
}

TEST(Socks5Request, EachOutcomeHasItsReplyCode) {
  const std::vector<std::pair<TTunnelOutcome, int>> table = {
      {TTunnelOutcome::Established, 0},    {TTunnelOutcome::Failed, 1},
      {TTunnelOutcome::NotAllowed, 2},     {TTunnelOutcome::LookupFailed, 4},
      {TTunnelOutcome::ConnectRefused, 5}, {TTunnelOutcome::HopRefused, 5},
      {TTunnelOutcome::TimedOut, 6},
  };
  for (const auto& [outcome, code] : table) {
    EXPECT_EQ(Socks5ReplyCode(outcome), code) << code;
    // Only a tunnel made directly names an address of its own.
    EXPECT_EQ(Socks5Answer(outcome, nullptr), Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0}));
  }
  EXPECT_EQ(Socks5Reply(0, "10.1.2.250", 0xBEEF), Bytes({5, 0, 0, 1, 10, 1, 2, 250, 0xBE, 0xEF}));
}

}  // namespace
}  // namespace vantrel
