#pragma once
// TWSocketServer: a listening TWSocket that accepts every connection itself,
// wraps it in a new client object and destroys that object on its own turn
// of the loop once the connection has ended.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/WSocket.h"

namespace vantrel::net {

class TWSocketServer;

class TWSocketClient : public TWSocket {
 public:
  explicit TWSocketClient(TComponent* owner = nullptr);

  TWSocketServer* Server() const { return server_; }
  void SetServer(TWSocketServer* server) { server_ = server; }
  std::string Banner;

  // Copies taken when the connection was adopted: readable after it closed.
  std::string GetPeerAddr() override { return peerAddr_; }
  std::string GetPeerPort() override { return peerPort_; }

  void Dup(int handle) override;
  // The peer as the server's accept saw it, for the next Dup.
  void SetAcceptedPeer(const std::string& addr, const std::string& port);
  void StartConnection();  // sends the banner, if any

 protected:
  void TriggerSessionClosed(uint16_t errCode) override;

 private:
  TWSocketServer* server_ = nullptr;
  std::string peerAddr_, peerPort_;
  // The peer was given by the accept: the next Dup keeps it.
  bool acceptedPeerSet_ = false;
  bool noticeQueued_ = false;
};

using TClientClass = std::function<std::unique_ptr<TWSocketClient>(TWSocketServer* owner)>;

class TWSocketServer : public TWSocket {
 public:
  explicit TWSocketServer(TComponent* owner = nullptr);
  ~TWSocketServer() override;

  TClientClass ClientClass;
  std::string Banner = "Welcome to TcpSrv";
  std::string BannerTooBusy = "Sorry, too many clients";
  int MaxClients = 0;
  // Holds one descriptor back while accepting, and gives it up when the
  // table is full and nothing idle could be closed: one more client can
  // still be taken and answered instead of waiting in the queue.
  bool KeepSpareDescriptor = false;

  int ClientCount() const { return static_cast<int>(clients_.size()); }
  TWSocketClient* Clients(int index) const;

  std::function<void(TWSocketServer* sender, TWSocketClient* client)> OnClientCreate;
  std::function<void(TWSocketServer* sender, TWSocketClient* client, uint16_t error)>
      OnClientConnect;
  std::function<void(TWSocketServer* sender, TWSocketClient* client, uint16_t error)>
      OnClientDisconnect;

 protected:
  void TriggerSessionAvailable(uint16_t errCode) override;
  bool FreeDescriptorsForAccept() override;

 private:
  friend class TWSocketClient;
  void ClientClosed(TWSocketClient* client, uint16_t errCode);
  void DestroyClient(TWSocketClient* client, uint16_t errCode);
  void RemoveClient(TWSocketClient* client);

  void RefillSpare();

  std::vector<std::unique_ptr<TWSocketClient>> clients_;
  int spareFd_ = -1;
  // Worth trying to take the spare (again): at first, and after a client went.
  bool spareDue_ = true;
};

}  // namespace vantrel::net
