// Hot paths of one proxied request, each against a baseline measured in the
// same run: collecting and rewriting a request header (against copying the
// bytes and finding the blank line once), queueing relayed bytes in the
// send queue (against a plain copy of the same bytes), and finding where a
// chunked answer ends as its reads are relayed (against a plain copy).
// Usage: request_bench [iterations]   (bounded: default 200000, at most 5000000)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/HttpHeader.h"
#include "engine/KwHttpProxy.h"
#include "engine/RequestBody.h"
#include "engine/ResponseFraming.h"
#include "net/SendQueue.h"

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kHeader =
    "GET http://www.example.test/images/logo.png?size=large&v=3 HTTP/1.1\r\n"
    "Host: www.example.test\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0\r\n"
    "Accept: image/avif,image/webp,*/*\r\n"
    "Accept-Language: en-US,en;q=0.5\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Proxy-Connection: keep-alive\r\n"
    "Referer: http://www.example.test/index.html\r\n"
    "Cookie: session=0123456789abcdef0123456789abcdef; theme=dark\r\n"
    "\r\n";

volatile size_t sink;

template <class F>
double NanosPerOp(long iterations, F&& f) {
  const auto start = Clock::now();
  for (long i = 0; i < iterations; ++i) f();
  const auto ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  return ns / static_cast<double>(iterations);
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::atol(argv[1]) : 200000;
  if (iterations < 1000) iterations = 1000;
  if (iterations > 5000000) iterations = 5000000;

  engine::TKwHttpProxy proxy;
  engine::TKwProxyClient client(nullptr);
  const size_t piece = kHeader.size() / 4 + 1;

  // Collect in four reads, scanning only new bytes, then parse and rewrite.
  const double collect = NanosPerOp(iterations, [&] {
    std::string buffer;
    size_t from = 0, end = std::string::npos;
    for (size_t at = 0; at < kHeader.size() && end == std::string::npos; at += piece) {
      buffer.append(kHeader, at, piece);
      end = engine::FindHeaderEnd(buffer, from);
      from = buffer.size() >= 3 ? buffer.size() - 3 : 0;
    }
    engine::RequestBody body;
    body.Start(std::string_view(buffer).substr(0, end + 2));
    std::string host, port, response;
    proxy.ProcessHTTPRequest(&client, buffer, host, port, response);
    sink = buffer.size() + host.size();
  });
  const double collectBase = NanosPerOp(iterations, [&] {
    std::string buffer;
    for (size_t at = 0; at < kHeader.size(); at += piece) buffer.append(kHeader, at, piece);
    const void* end = memmem(buffer.data(), buffer.size(), "\r\n\r\n", 4);
    sink = buffer.size() + (end != nullptr);
  });

  // Relay: 64 KiB into the send queue and out again.
  const std::string block(64 * 1024, 'x');
  net::SendQueue queue;
  const long relayIterations = iterations / 10 + 1;
  const double relay = NanosPerOp(relayIterations, [&] {
    queue.Append(block);
    while (!queue.Empty()) queue.Consume(queue.Front().size());
  });
  std::string copy(block.size(), '\0');
  const double relayBase = NanosPerOp(relayIterations, [&] {
    std::memcpy(copy.data(), block.data(), block.size());
    sink = static_cast<size_t>(copy[100]);
  });

  // Answer framing: 1 MiB in 16 KiB chunks, taken in 64 KiB reads.
  std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 64; ++i) answer += "4000\r\n" + std::string(16384, 'y') + "\r\n";
  answer += "0\r\n\r\n";
  const long frameIterations = iterations / 200 + 1;
  const double frame = NanosPerOp(frameIterations, [&] {
    engine::ResponseFraming framing;
    framing.Start(false);
    size_t taken = 0;
    for (size_t at = 0; at < answer.size(); at += 65536)
      taken += framing.Consume(std::string_view(answer).substr(at, 65536));
    sink = taken + framing.Done();
  });
  std::string answerCopy(answer.size(), '\0');
  const double frameBase = NanosPerOp(frameIterations, [&] {
    std::memcpy(answerCopy.data(), answer.data(), answer.size());
    sink = static_cast<size_t>(answerCopy[100]);
  });

  std::printf(
      "request header (%zu bytes, 4 reads): collect+parse+rewrite %.0f ns, "
      "copy+find %.0f ns, ratio %.2f\n",
      kHeader.size(), collect, collectBase, collect / collectBase);
  std::printf(
      "relay 64 KiB through the send queue: %.0f ns (%.0f MB/s), memcpy %.0f ns "
      "(%.0f MB/s), ratio %.2f\n",
      relay, 65536e3 / relay, relayBase, 65536e3 / relayBase, relay / relayBase);
  std::printf(
      "chunked answer end (%zu bytes, 64 KiB reads): framing %.0f ns, memcpy %.0f ns, "
      "ratio %.2f\n",
      answer.size(), frame, frameBase, frame / frameBase);
  return 0;
}
