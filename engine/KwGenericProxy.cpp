#include "engine/KwGenericProxy.h"

#include <sys/socket.h>

namespace vantrel::engine {

using net::TWSocket;
using net::TWSocketClient;
using net::TWSocketServer;

TKwGenericProxy::TKwGenericProxy(net::TComponent* owner)
    : net::TComponent(owner), server_(std::make_unique<TWSocketServer>()) {
  clientClass_ = [](TWSocketServer* server) -> std::unique_ptr<TWSocketClient> {
    return std::make_unique<TKwProxyClient>(server);
  };
  TWSocketServer& s = *server_;
  s.SetAddr("0.0.0.0");
  s.Banner.clear();
  s.BannerTooBusy.clear();
  s.ClientClass = clientClass_;
  s.LineMode = false;
  s.LingerOnOff = net::wsLingerOn;
  s.LingerTimeout = 0;
  s.SetLocalAddr("0.0.0.0");
  s.SetLocalPort("0");
  s.MaxClients = 0;
  s.SetProto("tcp");
  // A burst of browser connections must not be refused by a tiny queue.
  s.ListenBacklog = SOMAXCONN;
  // Out of descriptors, one more client can still be taken and answered.
  s.KeepSpareDescriptor = true;
  s.OnBgException = [this](TWSocket* sender, const std::exception& e, bool& canClose) {
    SocketBgException(sender, e, canClose);
  };
  s.OnClientConnect = [this](TWSocketServer* sender, TWSocketClient* client, uint16_t error) {
    ServerClientConnect(sender, client, error);
  };
  s.OnClientCreate = [this](TWSocketServer* sender, TWSocketClient* client) {
    ServerClientCreate(sender, client);
  };
  s.OnClientDisconnect = [this](TWSocketServer* sender, TWSocketClient* client, uint16_t error) {
    ServerClientDisconnect(sender, client, error);
  };
  s.OnSessionClosed = [this](TWSocket* sender, uint16_t error) {
    ServerSessionClosed(sender, error);
  };
  allowedIP_.OnChange = [this](TStringList*) { AllowedIPChanged(); };
  deadlines_ = std::make_unique<TSessionDeadlines>(
      s, [this](const std::string& message) { DoDebugLog(message); },
      [this](const std::string& message) {
        if (OnNotice) OnNotice(this, message);
      });
}

TKwGenericProxy::~TKwGenericProxy() {
  destroying_ = true;
  DoDebugLog("TKwGenericProxy.Destroy");
  try {
    CloseSocketServer();
  } catch (...) {
  }
}

// ---- properties ----

void TKwGenericProxy::SetAllowedIP(const std::vector<std::string>& lines) {
  allowedIP_.Assign(lines);
}

void TKwGenericProxy::AllowedIPChanged() {
  filter_.SetIPList(allowedIP_);
  TStringList::NotifyPause pause(allowedIP_);
  allowedIP_.Assign(filter_.IPList().Lines());
}

void TKwGenericProxy::SetLocalAddress(const std::string& value) {
  if (active_)
    throw std::runtime_error("LocalAddress property can only be modified when proxy is not active");
  localAddress_ = value;
}

void TKwGenericProxy::SetPort(int value) {
  if (active_)
    throw std::runtime_error("Port property can only be modified when proxy is not active");
  port_ = value;
}

void TKwGenericProxy::SetClientClass(TKwProxyClientClass value) {
  if (active_)
    throw std::runtime_error("ClientClass property can only be modified when proxy is not active");
  clientClass_ = std::move(value);
  server_->ClientClass = clientClass_;
}

// ---- open and close ----

void TKwGenericProxy::Open(std::string& ErrorText) {
  ErrorText.clear();
  if (active_) return;
  try {
    server_->SetPort(std::to_string(port_));
    server_->SetAddr(localAddress_.empty() ? "0.0.0.0" : localAddress_);
    server_->SetProto("tcp");
    server_->Listen();
    AfterListen(ErrorText);
    if (!ErrorText.empty()) {
      DoDebugLog("Listen failed (" + ErrorText + "), will close");
      Close();
    } else {
      active_ = true;
      deadlines_->Start();
      DoServerListening();
    }
  } catch (const net::ESocketException& e) {
    ErrorText = e.what();
    active_ = false;
  }
}

void TKwGenericProxy::AfterListen(std::string& ErrorText) {
  ErrorText.clear();
}

void TKwGenericProxy::Close() {
  DoDebugLog("TKwGenericProxy.Close");
  deadlines_->Stop();
  CloseSocketServer();
  active_ = false;
}

void TKwGenericProxy::CloseSocketServer() {
  DoDebugLog("TKwGenericProxy.CloseSocketServer");
  const int n = server_->ClientCount();
  for (int i = 0; i < n; ++i) {
    if (TWSocketClient* client = server_->Clients(i)) client->Close();
  }
  if (!destroying_) server_->Close();
}

// ---- events ----

void TKwGenericProxy::DoClientConnect(TKwProxyClient* c) {
  if (OnClientConnect) OnClientConnect(this, c);
}
void TKwGenericProxy::DoClientDataAvailable(TKwProxyClient* c, std::string& data) {
  if (OnClientDataAvailable) OnClientDataAvailable(this, c, data);
}
void TKwGenericProxy::DoClientDataForwarded(TKwProxyClient* c, size_t length) {
  if (OnClientDataForwarded) OnClientDataForwarded(this, c, length);
}
void TKwGenericProxy::DoClientDisconnect(TKwProxyClient* c) {
  if (OnClientDisconnect) OnClientDisconnect(this, c);
}
void TKwGenericProxy::DoDebugLog(const std::string& message) {
  if (OnDebugLog) OnDebugLog(this, message);
}
void TKwGenericProxy::DoRemoteConnect(TKwProxyClient* c) {
  if (OnRemoteConnect) OnRemoteConnect(this, c);
}
void TKwGenericProxy::DoRemoteDataAvailable(TKwProxyClient* c, std::string_view data) {
  if (OnRemoteDataAvailable) OnRemoteDataAvailable(this, c, data);
}
void TKwGenericProxy::DoRemoteDataRelayed(TKwProxyClient* c, size_t length) {
  if (OnRemoteDataRelayed) OnRemoteDataRelayed(this, c, length);
}
void TKwGenericProxy::DoRemoteDisconnect(TKwProxyClient* c) {
  if (OnRemoteDisconnect) OnRemoteDisconnect(this, c);
}
void TKwGenericProxy::DoRemoteDNSLookupDone(TKwProxyClient* c) {
  if (OnRemoteDNSLookupDone) OnRemoteDNSLookupDone(this, c);
}
void TKwGenericProxy::DoRemoteSocketPrepared(TKwProxyClient* c) {
  if (OnRemoteSocketPrepared) OnRemoteSocketPrepared(this, c);
}
void TKwGenericProxy::DoRemoteSocketReused(TKwProxyClient* c) {
  if (OnRemoteSocketReused) OnRemoteSocketReused(this, c);
}
void TKwGenericProxy::DoServerClosed(uint16_t error) {
  if (OnServerClosed) OnServerClosed(this, error);
}
void TKwGenericProxy::DoServerListening() {
  if (OnServerListening) OnServerListening(this);
}

void TKwGenericProxy::SocketBgException(TWSocket*, const std::exception& e, bool& canClose) {
  canClose = false;
  try {
    DoDebugLog(std::string("Background exception in server: ") + e.what());
  } catch (...) {
  }
}

// ---- clients ----

void TKwGenericProxy::ServerClientCreate(TWSocketServer*, TWSocketClient*) {}

void TKwGenericProxy::ServerClientConnect(TWSocketServer* sender, TWSocketClient* client,
                                          uint16_t error) {
  if (error != 0) return;
  auto* c = static_cast<TKwProxyClient*>(client);
  c->OnDataAvailable = [this](TWSocket* s, uint16_t err) { ClientDataAvailable(s, err); };
  c->OnBgException = [this](TWSocket* s, const std::exception& e, bool& canClose) {
    SocketBgException(s, e, canClose);
  };
  c->LineMode = false;
  deadlines_->ClientAccepted(c);
  activeClients_ = sender->ClientCount();
  DoClientConnect(c);
}

void TKwGenericProxy::ClientDataAvailable(TWSocket* sender, uint16_t errCode) {
  if (errCode != 0) return;
  auto* c = static_cast<TKwProxyClient*>(sender);
  std::string data = c->ReceiveText();
  if (data.empty()) return;
  DoClientDataAvailable(c, data);
  ProcessClientData(c, data);
}

void TKwGenericProxy::ServerClientDisconnect(TWSocketServer* sender, TWSocketClient* client,
                                             uint16_t) {
  activeClients_ = sender->ClientCount() - 1;
  DoClientDisconnect(static_cast<TKwProxyClient*>(client));
}

void TKwGenericProxy::ServerSessionClosed(TWSocket*, uint16_t error) {
  DoServerClosed(error);
}

// ---- remote side ----

TKwProxyClient* TKwGenericProxy::ClientOf(TWSocket* remote) {
  return static_cast<TKwProxyClient*>(remote->Owner());
}

void TKwGenericProxy::PrepareRemoteSocket(TWSocket* remote) {
  // One read per notification, as on client connections: each read already
  // takes what is waiting, and a pause for back-pressure holds after it.
  remote->ComponentOptions |= net::wsoNoReceiveLoop;
  remote->OnSessionConnected = [this](TWSocket* s, uint16_t err) {
    RemoteSessionConnected(s, err);
  };
  remote->OnDataAvailable = [this](TWSocket* s, uint16_t err) { RemoteDataAvailable(s, err); };
  remote->OnSessionClosed = [this](TWSocket* s, uint16_t err) { RemoteSessionClosed(s, err); };
  remote->OnBgException = [this](TWSocket* s, const std::exception& e, bool& canClose) {
    SocketBgException(s, e, canClose);
  };
  remote->OnDnsLookupDone = [this](TWSocket* s, uint16_t err) { RemoteDnsLookupDone(s, err); };
  // The remote side has taken everything: the client may send again.
  remote->OnDataSent = [](TWSocket* s, uint16_t) {
    if (auto* c = ClientOf(s); c && c->RemoteSocket() == s) c->ResumeInput();
  };
}

void TKwGenericProxy::RemoteDnsLookupDone(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  if (errCode != 0) {
    ShutdownClient(c);
    return;
  }
  DoRemoteDNSLookupDone(c);
  sender->SetAddr(sender->DnsResult());
  sender->Connect();
}

void TKwGenericProxy::RemoteSessionClosed(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  if (errCode != 0) {
    // No event, and the client stays open until it closes; but whatever held
    // its reading (back-pressure, waiting requests) must let go, or its
    // close would never be heard.
    if (c->RemoteSocket() == sender) ReleaseClientAfterRemoteFailure(c);
    return;
  }
  DoRemoteDisconnect(c);
  ShutdownClient(c);
}

void TKwGenericProxy::ReleaseClientAfterRemoteFailure(TKwProxyClient* c) {
  if (c->AwaitingResponse) {
    // The answer under way can never end, so nothing behind it can be
    // answered in its turn.
    c->DiscardInput = true;
    if (c->StartedExchange()) std::string().swap(c->Exchange().Pipelined);
  }
  c->InputHeld = false;
  c->ResumeReading();
}

void TKwGenericProxy::ShutdownClient(TKwProxyClient* c) {
  // Nothing the client sends from now on can be answered.
  c->DiscardInput = true;
  if (c->StartedExchange()) std::string().swap(c->Exchange().Pipelined);
  // Read on and drop, so that the client's own end is still heard.
  c->InputHeld = false;
  c->ResumeReading();
  if (c->SendQueueEmpty()) {
    c->Shutdown(1);
  } else {
    c->ShutdownPending = true;
  }
}

void TKwGenericProxy::SendToSocket(TWSocket* socket, std::string_view text) {
  if (!socket || socket->State() != net::wsConnected) return;
  try {
    socket->SendText(text);
  } catch (...) {
  }
}

void TKwGenericProxy::SendToRemote(TKwProxyClient* c, std::string_view bytes) {
  TWSocket* remote = c->RemoteSocket();
  SendToSocket(remote, bytes);
  if (remote && remote->BufferedBytes() > kHighWater) c->PauseReading();
}

void TKwGenericProxy::SendToClient(TKwProxyClient* c, TWSocket* remote, std::string_view bytes) {
  SendToSocket(c, bytes);
  if (c->BufferedBytes() > kHighWater && remote) remote->PauseReading();
}

}  // namespace vantrel::engine
