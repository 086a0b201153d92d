// Relaying, closing and destroying the two sides of a tunnel connection.

#include <algorithm>

#include "engine/KwGenericProxy.h"
#include "net/EventLoop.h"
#include "tunnels/Tunnels.h"

namespace vantrel {

namespace {

TTunnelWSocket* AsTunnel(net::TWSocket* socket) {
  return static_cast<TTunnelWSocket*>(socket);
}

// The engine's own mark: a side is not read while the other side has more
// than this queued, so a tunnel holds no more than an engine session does.
constexpr size_t kHighWater = engine::TKwGenericProxy::kHighWater;

}  // namespace

void TTunnels::wsTunnelClientDataAvailable(net::TWSocket* sender, uint16_t /*errCode*/) {
  TTunnelWSocket* socket = AsTunnel(sender);
  // Without a partner the bytes stay unread; the socket layer then holds
  // further data events instead of spinning on them.
  if (socket->DestroyPending || !socket->Partner) return;
  // Nor before the proxy has been reached: they follow the request.
  if (socket->Partner->Stage == TTunnelStage::Connecting && socket->Role == TTunnelRole::ClientSide)
    return;
  char buffer[kChunk];
  const int n = socket->Receive(buffer, sizeof buffer);
  if (n > 0) Relay(*socket, buffer, static_cast<size_t>(n));
}

void TTunnels::Relay(TTunnelWSocket& from, const char* data, size_t length) {
  TTunnelWSocket* to = from.Partner;
  if (!to) return;
  to->Send(data, length);
  // A failed send may have ended both sides already.
  if (from.Partner != to || to->DestroyPending) return;
  if (to->BufferedBytes() > kHighWater) from.PauseReading();
}

void TTunnels::wsTunnelClientDataSent(net::TWSocket* sender, uint16_t /*errCode*/) {
  TTunnelWSocket* socket = AsTunnel(sender);
  if (socket->DestroyPending) return;
  if (socket->ShutdownWhenDrained && socket->SendQueueEmpty()) {
    socket->ShutdownWhenDrained = false;
    socket->Shutdown(1);
    if (!socket->CloseWhenDrained) {
      CloseIfFinished(*socket);
      return;
    }
  }
  if (socket->CloseWhenDrained) {
    if (socket->SendQueueEmpty()) socket->Close();
    return;
  }
  if (socket->Partner && socket->Partner->ReadingPaused()) socket->Partner->ResumeReading();
}

void TTunnels::StartHalfCloses(TTunnelWSocket& proxySide) {
  TTunnelWSocket* client = proxySide.Partner;
  if (!client) return;
  for (TTunnelWSocket* side : {&proxySide, client}) {
    side->HalfClose = true;
    side->OnPeerEnded = [this](net::TWSocket* sender, uint16_t errCode) {
      wsTunnelClientPeerEnded(sender, errCode);
    };
  }
}

void TTunnels::wsTunnelClientPeerEnded(net::TWSocket* sender, uint16_t /*errCode*/) {
  TTunnelWSocket* socket = AsTunnel(sender);
  if (socket->DestroyPending) return;
  TTunnelWSocket* partner = socket->Partner;
  if (!partner) {
    socket->Close();  // nothing left to pass the end to
    return;
  }
  if (partner->SendQueueEmpty()) {
    partner->Shutdown(1);
  } else {
    partner->ShutdownWhenDrained = true;
  }
  CloseIfFinished(*socket);
}

void TTunnels::CloseIfFinished(TTunnelWSocket& socket) {
  const TTunnelWSocket* partner = socket.Partner;
  auto finished = [](const TTunnelWSocket& s) { return s.PeerEnded() && s.WriteShut(); };
  if (partner && finished(socket) && finished(*partner)) socket.Close();
}

void TTunnels::CloseClean(TTunnelWSocket& partner) {
  // Its peer's end must still be heard while the queue drains; what the
  // peer sends meanwhile has nowhere to go and stays unread.
  partner.ResumeReading();
  if (partner.SendQueueEmpty()) {
    partner.Close();
  } else {
    partner.CloseWhenDrained = true;
  }
}

void TTunnels::wsTunnelClientSessionClosed(net::TWSocket* sender, uint16_t errCode) {
  TTunnelWSocket* socket = AsTunnel(sender);
  if (socket->DestroyPending) return;
  if (errCode != 0) {
    comment_("Tunnel " + socket->TunnelName + " closed, error code: " + std::to_string(errCode));
  }
  // The proxy hung up on our CONNECT without a word (an unreachable or
  // unknown remote): say so, or the log shows nothing but a close.
  if (socket->Role == TTunnelRole::ProxySide && socket->Stage == TTunnelStage::Requested &&
      socket->Partner) {
    socket->Stage = TTunnelStage::Failed;
    comment_("Tunnel " + socket->TunnelName + " connection to " + socket->RemoteHost + ":" +
             std::to_string(socket->RemotePortNo) +
             " failed: the proxy closed the connection without an answer");
  }
  if (TTunnelWSocket* partner = socket->Partner) {
    socket->Partner = nullptr;
    partner->Partner = nullptr;
    if (errCode == 0) {
      CloseClean(*partner);
    } else {
      partner->Close();
    }
  }
  Destroy(*socket);
}

void TTunnels::wsTunnelClientError(net::TWSocket* sender) {
  TTunnelWSocket* socket = AsTunnel(sender);
  comment_("Tunnel " + socket->TunnelName + " Error occurred.");
  if (socket->DestroyPending) return;
  if (TTunnelWSocket* partner = socket->Partner) {
    socket->Partner = nullptr;
    partner->Partner = nullptr;
    partner->Abort();
  }
  Destroy(*socket);
}

// ---- destruction ----

void TTunnels::Destroy(TTunnelWSocket& socket) {
  if (socket.DestroyPending) return;
  socket.DestroyPending = true;
  std::shared_ptr<bool> alive = alive_;
  TTunnelWSocket* target = &socket;
  net::EventLoop::Default().Post([this, alive, target] {
    if (*alive) Reap(target);
  });
}

void TTunnels::Reap(TTunnelWSocket* socket) {
  auto it = std::find_if(sessions_.begin(), sessions_.end(),
                         [socket](const auto& s) { return s.get() == socket; });
  if (it == sessions_.end()) return;
  if (socket->IsBusy()) {
    // A handler of it is still on the stack (a nested round of the loop).
    std::shared_ptr<bool> alive = alive_;
    net::EventLoop::Default().Post([this, alive, socket] {
      if (*alive) Reap(socket);
    });
    return;
  }
  std::unique_ptr<TTunnelWSocket> doomed = std::move(*it);
  sessions_.erase(it);
  doomed.reset();
}

}  // namespace vantrel
