#include "tests/tunnels/TunnelHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <stdexcept>
#include <vector>

#include "net/EventLoop.h"
#include "net/Resolver.h"

namespace vantrel::tunneltest {

bool Poll(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto& loop = net::EventLoop::Default();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    loop.RunOnce(1);
  }
  return true;
}

int FreePort() {
  // The port stays bound, not listening, until the tests end: no other
  // program can take it meanwhile, while a listener of ours (which sets
  // SO_REUSEADDR too) can still bind and listen on it.
  static std::vector<testsupport::Fd> reserved;
  testsupport::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0)
    throw std::runtime_error("bind failed");
  socklen_t len = sizeof sin;
  getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&sin), &len);
  reserved.push_back(std::move(fd));
  return ntohs(sin.sin_port);
}

std::unique_ptr<Peer> ConnectFrom(const std::string& source, int port) {
  testsupport::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
    throw std::runtime_error("bind failed");
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) < 0)
    throw std::runtime_error("connect failed");
  fcntl(fd.Get(), F_SETFL, fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
  return std::make_unique<Peer>(std::move(fd));
}

std::string RequestFor(int port) {
  return "CONNECT 127.0.0.1:" + std::to_string(port) +
         " HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n\r\n";
}

void TunnelTest::SetUp() {
  net::Resolver::Default().SetServers(dns.Server());
  net::Resolver::Default().SetTimeouts(500, 2);
  net::EventLoop::Default().OnUnhandledException = [](const std::string& message) {
    ADD_FAILURE() << "exception reached the loop: " << message;
  };
  proxyPort = fakeProxy.Port();
  tunnels = std::make_unique<TTunnels>(
      table, [this] { return proxyPort; },
      [this]() -> const std::vector<std::string>& { return allowed; },
      [this](const std::string& line) { lines.push_back(line); });
}

void TunnelTest::TearDown() {
  tunnels->StopTunnels();
  tunnels.reset();
  // Posted destructions of the tunnels' sockets find them gone.
  WaitFor([] { return net::EventLoop::Default().PendingTasks() == 0; });
  net::EventLoop::Default().OnUnhandledException = nullptr;
}

int TunnelTest::AddTunnel(const std::string& name, const std::string& host, int remotePort,
                          bool enabled, int localPort) {
  using namespace tunnel_fields;
  if (localPort == 0) localPort = FreePort();
  table.Append();
  table.SetInteger(TunnelID, table.RecordCount() + 1);
  table.SetString(TunnelName, name);
  table.SetInteger(LocalPortNo, localPort);
  table.SetString(RemoteHost, host);
  table.SetInteger(RemotePortNo, remotePort);
  table.SetBoolean(Enabled, enabled);
  table.Post();
  return localPort;
}

void TunnelTest::Settle(int ms) {
  net::EventLoop::Default().RunUntil([] { return false; }, std::chrono::milliseconds(ms));
}

int TunnelTest::Logged(const std::string& line) const {
  int n = 0;
  for (const std::string& l : lines) n += l == line;
  return n;
}

bool TunnelTest::LoggedStarting(const std::string& prefix) const {
  for (const std::string& l : lines) {
    if (l.starts_with(prefix)) return true;
  }
  return false;
}

std::string TunnelTest::Log() const {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

std::vector<TTunnelWSocket*> TunnelTest::Sides(TTunnelRole role) const {
  std::vector<TTunnelWSocket*> found;
  for (const auto& s : tunnels->Sessions()) {
    if (s->Role == role && !s->DestroyPending) found.push_back(s.get());
  }
  return found;
}

Peer& TunnelTest::Established(std::unique_ptr<Peer>& client, int port, const std::string& answer) {
  const size_t before = fakeProxy.Count();
  client = ConnectTo(port);
  EXPECT_TRUE(WaitFor([&] {
    return fakeProxy.Count() > before && fakeProxy.Last().In().ends_with("\r\n\r\n");
  })) << Log();
  Peer& far = fakeProxy.Last();
  far.In().clear();
  far.Send(answer);
  EXPECT_TRUE(WaitFor([&] { return Logged("Tunnel connection successful") > 0; })) << Log();
  return far;
}

}  // namespace vantrel::tunneltest
