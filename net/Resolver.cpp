#include "net/Resolver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>

#include <stdexcept>

#include "net/Resolve.h"
#include "net/SocketErrors.h"

namespace vantrel::net {

namespace {

struct DoneContext {
  Resolver* resolver;
  Resolver::QueryId id;
};

}  // namespace

Resolver::Resolver(EventLoop& loop) : loop_(loop) {
  static const int initialised = ares_library_init(ARES_LIB_INIT_ALL);
  if (initialised != ARES_SUCCESS) throw std::runtime_error("c-ares cannot start");
  Init(2000, 2);
}

Resolver::~Resolver() {
  queries_.clear();  // ares_destroy completes them with ARES_EDESTRUCTION; nobody listens
  if (timer_) loop_.CancelTimer(timer_);
  if (channel_) ares_destroy(channel_);
}

Resolver& Resolver::Default() {
  static thread_local Resolver resolver(EventLoop::Default());
  return resolver;
}

void Resolver::Init(int timeoutMs, int tries) {
  if (channel_) {
    queries_.clear();
    ares_destroy(channel_);
    channel_ = nullptr;
  }
  ares_options options{};
  options.sock_state_cb = &Resolver::OnSocketState;
  options.sock_state_cb_data = this;
  options.timeout = timeoutMs;
  options.tries = tries;
  const int mask = ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES;
  if (ares_init_options(&channel_, &options, mask) != ARES_SUCCESS)
    throw std::runtime_error("c-ares channel cannot start");
  if (!servers_.empty()) ares_set_servers_ports_csv(channel_, servers_.c_str());
}

bool Resolver::SetServers(const std::string& csv) {
  servers_ = csv;
  return ares_set_servers_ports_csv(channel_, csv.c_str()) == ARES_SUCCESS;
}

void Resolver::SetTimeouts(int timeoutMs, int tries) {
  Init(timeoutMs, tries);
}

void Resolver::OnSocketState(void* data, ares_socket_t fd, int readable, int writable) {
  auto* self = static_cast<Resolver*>(data);
  if (!readable && !writable) {
    self->loop_.RemoveWatch(fd);
    return;
  }
  const uint32_t events = (readable ? EPOLLIN : 0u) | (writable ? EPOLLOUT : 0u);
  // Called from inside c-ares: nothing may be thrown through it. A socket the
  // loop refuses goes unheard, and its query ends by its timeout.
  try {
    if (self->loop_.IsWatched(fd)) {
      self->loop_.ModifyWatch(fd, events);
      return;
    }
    self->loop_.AddWatch(fd, events, [self, fd](uint32_t ev) {
      const bool r = ev & (EPOLLIN | EPOLLERR | EPOLLHUP);
      const bool w = ev & EPOLLOUT;
      ares_process_fd(self->channel_, r ? fd : ARES_SOCKET_BAD, w ? fd : ARES_SOCKET_BAD);
      self->UpdateTimer();
    });
  } catch (const WatchError&) {
  }
}

void Resolver::UpdateTimer() {
  if (timer_) {
    loop_.CancelTimer(timer_);
    timer_ = 0;
  }
  timeval tv{};
  if (!ares_timeout(channel_, nullptr, &tv)) return;  // nothing pending
  const auto ms = std::chrono::milliseconds(tv.tv_sec * 1000 + tv.tv_usec / 1000 + 1);
  timer_ = loop_.AddTimer(ms, [this] {
    timer_ = 0;
    ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    UpdateTimer();
  });
}

Resolver::QueryId Resolver::Start(const std::string& host, Callback callback, int& status) {
  status = 0;
  const QueryId id = nextId_++;
  queries_.emplace(id, Query{std::move(callback), 0, {}, host});
  ares_addrinfo_hints hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  auto* ctx = new DoneContext{this, id};
  ares_getaddrinfo(channel_, host.c_str(), nullptr, &hints, &Resolver::OnDone, ctx);
  UpdateTimer();
  return id;
}

void Resolver::OnDone(void* arg, int status, int, ares_addrinfo* result) {
  auto* ctx = static_cast<DoneContext*>(arg);
  Resolver* self = ctx->resolver;
  const QueryId id = ctx->id;
  delete ctx;
  auto it = self->queries_.find(id);
  if (it == self->queries_.end() || status == ARES_EDESTRUCTION) {
    if (result) ares_freeaddrinfo(result);
    return;
  }
  Query& q = it->second;
  if (q.askedIPv6) {
    // The IPv4 answer, No Data, stands; this only says whether IPv6 has any.
    if (status == ARES_SUCCESS && result) {
      for (ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
        if (n->ai_family != AF_INET6) continue;
        char text[INET6_ADDRSTRLEN] = {};
        const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(n->ai_addr);
        if (inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text)) q.addresses.push_back(text);
      }
    }
    if (result) ares_freeaddrinfo(result);
    self->loop_.Post([self, id] { self->Deliver(id); });
    return;
  }
  q.code = TranslateResolverStatus(status);
  if (result) {
    for (ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
      if (n->ai_family != AF_INET) continue;
      const auto* sin = reinterpret_cast<const sockaddr_in*>(n->ai_addr);
      q.addresses.push_back(DottedAddress(ntohl(sin->sin_addr.s_addr)));
    }
    ares_freeaddrinfo(result);
  }
  if (q.code == 0 && q.addresses.empty()) q.code = kWsaNO_DATA;
  // Never call out from inside c-ares: it is not re-entrant.
  if (q.code == kWsaNO_DATA) {
    self->loop_.Post([self, id] { self->AskIPv6(id); });
    return;
  }
  self->loop_.Post([self, id] { self->Deliver(id); });
}

void Resolver::AskIPv6(QueryId id) {
  auto it = queries_.find(id);
  if (it == queries_.end()) return;  // cancelled meanwhile
  it->second.askedIPv6 = true;
  ares_addrinfo_hints hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  auto* ctx = new DoneContext{this, id};
  ares_getaddrinfo(channel_, it->second.host.c_str(), nullptr, &hints, &Resolver::OnDone, ctx);
  UpdateTimer();
}

void Resolver::Deliver(QueryId id) {
  auto it = queries_.find(id);
  if (it == queries_.end()) return;  // cancelled meanwhile
  Query q = std::move(it->second);
  queries_.erase(it);
  q.callback(q.code, q.addresses);
}

void Resolver::Cancel(QueryId id) {
  queries_.erase(id);
}

}  // namespace vantrel::net
