#include "tests/e2e/origin_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

namespace vantrel::e2e {

namespace {
std::mutex headerMutex;

bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads until `need` bytes are buffered or the peer stops; false on timeout/EOF.
bool ReadMore(int fd, std::string& buf) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 20000) <= 0) return false;
  char tmp[65536];
  const ssize_t r = ::recv(fd, tmp, sizeof tmp, 0);
  if (r <= 0) return false;
  buf.append(tmp, static_cast<size_t>(r));
  return true;
}
}  // namespace

uint64_t Checksum(const std::string& data) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return s;
}

OriginServer::OriginServer(const char* address) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address, &sin.sin_addr) != 1 ||
      (ntohl(sin.sin_addr.s_addr) >> 24) != 127)
    throw std::runtime_error("origin: not a loopback address");
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 ||
      ::listen(listenFd_, 64) < 0)
    throw std::runtime_error("origin: cannot listen");
  socklen_t len = sizeof sin;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sin), &len);
  port_ = ntohs(sin.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

OriginServer::~OriginServer() {
  stop_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptor_.join();
  for (auto& t : workers_) t.join();
  ::close(listenFd_);
}

std::string OriginServer::LastRequestHeader() {
  std::lock_guard<std::mutex> g(headerMutex);
  return lastHeader_;
}

void OriginServer::AddPage(const std::string& path, const std::string& contentType,
                           const std::string& body) {
  std::lock_guard<std::mutex> g(headerMutex);
  pages_[path] = {contentType, body};
}

void OriginServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void OriginServer::Serve(int fd) {
  std::string buf;
  size_t end;
  while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore(fd, buf)) {
      ::close(fd);
      return;
    }
  }
  const std::string header = buf.substr(0, end + 4);
  std::string body = buf.substr(end + 4);
  {
    std::lock_guard<std::mutex> g(headerMutex);
    lastHeader_ = header;
  }
  std::string reply;
  std::pair<std::string, std::string> page;
  bool isPage = false;
  if (header.rfind("GET /", 0) == 0) {
    const std::string path = header.substr(4, header.find(' ', 4) - 4);
    std::lock_guard<std::mutex> g(headerMutex);
    if (auto it = pages_.find(path); it != pages_.end()) {
      page = it->second;
      isPage = true;
    }
  }
  if (isPage) {
    reply = "HTTP/1.1 200 OK\r\nContent-Type: " + page.first +
            "\r\nCache-Control: no-store\r\nContent-Length: " + std::to_string(page.second.size()) +
            "\r\nConnection: close\r\n\r\n" + page.second;
    SendAll(fd, reply.data(), reply.size());
  } else if (header.rfind("GET /bytes/", 0) == 0) {
    const size_t n = std::stoul(header.substr(11));
    const std::string data = Pattern(n);
    reply =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\nConnection: close\r\n\r\n";
    if (SendAll(fd, reply.data(), reply.size())) SendAll(fd, data.data(), data.size());
  } else if (header.rfind("POST ", 0) == 0) {
    const char* cl = strcasestr(header.c_str(), "\r\nContent-Length:");
    if (strcasestr(header.c_str(), "Expect: 100-continue"))
      SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n", 25);
    const size_t want = cl ? std::stoul(std::string(cl + 17)) : 0;
    while (body.size() < want && ReadMore(fd, body)) {
    }
    const std::string text =
        "len=" + std::to_string(body.size()) + " sum=" + std::to_string(Checksum(body));
    reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(text.size()) +
            "\r\nConnection: close\r\n\r\n" + text;
    SendAll(fd, reply.data(), reply.size());
  } else {
    reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(fd, reply.data(), reply.size());
  }
  ::shutdown(fd, SHUT_WR);
  char tmp[256];
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 2000) > 0 && ::recv(fd, tmp, sizeof tmp, 0) > 0) {
  }
  ::close(fd);
}

}  // namespace vantrel::e2e
