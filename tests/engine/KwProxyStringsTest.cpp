#include "engine/KwProxyStrings.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vantrel::engine {
namespace {

TEST(ProxyStrings, DefaultTextLengths) {
  const TKwProxyStrings strings;
  const std::size_t expected[TKwProxyStrings::kCount] = {178, 201, 170, 226, 39, 42, 45, 47, 45};
  for (int i = 1; i <= TKwProxyStrings::kCount; ++i)
    EXPECT_EQ(strings.Text(i).size(), expected[i - 1]) << "index " << i;
}

TEST(ProxyStrings, DefaultTextBytes) {
  const TKwProxyStrings strings;
  EXPECT_EQ(strings.Text(kTCPTunnelEstablished), "HTTP/1.0 200 Connection established\r\n\r\n");
  EXPECT_EQ(strings.Text(kTCPTunnelBadRequest),
            "HTTP/1.0 400 Bad request\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(strings.Text(kHTTPClosed),
            "HTTP/1.1 403 Closed\r\n"
            "Connection: close\r\n"
            "Content-Type: text/html\r\n"
            "\r\n"
            "<HTML><HEAD>\r\n"
            "<TITLE>Closed</TITLE>\r\n"
            "</HEAD><BODY>\r\n"
            "<H1>Closed</H1>\r\n"
            "HTTP proxy is closed.<P>\r\n"
            "</BODY></HTML>\r\n");
  EXPECT_EQ(strings.Text(kHTTPIPForbidden).substr(0, 24), "HTTP/1.1 403 Forbidden\r\n");
  EXPECT_NE(strings.Text(kHTTPIPForbidden)
                .find("\r\nYou are not allowed to access the proxy from this IP address<P>\r\n"),
            std::string::npos);
}

TEST(ProxyStrings, IndexesOutsideOneToNineThrow) {
  TKwProxyStrings strings;
  EXPECT_EQ(&strings.sTCPTunnelIPForbidden(), &strings.Strings(9));
  EXPECT_THROW(strings.Strings(0), std::out_of_range);
  EXPECT_THROW(strings.Text(10), std::out_of_range);
}

TEST(ProxyStrings, ChangesReachTheSentText) {
  TKwProxyStrings strings;
  const std::string& before = strings.Text(kTCPTunnelEstablished);
  EXPECT_EQ(before.size(), 39u);
  strings.SetStrings(kTCPTunnelEstablished, TStringList{"A", ""});
  EXPECT_EQ(strings.Text(kTCPTunnelEstablished), "A\r\n\r\n");
  // Edited in place through the getter, the cached text follows too.
  strings.sTCPTunnelEstablished().Add("B");
  EXPECT_EQ(strings.Text(kTCPTunnelEstablished), "A\r\n\r\nB\r\n");
  // The setter copied: changing the source afterwards changes nothing.
  TStringList source{"X"};
  strings.SetStrings(kHTTPClosed, source);
  source.Add("Y");
  EXPECT_EQ(strings.Text(kHTTPClosed), "X\r\n");
}

TEST(ProxyStrings, AssignCopiesAllNine) {
  TKwProxyStrings source;
  for (int i = 1; i <= TKwProxyStrings::kCount; ++i)
    source.SetStrings(i, TStringList{"line " + std::to_string(i)});
  TKwProxyStrings target;
  target.Assign(source);
  for (int i = 1; i <= TKwProxyStrings::kCount; ++i)
    EXPECT_EQ(target.Text(i), "line " + std::to_string(i) + "\r\n");
  // Independent lists afterwards.
  source.sHTTPClosed().Clear();
  EXPECT_EQ(target.Text(kHTTPClosed), "line 1\r\n");
}

}  // namespace
}  // namespace vantrel::engine
