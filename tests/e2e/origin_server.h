#pragma once
// A small blocking HTTP/1.1 origin on loopback (127.0.0.1 unless told) for end-to-end tests, one
// thread per connection:
//   GET /bytes/N   -> N bytes of a fixed pattern
//   GET a page     -> what AddPage gave for it
//   POST anything  -> "len=<bytes> sum=<checksum>" of the body it received
// Every response says "Connection: close" and closes.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::e2e {

uint64_t Checksum(const std::string& data);
std::string Pattern(size_t n);

class OriginServer {
 public:
  // address: a loopback address in dotted form.
  explicit OriginServer(const char* address = "127.0.0.1");
  ~OriginServer();
  int Port() const { return port_; }
  std::string LastRequestHeader();
  // GET path answers with this body; set before any request for it.
  void AddPage(const std::string& path, const std::string& contentType, const std::string& body);

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
  std::string lastHeader_;
  std::map<std::string, std::pair<std::string, std::string>> pages_;
  std::atomic<int> lock_{0};
};

}  // namespace vantrel::e2e
