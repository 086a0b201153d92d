#pragma once
// TKwHttpProxy: collects each request header, has it parsed and rewritten
// for a direct connection or for the next hop, answers refused and malformed
// requests itself, and relays everything else.

#include <array>
#include <functional>
#include <string>

#include "engine/ConnectionPool.h"
#include "engine/KwGenericProxy.h"
#include "engine/KwProxyData.h"
#include "engine/KwProxyStrings.h"

namespace vantrel::engine {

using TKwProxyHeaderEvent = std::function<void(
    TKwGenericProxy* sender, TKwProxyClient* Client, const std::string& url, std::string& header,
    std::string& proto, std::string& user, std::string& pass, std::string& host, std::string& port,
    std::string& path, std::string& hdrHost, bool& ignoreNextHopProxy, std::string& returnContent)>;

// Asked before a plain request's target is checked: a handler that answers
// it (a page of the proxy's own) returns true with the whole answer, and the
// request is neither checked nor routed.
using TKwProxyLocalRequestEvent = std::function<bool(
    TKwGenericProxy* sender, TKwProxyClient* Client, const std::string& url,
    const std::string& header, const std::string& host, const std::string& port,
    const std::string& path, std::string& returnContent)>;

// A request refused for a reason the user should see (it would loop into
// the proxy, or no connection could be made): reason says why.
using TKwProxyRefusedEvent =
    std::function<void(TKwGenericProxy* sender, TKwProxyClient* Client, const std::string& reason)>;

using TKwProxyTunnelRequestEvent = std::function<void(
    TKwGenericProxy* sender, TKwProxyClient* Client, std::string& Header, std::string& host,
    std::string& port, bool& ignoreNextHopProxy, std::string& returnContent)>;

class TKwHttpProxy : public TKwGenericProxy {
 public:
  explicit TKwHttpProxy(net::TComponent* owner = nullptr);
  ~TKwHttpProxy() override;

  TKwProxyTypes EnabledTypes{ptHTTP, ptTCPTunnel};
  TKwProxyData& NextHopHTTP() { return *nextHop_[0]; }
  TKwProxyData& NextHopTCPTunnel() { return *nextHop_[1]; }
  virtual void SetNextHop(int index, const TKwProxyData& value);
  TKwProxyStrings& Response() { return *response_; }
  virtual void SetResponse(const TKwProxyStrings& value);

  TKwProxyLocalRequestEvent OnLocalRequest;
  TKwProxyHeaderEvent OnClientHeaderAvailable;
  TKwProxyTunnelRequestEvent OnTunnelRequest;
  TKwProxyRefusedEvent OnRequestRefused;

  // A request header longer than this is refused: memory per connection
  // stays bounded whatever a client sends.
  static constexpr size_t kMaxHeader = 64 * 1024;
  // A request on a kept connection is held for sending again up to this
  // size; a longer one is not sent again.
  static constexpr size_t kMaxResend = kMaxHeader + 64 * 1024;

  // Connections onward kept between requests: a client holds its own until
  // its next request goes elsewhere or it leaves; then they are pooled for
  // any client. Cleared when the proxy closes; the owner clears them when
  // where requests go may have changed.
  TConnectionPool& Pool() { return *pool_; }
  // Closes every kept connection, pooled or held by a client.
  void ClearConnectionPool();
  void CloseSocketServer() override;

  // Parse and rewrite one request. True when it could be parsed; then either
  // `response` is the answer to give, or host:port is the connection to make
  // and `header` the bytes to send first.
  virtual bool ProcessHTTPRequest(TKwProxyClient* client, std::string& header, std::string& host,
                                  std::string& port, std::string& response);
  virtual bool ProcessTunnelRequest(TKwProxyClient* client, std::string& header, std::string& host,
                                    std::string& port, std::string& response);
  virtual void ProcessHeader(TKwProxyClient* client);

  // For header and tunnel handlers that cannot decide at once: called inside
  // the event, it leaves the request pending. The client's bytes are held
  // meanwhile, and nothing is sent onward until ResumeDecision raises the
  // event again for the same request, which the handler then decides.
  void DeferDecision(TKwProxyClient* client) { client->DecisionPending = true; }
  void ResumeDecision(TKwProxyClient* client);
  // Sends the bytes to the client and ends the connection; whatever it sends
  // afterwards is dropped. For handlers that refuse a client themselves.
  void AnswerAndClose(TKwProxyClient* client, std::string_view bytes);

 protected:
  virtual void DoClientHeaderAvailable(TKwProxyClient* client, const std::string& url,
                                       std::string& header, std::string& proto, std::string& user,
                                       std::string& pass, std::string& host, std::string& port,
                                       std::string& path, std::string& hdrHost,
                                       bool& ignoreNextHopProxy, std::string& returnContent);
  virtual void DoRequestRefused(TKwProxyClient* client, const std::string& reason);
  virtual void DoTunnelRequest(TKwProxyClient* client, std::string& header, std::string& host,
                               std::string& port, bool& ignoreNextHopProxy,
                               std::string& returnContent);

  void ProcessClientData(TKwProxyClient* client, std::string& data) override;
  void RemoteDataAvailable(net::TWSocket* sender, uint16_t errCode) override;
  // How many bytes the remote may send on to the client unseen (see
  // MayRelayUnseen); 0 when they must be read here.
  uint64_t UnseenAhead(TKwProxyClient* client) const;
  // After bytes of an answer went on: its end frees the connection.
  void AnswerRelayed(TKwProxyClient* client, net::TWSocket* remote, bool ended, bool switched,
                     bool keep);
  void RemoteSessionConnected(net::TWSocket* sender, uint16_t errCode) override;
  void RemoteDnsLookupDone(net::TWSocket* sender, uint16_t errCode) override;
  void RemoteSessionClosed(net::TWSocket* sender, uint16_t errCode) override;
  void AfterListen(std::string& ErrorText) override;
  void ServerClientDisconnect(net::TWSocketServer* sender, net::TWSocketClient* client,
                              uint16_t error) override;

 private:
  // Hands client bytes, in order, to what they belong to: the header being
  // collected, the body or tunnel being forwarded, or the next request,
  // which waits while the answer before it is still coming.
  void TakeInput(TKwProxyClient* client, std::string_view chunk);
  // Collects a request header; once complete, decides it. The bytes behind
  // the header are left in Pipelined for TakeInput.
  void CollectHeader(TKwProxyClient* client, std::string_view chunk);
  // Keeps bytes for a later request; beyond the header cap the client is
  // read no further until they may go on (ReleaseInput).
  void HoldBack(TKwProxyClient* client, std::string_view bytes, bool older);
  void ReleaseInput(TKwProxyClient* client);
  static bool WaitsForAnswer(const TKwProxyClient* client);
  static bool IsConnect(std::string_view header);
  void ForwardBytes(TKwProxyClient* client, std::string_view bytes);
  void ForwardPending(TKwProxyClient* client);
  void RefuseOversizedHeader(TKwProxyClient* client);
  // After the header has been decided: the local answer, or the bytes
  // that go first to the remote.
  void FinishHeader(TKwProxyClient* client);
  // A fresh connection for the current request.
  void ConnectRemote(TKwProxyClient* client, const std::string& host, const std::string& port);
  // Notes where the current request goes and whether its connection may be
  // kept; then takes a kept connection there, when there is one.
  bool UseKeptConnection(TKwProxyClient* client, const std::string& method, const std::string& host,
                         const std::string& port);
  // The answer has ended: its connection goes to the pool when both sides
  // let it carry another request.
  bool MayKeepRemote(TKwProxyClient* client, const net::TWSocket* remote) const;
  // The client holds it meanwhile; any byte or end from the far side then
  // lets it go, without touching the client.
  void HoldRemote(TKwProxyClient* client);
  void DropIdleRemote(net::TWSocket* remote);
  // A held connection goes to the pool.
  void KeepRemote(TKwProxyClient* client);
  // A kept connection that ended before any byte of the answer: the request
  // goes once more, on a fresh connection, when that is safe.
  bool MaySendAgain(const TKwProxyClient* client) const;
  void SendAgainLater(TKwProxyClient* client);
  // The port clients reach us on: a target there on this machine loops.
  int OwnPort();
  // A target that is the proxy itself: refused with one line saying why.
  bool RefuseSelfTarget(TKwProxyClient* client, const std::string& host, const std::string& port);
  // The remote turned out to be the proxy itself once looked up.
  void RefuseLoopedConnection(TKwProxyClient* client, net::TWSocket* remote);
  // No connection can be made: the client hears what a refused connect
  // gives it, and the request is forgotten.
  void RefuseUnconnected(TKwProxyClient* client, const std::string& reason);
  static std::string Socks4Answer(const TKwProxyClient* client, uint8_t code);
  std::string Socks4Grant(const TKwProxyClient* client) const;
  // A SOCKS client whose tunnel could not be made hears the reject and is
  // closed; true when the client was one.
  bool RefuseSocks4(TKwProxyClient* client, TTunnelOutcome outcome = TTunnelOutcome::Failed);
  // The answer for a tunnel that has just been made.
  std::string TunnelGrant(TKwProxyClient* client, const net::TWSocket* remote);

  std::array<std::unique_ptr<TKwProxyData>, 2> nextHop_;
  std::unique_ptr<TKwProxyStrings> response_;
  std::unique_ptr<TConnectionPool> pool_ = std::make_unique<TConnectionPool>();
  int ownPort_ = 0;
};

}  // namespace vantrel::engine
