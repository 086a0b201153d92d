#pragma once
// A DNS responder on 127.0.0.1 driven by our own event loop, so lookup tests
// stay single-threaded and never leave the machine. Each name can be given
// A and AAAA records, a failure code, an empty answer, or silence.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net/EventLoop.h"

namespace vantrel::testsupport {

class DnsResponder {
 public:
  enum class Reply { Addresses, NxDomain, ServFail, Refused, FormErr, Empty, Silent };

  explicit DnsResponder(net::EventLoop& loop = net::EventLoop::Default());
  ~DnsResponder();
  DnsResponder(const DnsResponder&) = delete;
  DnsResponder& operator=(const DnsResponder&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:PORT", the form the resolver takes.
  std::string Server() const;

  // Names match case-insensitively, with or without the final dot. IPv4
  // addresses answer A queries, IPv6 ones AAAA queries; a name with only one
  // kind gets an empty answer for the other.
  void SetAddresses(const std::string& name, std::vector<std::string> addresses);
  void SetReply(const std::string& name, Reply reply);
  // What names without an entry get; NXDOMAIN unless changed.
  void SetDefaultReply(Reply reply) { default_ = reply; }

  int QueriesFor(const std::string& name) const;
  int TotalQueries() const { return total_; }

 private:
  struct Entry {
    Reply reply = Reply::NxDomain;
    std::vector<uint32_t> addresses;  // network order
    std::vector<std::array<uint8_t, 16>> addresses6;
  };
  void OnReadable();
  void Answer(const uint8_t* query, size_t length, const void* from, unsigned fromLength);

  net::EventLoop& loop_;
  int fd_ = -1;
  int port_ = 0;
  Reply default_ = Reply::NxDomain;
  std::map<std::string, Entry> entries_;
  std::map<std::string, int> queries_;
  int total_ = 0;
};

}  // namespace vantrel::testsupport
