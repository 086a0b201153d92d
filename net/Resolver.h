#pragma once
// Asynchronous IPv4 name lookups with c-ares, driven by the event loop.
// Completions always arrive on a later turn of the loop, never inside Start
// and never from inside c-ares itself, so a handler may do anything.

#include <ares.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/EventLoop.h"

namespace vantrel::net {

class Resolver {
 public:
  // code: 0 with the IPv4 addresses, dotted, in the resolver's order; or a
  // socket error code (11001...11004). No Data (11004) may come with the
  // name's IPv6 addresses: a name that has only those is told apart from one
  // that has none, at the cost of a second query on that failure only.
  using Callback = std::function<void(int code, const std::vector<std::string>& addresses)>;
  using QueryId = uint64_t;

  explicit Resolver(EventLoop& loop);
  ~Resolver();
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  static Resolver& Default();

  // Returns 0 and sets `status` when the lookup cannot start.
  QueryId Start(const std::string& host, Callback callback, int& status);
  // The callback of a cancelled query never runs.
  void Cancel(QueryId id);

  // Name servers as "host:port,host:port" (tests point this at loopback).
  bool SetServers(const std::string& csv);
  // Per-try timeout and number of tries.
  void SetTimeouts(int timeoutMs, int tries);

  size_t Pending() const { return queries_.size(); }

 private:
  struct Query {
    Callback callback;
    int code = 0;
    std::vector<std::string> addresses;
    std::string host;
    bool askedIPv6 = false;  // the second query, after No Data for IPv4
  };
  static void OnSocketState(void* data, ares_socket_t fd, int readable, int writable);
  static void OnDone(void* arg, int status, int timeouts, ares_addrinfo* result);
  void Init(int timeoutMs, int tries);
  void Deliver(QueryId id);
  void AskIPv6(QueryId id);
  void UpdateTimer();

  EventLoop& loop_;
  ares_channel channel_ = nullptr;
  std::unordered_map<QueryId, Query> queries_;
  QueryId nextId_ = 1;
  EventLoop::TimerId timer_ = 0;
  std::string servers_;
};

}  // namespace vantrel::net
