#pragma once
// TKwProxyClient: one client connection of the proxy (it is the accepted
// socket itself) with the remote connection of its current request.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/RequestBody.h"
#include "engine/ResponseFraming.h"
#include "engine/SessionWatch.h"
#include "net/WSocketServer.h"

namespace vantrel::engine {

class TKwGenericProxy;

// How a tunnel request ended up, for clients answered in another protocol.
enum class TTunnelOutcome {
  Established,
  LookupFailed,    // the target's name did not resolve
  ConnectRefused,  // the target refused the connection
  HopRefused,      // the next hop answered the CONNECT with a refusal
  NotAllowed,      // refused here: the client filter or a handler
  TimedOut,        // the connection was not made in time
  Failed,          // anything else: a bad target, a failed connect
};

class TKwProxyClient : public net::TWSocketClient {
 public:
  explicit TKwProxyClient(net::TWSocketServer* server);
  ~TKwProxyClient() override;

  bool ShutdownPending = false;
  bool HeaderProcessed = false;
  bool TunnelEstablished = false;
  bool IsTunnel = false;
  bool ViaNextHop = false;
  bool Socks4Reply = false;
  std::array<uint8_t, 6> Socks4ReplyBytes{};

  // The current remote connection; null until a request needs one.
  net::TWSocket* RemoteSocket() const { return remote_.get(); }

  virtual net::TWSocket* CreateRemoteSocket();
  virtual void FreeRemoteSocket();
  // A kept connection changes hands: taken from this session, or given to
  // it as the current remote (any current one is retired first).
  std::unique_ptr<net::TWSocket> ReleaseRemoteSocket();
  net::TWSocket* AdoptRemoteSocket(std::unique_ptr<net::TWSocket> socket);
  // Lets the current remote connection go: silenced at once, reset, and
  // freed off the stack.
  void RetireRemoteSocket();
  virtual void SetTunnel(bool value) { IsTunnel = value; }

  bool IsBusy() const override;

  // Input is dropped once the connection is ending: after a refusal or a
  // local answer, or when the client has been half-closed.
  bool DiscardInput = false;

  // The current request went out and its answer has not ended yet.
  bool AwaitingResponse = false;
  // Reading the client stopped because Pipelined is full.
  bool InputHeld = false;
  // A request header is being decided: bytes that come meanwhile wait.
  bool Deciding = false;
  // The answer switched the connection to another protocol: raw both ways.
  bool Upgraded = false;
  // A handler left the current request's decision for later (it waits for a
  // name lookup); the request is asked again when the handler resumes it.
  bool DecisionPending = false;

  // What a connection needs once its client has spoken: the answers under
  // way and the state of its requests. Made with the first request, so a
  // connection that sends nothing costs only its socket.
  struct TExchange {
    // What the client sent and has not been taken yet.
    std::string ClientBuffer;
    // Framing of the current request's body, so that late body bytes reach
    // the request they belong to.
    RequestBody Body;
    // Where the search for the end of the header goes on.
    size_t HeaderScanFrom = 0;
    std::string ResponseText;
    std::string TunnelReplyBuffer;
    // Set for a tunnel asked for in another protocol (SOCKS5): the bytes
    // that tell the client how its tunnel ended up, in place of an HTTP
    // answer. remote is the connected remote socket, null through a next hop.
    std::function<std::string(TTunnelOutcome outcome, const net::TWSocket* remote)> TunnelAnswer;
    // Why a tunnel request was answered here rather than connected.
    TTunnelOutcome TunnelRefusal = TTunnelOutcome::Failed;
    // Requests on one connection are served strictly one after the other.
    // Where the current answer ends, as the remote's bytes arrive.
    ResponseFraming Framing;
    // Client bytes behind the current request (further requests), held
    // until its answer has been relayed whole.
    std::string Pipelined;

    // Whether the current request's remote connection may be kept for
    // another request, and what it takes to send the request again.
    struct TReuse {
      // Where the connection goes (RouteKey); empty: it is never kept.
      std::string key;
      // Where a fresh connection for the request goes.
      std::string host, port;
      bool head = false;
      // The request as it went onward lets the connection be kept.
      bool requestAllows = false;
      // The answer is over and the connection is held for the next request.
      bool idle = false;
      // The request went out on a kept connection.
      bool reused = false;
      // While no answer byte has come: the request may be sent again, and
      // replay holds it as it was sent.
      bool resendable = false;
      std::string replay;
    };
    TReuse Reuse;
  };
  TExchange& Exchange() {
    if (!exchange_) exchange_ = std::make_unique<TExchange>();
    return *exchange_;
  }
  // Null until the client's first request.
  const TExchange* StartedExchange() const { return exchange_.get(); }

  // Request headers taken so far: tells one request's wait from the next.
  uint32_t Requests = 0;
  // The deadline sweep's own notes (SessionDeadlines).
  TSessionWatch Watch;
  // False once this session has been destroyed.
  std::shared_ptr<bool> Liveness() const { return Alive(); }

  // Resumes reading the client unless held for waiting requests.
  void ResumeInput() {
    if (!InputHeld) ResumeReading();
  }

 protected:
  void NotifyDataSent(uint16_t errCode) override;
  virtual void SessionClosed(net::TWSocket* sender, uint16_t errCode);

 private:
  void FreeRetired();

  std::unique_ptr<TExchange> exchange_;
  std::unique_ptr<net::TWSocket> remote_;
  // Superseded remote connections: closed, waiting to be freed off the stack.
  std::vector<std::unique_ptr<net::TWSocket>> retired_;
  bool freeRetiredPosted_ = false;
  bool sessionClosedDetached_ = false;
};

}  // namespace vantrel::engine
