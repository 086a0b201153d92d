#include "engine/KwProxyClient.h"

#include <algorithm>

namespace vantrel::engine {

using net::TWSocket;

TKwProxyClient::TKwProxyClient(net::TWSocketServer* server) : net::TWSocketClient(server) {
  SetServer(server);
  ComponentOptions |= net::wsoNoReceiveLoop;
  OnSessionClosed = [this](TWSocket* sender, uint16_t errCode) {
    if (!sessionClosedDetached_) SessionClosed(sender, errCode);
  };
}

TKwProxyClient::~TKwProxyClient() {
  try {
    FreeRemoteSocket();
    retired_.clear();
  } catch (...) {
  }
}

TWSocket* TKwProxyClient::CreateRemoteSocket() {
  RetireRemoteSocket();
  remote_ = std::make_unique<TWSocket>(this);
  return remote_.get();
}

void TKwProxyClient::FreeRemoteSocket() {
  if (!remote_) return;
  if (remote_->IsBusy()) {
    RetireRemoteSocket();  // its handler is on the stack: free it later
    return;
  }
  remote_.reset();
}

std::unique_ptr<TWSocket> TKwProxyClient::ReleaseRemoteSocket() {
  return std::move(remote_);
}

TWSocket* TKwProxyClient::AdoptRemoteSocket(std::unique_ptr<TWSocket> socket) {
  RetireRemoteSocket();
  socket->SetOwner(this);
  remote_ = std::move(socket);
  return remote_.get();
}

void TKwProxyClient::RetireRemoteSocket() {
  if (!remote_) return;
  // A superseded connection must not feed the new request nor half-close
  // the client under it: silence it, close it, free it off the stack.
  TWSocket* old = remote_.get();
  old->OnSessionConnected = nullptr;
  old->OnDataAvailable = nullptr;
  old->OnSessionClosed = nullptr;
  old->OnDnsLookupDone = nullptr;
  old->OnDataSent = nullptr;
  old->OnBgException = nullptr;
  // Its answer has been relayed (the client asked again) or is no longer
  // wanted: a reset spares the system a TIME_WAIT per request.
  try {
    old->AbortWithReset();
  } catch (...) {
  }
  retired_.push_back(std::move(remote_));
  if (!freeRetiredPosted_) {
    freeRetiredPosted_ = true;
    net::TWSocket::AliveToken alive = Alive();
    net::EventLoop::Default().Post([this, alive] {
      if (*alive) FreeRetired();
    });
  }
}

void TKwProxyClient::FreeRetired() {
  freeRetiredPosted_ = false;
  std::erase_if(retired_, [](const std::unique_ptr<TWSocket>& s) { return !s->IsBusy(); });
  if (!retired_.empty()) {
    freeRetiredPosted_ = true;
    net::TWSocket::AliveToken alive = Alive();
    net::EventLoop::Default().AddTimer(std::chrono::milliseconds(10), [this, alive] {
      if (*alive) FreeRetired();
    });
  }
}

bool TKwProxyClient::IsBusy() const {
  if (TWSocket::IsBusy()) return true;
  if (remote_ && remote_->IsBusy()) return true;
  return std::any_of(retired_.begin(), retired_.end(),
                     [](const std::unique_ptr<TWSocket>& s) { return s->IsBusy(); });
}

void TKwProxyClient::NotifyDataSent(uint16_t errCode) {
  net::TWSocket::AliveToken alive = Alive();
  TWSocketClient::NotifyDataSent(errCode);
  if (!*alive) return;
  if (ShutdownPending) Shutdown(1);
  // The client has taken everything: the remote side may deliver again.
  if (remote_) remote_->ResumeReading();
}

void TKwProxyClient::SessionClosed(TWSocket*, uint16_t errCode) {
  if (errCode != 0 && State() != net::wsInvalidState && State() != net::wsClosed) {
    CloseLater();
  } else {
    sessionClosedDetached_ = true;
  }
}

}  // namespace vantrel::engine
