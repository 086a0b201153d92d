#include "engine/KwHttpProxy.h"

#include "engine/HttpHeader.h"
#include "engine/KwString.h"

namespace vantrel::engine {

using net::TWSocket;

namespace {

// A target the socket layer can connect to: a host, and a port 1..65535
// written in digits. Anything else would leave the client waiting forever
// or connect somewhere it did not ask for.
bool ValidTarget(const std::string& host, const std::string& port) {
  if (host.empty() || port.empty() || port.size() > 5) return false;
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

// Inserts a header line (given with its leading CR LF) in front of the
// blank line that ends the header, so it becomes the last header line.
void InsertBeforeHeaderEnd(std::string& header, std::string_view line) {
  const size_t end = FindHeaderEnd(header);
  header.insert(end == std::string::npos ? header.size() : end, line);
}

std::string BasicCredentials(const std::string& user, const std::string& pass) {
  return "Basic " + Base64Encode(user + ":" + pass);
}

}  // namespace

TKwHttpProxy::TKwHttpProxy(net::TComponent* owner) : TKwGenericProxy(owner) {
  SetPort(8080);
  response_ = std::make_unique<TKwProxyStrings>();
  nextHop_[0] = std::make_unique<TKwProxyData>(8080);
  nextHop_[1] = std::make_unique<TKwProxyData>(8080);
}

TKwHttpProxy::~TKwHttpProxy() {
  destroying_ = true;
  try {
    CloseSocketServer();
  } catch (...) {
  }
}

void TKwHttpProxy::SetNextHop(int index, const TKwProxyData& value) {
  nextHop_.at(static_cast<size_t>(index))->Assign(value);
}

void TKwHttpProxy::SetResponse(const TKwProxyStrings& value) {
  response_->Assign(value);
}

// ---- events ----

void TKwHttpProxy::DoClientHeaderAvailable(TKwProxyClient* c, const std::string& url,
                                           std::string& header, std::string& proto,
                                           std::string& user, std::string& pass, std::string& host,
                                           std::string& port, std::string& path,
                                           std::string& hdrHost, bool& ignoreNextHopProxy,
                                           std::string& returnContent) {
  ignoreNextHopProxy = false;
  returnContent.clear();
  if (OnClientHeaderAvailable)
    OnClientHeaderAvailable(this, c, url, header, proto, user, pass, host, port, path, hdrHost,
                            ignoreNextHopProxy, returnContent);
}

void TKwHttpProxy::DoTunnelRequest(TKwProxyClient* c, std::string& header, std::string& host,
                                   std::string& port, bool& ignoreNextHopProxy,
                                   std::string& returnContent) {
  if (OnTunnelRequest)
    OnTunnelRequest(this, c, header, host, port, ignoreNextHopProxy, returnContent);
}

// ---- the client's bytes ----

void TKwHttpProxy::ProcessClientData(TKwProxyClient* c, std::string& data) {
  std::string_view chunk = data;
  for (;;) {
    if (c->DiscardInput) return;
    // Late body bytes belong to the request whose header went before them.
    if (!chunk.empty() && !c->IsTunnel && c->HeaderProcessed && c->Body.Pending()) {
      const size_t take = c->Body.Consume(chunk);
      c->ClientBuffer.append(chunk.substr(0, take));
      chunk.remove_prefix(take);
      ForwardPending(c);
      if (chunk.empty()) return;
      continue;  // what follows the body is the next request
    }
    if (c->ClientBuffer.empty() && !c->IsTunnel && !c->Body.Pending()) c->HeaderProcessed = false;
    c->ClientBuffer.append(chunk);
    if (!c->HeaderProcessed) {
      const size_t end = FindHeaderEnd(c->ClientBuffer, c->HeaderScanFrom);
      if (end == std::string::npos) {
        if (c->ClientBuffer.size() > kMaxHeader) return RefuseOversizedHeader(c);
        c->HeaderScanFrom = c->ClientBuffer.size() >= 3 ? c->ClientBuffer.size() - 3 : 0;
        return;
      }
      if (end + 4 > kMaxHeader) return RefuseOversizedHeader(c);
      c->HeaderScanFrom = 0;
      c->Body.Start(std::string_view(c->ClientBuffer).substr(0, end + 2));
      c->Body.Consume(std::string_view(c->ClientBuffer).substr(end + 4));
      ProcessHeader(c);
    }
    if (c->ClientBuffer.empty()) return;
    if (!c->RemoteSocket()) {
      SendToSocket(c, c->ResponseText);
      ShutdownClient(c);
      c->ClientBuffer.clear();
      return;
    }
    ForwardPending(c);
    return;
  }
}

void TKwHttpProxy::ForwardPending(TKwProxyClient* c) {
  TWSocket* remote = c->RemoteSocket();
  if (!remote) {
    c->ClientBuffer.clear();  // answered locally: the body has nowhere to go
    return;
  }
  if (c->ClientBuffer.empty()) return;
  if (remote->State() == net::wsConnected) {
    SendToRemote(c, c->ClientBuffer);
    c->ClientBuffer.clear();
  } else if (c->ClientBuffer.size() > kHighWater) {
    c->PauseReading();  // until the connection is up
  }
}

void TKwHttpProxy::RefuseOversizedHeader(TKwProxyClient* c) {
  const bool tunnel = SameText(FirstField(c->ClientBuffer, " "), "CONNECT");
  std::string().swap(c->ClientBuffer);
  c->DiscardInput = true;
  SendToSocket(c, Response().Text(tunnel ? kTCPTunnelBadRequest : kHTTPBadRequest));
  ShutdownClient(c);
}

// ---- one request header ----

void TKwHttpProxy::ProcessHeader(TKwProxyClient* c) {
  std::string header = c->ClientBuffer;
  const std::string method = FirstField(header, " ");
  std::string response, host, port;
  if (SameText(method, "CONNECT")) {
    c->SetTunnel(true);
    c->Body.Reset();
    if (!Filter().IsAllowed(c->GetPeerAddr())) {
      response = Response().Text(kTCPTunnelIPForbidden);
    } else if (!EnabledTypes.contains(ptTCPTunnel)) {
      response = Response().Text(kTCPTunnelClosed);
    } else if (!ProcessTunnelRequest(c, header, host, port, response) ||
               (response.empty() && !ValidTarget(host, port))) {
      response = Response().Text(kTCPTunnelBadRequest);
    }
  } else {
    c->SetTunnel(false);
    if (!Filter().IsAllowed(c->GetPeerAddr())) {
      response = Response().Text(kHTTPIPForbidden);
    } else if (!EnabledTypes.contains(ptHTTP)) {
      response = Response().Text(kHTTPClosed);
    } else if (!ProcessHTTPRequest(c, header, host, port, response) ||
               (response.empty() && !ValidTarget(host, port))) {
      response = Response().Text(kHTTPBadRequest);
    }
  }

  if (response.empty()) {
    TWSocket* remote = c->CreateRemoteSocket();
    c->ClientBuffer = std::move(header);
    remote->SetPort(port);
    remote->LineMode = false;
    PrepareRemoteSocket(remote);
    remote->DnsLookup(host);
    DoRemoteSocketPrepared(c);
  } else {
    c->FreeRemoteSocket();
    c->ResponseText = std::move(response);
  }
  c->HeaderProcessed = true;
}

bool TKwHttpProxy::ProcessHTTPRequest(TKwProxyClient* c, std::string& header, std::string& host,
                                      std::string& port, std::string& response) {
  // The request line only: a blank further down must not be taken for its end.
  const size_t lineEnd = std::min(header.find('\r'), header.find('\n'));
  const std::string_view line = std::string_view(header).substr(0, lineEnd);
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string method(line.substr(0, space));
  size_t urlStart = space + 1;
  while (urlStart < line.size() && line[urlStart] == ' ') ++urlStart;
  const size_t urlEnd = line.find(' ', urlStart);
  if (urlEnd == std::string_view::npos) return false;
  const std::string url(line.substr(urlStart, urlEnd - urlStart));

  std::string proto, user, pass, path;
  SplitURL(url, proto, user, pass, host, port, path);
  if (port.empty()) port = "80";
  std::string hdrHost = GetHeaderValue(header, "Host");
  bool ignoreNextHopProxy = false;
  std::string returnContent;
  DoClientHeaderAvailable(c, url, header, proto, user, pass, host, port, path, hdrHost,
                          ignoreNextHopProxy, returnContent);
  // A handler that cut the header short leaves nothing to rewrite.
  if (urlStart + url.size() > header.size()) return false;

  const TKwProxyData& hop = NextHopHTTP();
  if (!hop.Address().empty() && !ignoreNextHopProxy && returnContent.empty()) {
    header.replace(urlStart, url.size(), BuildURL(proto, user, pass, host, port, path));
    if (!hop.Username().empty())
      InsertBeforeHeaderEnd(
          header, "\r\nProxy-Authorization: " + BasicCredentials(hop.Username(), hop.Password()));
    SetHeaderValue(header, "Host", hdrHost);
    port = std::to_string(hop.Port());
    host = hop.Address();
    c->ViaNextHop = true;
    return true;
  }

  const bool options = SameText(method, "OPTIONS");
  if (options && host == "*") return false;
  std::string target;
  if (options) {
    target = "*";
  } else if (path.empty()) {
    target = "/";  // "http://host" names the root
  } else if (path[0] != '/') {
    target = "/" + path;  // "http://host?q": the query of the root
  } else {
    target = path;
  }
  header.replace(urlStart, url.size(), target);
  SetHeaderValue(header, "Host", hdrHost);
  if (!user.empty())
    InsertBeforeHeaderEnd(header, "\r\nAuthorization: " + BasicCredentials(user, pass));
  c->ViaNextHop = false;
  response = std::move(returnContent);
  return true;
}

bool TKwHttpProxy::ProcessTunnelRequest(TKwProxyClient* c, std::string& header, std::string& host,
                                        std::string& port, std::string& response) {
  const std::string line = FirstField(header, "\r");
  if (FieldCount(line, " ") != 3) return false;
  const std::string target = GetField(line, 2, " ");
  if (FieldCount(target, ":") != 2) return false;
  host = GetField(target, 1, ":");
  port = GetField(target, 2, ":");

  std::string returnContent;
  bool ignoreNextHopProxy = false;
  DoTunnelRequest(c, header, host, port, ignoreNextHopProxy, returnContent);

  const TKwProxyData& hop = NextHopTCPTunnel();
  if (!hop.Address().empty() && !ignoreNextHopProxy && returnContent.empty()) {
    header = FirstField(header, " ") + " " + host + ":" + port + " " + FieldsAfter(header, 2, " ");
    if (!hop.Username().empty())
      InsertBeforeHeaderEnd(
          header, "\r\nProxy-Authorization: " + BasicCredentials(hop.Username(), hop.Password()));
    port = std::to_string(hop.Port());
    host = hop.Address();
    c->ViaNextHop = true;
  } else {
    const size_t end = FindHeaderEnd(header);
    header = end == std::string::npos ? std::string() : CharsAfter(header, end + 4);
    c->ViaNextHop = false;
  }
  response = std::move(returnContent);
  return true;
}

// ---- the remote side ----

std::string TKwHttpProxy::Socks4Grant(const TKwProxyClient* c) const {
  std::string grant{'\0', static_cast<char>(90)};
  for (uint8_t b : c->Socks4ReplyBytes) grant.push_back(static_cast<char>(b));
  return grant;
}

void TKwHttpProxy::RemoteSessionConnected(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  DoRemoteConnect(c);
  if (errCode != 0) return;
  if (c->IsTunnel && !c->ViaNextHop) {
    SendToSocket(c, c->Socks4Reply ? Socks4Grant(c) : Response().Text(kTCPTunnelEstablished));
    c->TunnelEstablished = true;
  }
  // A client that was not paused has had everything it sent delivered to
  // its data handler already; only a paused one can hold unread bytes.
  std::string pending;
  if (c->ReadingPaused()) {
    c->ResumeReading();
    pending = c->ReceiveText();
  }
  ProcessClientData(c, pending);
}

void TKwHttpProxy::RemoteDataAvailable(TWSocket* sender, uint16_t errCode) {
  if (errCode != 0) return;
  TKwProxyClient* c = ClientOf(sender);
  std::string data = sender->ReceiveText();
  if (data.empty()) return;
  if (c->IsTunnel && c->ViaNextHop && !c->TunnelEstablished) {
    c->TunnelReplyBuffer += data;
    const size_t end = FindHeaderEnd(c->TunnelReplyBuffer);
    if (end == std::string::npos) {
      // A next hop that never ends its reply must not fill memory.
      if (c->TunnelReplyBuffer.size() > kMaxHeader) sender->Abort();
      return;
    }
    SendToSocket(c, c->Socks4Reply ? Socks4Grant(c) : c->TunnelReplyBuffer.substr(0, end + 4));
    data = c->TunnelReplyBuffer.substr(end + 4);
    std::string().swap(c->TunnelReplyBuffer);
    c->TunnelEstablished = true;
  }
  if (OnRemoteDataAvailable) {
    std::string copy = data;  // what the handler does to it is not sent
    DoRemoteDataAvailable(c, copy);
  }
  if (c->State() == net::wsConnected) {
    SendToClient(c, sender, data);
  } else {
    sender->Shutdown(1);
  }
}

}  // namespace vantrel::engine
