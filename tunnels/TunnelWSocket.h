#pragma once
// TTunnelWSocket: one socket of a tunnel. A listener waits on the tunnel's
// local port; each connection it reports becomes a proxy side (our
// connection to the local proxy) and, once that is connected, a client side
// (the accepted connection). The two sides point at each other as partners.

#include <cstdint>
#include <memory>
#include <string>

#include "net/WSocket.h"

namespace vantrel {

enum class TTunnelRole : uint8_t { Listener = 0, ProxySide = 1, ClientSide = 2 };

// How far a proxy side has come with the local proxy.
enum class TTunnelStage : uint8_t {
  Connecting,  // connecting; the client side waits unread
  Requested,   // CONNECT sent, the answer's header is being collected
  Relaying,    // the proxy said 200
  Failed,      // a failure was logged already
};

class TTunnelWSocket : public net::TWSocket {
 public:
  using net::TWSocket::TWSocket;

  TTunnelRole Role = TTunnelRole::Listener;
  int32_t LocalPortNo = 0;
  int32_t RemotePortNo = 0;
  std::string RemoteHost;
  TTunnelWSocket* Partner = nullptr;
  // Set on the proxy side; valid only while ListenerAlive says so, since a
  // restart of the tunnels may destroy the listener first.
  TTunnelWSocket* Listener = nullptr;
  std::shared_ptr<bool> ListenerAlive;
  std::string TunnelName;

  TTunnelStage Stage = TTunnelStage::Connecting;
  // The proxy's answer, collected until its header ends.
  std::string Answer;
  // The partner ended cleanly: close once the send queue is empty.
  bool CloseWhenDrained = false;
  // The partner's peer ended its sending: pass the end on as a half-close
  // once the send queue is empty.
  bool ShutdownWhenDrained = false;
  // Destruction has been asked for; it happens on a later turn of the loop.
  bool DestroyPending = false;

  bool IsAlive() const { return *Alive(); }
  std::shared_ptr<bool> LivenessToken() const { return Alive(); }

  // The peer as the accept saw it: a connection reset meanwhile has no
  // peer left to ask.
  void SetAcceptedPeer(const std::string& addr) { acceptedPeer_ = addr; }
  std::string GetPeerAddr() override {
    return acceptedPeer_.empty() ? net::TWSocket::GetPeerAddr() : acceptedPeer_;
  }

 private:
  std::string acceptedPeer_;
};

}  // namespace vantrel
