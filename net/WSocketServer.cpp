#include "net/WSocketServer.h"

#include <algorithm>

namespace vantrel::net {

namespace {
// A client whose handler is still on the stack is destroyed a little later.
constexpr auto kBusyRetry = std::chrono::milliseconds(10);
}  // namespace

TWSocketClient::TWSocketClient(TComponent* owner) : TWSocket(owner) {}

void TWSocketClient::Dup(int handle) {
  TWSocket::Dup(handle);
  if (State() == wsConnected) {
    peerAddr_ = TWSocket::GetPeerAddr();
    peerPort_ = TWSocket::GetPeerPort();
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
}

TWSocketClient* TWSocketServer::Clients(int index) const {
  if (index < 0 || index >= ClientCount()) return nullptr;
  return clients_[static_cast<size_t>(index)].get();
}

void TWSocketServer::TriggerSessionAvailable(uint16_t errCode) {
  TWSocket::TriggerSessionAvailable(errCode);
  if (errCode != 0) return;
  AliveToken alive = Alive();
  const int handle = Accept();
  if (!*alive || handle < 0) return;

  clients_.push_back(ClientClass(this));
  TWSocketClient* client = clients_.back().get();
  if (OnClientCreate) OnClientCreate(this, client);
  if (!*alive) return;
  client->Banner = Banner;
  client->SetServer(this);
  client->Dup(handle);
  if (!*alive) return;
  if (OnClientConnect) OnClientConnect(this, client, 0);
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
  if (OnClientDisconnect) {
    try {
      OnClientDisconnect(this, client, errCode);
    } catch (const std::exception& e) {
      if (*alive) HandleBackgroundException(e);
    } catch (...) {
      if (*alive) HandleBackgroundException(std::runtime_error("unknown exception"));
    }
  }
  if (!*alive) return;
  it = std::find_if(clients_.begin(), clients_.end(),
                    [client](const auto& c) { return c.get() == client; });
  if (it == clients_.end()) return;
  std::unique_ptr<TWSocketClient> doomed = std::move(*it);
  clients_.erase(it);
  try {
    doomed.reset();
  } catch (...) {
  }
}

}  // namespace vantrel::net
