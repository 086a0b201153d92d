#include "tunnels/Tunnels.h"

#include <sys/socket.h>

#include <algorithm>
#include <exception>

#include "engine/SelfTarget.h"
#include "hosts/Addresses.h"
#include "model/ProxyTables.h"
#include "net/EventLoop.h"
#include "tunnels/TunnelAnswer.h"

namespace vantrel {

namespace {

TTunnelWSocket* AsTunnel(net::TWSocket* socket) {
  return static_cast<TTunnelWSocket*>(socket);
}

}  // namespace

TTunnels::TTunnels(TRecordTable& mtblTunnels, std::function<int()> proxyPort,
                   std::function<const std::vector<std::string>&()> allowedIPList, Comment comment)
    : mtblTunnels_(mtblTunnels),
      proxyPort_(std::move(proxyPort)),
      allowedIPList_(std::move(allowedIPList)),
      comment_(std::move(comment)) {}

TTunnels::~TTunnels() {
  *alive_ = false;
  // Sockets destroyed here raise no events, so nothing comes back in.
  std::vector<std::unique_ptr<TTunnelWSocket>> sessions;
  sessions.swap(sessions_);
  sessions.clear();
  StopTunnels();
}

// ---- listeners ----

void TTunnels::StartTunnels() {
  using namespace tunnel_fields;
  StopTunnels();
  enabledPorts_.clear();
  for (int row = 0; row < mtblTunnels_.RecordCount(); ++row) {
    if (mtblTunnels_.BooleanAt(row, Enabled))
      enabledPorts_.push_back(mtblTunnels_.IntegerAt(row, LocalPortNo));
  }
  for (int row = 0; row < mtblTunnels_.RecordCount(); ++row) {
    if (!mtblTunnels_.BooleanAt(row, Enabled)) continue;
    const int32_t localPort = mtblTunnels_.IntegerAt(row, LocalPortNo);
    const std::string name = mtblTunnels_.StringAt(row, TunnelName);
    const std::string host = mtblTunnels_.StringAt(row, RemoteHost);
    const int32_t remotePort = mtblTunnels_.IntegerAt(row, RemotePortNo);
    // Each connection to such a tunnel would open another one to itself
    // until no descriptor is left.
    if (ForwardsToItself(host, remotePort)) {
      comment_("ERROR: Tunnel " + name + " on local port " + std::to_string(localPort) +
               " not started: it forwards to itself (" + host + ":" + std::to_string(remotePort) +
               ")");
      continue;
    }
    auto listener = std::make_unique<TTunnelWSocket>();
    try {
      listener->OnSessionAvailable = [this](net::TWSocket* sender, uint16_t errCode) {
        wsTunnelServerSessionAvailable(sender, errCode);
      };
      listener->LineMode = false;
      listener->SetPort(std::to_string(localPort));
      listener->SetAddr("0.0.0.0");
      listener->SetLocalAddr("0.0.0.0");
      listener->Role = TTunnelRole::Listener;
      // As the proxy port's: a burst of clients must not overflow a tiny
      // queue and wait for their connects to be retried.
      listener->ListenBacklog = SOMAXCONN;
      listener->TunnelName = name;
      listener->LocalPortNo = localPort;
      listener->RemotePortNo = remotePort;
      listener->RemoteHost = host;
      listener->Listen();
      comment_("Start listening on port " + std::to_string(localPort));
      listeners_.push_back(std::move(listener));
    } catch (const std::exception& e) {
      comment_("ERROR: Could not create socket for local port " + std::to_string(localPort) + ":" +
               e.what());
    }
  }
}

void TTunnels::StopTunnels() {
  std::vector<std::unique_ptr<TTunnelWSocket>> listeners;
  listeners.swap(listeners_);
  for (auto& listener : listeners) {
    try {
      listener->Close();
    } catch (...) {
    }
    try {
      listener.reset();
    } catch (...) {
    }
  }
}

bool TTunnels::ForwardsToItself(const std::string& host, int32_t port) const {
  // Address and port both: the same port number on another machine is no loop.
  return engine::IsSelfTarget(host, port, enabledPorts_);
}

// ---- a connection waits ----

TTunnelWSocket& TTunnels::NewSession() {
  sessions_.push_back(std::make_unique<TTunnelWSocket>());
  return *sessions_.back();
}

void TTunnels::BindSessionEvents(TTunnelWSocket& socket) {
  // One data handler for the whole life of the socket: replacing a running
  // handler would free it while it runs. The stage picks the step.
  socket.OnDataAvailable = [this](net::TWSocket* sender, uint16_t errCode) {
    TTunnelWSocket* s = AsTunnel(sender);
    if (s->Role == TTunnelRole::ProxySide && s->Stage != TTunnelStage::Relaying) {
      wsTunnelClientRemoteDataAvailable(sender, errCode);
    } else {
      wsTunnelClientDataAvailable(sender, errCode);
    }
  };
  socket.OnError = [this](net::TWSocket* sender) { wsTunnelClientError(sender); };
  socket.OnSessionClosed = [this](net::TWSocket* sender, uint16_t errCode) {
    wsTunnelClientSessionClosed(sender, errCode);
  };
  socket.OnDataSent = [this](net::TWSocket* sender, uint16_t errCode) {
    wsTunnelClientDataSent(sender, errCode);
  };
}

void TTunnels::wsTunnelServerSessionAvailable(net::TWSocket* sender, uint16_t /*errCode*/) {
  TTunnelWSocket* listener = AsTunnel(sender);
  const std::shared_ptr<bool> listenerAlive = listener->LivenessToken();
  // Every waiting connection is taken now: taking one per event would queue
  // a burst of clients behind each other's connection to the proxy. A
  // bound keeps one flood from holding the loop; the rest come next round.
  for (int i = 0; i < kMaxAcceptsPerEvent; ++i) {
    if (!*listenerAlive || listener->State() != net::wsListening) return;
    std::string peerAddr, peerPort;
    int handle = -1;
    try {
      handle = listener->Accept(peerAddr, peerPort);
    } catch (const std::exception&) {
      return;  // out of descriptors: the listener retries on its own
    }
    if (handle < 0) return;
    StartConnection(*listener, handle, peerAddr);
  }
}

void TTunnels::StartConnection(TTunnelWSocket& listener, int handle, const std::string& peerAddr) {
  comment_("Tunnel " + listener.TunnelName + " on port " + listener.Port() +
           " received (redirect to " + listener.RemoteHost + ":" +
           std::to_string(listener.RemotePortNo) + ")");
  TTunnelWSocket& client = NewSession();
  client.Role = TTunnelRole::ClientSide;
  BindSessionEvents(client);
  client.LineMode = false;
  client.TunnelName = listener.TunnelName;
  client.LocalPortNo = listener.LocalPortNo;
  client.RemotePortNo = listener.RemotePortNo;
  client.RemoteHost = listener.RemoteHost;
  client.SetAcceptedPeer(peerAddr);
  client.Dup(handle);
  if (client.DestroyPending || client.State() != net::wsConnected) {
    Destroy(client);
    return;
  }
  // Its bytes wait in the system until the proxy has been reached.
  client.PauseReading();

  TTunnelWSocket& proxySide = NewSession();
  proxySide.Role = TTunnelRole::ProxySide;
  proxySide.LocalPortNo = listener.LocalPortNo;
  proxySide.RemotePortNo = listener.RemotePortNo;
  proxySide.RemoteHost = listener.RemoteHost;
  proxySide.TunnelName = listener.TunnelName;
  proxySide.Listener = &listener;
  proxySide.ListenerAlive = listener.LivenessToken();
  client.Partner = &proxySide;
  proxySide.Partner = &client;
  try {
    BindSessionEvents(proxySide);
    proxySide.SetAddr(ProxyHost);
    proxySide.SetPort(std::to_string(proxyPort_()));
    proxySide.LineMode = false;
    proxySide.OnSessionConnected = [this](net::TWSocket* s, uint16_t errCode) {
      wsTunnelClientRemoteSessionConnected(s, errCode);
    };
    proxySide.Connect();
  } catch (const std::exception& e) {
    comment_(std::string("exception trying to connect: ") + e.what());
    // Nothing more will happen to it: the client goes too.
    if (proxySide.Partner) {
      proxySide.Partner = nullptr;
      client.Partner = nullptr;
      client.Close();
    }
    Destroy(proxySide);
  }
}

void TTunnels::wsTunnelClientRemoteSessionConnected(net::TWSocket* sender, uint16_t errCode) {
  TTunnelWSocket* proxySide = AsTunnel(sender);
  if (proxySide->DestroyPending) return;
  comment_("Tunnel " + proxySide->TunnelName + " connected to remote " + proxySide->RemoteHost +
           ":" + std::to_string(proxySide->RemotePortNo) + ", error code " +
           std::to_string(errCode));
  if (errCode != 0) {
    proxySide->Close();  // its close handler lets the client go
    return;
  }
  TTunnelWSocket* client = proxySide->Partner;
  if (!client) {
    proxySide->Close();  // the client went meanwhile
    return;
  }
  // Tunnels obey the allowed list whatever the allowed-connections switch says.
  const std::string peer = client->GetPeerAddr();
  if (AddressInRangeList(peer, allowedIPList_())) {
    proxySide->Stage = TTunnelStage::Requested;
    proxySide->SendText(TunnelConnectRequest(proxySide->RemoteHost, proxySide->RemotePortNo));
    if (!proxySide->DestroyPending && proxySide->Partner == client) client->ResumeReading();
  } else {
    comment_("client " + peer + " connection rejected (not in allowed IP list)");
    client->Close();
  }
}

// ---- the proxy's answer ----

void TTunnels::wsTunnelClientRemoteDataAvailable(net::TWSocket* sender, uint16_t errCode) {
  TTunnelWSocket* proxySide = AsTunnel(sender);
  if (proxySide->DestroyPending) return;
  char buffer[kChunk];
  const int n = proxySide->Receive(buffer, sizeof buffer);
  if (n <= 0) return;
  if (errCode != 0) {
    comment_("Tunnel Session Remote Data Receive Error, error code: " + std::to_string(errCode));
    proxySide->Stage = TTunnelStage::Failed;
    proxySide->Close();
    return;
  }
  // The answer may come in pieces, and the server behind it may speak first
  // in the same read: collect the header, then pass on what follows it.
  proxySide->Answer.append(buffer, static_cast<size_t>(n));
  size_t headerEnd = 0;
  switch (JudgeAnswer(proxySide->Answer, headerEnd)) {
    case TAnswerVerdict::Incomplete: return;
    case TAnswerVerdict::Accepted: {
      comment_("Tunnel connection successful");
      proxySide->Stage = TTunnelStage::Relaying;
      StartHalfCloses(*proxySide);
      const std::string rest = proxySide->Answer.substr(headerEnd);
      std::string().swap(proxySide->Answer);
      if (!rest.empty()) Relay(*proxySide, rest.data(), rest.size());
      return;
    }
    case TAnswerVerdict::Refused:
      comment_("ERROR: Could not connect to remote, error returned: \r\n" + proxySide->Answer);
      proxySide->Stage = TTunnelStage::Failed;
      proxySide->Close();
      return;
  }
}

}  // namespace vantrel
