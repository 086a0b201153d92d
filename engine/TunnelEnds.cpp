// How a standing tunnel ends: each way on its own. A side that ends its
// sending cleanly has its end passed on to the other side as a half-close,
// after the bytes queued for that side; the other way keeps flowing.

#include "engine/KwGenericProxy.h"

namespace vantrel::engine {

using net::TWSocket;

void TKwGenericProxy::RelayHalfCloses(TKwProxyClient* c, TWSocket* remote) {
  c->HalfClose = true;
  remote->HalfClose = true;
  c->OnPeerEnded = [this](TWSocket* s, uint16_t) {
    TunnelClientEnded(static_cast<TKwProxyClient*>(s));
  };
  remote->OnPeerEnded = [this](TWSocket* s, uint16_t) { TunnelRemoteEnded(s); };
  // The client's own half-close, once what was queued for it has gone.
  c->OnDataSent = [this](TWSocket* s, uint16_t) {
    auto* client = static_cast<TKwProxyClient*>(s);
    if (client->ShutdownPending && client->SendQueueEmpty() && !client->WriteShut())
      client->Shutdown(1);
    EndTunnelIfDone(client);
  };
  remote->OnDataSent = [this](TWSocket* s, uint16_t) {
    TKwProxyClient* client = ClientOf(s);
    if (client->RemoteSocket() != s) return;
    client->ResumeInput();
    if (client->PeerEnded() && s->SendQueueEmpty() && !s->WriteShut()) {
      s->Shutdown(1);
      EndTunnelIfDone(client);
    }
  };
  remote->OnSessionClosed = [this](TWSocket* s, uint16_t errCode) {
    TKwProxyClient* client = ClientOf(s);
    const std::shared_ptr<bool> alive = client->Liveness();
    RemoteSessionClosed(s, errCode);
    // The client had ended its sending: with the remote gone, nothing is
    // left to relay either way.
    if (*alive && client->RemoteSocket() == s && client->PeerEnded() &&
        client->State() == net::wsConnected)
      client->Close();
  };
}

void TKwGenericProxy::TunnelClientEnded(TKwProxyClient* c) {
  TWSocket* remote = c->RemoteSocket();
  if (!remote || remote->State() != net::wsConnected) {
    c->Close();  // the remote failed before: nobody to pass the end to
    return;
  }
  if (remote->SendQueueEmpty() && !remote->WriteShut()) remote->Shutdown(1);
  EndTunnelIfDone(c);
}

void TKwGenericProxy::TunnelRemoteEnded(TWSocket* remote) {
  TKwProxyClient* c = ClientOf(remote);
  if (c->RemoteSocket() != remote) return;
  const std::shared_ptr<bool> alive = c->Liveness();
  DoRemoteDisconnect(c);
  if (!*alive || c->State() != net::wsConnected) return;
  if (c->SendQueueEmpty()) {
    c->Shutdown(1);
  } else {
    c->ShutdownPending = true;
  }
  EndTunnelIfDone(c);
}

void TKwGenericProxy::EndTunnelIfDone(TKwProxyClient* c) {
  const TWSocket* remote = c->RemoteSocket();
  if (!remote || c->State() != net::wsConnected) return;
  if (c->PeerEnded() && c->WriteShut() && remote->PeerEnded() && remote->WriteShut()) c->Close();
}

}  // namespace vantrel::engine
