// Request rewriting and body framing on arbitrary bytes: parsing must never
// crash, and whatever follows the header must come out unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/HttpHeader.h"
#include "engine/KwHttpProxy.h"
#include "engine/RequestBody.h"

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

  RequestBody body;
  body.Start(input);
  size_t consumed = 0;
  // Feed the bytes in uneven pieces, as reads would deliver them.
  for (size_t at = 0, step = 1 + (mode >> 4); at < input.size(); at += step) {
    const std::string_view piece = std::string_view(input).substr(at, step);
    const size_t n = body.Consume(piece);
    if (n > piece.size()) std::abort();
    consumed += n;
    if (!body.Pending()) break;
  }
  if (consumed > input.size()) std::abort();
  return 0;
}
