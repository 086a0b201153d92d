// Header collection on a real client socket: arbitrary bytes in uneven reads
// go through the engine's client path. Every request is answered locally by
// the header handlers, so nothing ever connects anywhere.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/KwHttpProxy.h"
#include "net/EventLoop.h"

using namespace vantrel;

namespace {

struct Proxy : engine::TKwHttpProxy {
  using engine::TKwHttpProxy::ProcessClientData;
};

Proxy* MakeProxy() {
  auto* proxy = new Proxy();
  proxy->OnClientHeaderAvailable = [](engine::TKwGenericProxy*, engine::TKwProxyClient*,
                                      const std::string&, std::string&, std::string&, std::string&,
                                      std::string&, std::string&, std::string&, std::string&,
                                      std::string&, bool&, std::string& returnContent) {
    returnContent = "HTTP/1.0 204 x\r\n\r\n";
  };
  proxy->OnTunnelRequest = [](engine::TKwGenericProxy*, engine::TKwProxyClient*, std::string&,
                              std::string&, std::string&, bool&, std::string& returnContent) {
    returnContent = "HTTP/1.0 204 x\r\n\r\n";
  };
  return proxy;
}

void Drain(int fd) {
  char buf[65536];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Proxy* proxy = MakeProxy();
  if (size == 0) return 0;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  auto client = std::make_unique<engine::TKwProxyClient>(nullptr);
  client->Dup(sv[0]);

  const size_t step = 1 + data[0] % 64;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (size_t at = 0; at < input.size(); at += step) {
    std::string piece = input.substr(at, step);
    proxy->ProcessClientData(client.get(), piece);
    // Memory stays bounded: an unfinished header never outgrows the cap.
    if (!client->HeaderProcessed &&
        client->Exchange().ClientBuffer.size() > engine::TKwHttpProxy::kMaxHeader + step)
      std::abort();
    // Answered locally: no remote connection may ever be made.
    if (client->RemoteSocket()) std::abort();
    Drain(sv[1]);
  }
  client.reset();
  ::close(sv[1]);
  net::EventLoop::Default().RunOnce(0);
  return 0;
}
