#pragma once
// Tunnels: fixed local ports carried through the program's own proxy. Each
// enabled tunnel record gets a listener while the proxy runs; each
// connection on it is sent to the local proxy as a CONNECT to the tunnel's
// remote host and port, and relayed both ways once the proxy agrees.
//
// All sockets are owned here. Session sockets are destroyed on a later turn
// of the loop, never inside their own handlers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/RecordTable.h"
#include "tunnels/TunnelWSocket.h"

namespace vantrel {

class TTunnels {
 public:
  using Comment = std::function<void(const std::string&)>;

  // proxyPort: the local proxy's listening port; allowedIPList: the allowed
  // clients' range list; comment: an always-shown log line.
  TTunnels(TRecordTable& mtblTunnels, std::function<int()> proxyPort,
           std::function<const std::vector<std::string>&()> allowedIPList, Comment comment);
  ~TTunnels();
  TTunnels(const TTunnels&) = delete;
  TTunnels& operator=(const TTunnels&) = delete;

  void StartTunnels();
  void StopTunnels();

  void wsTunnelServerSessionAvailable(net::TWSocket* sender, uint16_t errCode);
  void wsTunnelClientRemoteSessionConnected(net::TWSocket* sender, uint16_t errCode);
  void wsTunnelClientRemoteDataAvailable(net::TWSocket* sender, uint16_t errCode);
  void wsTunnelClientDataAvailable(net::TWSocket* sender, uint16_t errCode);
  void wsTunnelClientSessionClosed(net::TWSocket* sender, uint16_t errCode);
  void wsTunnelClientError(net::TWSocket* sender);
  // A side's queue has drained: its partner may be read again, or a side
  // whose partner ended may now close.
  void wsTunnelClientDataSent(net::TWSocket* sender, uint16_t errCode);
  // A relaying side's peer ended its sending: the partner's peer hears of
  // it by a half-close, and the other way flows on.
  void wsTunnelClientPeerEnded(net::TWSocket* sender, uint16_t errCode);

  const std::vector<std::unique_ptr<TTunnelWSocket>>& TunnelListeners() const { return listeners_; }
  // Session sockets not yet destroyed, destruction pending or not.
  const std::vector<std::unique_ptr<TTunnelWSocket>>& Sessions() const { return sessions_; }

  // The host the proxy side connects to.
  std::string ProxyHost = "localhost";
  // Chunks are read and passed on at this size.
  static constexpr size_t kChunk = 8191;
  // Connections taken from a listener per readiness event.
  static constexpr int kMaxAcceptsPerEvent = 64;

 private:
  TTunnelWSocket& NewSession();
  void BindSessionEvents(TTunnelWSocket& socket);
  // An accepted connection: its client side, and a proxy side that connects.
  void StartConnection(TTunnelWSocket& listener, int handle, const std::string& peerAddr);
  void SendRequest(TTunnelWSocket& proxySide);
  void Relay(TTunnelWSocket& from, const char* data, size_t length);
  void CloseClean(TTunnelWSocket& partner);
  // Once relaying, each way ends on its own.
  void StartHalfCloses(TTunnelWSocket& proxySide);
  // Both ways have ended: the connection goes.
  void CloseIfFinished(TTunnelWSocket& socket);
  // Deferred and idempotent: one failure may raise both a close and an error.
  void Destroy(TTunnelWSocket& socket);
  void Reap(TTunnelWSocket* socket);
  bool ForwardsToItself(const std::string& host, int32_t port) const;

  TRecordTable& mtblTunnels_;
  std::function<int()> proxyPort_;
  std::function<const std::vector<std::string>&()> allowedIPList_;
  Comment comment_;
  std::vector<std::unique_ptr<TTunnelWSocket>> listeners_;
  std::vector<std::unique_ptr<TTunnelWSocket>> sessions_;
  std::vector<int32_t> enabledPorts_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantrel
