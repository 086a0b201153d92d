// Request rewriting and message framing on arbitrary bytes: parsing must
// never crash, whatever follows the header must come out unchanged, and
// where a body or an answer ends, and whether its connection may be kept,
// must not depend on how reads cut the bytes.
// The input is also walked as pipelined requests, each header followed by
// its body, the way a client connection is.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/ConnectionReuse.h"
#include "engine/HttpHeader.h"
#include "engine/KwHttpProxy.h"
#include "engine/RequestBody.h"
#include "engine/ResponseFraming.h"

using namespace vantrel::engine;

namespace {

std::string Tail(const std::string& text) {
  const size_t end = FindHeaderEnd(text);
  return end == std::string::npos ? std::string() : text.substr(end + 4);
}

void CheckTailKept(const std::string& before, const std::string& after) {
  if (FindHeaderEnd(before) == std::string::npos) return;
  if (Tail(before) != Tail(after)) std::abort();
}

// Cuts of a text into reads: every piece `step` long, or (step 0) pieces of
// varying length drawn from seed.
std::vector<std::string_view> Split(std::string_view text, size_t step, uint32_t seed) {
  std::vector<std::string_view> pieces;
  for (size_t at = 0; at < text.size();) {
    size_t n = step;
    if (n == 0) {
      seed = seed * 1103515245u + 12345u;
      n = 1 + (seed >> 16) % 23;
    }
    pieces.push_back(text.substr(at, n));
    at += n;
  }
  return pieces;
}

// Where each pipelined request ends (its header, then its body), fed read by
// read as a connection would deliver it. A CONNECT takes the rest.
std::vector<size_t> RequestEnds(const std::vector<std::string_view>& reads) {
  std::vector<size_t> ends;
  std::string header;
  size_t scanFrom = 0;
  size_t offset = 0;  // bytes taken so far
  RequestBody body;
  bool inBody = false;
  bool tunnel = false;
  for (std::string_view read : reads) {
    while (!read.empty() && !tunnel) {
      if (inBody) {
        const size_t n = body.Consume(read);
        if (n > read.size()) std::abort();
        read.remove_prefix(n);
        offset += n;
        if (!body.Pending()) {
          inBody = false;
          ends.push_back(offset);
        }
        continue;
      }
      const size_t before = header.size();
      header.append(read);
      const size_t end = FindHeaderEnd(header, scanFrom);
      if (end == std::string::npos) {
        offset += read.size();
        read = {};
        scanFrom = header.size() >= 3 ? header.size() - 3 : 0;
        continue;
      }
      // The header ends in this read: the rest of it follows the header.
      const size_t used = end + 4 - before;
      read.remove_prefix(used);
      offset += used;
      ends.push_back(offset);
      tunnel = header.compare(0, 8, "CONNECT ") == 0;
      body.Start(std::string_view(header).substr(0, end + 2));
      header.clear();
      scanFrom = 0;
      inBody = body.Pending();
    }
  }
  return ends;
}

// How much of the bytes an answer takes, fed read by read, and how it ended.
std::pair<size_t, int> AnswerEnd(const std::vector<std::string_view>& reads, bool head) {
  ResponseFraming framing;
  framing.Start(head);
  size_t taken = 0;
  for (std::string_view read : reads) {
    const size_t n = framing.Consume(read);
    if (n > read.size()) std::abort();
    taken += n;
    if (n < read.size() && !framing.Done()) std::abort();  // only an ended answer leaves bytes
    if (framing.Done()) break;
  }
  const int end = framing.Done() ? 1 : framing.UntilClose() ? 2 : 0;
  // Whether the connection may be kept is part of how it ended.
  return {taken, end | (framing.KeepsConnection() ? 4 : 0)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TKwHttpProxy* proxy = new TKwHttpProxy();
  static TKwProxyClient* client = new TKwProxyClient(nullptr);
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  proxy->NextHopHTTP().SetAddress(mode & 1 ? "10.0.0.1" : "");
  proxy->NextHopHTTP().SetUsername(mode & 2 ? "user" : "");
  proxy->NextHopTCPTunnel().SetAddress(mode & 4 ? "10.0.0.2" : "");
  proxy->NextHopTCPTunnel().SetUsername(mode & 8 ? "user" : "");

  std::string header = input, host, port, response;
  if (proxy->ProcessHTTPRequest(client, header, host, port, response)) CheckTailKept(input, header);

  header = input;
  host.clear();
  port.clear();
  response.clear();
  if (proxy->ProcessTunnelRequest(client, header, host, port, response) && client->ViaNextHop)
    CheckTailKept(input, header);

  // Whether a request lets its connection be kept, and where it goes, are
  // read from its header alone.
  if (FindHeaderEnd(input) != std::string::npos) {
    const std::string behind = input + "\r\nConnection: close\r\nHost: x\r\n\r\n";
    if (RequestKeepsConnection(input) != RequestKeepsConnection(behind)) std::abort();
    if (RouteKey(mode & 1, host, port, input) != RouteKey(mode & 1, host, port, behind))
      std::abort();
  }

  // Pipelined requests: the same ends whether the bytes come whole, in even
  // pieces or in uneven ones.
  const std::vector<size_t> whole = RequestEnds({input});
  for (size_t prev = 0; size_t end : whole) {
    if (end < prev || end > input.size()) std::abort();
    prev = end;
  }
  if (RequestEnds(Split(input, 1 + (mode >> 4), 0)) != whole) std::abort();
  if (RequestEnds(Split(input, 0, mode)) != whole) std::abort();

  // The same input taken as an answer.
  const bool head = mode & 16;
  const auto answer = AnswerEnd({input}, head);
  if (answer.first > input.size()) std::abort();
  if (AnswerEnd(Split(input, 1 + (mode >> 5), 0), head) != answer) std::abort();
  if (AnswerEnd(Split(input, 0, mode * 7u), head) != answer) std::abort();
  return 0;
}
