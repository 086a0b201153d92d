// The request the tunnel sends and how it reads the proxy's answer.

#include <gtest/gtest.h>

#include <string>

#include "tunnels/TunnelAnswer.h"

namespace vantrel {
namespace {

TEST(TunnelAnswer, RequestIsExactlyTheHundredBytesOfAnOldBrowser) {
  const std::string request = TunnelConnectRequest("127.0.0.1", 12345);
  EXPECT_EQ(request,
            "CONNECT 127.0.0.1:12345 HTTP/1.0\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n\r\n");
  EXPECT_EQ(request.size(), 100u);
}

TEST(TunnelAnswer, HeadersAreJudgedByTheirStatusLineOnceComplete) {
  struct Case {
    std::string collected;
    TAnswerVerdict verdict;
    size_t headerEnd;  // when decided
  };
  const std::string est = "HTTP/1.0 200 Connection established\r\n\r\n";
  const Case cases[] = {
      {est, TAnswerVerdict::Accepted, est.size()},
      {est + "220 greeting\r\n", TAnswerVerdict::Accepted, est.size()},
      {"hTTp/1.0 200 connection ESTABLISHED\r\n\r\n", TAnswerVerdict::Accepted, 39},
      // Next hops and most proxies answer in HTTP/1.1, with any phrase.
      {"HTTP/1.1 200 OK\r\nVia: x\r\n\r\nSSH-2.0", TAnswerVerdict::Accepted, 27},
      {"HTTP/1.1 200\r\n\r\n", TAnswerVerdict::Accepted, 16},
      {"HTTP/1.0 200 Connection established\n\nhi", TAnswerVerdict::Accepted, 37},
      {"HTTP/1.0 200 Conn", TAnswerVerdict::Incomplete, 0},
      {"HTTP/1.0 200 Connection established\r\n", TAnswerVerdict::Incomplete, 0},
      {"HTTP/1.0 403 Forbidden\r\nConnection: close\r\n\r\n", TAnswerVerdict::Refused, 45},
      {"HTTP/1.0 2000 Odd\r\n\r\n", TAnswerVerdict::Refused, 21},
      {"HTTP/2 200\r\n\r\n", TAnswerVerdict::Refused, 14},
      // The phrase somewhere else is no success.
      {"HTTP/1.0 502 x\r\nX: HTTP/1.0 200 Connection established\r\n\r\n", TAnswerVerdict::Refused,
       58},
      {std::string(kMaxAnswerHeader, 'a'), TAnswerVerdict::Refused, kMaxAnswerHeader},
      {std::string(kMaxAnswerHeader - 1, 'a'), TAnswerVerdict::Incomplete, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.collected.substr(0, 60));
    size_t headerEnd = 0;
    EXPECT_EQ(JudgeAnswer(c.collected, headerEnd), c.verdict);
    if (c.verdict != TAnswerVerdict::Incomplete) {
      EXPECT_EQ(headerEnd, c.headerEnd);
    }
  }
}

}  // namespace
}  // namespace vantrel
