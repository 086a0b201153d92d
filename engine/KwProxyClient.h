#pragma once
// TKwProxyClient: one client connection of the proxy (it is the accepted
// socket itself) with the remote connection of its current request.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/RequestBody.h"
#include "net/WSocketServer.h"

namespace vantrel::engine {

class TKwGenericProxy;

class TKwProxyClient : public net::TWSocketClient {
 public:
  explicit TKwProxyClient(net::TWSocketServer* server);
  ~TKwProxyClient() override;

  bool ShutdownPending = false;
  bool HeaderProcessed = false;
  bool TunnelEstablished = false;
  bool IsTunnel = false;
  std::string ClientBuffer;
  std::string ResponseText;
  std::string TunnelReplyBuffer;
  bool ViaNextHop = false;
  bool Socks4Reply = false;
  std::array<uint8_t, 6> Socks4ReplyBytes{};

  // The current remote connection; null until a request needs one.
  net::TWSocket* RemoteSocket() const { return remote_.get(); }

  virtual net::TWSocket* CreateRemoteSocket();
  virtual void FreeRemoteSocket();
  virtual void SetTunnel(bool value) { IsTunnel = value; }

  bool IsBusy() const override;

  // Framing of the current request's body, so that late body bytes reach
  // the request they belong to.
  RequestBody Body;
  // Where the search for the end of the header goes on.
  size_t HeaderScanFrom = 0;
  // Input is dropped after a refusal that ends the connection.
  bool DiscardInput = false;

 protected:
  void NotifyDataSent(uint16_t errCode) override;
  virtual void SessionClosed(net::TWSocket* sender, uint16_t errCode);

 private:
  void RetireRemoteSocket();
  void FreeRetired();

  std::unique_ptr<net::TWSocket> remote_;
  // Superseded remote connections: closed, waiting to be freed off the stack.
  std::vector<std::unique_ptr<net::TWSocket>> retired_;
  bool freeRetiredPosted_ = false;
  bool sessionClosedDetached_ = false;
};

}  // namespace vantrel::engine
