#pragma once
// TKwGenericProxy: a listening socket, one TKwProxyClient per accepted
// connection, at most one current remote connection per client, bytes
// relayed both ways, and an event for every step. It knows nothing of HTTP:
// the three data operations belong to a derived class.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/KwIPSec.h"
#include "engine/KwProxyClient.h"
#include "engine/SessionDeadlines.h"
#include "engine/SessionTimeouts.h"
#include "engine/StringList.h"
#include "net/WSocketServer.h"

namespace vantrel::engine {

class TKwGenericProxy;

using TKwProxyEvent = std::function<void(TKwGenericProxy* sender, TKwProxyClient* Client)>;
using TKwProxyReceiveEvent =
    std::function<void(TKwGenericProxy* sender, TKwProxyClient* Client, std::string& data)>;
// The remote's bytes are shown to the handler, not handed over: what is
// relayed stays as it arrived, and showing them costs no copy.
using TKwProxyRemoteReceiveEvent =
    std::function<void(TKwGenericProxy* sender, TKwProxyClient* Client, std::string_view data)>;
// Client bytes handed on to the current request's remote after its header
// (body, tunnel and switched-protocol bytes), each reported once, so that
// they can be counted under the request they belong to.
using TKwProxyForwardEvent =
    std::function<void(TKwGenericProxy* sender, TKwProxyClient* Client, size_t length)>;
using TKwProxyRemoteConnectEvent = TKwProxyEvent;
using TKwProxyRemoteDisconnectEvent = TKwProxyEvent;
using TKwProxyServerClosedEvent = std::function<void(TKwGenericProxy* sender, uint16_t error)>;
using TKwProxyDebugLogEvent =
    std::function<void(TKwGenericProxy* sender, const std::string& logMessage)>;
using TKwNotifyEvent = std::function<void(TKwGenericProxy* sender)>;
using TKwProxyClientClass = net::TClientClass;

class TKwGenericProxy : public net::TComponent {
 public:
  explicit TKwGenericProxy(net::TComponent* owner = nullptr);
  ~TKwGenericProxy() override;

  bool Active() const { return active_; }
  int ActiveClients() const { return activeClients_; }

  const TStringList& AllowedIP() const { return allowedIP_; }
  virtual void SetAllowedIP(const std::vector<std::string>& lines);
  const std::string& LocalAddress() const { return localAddress_; }
  virtual void SetLocalAddress(const std::string& value);
  int Port() const { return port_; }
  virtual void SetPort(int value);
  const TKwProxyClientClass& ClientClass() const { return clientClass_; }
  virtual void SetClientClass(TKwProxyClientClass value);

  // How long a session may wait in each state; applies to every session,
  // the ones already there too.
  const TSessionTimeouts& Timeouts() const { return deadlines_->Timeouts(); }
  void SetTimeouts(const TSessionTimeouts& timeouts) { deadlines_->SetTimeouts(timeouts); }

  virtual void Open(std::string& ErrorText);
  virtual void Close();
  virtual void CloseSocketServer();

  // The listening socket (its client list is the list of proxy clients).
  net::TWSocketServer& Server() { return *server_; }
  TKwIPSec& Filter() { return filter_; }

  TKwProxyEvent OnClientConnect;
  TKwProxyReceiveEvent OnClientDataAvailable;
  TKwProxyForwardEvent OnClientDataForwarded;
  TKwProxyEvent OnClientDisconnect;
  TKwProxyDebugLogEvent OnDebugLog;
  TKwProxyRemoteConnectEvent OnRemoteConnect;
  TKwProxyRemoteReceiveEvent OnRemoteDataAvailable;
  // While this says yes, remote bytes that need no look (a body of known
  // length, chunk data, an answer that runs until the close, a tunnel) go
  // from socket to socket inside the system: OnRemoteDataAvailable sees
  // none of them, and OnRemoteDataRelayed tells how many went. Unset, every
  // byte passes through OnRemoteDataAvailable.
  std::function<bool()> MayRelayUnseen;
  TKwProxyForwardEvent OnRemoteDataRelayed;
  TKwProxyRemoteDisconnectEvent OnRemoteDisconnect;
  TKwProxyEvent OnRemoteDNSLookupDone;
  TKwProxyEvent OnRemoteSocketPrepared;
  // A request goes out on a kept connection: in place of the prepare,
  // lookup and connect events of a fresh one.
  TKwProxyEvent OnRemoteSocketReused;
  TKwProxyServerClosedEvent OnServerClosed;
  TKwNotifyEvent OnServerListening;
  // Lines for the operator's log, rare and rate-limited (descriptors ran
  // short); the per-session detail goes to OnDebugLog.
  TKwProxyDebugLogEvent OnNotice;

  // Back-pressure: a side stops being read while the other side has more
  // than this many bytes queued, and resumes once that queue has drained.
  static constexpr size_t kHighWater = 256 * 1024;

 protected:
  virtual void AllowedIPChanged();
  virtual void SocketBgException(net::TWSocket* sender, const std::exception& e, bool& canClose);
  virtual void DoClientConnect(TKwProxyClient* client);
  virtual void DoClientDataAvailable(TKwProxyClient* client, std::string& data);
  virtual void DoClientDataForwarded(TKwProxyClient* client, size_t length);
  virtual void DoClientDisconnect(TKwProxyClient* client);
  virtual void DoDebugLog(const std::string& message);
  virtual void DoRemoteConnect(TKwProxyClient* client);
  virtual void DoRemoteDataAvailable(TKwProxyClient* client, std::string_view data);
  virtual void DoRemoteDataRelayed(TKwProxyClient* client, size_t length);
  virtual void DoRemoteDisconnect(TKwProxyClient* client);
  virtual void DoRemoteDNSLookupDone(TKwProxyClient* client);
  virtual void DoRemoteSocketPrepared(TKwProxyClient* client);
  virtual void DoRemoteSocketReused(TKwProxyClient* client);
  virtual void DoServerClosed(uint16_t error);
  virtual void DoServerListening();
  virtual void PrepareRemoteSocket(net::TWSocket* remote);
  virtual void ShutdownClient(TKwProxyClient* client);
  // The current remote ended with an error: the client stays open, reading.
  void ReleaseClientAfterRemoteFailure(TKwProxyClient* client);
  virtual void AfterListen(std::string& ErrorText);
  virtual void ClientDataAvailable(net::TWSocket* sender, uint16_t errCode);
  virtual void RemoteDnsLookupDone(net::TWSocket* sender, uint16_t errCode);
  virtual void RemoteSessionClosed(net::TWSocket* sender, uint16_t errCode);
  virtual void SendToSocket(net::TWSocket* socket, std::string_view text);
  virtual void ServerClientConnect(net::TWSocketServer* sender, net::TWSocketClient* client,
                                   uint16_t error);
  virtual void ServerClientCreate(net::TWSocketServer* sender, net::TWSocketClient* client);
  virtual void ServerClientDisconnect(net::TWSocketServer* sender, net::TWSocketClient* client,
                                      uint16_t error);
  virtual void ServerSessionClosed(net::TWSocket* sender, uint16_t error);
  virtual void ProcessClientData(TKwProxyClient* client, std::string& data) = 0;
  virtual void RemoteDataAvailable(net::TWSocket* sender, uint16_t errCode) = 0;
  virtual void RemoteSessionConnected(net::TWSocket* sender, uint16_t errCode) = 0;

  // From the moment a tunnel stands, each side's orderly end is passed on to
  // the other as a half-close once everything queued for it has gone; the
  // other way keeps flowing, and the session ends when both ways have ended.
  void RelayHalfCloses(TKwProxyClient* client, net::TWSocket* remote);

  // The proxy client that owns a remote socket.
  static TKwProxyClient* ClientOf(net::TWSocket* remote);
  // Sends to the remote side and stops reading the client while it lags.
  void SendToRemote(TKwProxyClient* client, std::string_view bytes);
  // Sends to the client and stops reading the remote side while it lags.
  void SendToClient(TKwProxyClient* client, net::TWSocket* remote, std::string_view bytes);

  bool destroying_ = false;

 private:
  void TunnelClientEnded(TKwProxyClient* client);
  void TunnelRemoteEnded(net::TWSocket* remote);
  void EndTunnelIfDone(TKwProxyClient* client);

  std::unique_ptr<net::TWSocketServer> server_;
  TStringList allowedIP_;
  TKwIPSec filter_;
  std::string localAddress_;
  int port_ = 0;
  bool active_ = false;
  int activeClients_ = 0;
  TKwProxyClientClass clientClass_;
  std::unique_ptr<TSessionDeadlines> deadlines_;
};

}  // namespace vantrel::engine
