#pragma once
// Helpers the end-to-end tests run beside the program, each on a thread of
// its own and on loopback only: a name server for the program's
// --dns-server, and a next hop that records the CONNECT requests it gets
// and makes each tunnel.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::net {
class EventLoop;
}
namespace vantrel::testsupport {
class DnsResponder;
}

namespace vantrel::e2e {

class NameServerThread {
 public:
  // name -> dotted loopback address; every other name gets NXDOMAIN.
  explicit NameServerThread(const std::map<std::string, std::string>& names);
  ~NameServerThread();
  // "127.0.0.1:PORT"
  std::string Server() const;

 private:
  std::unique_ptr<net::EventLoop> loop_;
  std::unique_ptr<testsupport::DnsResponder> dns_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class RecordingHop {
 public:
  // names: how the hop resolves names it is asked for (loopback only).
  explicit RecordingHop(std::map<std::string, std::string> names = {});
  ~RecordingHop();
  int Port() const { return port_; }
  // The request lines received, in order.
  std::vector<std::string> Requests();

 private:
  void AcceptLoop();
  void Serve(int fd);

  std::map<std::string, std::string> names_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

}  // namespace vantrel::e2e
