#include "engine/KwHttpProxy.h"

#include "engine/ConnectionReuse.h"
#include "engine/HttpHeader.h"
#include "engine/KwString.h"
#include "engine/RequestChecks.h"
#include "engine/SelfTarget.h"
#include "net/SocketErrors.h"

namespace vantrel::engine {

using net::TWSocket;

namespace {

// Inserts a header line (given with its leading CR LF) in front of the
// blank line that ends the header, so it becomes the last header line.
void InsertBeforeHeaderEnd(std::string& header, std::string_view line) {
  const size_t end = FindHeaderEnd(header);
  header.insert(end == std::string::npos ? header.size() : end, line);
}

std::string BasicCredentials(const std::string& user, const std::string& pass) {
  return "Basic " + Base64Encode(user + ":" + pass);
}

// Our credentials for a next hop take the place of the client's own line.
void SetProxyCredentials(std::string& header, const TKwProxyData& hop) {
  if (hop.Username().empty()) return;
  RemoveHeaderLines(header, "Proxy-Authorization");
  InsertBeforeHeaderEnd(
      header, "\r\nProxy-Authorization: " + BasicCredentials(hop.Username(), hop.Password()));
}

// "HTTP/1.x 2xx ...": the next hop made the tunnel.
bool IsSuccessReply(std::string_view reply) {
  const size_t space = reply.find(' ');
  return space != std::string_view::npos && reply.substr(0, 5) == "HTTP/" &&
         reply.size() > space + 1 && reply[space + 1] == '2';
}

// The decimal port a target names; 0 for anything else.
int PortValue(std::string_view text) {
  if (text.empty() || text.size() > 5) return 0;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A socket error's text for one log line: its line break becomes a blank.
std::string OneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line;
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

void TKwHttpProxy::CloseSocketServer() {
  TKwGenericProxy::CloseSocketServer();
  pool_->Clear();
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
  if (c->DiscardInput || data.empty()) return;
  // Earlier bytes are still waiting: these go behind them.
  if (c->Deciding || !c->Exchange().Pipelined.empty()) {
    HoldBack(c, data, false);
    TakeInput(c, {});  // goes on with them unless they must wait
    return;
  }
  TakeInput(c, data);
}

bool TKwHttpProxy::WaitsForAnswer(const TKwProxyClient* c) {
  const TKwProxyClient::TExchange* x = c->StartedExchange();
  return x && !c->IsTunnel && !c->Upgraded && c->HeaderProcessed && !x->Body.Pending() &&
         c->AwaitingResponse;
}

void TKwHttpProxy::TakeInput(TKwProxyClient* c, std::string_view chunk) {
  TKwProxyClient::TExchange& x = c->Exchange();
  std::string held;
  for (;;) {
    while (!chunk.empty() && !c->DiscardInput) {
      if (c->IsTunnel || c->Upgraded) {
        ForwardBytes(c, chunk);
        chunk = {};
      } else if (c->HeaderProcessed && x.Body.Pending()) {
        const size_t take = x.Body.Consume(chunk);
        ForwardBytes(c, chunk.substr(0, take));
        chunk.remove_prefix(take);
      } else if (WaitsForAnswer(c)) {
        // The next request waits until this answer has been relayed whole.
        // Anything held already came later (while a header was decided).
        HoldBack(c, chunk, true);
        chunk = {};
      } else {
        CollectHeader(c, chunk);
        chunk = {};
      }
    }
    if (c->DiscardInput || c->Deciding || x.Pipelined.empty() || WaitsForAnswer(c)) return;
    // What waited may go on now.
    held = std::move(x.Pipelined);
    x.Pipelined.clear();
    if (c->InputHeld) ReleaseInput(c);
    chunk = held;
  }
}

void TKwHttpProxy::HoldBack(TKwProxyClient* c, std::string_view bytes, bool older) {
  TKwProxyClient::TExchange& x = c->Exchange();
  x.Pipelined.insert(older ? 0 : x.Pipelined.size(), bytes);
  // Bounded like a header: beyond that the client is not read until its turn.
  if (x.Pipelined.size() > kMaxHeader && !c->InputHeld) {
    c->InputHeld = true;
    c->PauseReading();
  }
}

void TKwHttpProxy::ReleaseInput(TKwProxyClient* c) {
  c->InputHeld = false;
  // Unless the remote side still holds too much of the client's bytes.
  const TWSocket* remote = c->RemoteSocket();
  if (remote &&
      (remote->BufferedBytes() > kHighWater ||
       (remote->State() != net::wsConnected && c->Exchange().ClientBuffer.size() > kHighWater)))
    return;
  c->ResumeReading();
}

void TKwHttpProxy::CollectHeader(TKwProxyClient* c, std::string_view chunk) {
  TKwProxyClient::TExchange& x = c->Exchange();
  if (c->HeaderProcessed) {
    // The request before is done both ways: this starts a new one.
    c->HeaderProcessed = false;
    x.ClientBuffer.clear();
    x.HeaderScanFrom = 0;
  }
  x.ClientBuffer.append(chunk);
  const size_t end = FindHeaderEnd(x.ClientBuffer, x.HeaderScanFrom);
  if (end == std::string::npos) {
    if (x.ClientBuffer.size() > kMaxHeader) {
      RefuseOversizedHeader(c);
    } else {
      x.HeaderScanFrom = x.ClientBuffer.size() >= 3 ? x.ClientBuffer.size() - 3 : 0;
    }
    return;
  }
  if (end + 4 > kMaxHeader) return RefuseOversizedHeader(c);
  x.HeaderScanFrom = 0;
  // A tunnel takes every byte behind its header. A request takes the body
  // bytes that came with it; further requests behind it go on once it has
  // been decided (and stay if a handler fails on it).
  const std::string_view buffer = x.ClientBuffer;
  x.Body.Start(buffer.substr(0, end + 2));
  if (!IsConnect(buffer)) {
    const size_t requestEnd = end + 4 + x.Body.Consume(buffer.substr(end + 4));
    if (buffer.size() > requestEnd) {
      x.Pipelined.insert(0, buffer.substr(requestEnd));
      x.ClientBuffer.resize(requestEnd);
    }
  }
  ProcessHeader(c);
  FinishHeader(c);
}

void TKwHttpProxy::FinishHeader(TKwProxyClient* c) {
  TKwProxyClient::TExchange& x = c->Exchange();
  if (c->DiscardInput || c->DecisionPending) return;
  if (!c->RemoteSocket()) {
    const bool otherProtocol = c->IsTunnel && x.TunnelAnswer;
    SendToSocket(c, otherProtocol ? x.TunnelAnswer(x.TunnelRefusal, nullptr) : x.ResponseText);
    ShutdownClient(c);
    x.ClientBuffer.clear();
    return;
  }
  ForwardPending(c);
}

void TKwHttpProxy::ResumeDecision(TKwProxyClient* c) {
  if (!c->DecisionPending) return;
  c->DecisionPending = false;
  c->Deciding = false;
  // A client that left, or a proxy that stopped, sends nothing onward.
  if (c->DiscardInput || c->State() != net::wsConnected) return;
  ProcessHeader(c);
  FinishHeader(c);
  // Bytes that came while the request was pending go on now.
  if (!c->DecisionPending) TakeInput(c, {});
}

void TKwHttpProxy::AnswerAndClose(TKwProxyClient* c, std::string_view bytes) {
  SendToSocket(c, bytes);
  ShutdownClient(c);
}

void TKwHttpProxy::ForwardBytes(TKwProxyClient* c, std::string_view bytes) {
  TKwProxyClient::TExchange& x = c->Exchange();
  TWSocket* remote = c->RemoteSocket();
  if (bytes.empty() || !remote) return;  // answered locally: nowhere to go
  DoClientDataForwarded(c, bytes.size());
  if (TKwProxyClient::TExchange::TReuse& r = x.Reuse; r.resendable) {
    if (r.replay.size() + bytes.size() > kMaxResend) {
      r.resendable = false;
      std::string().swap(r.replay);
    } else {
      r.replay.append(bytes);
    }
  }
  if (x.ClientBuffer.empty() && remote->State() == net::wsConnected) {
    SendToRemote(c, bytes);
    return;
  }
  x.ClientBuffer.append(bytes);
  ForwardPending(c);
}

void TKwHttpProxy::ForwardPending(TKwProxyClient* c) {
  TKwProxyClient::TExchange& x = c->Exchange();
  TWSocket* remote = c->RemoteSocket();
  if (!remote) {
    x.ClientBuffer.clear();  // answered locally: the body has nowhere to go
    return;
  }
  if (x.ClientBuffer.empty()) return;
  if (remote->State() == net::wsConnected) {
    SendToRemote(c, x.ClientBuffer);
    x.ClientBuffer.clear();
  } else if (x.ClientBuffer.size() > kHighWater) {
    c->PauseReading();  // until the connection is up
  }
}

void TKwHttpProxy::RefuseOversizedHeader(TKwProxyClient* c) {
  const bool tunnel = IsConnect(c->Exchange().ClientBuffer);
  std::string().swap(c->Exchange().ClientBuffer);
  c->DiscardInput = true;
  SendToSocket(c, Response().Text(tunnel ? kTCPTunnelBadRequest : kHTTPBadRequest));
  ShutdownClient(c);
}

bool TKwHttpProxy::IsConnect(std::string_view header) {
  return SameText(header.substr(0, header.find(' ')), "CONNECT");
}

// ---- one request header ----

void TKwHttpProxy::ProcessHeader(TKwProxyClient* c) {
  TKwProxyClient::TExchange& x = c->Exchange();
  // A connection kept from the request before waits in the pool, where this
  // request finds it again if it goes to the same place.
  if (x.Reuse.idle) KeepRemote(c);
  // The answer to the request before has been relayed: its remote goes
  // now, so that its end cannot end the client while this one is decided.
  c->RetireRemoteSocket();
  c->AwaitingResponse = false;
  ++c->Requests;
  // Bytes that come while a handler runs the loop wait for the decision.
  struct DecidingScope {
    TKwProxyClient* c;
    explicit DecidingScope(TKwProxyClient* client) : c(client) { c->Deciding = true; }
    // A pending decision goes on holding them.
    ~DecidingScope() { c->Deciding = c->DecisionPending; }
  } deciding(c);

  // The body's framing was read from this header when it was collected.
  std::string header = x.ClientBuffer;
  const std::string method = FirstField(header, " ");
  // Framing another reader could take differently is refused outright.
  const bool framingSound = RequestFramingIsSound(header);
  std::string response, host, port;
  if (SameText(method, "CONNECT")) {
    c->SetTunnel(true);
    x.Body.Reset();
    x.TunnelRefusal = TTunnelOutcome::Failed;
    if (!Filter().IsAllowed(c->GetPeerAddr())) {
      response = Response().Text(kTCPTunnelIPForbidden);
      x.TunnelRefusal = TTunnelOutcome::NotAllowed;
    } else if (!EnabledTypes.contains(ptTCPTunnel)) {
      response = Response().Text(kTCPTunnelClosed);
    } else if (!framingSound || !ProcessTunnelRequest(c, header, host, port, response) ||
               (response.empty() && !ValidTarget(host, port))) {
      response = c->Socks4Reply ? Socks4Answer(c, 91) : Response().Text(kTCPTunnelBadRequest);
    } else if (!response.empty()) {
      x.TunnelRefusal = TTunnelOutcome::NotAllowed;  // a handler refused it
    }
  } else {
    c->SetTunnel(false);
    // Framed as chunked: a length line beside it would tell the next hop
    // or the origin another story.
    if (x.Body.Chunked() && x.Body.HasLength()) RemoveHeaderLines(header, "Content-Length");
    if (!Filter().IsAllowed(c->GetPeerAddr())) {
      response = Response().Text(kHTTPIPForbidden);
    } else if (!EnabledTypes.contains(ptHTTP)) {
      response = Response().Text(kHTTPClosed);
    } else if (!framingSound || !ProcessHTTPRequest(c, header, host, port, response) ||
               (response.empty() && !ValidTarget(host, port))) {
      response = Response().Text(kHTTPBadRequest);
    }
  }

  if (c->DecisionPending) return;
  if (response.empty()) {
    x.ClientBuffer = std::move(header);
    if (!c->IsTunnel) {
      x.Framing.Start(SameText(method, "HEAD"));
      c->AwaitingResponse = true;
    }
    if (!UseKeptConnection(c, method, host, port)) ConnectRemote(c, host, port);
  } else {
    c->FreeRemoteSocket();
    x.ResponseText = std::move(response);
  }
  c->HeaderProcessed = true;
}

void TKwHttpProxy::ConnectRemote(TKwProxyClient* c, const std::string& host,
                                 const std::string& port) {
  TWSocket* remote = c->CreateRemoteSocket();
  remote->SetPort(port);
  remote->LineMode = false;
  PrepareRemoteSocket(remote);
  remote->DnsLookup(host);
  // Unless the connection was refused inside the lookup (a dotted address
  // answers at once).
  if (!c->DiscardInput) DoRemoteSocketPrepared(c);
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
  // The Host line that goes on names what the URL names (RFC 9112 3.2.2):
  // one the client wrote beside it could pass a blocked host unseen.
  std::string hdrHost = UrlAuthority(proto, host, port);
  if (port.empty()) port = "80";
  std::string returnContent;
  if (OnLocalRequest && OnLocalRequest(this, c, url, header, host, port, path, returnContent)) {
    c->ViaNextHop = false;
    response = std::move(returnContent);
    return true;
  }
  if (!ValidTarget(host, port) || RefuseSelfTarget(c, host, port)) return false;
  bool ignoreNextHopProxy = false;
  DoClientHeaderAvailable(c, url, header, proto, user, pass, host, port, path, hdrHost,
                          ignoreNextHopProxy, returnContent);
  if (c->DecisionPending) return true;
  // A handler that cut the header short leaves nothing to rewrite.
  if (urlStart + url.size() > header.size()) return false;

  const TKwProxyData& hop = NextHopHTTP();
  if (!hop.Address().empty() && !ignoreNextHopProxy && returnContent.empty()) {
    header.replace(urlStart, url.size(), BuildURL(proto, user, pass, host, port, path));
    SetProxyCredentials(header, hop);
    SetOnlyHeaderValue(header, "Host", hdrHost);
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
  // What the client told its proxy is nobody else's business.
  RemoveHeaderLines(header, {"Proxy-Authorization", "Proxy-Connection"});
  SetOnlyHeaderValue(header, "Host", hdrHost);
  if (!user.empty()) {
    RemoveHeaderLines(header, "Authorization");  // the URL's credentials take its place
    InsertBeforeHeaderEnd(header, "\r\nAuthorization: " + BasicCredentials(user, pass));
  }
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
  if (!ValidTarget(host, port) || RefuseSelfTarget(c, host, port)) return false;

  std::string returnContent;
  bool ignoreNextHopProxy = false;
  DoTunnelRequest(c, header, host, port, ignoreNextHopProxy, returnContent);
  if (c->DecisionPending) return true;

  const TKwProxyData& hop = NextHopTCPTunnel();
  if (!hop.Address().empty() && !ignoreNextHopProxy && returnContent.empty()) {
    header = FirstField(header, " ") + " " + host + ":" + port + " " + FieldsAfter(header, 2, " ");
    SetProxyCredentials(header, hop);
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

std::string TKwHttpProxy::Socks4Answer(const TKwProxyClient* c, uint8_t code) {
  std::string answer{'\0', static_cast<char>(code)};
  for (uint8_t b : c->Socks4ReplyBytes) answer.push_back(static_cast<char>(b));
  return answer;
}

std::string TKwHttpProxy::Socks4Grant(const TKwProxyClient* c) const {
  return Socks4Answer(c, 90);
}

bool TKwHttpProxy::RefuseSocks4(TKwProxyClient* c, TTunnelOutcome outcome) {
  TKwProxyClient::TExchange& x = c->Exchange();
  if (!(c->Socks4Reply || x.TunnelAnswer) || !c->IsTunnel || c->TunnelEstablished) return false;
  AnswerAndClose(c, x.TunnelAnswer ? x.TunnelAnswer(outcome, nullptr) : Socks4Answer(c, 91));
  return true;
}

std::string TKwHttpProxy::TunnelGrant(TKwProxyClient* c, const TWSocket* remote) {
  if (c->Socks4Reply) return Socks4Grant(c);
  if (c->Exchange().TunnelAnswer)
    return c->Exchange().TunnelAnswer(TTunnelOutcome::Established, remote);
  return Response().Text(kTCPTunnelEstablished);
}

void TKwHttpProxy::RemoteDnsLookupDone(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  if (errCode != 0) {
    RefuseSocks4(c, TTunnelOutcome::LookupFailed);
    TKwGenericProxy::RemoteDnsLookupDone(sender, errCode);
    return;
  }
  // A name, or a next hop, that turns out to be the proxy itself.
  const int own = OwnPort();
  if (c->RemoteSocket() == sender &&
      IsSelfTarget(sender->DnsResult(), PortValue(sender->Port()), {&own, 1})) {
    RefuseLoopedConnection(c, sender);
    return;
  }
  try {
    TKwGenericProxy::RemoteDnsLookupDone(sender, errCode);
  } catch (const net::ESocketException& e) {
    // No socket for the remote (descriptors ran out): nothing will ever
    // connect, so the client must not wait for it.
    RefuseUnconnected(c, "could not connect to " + sender->Addr() + ":" + sender->Port() + ": " +
                             OneLine(e.what()));
  }
}

void TKwHttpProxy::AfterListen(std::string& ErrorText) {
  TKwGenericProxy::AfterListen(ErrorText);
  ownPort_ = Server().BoundPort();
}

int TKwHttpProxy::OwnPort() {
  return Active() ? ownPort_ : Port();
}

void TKwHttpProxy::DoRequestRefused(TKwProxyClient* c, const std::string& reason) {
  if (OnRequestRefused) OnRequestRefused(this, c, reason);
}

bool TKwHttpProxy::RefuseSelfTarget(TKwProxyClient* c, const std::string& host,
                                    const std::string& port) {
  const int own = OwnPort();
  if (!IsSelfTarget(host, PortValue(port), {&own, 1})) return false;
  DoRequestRefused(c, host + ":" + port + " is this proxy itself");
  c->Exchange().TunnelRefusal = TTunnelOutcome::NotAllowed;
  return true;
}

void TKwHttpProxy::RefuseLoopedConnection(TKwProxyClient* c, TWSocket* remote) {
  c->Exchange().ClientBuffer.clear();
  if (c->ViaNextHop) {
    // As if the hop had refused the connection; the line saying why was
    // written when the next hops were set.
    if (!RefuseSocks4(c, TTunnelOutcome::NotAllowed)) ShutdownClient(c);
    return;
  }
  DoRequestRefused(c, remote->DnsResult() + ":" + remote->Port() + " is this proxy itself");
  if (!c->IsTunnel) {
    AnswerAndClose(c, Response().Text(kHTTPBadRequest));
  } else if (!RefuseSocks4(c, TTunnelOutcome::NotAllowed)) {
    AnswerAndClose(c, Response().Text(kTCPTunnelBadRequest));
  }
}

void TKwHttpProxy::RefuseUnconnected(TKwProxyClient* c, const std::string& reason) {
  DoRequestRefused(c, reason);
  // The request is over: nothing of it may be read again as a header.
  c->Exchange().ClientBuffer.clear();
  c->Exchange().Body.Reset();
  if (!RefuseSocks4(c)) ShutdownClient(c);
}

void TKwHttpProxy::RemoteSessionClosed(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  if (c->RemoteSocket() == sender && MaySendAgain(c)) return SendAgainLater(c);
  // A next hop that ends before its reply: a SOCKS client hears that the
  // tunnel failed rather than nothing.
  if (c->RemoteSocket() == sender && c->ViaNextHop && !c->DiscardInput)
    RefuseSocks4(c, TTunnelOutcome::Failed);
  TKwGenericProxy::RemoteSessionClosed(sender, errCode);
}

void TKwHttpProxy::RemoteSessionConnected(TWSocket* sender, uint16_t errCode) {
  TKwProxyClient* c = ClientOf(sender);
  DoRemoteConnect(c);
  if (errCode != 0) {
    RefuseSocks4(c, errCode == net::kWsaECONNREFUSED ? TTunnelOutcome::ConnectRefused
                    : errCode == net::kWsaETIMEDOUT  ? TTunnelOutcome::TimedOut
                                                     : TTunnelOutcome::Failed);
    return;
  }
  if (c->IsTunnel && !c->ViaNextHop) {
    SendToSocket(c, TunnelGrant(c, sender));
    c->TunnelEstablished = true;
    RelayHalfCloses(c, sender);
  }
  // A client that was not paused has had everything it sent delivered to
  // its data handler already; only a paused one can hold unread bytes. One
  // held back for waiting requests stays paused until their turn.
  std::string pending;
  if (c->ReadingPaused() && !c->InputHeld) {
    c->ResumeReading();
    pending = c->ReceiveText();
  }
  ForwardPending(c);
  ProcessClientData(c, pending);
}

uint64_t TKwHttpProxy::UnseenAhead(TKwProxyClient* c) const {
  if (!MayRelayUnseen || c->State() != net::wsConnected || c->ShutdownPending) return 0;
  uint64_t ahead = 0;
  if (c->IsTunnel || c->Upgraded) {
    ahead = c->TunnelEstablished || c->Upgraded ? UINT64_MAX : 0;
  } else if (c->AwaitingResponse && c->StartedExchange()) {
    ahead = c->Exchange().Framing.OpaqueAhead();
  }
  // Asked last: it is the owner's, and the cheap checks come first.
  return ahead != 0 && MayRelayUnseen() ? ahead : 0;
}

void TKwHttpProxy::RemoteDataAvailable(TWSocket* sender, uint16_t errCode) {
  if (errCode != 0) return;
  TKwProxyClient* c = ClientOf(sender);
  if (const uint64_t ahead = UnseenAhead(c)) {
    constexpr uint64_t kMaxMove = 1 << 20;
    const int n = sender->ReceiveTo(*c, static_cast<size_t>(std::min(ahead, kMaxMove)));
    if (n <= 0) return;
    bool ended = false;
    if (!c->IsTunnel && !c->Upgraded) {
      c->Exchange().Framing.SkipOpaque(static_cast<uint64_t>(n));
      ended = c->Exchange().Framing.Done();
    }
    DoRemoteDataRelayed(c, static_cast<size_t>(n));
    if (c->BufferedBytes() > kHighWater) sender->PauseReading();
    AnswerRelayed(c, sender, ended, false, ended);
    return;
  }
  std::string data = sender->ReceiveText();
  if (data.empty()) return;
  if (c->IsTunnel && c->ViaNextHop && !c->TunnelEstablished) {
    const size_t scanned = c->Exchange().TunnelReplyBuffer.size();
    c->Exchange().TunnelReplyBuffer += data;
    // Only the new bytes (and the three before them) can complete the end.
    const size_t end =
        FindHeaderEnd(c->Exchange().TunnelReplyBuffer, scanned >= 3 ? scanned - 3 : 0);
    if (end == std::string::npos) {
      // A next hop that never ends its reply must not fill memory.
      if (c->Exchange().TunnelReplyBuffer.size() > kMaxHeader) sender->Abort();
      return;
    }
    if (c->Socks4Reply || c->Exchange().TunnelAnswer) {
      // A grant only for a tunnel the hop has made; its refusal is no data.
      if (!IsSuccessReply(c->Exchange().TunnelReplyBuffer)) {
        std::string().swap(c->Exchange().TunnelReplyBuffer);
        RefuseSocks4(c, TTunnelOutcome::HopRefused);
        c->RetireRemoteSocket();
        return;
      }
      SendToSocket(c, TunnelGrant(c, nullptr));
    } else {
      SendToSocket(c, c->Exchange().TunnelReplyBuffer.substr(0, end + 4));
    }
    data = c->Exchange().TunnelReplyBuffer.substr(end + 4);
    std::string().swap(c->Exchange().TunnelReplyBuffer);
    c->TunnelEstablished = true;
    RelayHalfCloses(c, sender);
  }
  // An answer is relayed up to its end; the next request waits for that.
  std::string_view relay = data;
  bool ended = false;
  bool switched = false;
  bool keep = false;
  if (!c->IsTunnel && !c->Upgraded) {
    if (!c->AwaitingResponse) return;  // bytes behind a finished answer: nobody asked
    // The answer has begun: the request can no longer go again.
    if (c->Exchange().Reuse.resendable) {
      c->Exchange().Reuse.resendable = false;
      std::string().swap(c->Exchange().Reuse.replay);
    }
    relay = relay.substr(0, c->Exchange().Framing.Consume(relay));
    ended = c->Exchange().Framing.Done();
    switched = c->Exchange().Framing.Switched();
    // Bytes behind the answer in the same read: the connection is out of step.
    keep = ended && relay.size() == data.size();
  }
  DoRemoteDataAvailable(c, relay);
  if (c->State() != net::wsConnected) {
    sender->Shutdown(1);
    return;
  }
  SendToClient(c, sender, relay);
  AnswerRelayed(c, sender, ended, switched, keep);
}

void TKwHttpProxy::AnswerRelayed(TKwProxyClient* c, TWSocket* sender, bool ended, bool switched,
                                 bool keep) {
  if (switched) {
    // Another protocol from here: the client's bytes are no requests now.
    c->Upgraded = true;
    c->AwaitingResponse = false;
    TakeInput(c, {});
  } else if (ended) {
    c->AwaitingResponse = false;
    if (keep && MayKeepRemote(c, sender)) HoldRemote(c);
    TakeInput(c, {});
  }
}

}  // namespace vantrel::engine
