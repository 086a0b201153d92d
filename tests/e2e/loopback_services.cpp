#include "tests/e2e/loopback_services.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "net/EventLoop.h"
#include "tests/support/DnsResponder.h"

namespace vantrel::e2e {

NameServerThread::NameServerThread(const std::map<std::string, std::string>& names)
    : loop_(std::make_unique<net::EventLoop>()),
      dns_(std::make_unique<testsupport::DnsResponder>(*loop_)) {
  for (const auto& [name, address] : names) dns_->SetAddresses(name, {address});
  // From here on only the thread touches the loop and the responder.
  thread_ = std::thread([this] {
    while (!stop_) loop_->RunOnce(50);
  });
}

NameServerThread::~NameServerThread() {
  stop_ = true;
  thread_.join();
}

std::string NameServerThread::Server() const {
  return "127.0.0.1:" + std::to_string(dns_->Port());
}

namespace {

int Listen(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 || ::listen(fd, 64) < 0)
    throw std::runtime_error("hop: cannot listen");
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  port = ntohs(sin.sin_port);
  return fd;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

RecordingHop::RecordingHop(std::map<std::string, std::string> names) : names_(std::move(names)) {
  listenFd_ = Listen(port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RecordingHop::~RecordingHop() {
  stop_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptor_.join();
  for (auto& t : workers_) t.join();
  ::close(listenFd_);
}

std::vector<std::string> RecordingHop::Requests() {
  std::lock_guard<std::mutex> g(mutex_);
  return requests_;
}

void RecordingHop::AcceptLoop() {
  while (!stop_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RecordingHop::Serve(int client) {
  std::string header;
  char buf[65536];
  size_t end = std::string::npos;
  while (end == std::string::npos && header.size() < 65536) {
    pollfd p{client, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) break;
    const ssize_t n = ::recv(client, buf, sizeof buf, 0);
    if (n <= 0) break;
    header.append(buf, static_cast<size_t>(n));
    end = header.find("\r\n\r\n");
  }
  if (end == std::string::npos) {
    ::close(client);
    return;
  }
  const std::string line = header.substr(0, header.find("\r\n"));
  {
    std::lock_guard<std::mutex> g(mutex_);
    requests_.push_back(line);
  }
  // "CONNECT host:port HTTP/1.x", to a loopback address only.
  const size_t space = line.find(' ');
  const size_t colon = line.rfind(':', line.rfind(' '));
  std::string host = line.substr(space + 1, colon - space - 1);
  const int port = std::atoi(line.c_str() + colon + 1);
  if (auto it = names_.find(host); it != names_.end()) host = it->second;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  const int remote = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (line.rfind("CONNECT ", 0) != 0 || ::inet_pton(AF_INET, host.c_str(), &sin.sin_addr) != 1 ||
      (ntohl(sin.sin_addr.s_addr) >> 24) != 127 ||
      ::connect(remote, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0) {
    const std::string refusal = "HTTP/1.0 502 No way\r\n\r\n";
    SendAll(client, refusal.data(), refusal.size());
    ::close(remote);
    ::close(client);
    return;
  }
  const std::string grant = "HTTP/1.0 200 Connection established\r\n\r\n";
  const std::string early = header.substr(end + 4);
  if (SendAll(client, grant.data(), grant.size()) && SendAll(remote, early.data(), early.size())) {
    // Both ways until either side ends.
    pollfd p[2] = {{client, POLLIN, 0}, {remote, POLLIN, 0}};
    while (!stop_ && ::poll(p, 2, 20000) > 0) {
      const int from = (p[0].revents & (POLLIN | POLLHUP | POLLERR)) ? 0 : 1;
      const ssize_t n = ::recv(p[from].fd, buf, sizeof buf, 0);
      if (n <= 0 || !SendAll(p[1 - from].fd, buf, static_cast<size_t>(n))) break;
    }
  }
  ::close(remote);
  ::close(client);
}

}  // namespace vantrel::e2e
