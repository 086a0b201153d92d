#include "net/WSocketServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "net/Resolve.h"

namespace vantrel::net {

namespace {
// A client whose handler is still on the stack is destroyed a little later.
constexpr auto kBusyRetry = std::chrono::milliseconds(10);
}  // namespace

TWSocketClient::TWSocketClient(TComponent* owner) : TWSocket(owner) {}

void TWSocketClient::SetAcceptedPeer(const std::string& addr, const std::string& port) {
  peerAddr_ = addr;
  peerPort_ = port;
  acceptedPeerSet_ = true;
}

void TWSocketClient::Dup(int handle) {
  const bool given = acceptedPeerSet_;
  acceptedPeerSet_ = false;
  TWSocket::Dup(handle);
  if (State() != wsConnected) return;
  if (given) return;
  // Asked quietly: a connection reset meanwhile has no peer any more, and
  // that shows as its close, not as a failure to adopt it.
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getpeername(Handle(), reinterpret_cast<sockaddr*>(&sin), &len) == 0) {
    peerAddr_ = DottedAddress(ntohl(sin.sin_addr.s_addr));
    peerPort_ = std::to_string(ntohs(sin.sin_port));
  } else {
    peerAddr_ = peerPort_ = "error";
  }
}

void TWSocketClient::StartConnection() {
  if (!Banner.empty()) SendText(Banner + "\r\n");
}

void TWSocketClient::TriggerSessionClosed(uint16_t errCode) {
  if (!noticeQueued_ && server_ && !Destroying()) {
    noticeQueued_ = true;
    server_->ClientClosed(this, errCode);
  }
  TWSocket::TriggerSessionClosed(errCode);
}

TWSocketServer::TWSocketServer(TComponent* owner) : TWSocket(owner) {
  ClientClass = [](TWSocketServer* server) { return std::make_unique<TWSocketClient>(server); };
}

TWSocketServer::~TWSocketServer() {
  while (!clients_.empty()) {
    try {
      clients_.pop_back();  // last to first
    } catch (...) {
    }
  }
  if (spareFd_ >= 0) ::close(spareFd_);
}

void TWSocketServer::RefillSpare() {
  if (!KeepSpareDescriptor || spareFd_ >= 0 || !spareDue_) return;
  spareDue_ = false;  // a failure waits until a client has gone
  spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool TWSocketServer::FreeDescriptorsForAccept() {
  if (TWSocket::FreeDescriptorsForAccept()) return true;
  if (spareFd_ < 0) return false;
  ::close(spareFd_);
  spareFd_ = -1;
  return true;
}

TWSocketClient* TWSocketServer::Clients(int index) const {
  if (index < 0 || index >= ClientCount()) return nullptr;
  return clients_[static_cast<size_t>(index)].get();
}

void TWSocketServer::TriggerSessionAvailable(uint16_t errCode) {
  AliveToken alive = Alive();  // the handler may destroy the server
  TWSocket::TriggerSessionAvailable(errCode);
  if (!*alive || errCode != 0) return;
  RefillSpare();
  std::string peerAddr, peerPort;
  const int handle = Accept(peerAddr, peerPort);
  if (handle < 0) return;
  if (!*alive) {
    ::close(handle);
    return;
  }

  // Until the client holds the handle, closing it is ours to do; a client
  // that never got its connection would never be freed, so it goes too.
  TWSocketClient* client = nullptr;
  try {
    clients_.push_back(ClientClass(this));
    client = clients_.back().get();
    if (OnClientCreate) {
      HandlerFrame frame(*this);
      OnClientCreate(this, client);
    }
  } catch (...) {
    ::close(handle);
    if (*alive) RemoveClient(client);
    throw;
  }
  if (!*alive) {
    ::close(handle);
    return;
  }
  client->Banner = Banner;
  client->SetServer(this);
  client->SetAcceptedPeer(peerAddr, peerPort);
  try {
    client->Dup(handle);
  } catch (...) {
    if (*alive && client->State() != wsConnected) RemoveClient(client);
    throw;
  }
  if (!*alive) return;
  if (client->State() != wsConnected) {
    RemoveClient(client);  // the adoption failed and was reported to its OnError
    return;
  }
  if (OnClientConnect) {
    HandlerFrame frame(*this);
    OnClientConnect(this, client, 0);
  }
  if (!*alive) return;

  const bool listed = std::any_of(clients_.begin(), clients_.end(),
                                  [client](const auto& c) { return c.get() == client; });
  if (!listed || client->State() != wsConnected) return;
  if (MaxClients > 0 && ClientCount() > MaxClients) {
    client->Banner = BannerTooBusy;
    client->StartConnection();
    client->Close();
  } else {
    client->StartConnection();
  }
}

void TWSocketServer::RemoveClient(TWSocketClient* client) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [client](const auto& c) { return c.get() == client; });
  if (it == clients_.end()) return;
  std::unique_ptr<TWSocketClient> doomed = std::move(*it);
  clients_.erase(it);
  try {
    doomed.reset();
  } catch (...) {
  }
}

void TWSocketServer::ClientClosed(TWSocketClient* client, uint16_t errCode) {
  AliveToken alive = Alive();
  EventLoop::Default().Post([this, alive, client, errCode] {
    if (*alive) DestroyClient(client, errCode);
  });
}

void TWSocketServer::DestroyClient(TWSocketClient* client, uint16_t errCode) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [client](const auto& c) { return c.get() == client; });
  if (it == clients_.end()) return;
  if (client->IsBusy()) {
    AliveToken alive = Alive();
    EventLoop::Default().AddTimer(kBusyRetry, [this, alive, client, errCode] {
      if (*alive) DestroyClient(client, errCode);
    });
    return;
  }
  AliveToken alive = Alive();
  spareDue_ = true;  // its descriptor is free again
  if (OnClientDisconnect) {
    try {
      HandlerFrame frame(*this);
      OnClientDisconnect(this, client, errCode);
    } catch (const std::exception& e) {
      if (*alive) HandleBackgroundException(e);
    } catch (...) {
      if (*alive) HandleBackgroundException(std::runtime_error("unknown exception"));
    }
  }
  if (*alive) RemoveClient(client);
}

}  // namespace vantrel::net
