#include "engine/ResponseFraming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::engine {
namespace {

enum class End { kOpen, kDone, kClose };

// Feeds an answer in pieces of every size from 1 to its length; each way of
// cutting it must find the same end.
void Expect(const std::string& bytes, bool head, size_t taken, End end) {
  for (size_t step = 1; step <= bytes.size(); ++step) {
    ResponseFraming framing;
    framing.Start(head);
    size_t got = 0;
    for (size_t at = 0; at < bytes.size() && !framing.Done(); at += step)
      got += framing.Consume(std::string_view(bytes).substr(at, step));
    const End seen = framing.Done() ? End::kDone : framing.UntilClose() ? End::kClose : End::kOpen;
    ASSERT_EQ(got, taken) << "step " << step;
    ASSERT_EQ(seen, end) << "step " << step;
  }
}

TEST(ResponseFraming, WhereAnAnswerEndsWhateverTheReads) {
  const std::string after = "NEXT";
  struct Case {
    const char* name;
    std::string answer;  // the answer itself; "NEXT" follows it
    bool head;
    End end;
  };
  const std::vector<Case> cases = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, End::kDone},
      {"length zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, End::kDone},
      {"equal lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\ncontent-length:1\r\n\r\nx", false,
       End::kDone},
      {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nab", false, End::kDone},
      {"chunked wins over length",
       "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n"
       "2;x=y\r\nab\r\n0\r\nT: 1\r\n\r\n",
       false, End::kDone},
      {"lower-case hex sizes",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\n" + std::string(26, 'x') +
           "\r\nff\r\n" + std::string(255, 'y') + "\r\n0\r\n\r\n",
       false, End::kDone},
      {"chunked as the final coding",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n1\r\na\r\n0\r\n\r\n", false,
       End::kDone},
      {"no body: 204", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", false, End::kDone},
      {"no body: 304", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n", false,
       End::kDone},
      {"no body: HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true, End::kDone},
      {"interim answers first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\n"
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz",
       false, End::kDone},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    Expect(t.answer + after, t.head, t.answer.size(), End::kDone);
  }
}

TEST(ResponseFraming, WithoutTrustworthyFramingTheCloseEndsIt) {
  const std::vector<std::string> cases = {
      "HTTP/1.0 200 OK\r\n\r\nall of it",
      "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
      "HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\nabc",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n0\r\n\r\n",
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\nraw bytes",
      // Coded, but not chunked last: the length does not frame it.
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: xchunked\r\nContent-Length: 1\r\n\r\nxyz",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\nContent-Length: 1\r\n\r\nxyz",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: "
      "gzip\r\n\r\n1\r\na\r\n0\r\n\r\n",
      "ICY 200 OK\r\nContent-Length: 1\r\n\r\nx",
      "HTTP/1.1 20 OK\r\nContent-Length: 1\r\n\r\nx",
      "HTTP/1.1 200 OK\r\nX: " + std::string(ResponseFraming::kMaxHeader, 'a') + "\r\n\r\n",
  };
  for (const std::string& answer : cases) {
    SCOPED_TRACE(answer.substr(0, 60));
    Expect(answer + "NEXT", false, answer.size() + 4, End::kClose);
  }
  ResponseFraming framing;
  framing.Start(false);
  framing.Consume("HTTP/1.1 101 Switching Protocols\r\n\r\n");
  EXPECT_TRUE(framing.Switched());
}

TEST(ResponseFraming, UnfinishedAnswerTakesEverythingAndStaysOpen) {
  for (const std::string answer :
       {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab",
        "HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Len"}) {
    SCOPED_TRACE(answer);
    Expect(answer, false, answer.size(), End::kOpen);
  }
}

// Whether the connection may carry another request once the answer is over,
// as its own header says; the last (final) answer's lines count.
TEST(ResponseFraming, KeepsTheConnectionOnlyWhenTheFinalAnswerLetsIt) {
  struct Case {
    const char* name;
    std::string answer;
    bool keeps;
  };
  const std::vector<Case> cases = {
      {"1.1", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true},
      {"close among other tokens",
       "HTTP/1.1 200 OK\r\nConnection: Upgrade, CLOSE\r\nContent-Length: 0\r\n\r\n", false},
      {"close on a second line",
       "HTTP/1.1 200 OK\r\nConnection: x\r\nConnection:close\r\nContent-Length: 0\r\n\r\n", false},
      {"a token that only contains close",
       "HTTP/1.1 200 OK\r\nConnection: closed\r\nContent-Length: 0\r\n\r\n", true},
      {"Proxy-Connection: close from a next hop",
       "HTTP/1.1 200 OK\r\nProxy-Connection: close\r\nContent-Length: 0\r\n\r\n", false},
      {"1.0", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", false},
      {"1.0 with keep-alive",
       "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n", true},
      {"close in an interim answer only",
       "HTTP/1.1 100 Continue\r\nConnection: close\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: "
       "0\r\n\r\n",
       true},
      {"Negotiate among the challenges",
       "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"a\", Negotiate\r\nContent-Length: "
       "0\r\n\r\n",
       false},
      {"NTLM from a next hop",
       "HTTP/1.1 407 No\r\nProxy-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n", false},
      {"Basic only",
       "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"a\"\r\nContent-Length: 0\r\n\r\n", true},
      {"ended by the close", "HTTP/1.1 200 OK\r\n\r\nbody", false},
      {"switched", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    ResponseFraming framing;
    framing.Start(false);
    framing.Consume(t.answer);
    EXPECT_EQ(framing.KeepsConnection(), t.keeps);
  }
}

}  // namespace
}  // namespace vantrel::engine
