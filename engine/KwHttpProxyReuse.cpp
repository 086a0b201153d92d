// TKwHttpProxy: connections onward kept between requests, and the one
// resend of a request whose kept connection turned out to be closed.

#include "engine/ConnectionReuse.h"
#include "engine/KwHttpProxy.h"
#include "engine/KwString.h"

namespace vantrel::engine {

using net::TWSocket;

bool TKwHttpProxy::UseKeptConnection(TKwProxyClient* c, const std::string& method,
                                     const std::string& host, const std::string& port) {
  TKwProxyClient::TExchange& x = c->Exchange();
  TKwProxyClient::TExchange::TReuse& r = x.Reuse;
  r = {};
  // A tunnel carries another protocol: its connection is never kept.
  if (c->IsTunnel) return false;
  r.key = RouteKey(c->ViaNextHop, host, port, x.ClientBuffer);
  r.host = host;
  r.port = port;
  r.head = SameText(method, "HEAD");
  r.requestAllows = RequestKeepsConnection(x.ClientBuffer);
  std::unique_ptr<TWSocket> kept = pool_->Take(r.key);
  if (!kept) return false;
  TWSocket* remote = c->AdoptRemoteSocket(std::move(kept));
  PrepareRemoteSocket(remote);
  r.reused = true;
  // The client's bytes go out as they come; a copy is kept until the
  // answer begins, in case the connection was closed under them.
  r.resendable = MayResend(method) && x.ClientBuffer.size() <= kMaxResend;
  if (r.resendable) r.replay = x.ClientBuffer;
  DoRemoteSocketReused(c);
  return true;
}

bool TKwHttpProxy::MayKeepRemote(TKwProxyClient* c, const TWSocket* remote) const {
  TKwProxyClient::TExchange& x = c->Exchange();
  const TKwProxyClient::TExchange::TReuse& r = x.Reuse;
  // A body still coming would have nowhere to go.
  return c->RemoteSocket() == remote && !r.key.empty() && r.requestAllows &&
         x.Framing.KeepsConnection() && !x.Body.Pending() && x.ClientBuffer.empty() &&
         remote->State() == net::wsConnected && remote->SendQueueEmpty();
}

void TKwHttpProxy::HoldRemote(TKwProxyClient* c) {
  c->Exchange().Reuse.idle = true;
  TWSocket* remote = c->RemoteSocket();
  remote->OnDataAvailable = [this](TWSocket* s, uint16_t) { DropIdleRemote(s); };
  remote->OnSessionClosed = [this](TWSocket* s, uint16_t) { DropIdleRemote(s); };
  remote->OnDataSent = nullptr;
  // Its peer's end must be heard even while the client is slow to read.
  remote->ResumeReading();
}

void TKwHttpProxy::DropIdleRemote(TWSocket* remote) {
  remote->ReceiveText();  // nobody asked: whatever came goes unread
  TKwProxyClient* c = ClientOf(remote);
  if (c->RemoteSocket() != remote) return;
  c->Exchange().Reuse = {};
  c->RetireRemoteSocket();
}

void TKwHttpProxy::KeepRemote(TKwProxyClient* c) {
  const std::string key = std::move(c->Exchange().Reuse.key);
  c->Exchange().Reuse = {};
  pool_->Park(key, c->ReleaseRemoteSocket());
}

void TKwHttpProxy::ClearConnectionPool() {
  pool_->Clear();
  const int n = Server().ClientCount();
  for (int i = 0; i < n; ++i) {
    auto* c = static_cast<TKwProxyClient*>(Server().Clients(i));
    // Only a client that has asked something can hold a kept connection.
    const TKwProxyClient::TExchange* x = c ? c->StartedExchange() : nullptr;
    if (x && x->Reuse.idle) {
      c->Exchange().Reuse = {};
      c->RetireRemoteSocket();
    }
  }
}

void TKwHttpProxy::ServerClientDisconnect(net::TWSocketServer* sender, net::TWSocketClient* client,
                                          uint16_t error) {
  // A client that leaves gives its kept connection to the others; not once
  // the proxy has stopped.
  auto* c = static_cast<TKwProxyClient*>(client);
  const TKwProxyClient::TExchange* x = c->StartedExchange();
  if (x && x->Reuse.idle && Active()) KeepRemote(c);
  TKwGenericProxy::ServerClientDisconnect(sender, client, error);
}

bool TKwHttpProxy::MaySendAgain(const TKwProxyClient* c) const {
  const TKwProxyClient::TExchange* x = c->StartedExchange();
  if (!x) return false;
  const TKwProxyClient::TExchange::TReuse& r = x->Reuse;
  // Only a request whose whole body went out can go again as it was.
  return r.reused && r.resendable && c->AwaitingResponse && !x->Body.Pending() &&
         !c->DiscardInput && c->State() == net::wsConnected;
}

void TKwHttpProxy::SendAgainLater(TKwProxyClient* c) {
  TKwProxyClient::TExchange& x = c->Exchange();
  TKwProxyClient::TExchange::TReuse& r = x.Reuse;
  r.reused = false;
  r.resendable = false;  // once only
  std::string bytes = std::move(r.replay);
  r.replay.clear();
  // Off the failed socket's stack: a send that failed inside a send of
  // ours must not have its buffer changed under it.
  const uint32_t request = c->Requests;
  net::EventLoop::Default().Post(
      [this, c, alive = c->Liveness(), request, bytes = std::move(bytes)]() mutable {
        if (!*alive || c->Requests != request || !c->AwaitingResponse || c->DiscardInput ||
            c->State() != net::wsConnected)
          return;
        TKwProxyClient::TExchange& now = c->Exchange();
        DoDebugLog("Kept connection to " + now.Reuse.host + ":" + now.Reuse.port +
                   " was closed; request of " + c->GetPeerAddr() + " sent again");
        now.ClientBuffer = std::move(bytes);
        now.Framing.Start(now.Reuse.head);
        ConnectRemote(c, now.Reuse.host, now.Reuse.port);
      });
}

}  // namespace vantrel::engine
