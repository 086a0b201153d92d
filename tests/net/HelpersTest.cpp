// Conversions usable without a socket: error texts, the dotted-address test
// and port resolution. None of these cases may reach a name server.

#include <gtest/gtest.h>

#include <string>

#include "net/Resolve.h"
#include "net/SocketErrors.h"

namespace vantrel::net {
namespace {

TEST(ErrorTextTest, DescriptionsAndMessages) {
  EXPECT_EQ(ErrorDescription(0), "No Error");
  EXPECT_EQ(ErrorDescription(10053), "Connection aborted");
  EXPECT_EQ(ErrorDescription(10061), "Connection refused");
  EXPECT_EQ(ErrorDescription(11004), "No Data");
  EXPECT_EQ(ErrorDescription(10072), "Not a WinSock error");  // a gap in the table
  EXPECT_EQ(ErrorDescription(-1), "Not a WinSock error");
  EXPECT_EQ(SocketErrorMessage(10057, "Send"),
            "Error 10057 in function Send\r\nSocket is not connected");
}

TEST(ErrorTextTest, PlatformCodesTranslate) {
  EXPECT_EQ(TranslateErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(TranslateErrno(ECONNRESET), 10054);
  EXPECT_EQ(TranslateErrno(EPIPE), 10053);
  EXPECT_EQ(TranslateErrno(EADDRINUSE), 10048);
  EXPECT_EQ(TranslateErrno(EMFILE), 10024);
}

TEST(DottedAddressTest, WhatCountsAsDotted) {
  const struct {
    const char* text;
    bool dotted;
  } cases[] = {
      {"10.0.0.1", true},        {"  10.0.0.1  ", true},
      {"255.255.255.255", true}, {"0.0.0.0", true},
      {"10.0.0", false},         {"10.0.0.1.5", false},
      {"256.0.0.1", false},      {"10.0.0.256", false},
      {".1.2.3", false},         {"1..2.3", false},
      {"1.2.3.", false},         {"1.2.3.4 x", false},
      {"1.2.3.4x", false},       {"", false},
      {"a.b.c.d", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsDottedAddress(c.text), c.dotted) << '"' << c.text << '"';
  uint32_t a = 0;
  ASSERT_TRUE(ParseDottedAddress(" 10.20.30.40 ", a));
  EXPECT_EQ(a, 0x0A141E28u);
  EXPECT_EQ(DottedAddress(a), "10.20.30.40");
}

TEST(ResolveTest, PortsByNumberAndName) {
  EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("8080x", "tcp"), 8080);  // up to the first non-digit
  EXPECT_EQ(WSocketResolvePort("65535", "tcp"), 65535);
  EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
  const std::string thirtyTwo(32, '1');
  for (const std::string& bad : {std::string(), thirtyTwo, std::string("99999"),
                                 std::string("65536"), std::string("4294967376")}) {
    try {
      const int port = WSocketResolvePort(bad, "tcp");
      ADD_FAILURE() << '"' << bad << "\" gave port " << port;
    } catch (const ESocketException& e) {
      EXPECT_STREQ(e.what(), "WSocketResolvePort: Invalid Port.") << bad;
    }
  }
  EXPECT_THROW(WSocketResolvePort("80", ""), ESocketException);
  try {
    WSocketResolvePort("no-such-service", "tcp");
    ADD_FAILURE() << "unknown service resolved";
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "WSocketResolvePort: Cannot convert port 'no-such-service', Error #", 0),
              0u)
        << e.what();
  }
}

TEST(ResolveTest, HostTextsThatNeedNoLookup) {
  EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), 0x7F000001u);
  try {
    WSocketResolveHost("");
    ADD_FAILURE() << "empty host resolved";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "WSocketResolveHost: '' Invalid Hostname.");
  }
  EXPECT_THROW(WSocketResolveHost(std::string(257, 'a')), ESocketException);
  EXPECT_EQ(WSocketResolveProto("TCP"), 6);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
}

}  // namespace
}  // namespace vantrel::net
