#include "net/WSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/Resolve.h"
#include "net/SocketAddress.h"

namespace vantrel::net {

// ---- lookups ----

void TWSocket::DnsLookup(const std::string& host) {
  AliveToken alive = alive_;
  if (host.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    if (*alive && OnDnsLookupDone) {
      HandlerFrame frame(*this);
      OnDnsLookupDone(this, kWsaEINVAL);
    }
    return;
  }
  if (lookupId_) {
    Resolver::Default().Cancel(lookupId_);
    lookupId_ = 0;
  }
  lookup_.reset();
  uint32_t addr;
  if (ParseDottedAddress(host, addr)) {
    lookup_ = std::make_unique<TLookupResult>();
    lookup_->first = DottedAddress(addr);
    lookup_->all.push_back(lookup_->first);
    if (OnDnsLookupDone) {
      HandlerFrame frame(*this);
      OnDnsLookupDone(this, 0);
    }
    return;
  }
  int status = 0;
  lookupId_ = Resolver::Default().Start(
      host,
      [this, alive](int code, const std::vector<std::string>& addresses) {
        if (!*alive) return;
        lookupId_ = 0;
        lookup_ = std::make_unique<TLookupResult>();
        if (code == 0) {
          lookup_->all = addresses;
          lookup_->first = addresses.front();
        } else {
          lookup_->ipv6Only = code == kWsaNO_DATA && !addresses.empty();
        }
        RunFromLoop([&] {
          if (OnDnsLookupDone) OnDnsLookupDone(this, static_cast<uint16_t>(code));
        });
      },
      status);
  if (!lookupId_) {
    char msg[300];
    std::snprintf(msg, sizeof msg, "%s: can't start DNS lookup, error #%d", host.c_str(), status);
    RaiseException(msg);
  }
}

void TWSocket::CancelLookup() {
  if (!lookupId_) return;
  Resolver::Default().Cancel(lookupId_);
  lookupId_ = 0;
  if (!destroying_ && OnDnsLookupDone) {
    HandlerFrame frame(*this);
    OnDnsLookupDone(this, kWsaEINTR);
  }
}

// ---- peer ----

std::string TWSocket::GetPeerAddr() {
  if (state_ != wsConnected) return "error";
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) {
    SocketError("GetPeerAddr", TranslateErrno(errno));
    return "error";
  }
  return DottedAddress(ntohl(sin.sin_addr.s_addr));
}

std::string TWSocket::GetPeerPort() {
  if (state_ != wsConnected) return "error";
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) {
    SocketError("GetPeerPort", TranslateErrno(errno));
    return "error";
  }
  return std::to_string(ntohs(sin.sin_port));
}

}  // namespace vantrel::net
