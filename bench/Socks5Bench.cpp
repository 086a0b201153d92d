// SOCKS5 against the other tunnel kinds, through the real program:
//   relay: 1 GiB from a loopback origin through an HTTP CONNECT tunnel and
//          through a SOCKS5 tunnel, alternately, three times each (MB/s);
//   handshakes: connections that each make a SOCKS4 or a SOCKS5 tunnel to
//          an origin that closes at once, one of each kind in turn, 3000 of
//          each; the median connection's time, as connections per second
//          (one at a time).
// Medians of each kind: the machine may be busy with other work. The
// origin is on 127.0.0.2 (international, counted, direct). Loopback only;
// every run is bounded in count, and the whole bench stops after 300 s.
//
//   socks5_bench [MiB]    (default 1024)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::exit(2);
}

int Listen(const char* address, int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  inet_pton(AF_INET, address, &sin.sin_addr);
  socklen_t len = sizeof sin;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0 || listen(fd, 256) < 0)
    Fail("listen");
  port = ntohs(sin.sin_port);
  return fd;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0) Fail("connect");
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    Fail("send");
}

// Reads until `until` says the reply is whole; returns what came.
template <typename Done>
std::string ReadReply(int fd, Done until) {
  std::string in;
  char buf[4096];
  while (!until(in)) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) Fail("reply");
    in.append(buf, static_cast<size_t>(n));
  }
  return in;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

enum Kind { HttpConnect, Socks4, Socks5 };

// Opens a tunnel to 127.0.0.2:port; returns the bytes that came behind the reply.
std::string OpenTunnel(int fd, Kind kind, int port) {
  const int hi = port >> 8, lo = port & 0xFF;
  if (kind == HttpConnect) {
    SendAll(fd, "CONNECT 127.0.0.2:" + std::to_string(port) + " HTTP/1.1\r\n\r\n");
    std::string in =
        ReadReply(fd, [](const std::string& s) { return s.find("\r\n\r\n") != std::string::npos; });
    if (in.rfind("HTTP/1.0 200", 0) != 0) Fail("tunnel refused");
    return in.substr(in.find("\r\n\r\n") + 4);
  }
  const std::string request = kind == Socks4 ? Bytes({4, 1, hi, lo, 127, 0, 0, 2, 0})
                                             : Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 2, hi, lo});
  const size_t replySize = kind == Socks4 ? 8 : 12;
  SendAll(fd, request);
  std::string in =
      ReadReply(fd, [replySize](const std::string& s) { return s.size() >= replySize; });
  if (in[kind == Socks4 ? 1 : 3] != (kind == Socks4 ? 90 : 0)) Fail("tunnel refused");
  return in.substr(replySize);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  const uint64_t total = uint64_t{mib} << 20;
  alarm(300);  // the whole bench is bounded

  // The origins: one sends `total` bytes to every connection, one closes each at once.
  int bulkPort = 0, closePort = 0;
  const int bulkFd = Listen("127.0.0.2", bulkPort);
  const int closeFd = Listen("127.0.0.2", closePort);
  std::thread([bulkFd, total] {
    const std::string block(64 * 1024, 'x');
    for (;;) {
      const int c = accept4(bulkFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      for (uint64_t sent = 0; sent < total;) {
        const ssize_t n =
            send(c, block.data(), std::min<uint64_t>(block.size(), total - sent), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<uint64_t>(n);
      }
      close(c);
    }
  }).detach();
  std::thread([closeFd] {
    for (;;) {
      const int c = accept4(closeFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      close(c);
    }
  }).detach();

  // The program, headless, in a scratch data folder with default settings.
  const auto dir =
      std::filesystem::temp_directory_path() / ("vantrel-socks5-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  int probe = 0;
  close(Listen("127.0.0.1", probe));
  const int proxyPort = probe;
  int out[2];
  if (pipe(out) != 0) Fail("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    const std::string port = std::to_string(proxyPort), data = dir.string();
    execl(VANTREL_BINARY, VANTREL_BINARY, "--headless", "--port", port.c_str(), "--data-dir",
          data.c_str(), "--dns-server", "127.0.0.1:9", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string log;
  for (char buf[512]; log.find("Proxy Started") == std::string::npos;) {
    pollfd p{out[0], POLLIN, 0};
    const ssize_t n = poll(&p, 1, 20000) > 0 ? read(out[0], buf, sizeof buf) : -1;
    if (n <= 0) Fail("program start");
    log.append(buf, static_cast<size_t>(n));
  }

  std::vector<double> relay[3], rate[3];
  for (int round = 0; round < 3; ++round) {
    for (Kind kind : {HttpConnect, Socks5}) {
      const int fd = Connect(proxyPort);
      uint64_t got = OpenTunnel(fd, kind, bulkPort).size();
      const auto start = Clock::now();
      std::vector<char> buf(256 * 1024);
      for (ssize_t n; (n = recv(fd, buf.data(), buf.size(), 0)) > 0;)
        got += static_cast<uint64_t>(n);
      const double secs = std::chrono::duration<double>(Clock::now() - start).count();
      close(fd);
      if (got != total) Fail("short transfer");
      relay[kind].push_back(static_cast<double>(total) / 1e6 / secs);
    }
    // One connection of each kind in turn, which goes first changing each
    // time, so that the load of the machine weighs on both alike.
    for (int i = 0; i < 1000; ++i) {
      for (Kind kind : {i % 2 ? Socks4 : Socks5, i % 2 ? Socks5 : Socks4}) {
        const auto start = Clock::now();
        const int fd = Connect(proxyPort);
        OpenTunnel(fd, kind, closePort);
        close(fd);
        rate[kind].push_back(1 / std::chrono::duration<double>(Clock::now() - start).count());
      }
    }
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  std::filesystem::remove_all(dir);

  std::printf("relay %zu MiB, median of 3: HTTP CONNECT %.0f MB/s, SOCKS5 %.0f MB/s (ratio %.3f)\n",
              mib, Median(relay[HttpConnect]), Median(relay[Socks5]),
              Median(relay[Socks5]) / Median(relay[HttpConnect]));
  std::printf("handshakes, median of 3000 each: SOCKS4 %.0f/s, SOCKS5 %.0f/s (ratio %.3f)\n",
              Median(rate[Socks4]), Median(rate[Socks5]),
              Median(rate[Socks5]) / Median(rate[Socks4]));
  return 0;
}
