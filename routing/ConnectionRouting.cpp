#include "routing/ConnectionRouting.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "hosts/Addresses.h"
#include "hosts/HostNames.h"
#include "routing/LocalEnd.h"
#include "routing/ProxyAutoConfig.h"
#include "routing/SelfNextHops.h"
#include "routing/Socks4Request.h"
#include "routing/Socks5Request.h"

namespace vantrel {

using engine::TKwGenericProxy;
using engine::TKwProxyClient;
using net::TWSocket;

namespace {

bool Counted(const TKwProxyClient* c) {
  return c->Tag() == rtLocal || c->Tag() == rtInternational;
}

}  // namespace

TConnectionRouting::TConnectionRouting(TMainControls& controls, THostClassification& hosts,
                                       TNextHopRecords& nextHops, TListFiles& lists,
                                       engine::TKwHttpProxy& proxy, TTrafficCounters& counters,
                                       TRoutingLog log, std::function<void()> showTotals)
    : controls_(controls),
      hosts_(hosts),
      nextHops_(nextHops),
      lists_(lists),
      proxy_(proxy),
      counters_(counters),
      log_(std::move(log)),
      showTotals_(std::move(showTotals)) {}

TConnectionRouting::~TConnectionRouting() {
  *alive_ = false;
  // The engine outlives this object and still reports its clients' ends.
  proxy_.OnClientConnect = nullptr;
  proxy_.OnClientDisconnect = nullptr;
  proxy_.OnLocalRequest = nullptr;
  proxy_.OnClientHeaderAvailable = nullptr;
  proxy_.OnTunnelRequest = nullptr;
  proxy_.OnClientDataAvailable = nullptr;
  proxy_.OnClientDataForwarded = nullptr;
  proxy_.OnRemoteDataAvailable = nullptr;
  proxy_.MayRelayUnseen = nullptr;
  proxy_.OnRemoteDataRelayed = nullptr;
  proxy_.OnRemoteSocketPrepared = nullptr;
  proxy_.OnRequestRefused = nullptr;
  nextHops_.OnLoaded = nullptr;
  for (auto& [socket, lookup] : lookups_) {
    if (lookup.timer) net::EventLoop::Default().CancelTimer(lookup.timer);
    socket->OnDnsLookupDone = nullptr;
    socket->OnError = nullptr;
    socket->OnBgException = nullptr;
  }
}

bool TConnectionRouting::LoggingOn() const {
  return controls_.cbLogging.Checked() || controls_.cbWriteLog.Checked();
}

std::string TConnectionRouting::BlockedPage(const std::string& host) {
  return "HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Type: text/html\r\n\r\n"
         "<HTML><HEAD><TITLE>Blocked</TITLE></HEAD><BODY><H1>Blocked</H1>\r\n"
         "Access to the requested URL <B>" +
         host + "</B> was not allowed.\r\n</BODY></HTML>\r\n";
}

bool TConnectionRouting::IsBlockedHost(std::string_view host) const {
  return lists_.IsBlockedHost(HostKey(host));
}

// ---- admission ----

void TConnectionRouting::Proxy1ClientConnect(TKwGenericProxy*, TKwProxyClient* c) {
  if (controls_.cbAllowedConnections.Checked()) {
    const std::string peer = c->GetPeerAddr();
    if (!AddressInRangeList(peer, lists_.AllowedIPList())) {
      log_.DoComment("client " + peer + " connection rejected");
      c->Close();
      return;
    }
  }
  StatusBarConnections.SetCaption(std::to_string(proxy_.ActiveClients()));
}

void TConnectionRouting::Proxy1ClientDisconnect(TKwGenericProxy*, TKwProxyClient* c) {
  clients_.erase(c);
  // Its answer, when it comes, is filed for nobody.
  for (auto& [socket, lookup] : lookups_)
    if (lookup.waiter == c) lookup.waiter = nullptr;
  StatusBarConnections.SetCaption(std::to_string(proxy_.ActiveClients()));
}

// ---- requests ----

void TConnectionRouting::Proxy1ClientHeaderAvailable(
    TKwGenericProxy*, TKwProxyClient* c, const std::string& url, std::string& header, std::string&,
    std::string&, std::string&, std::string& host, std::string& port, std::string&,
    std::string&, bool& ignoreNextHopProxy, std::string& returnContent) {
  if (controls_.cbBlock.Checked() && IsBlockedHost(host)) {
    ignoreNextHopProxy = true;
    returnContent = BlockedPage(host);
    return;
  }
  // A request asked again after its wait has been logged already.
  if (!State(c).resumed && controls_.cbLogging.Checked() && !controls_.cbDetailedLog.Checked())
    log_.DoComment("Client " + c->GetPeerAddr() + " requests " + url);
  if (!SetUpConnection(c, HostKey(host), ignoreNextHopProxy, port)) {
    proxy_.DeferDecision(c);
    return;
  }
  UseLookupAnswer(c, host, ignoreNextHopProxy);
  CountHeader(c, header.size(), port);
  showTotals_();
}

bool TConnectionRouting::AnswerAutoConfig(TKwProxyClient* c, const std::string& url,
                                          const std::string& header, const std::string& host,
                                          const std::string& port, const std::string& path,
                                          std::string& returnContent) {
  if (!IsAutoConfigPath(path)) return false;
  const TLocalEnd local = LocalEnd(*c);
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
  if (!IsAutoConfigRequest(url, host, port, path, local, name)) return false;
  const bool head = header.rfind("HEAD ", 0) == 0;
  autoConfig_.Answer(lists_.BypassIPList(), lists_.BypassListVersion(),
                     controls_.cbBypass.Checked(), local, head, returnContent);
  log_.DoComment("Client " + c->GetPeerAddr() + " gets the proxy auto-config file " + url);
  return true;
}

void TConnectionRouting::Proxy1TunnelRequest(TKwGenericProxy*, TKwProxyClient* c,
                                             std::string& header, std::string& host,
                                             std::string& port, bool& ignoreNextHopProxy,
                                             std::string& returnContent) {
  if (IsBlockedTunnel(c, host)) {
    // Refused before any routing, counting or lookup, as a blocked request.
    ignoreNextHopProxy = true;
    returnContent = c->Socks4Reply ? Socks4Reject(c->Socks4ReplyBytes) : kTunnelBlocked;
    if (LoggingOn())
      log_.DoComment("Client " + c->GetPeerAddr() + " tunnel to " + host + ":" + port + " blocked");
    return;
  }
  if (!SetUpConnection(c, HostKey(host), ignoreNextHopProxy, port)) {
    proxy_.DeferDecision(c);
    return;
  }
  UseLookupAnswer(c, host, ignoreNextHopProxy);
  CountHeader(c, header.size(), port);
  showTotals_();
}

void TConnectionRouting::CountHeader(TKwProxyClient* c, size_t length, const std::string& port) {
  // The rest of the request is counted as the engine hands it on, so bytes
  // that arrived with an earlier request still count under this one.
  if (Counted(c)) Count(c, -static_cast<int64_t>(length), PortNumber(port));
}

void TConnectionRouting::Count(TKwProxyClient* c, int64_t count, int port) {
  const bool international = c->Tag() == rtInternational;
  counters_.CountBytes(count, port, international);
  counters_.CountHostBytes(State(c).host, count, international);
}

bool TConnectionRouting::IsBlockedTunnel(const TKwProxyClient* c, const std::string& host) const {
  if (!controls_.cbBlock.Checked() || !controls_.cbBlockTunnels.Checked()) return false;
  if (c->Socks4Reply && !IsSocks4aAddress(c->Socks4ReplyBytes)) return false;
  return IsBlockedHost(host);
}

// ---- routing ----

bool TConnectionRouting::SetUpConnection(TKwProxyClient* c, const std::string& host,
                                         bool& ignoreNextHopProxy, const std::string& port) {
  // Asked again after the wait: decided with whatever the lists hold now.
  const bool resumed = std::exchange(State(c).resumed, false);
  if (!resumed && !controls_.lbLocal.Contains(host) && !controls_.lbInternational.Contains(host) &&
      !controls_.lbUnclassified.Contains(host) && !controls_.lbLocalLAN.Contains(host)) {
    bool wait = false;
    StartLookup(host, c, wait);
    if (wait) return false;
  }
  Decide(c, host, ignoreNextHopProxy, port);
  return true;
}

void TConnectionRouting::Decide(TKwProxyClient* c, const std::string& host,
                                bool& ignoreNextHopProxy, const std::string& port) {
  const bool http = port == "80";
  const bool ssl = port == "443";
  const TProxyInfo* info = &nextHops_.LocalConInfo;
  if (controls_.lbLocalLAN.Contains(host)) {
    ApplyNextHop(false, *info, ignoreNextHopProxy);
    c->SetTag(rtLocalLAN);
  } else {
    // The switch and the record of the locality and the class.
    const bool local = controls_.lbLocal.Contains(host);
    c->SetTag(local ? rtLocal : rtInternational);
    const TCheckBox* boxes[2][3] = {
        {&controls_.cbLocalCon, &controls_.cbLocalConSSL, &controls_.cbLocalConOTHER},
        {&controls_.cbIntCon, &controls_.cbIntConSSL, &controls_.cbIntConOther}};
    const TProxyInfo* records[2][3] = {
        {&nextHops_.LocalConInfo, &nextHops_.LocalConSSLInfo, &nextHops_.LocalConOTHERInfo},
        {&nextHops_.IntConInfo, &nextHops_.IntConSSLInfo, &nextHops_.IntConOTHERInfo}};
    const int locality = local ? 0 : 1;
    const int trafficClass = http ? 0 : ssl ? 1 : 2;
    info = records[locality][trafficClass];
    ApplyNextHop(boxes[locality][trafficClass]->Checked(), *info, ignoreNextHopProxy);
  }
  State(c).lastPort = !ignoreNextHopProxy && !info->Address.empty() ? info->Port : PortNumber(port);
  State(c).host = host;
}

void TConnectionRouting::UseLookupAnswer(TKwProxyClient* c, std::string& host,
                                         bool ignoreNextHopProxy) {
  std::string answer = std::exchange(State(c).answer, {});
  // Through a next hop the name goes on as it is: the hop looks it up.
  if (!answer.empty() && (ignoreNextHopProxy || proxy_.NextHopHTTP().Address().empty()))
    host = std::move(answer);
}

void TConnectionRouting::ApplyNextHop(bool useNextHop, const TProxyInfo& info,
                                      bool& ignoreNextHopProxy) {
  ignoreNextHopProxy = !useNextHop;
  if (!useNextHop) return;
  engine::TKwProxyData& hop = proxy_.NextHopHTTP();
  hop.SetAddress(info.Address);
  hop.SetPort(info.Port);
  hop.SetUsername(info.NeedsAuthentication ? info.UserName : std::string());
  hop.SetPassword(info.NeedsAuthentication ? info.Password : std::string());
  proxy_.NextHopTCPTunnel().Assign(hop);
}

// ---- lookups ----

void TConnectionRouting::StartLookup(const std::string& host, TKwProxyClient* c, bool& wait) {
  controls_.lbUnclassified.Add(host);
  auto socket = std::make_unique<TWSocket>();
  TWSocket* s = socket.get();
  s->OnDnsLookupDone = [this](TWSocket* sender, uint16_t err) {
    WSocket1DnsLookupDone(sender, err);
  };
  s->OnBgException = [this](TWSocket* sender, const std::exception& e, bool& canClose) {
    WSocket1BgException(sender, e, canClose);
  };
  s->OnError = [this](TWSocket* sender) { WSocket1Error(sender); };
  s->SetAddr(host);
  s->SetTag(controls_.cbUnknownHosts.Checked() ? 1 : 0);
  TLookup& lookup = lookups_[s];
  lookup.socket = std::move(socket);
  lookup.host = host;
  s->DnsLookup(host);  // a dotted address answers inside this call
  auto it = lookups_.find(s);
  if (it == lookups_.end()) return;
  it->second.starting = false;
  if (it->second.done) {
    lookups_.erase(it);  // answered at once: decided with the answer
    return;
  }
  // Every lookup ends within the wait, so that no host stays unclassified.
  std::weak_ptr<bool> alive = alive_;
  it->second.timer = net::EventLoop::Default().AddTimer(LookupWait, [this, alive, s] {
    if (alive.expired() || !*alive.lock()) return;
    auto found = lookups_.find(s);
    if (found == lookups_.end()) return;
    found->second.timer = 0;
    s->Abort();  // reported as 10004
  });
  if (s->Tag() == 0) {
    it->second.waiter = c;
    wait = true;
  }
}

void TConnectionRouting::WSocket1DnsLookupDone(TWSocket* sender, uint16_t errCode) {
  EndLookup(sender, errCode, true);
}

void TConnectionRouting::WSocket1Error(TWSocket* sender) {
  EndLookup(sender, sender->LastError() ? sender->LastError() : -1, false);
}

void TConnectionRouting::WSocket1BgException(TWSocket* sender, const std::exception&, bool&) {
  // The socket layer aborts the socket after this; it is freed off the stack.
  EndLookup(sender, -1, false);
}

void TConnectionRouting::EndLookup(TWSocket* sender, int errCode, bool answered) {
  auto it = lookups_.find(sender);
  if (it == lookups_.end() || it->second.done) return;
  TLookup& lookup = it->second;
  lookup.done = true;
  if (lookup.timer) net::EventLoop::Default().CancelTimer(lookup.timer);
  lookup.timer = 0;
  if (answered) {
    hosts_.FileLookupAnswer(lookup.host, errCode, sender->DnsResult(), sender->DnsIPv6Only());
    sender->SetTag(1);
  } else {
    // Looked up again at its next request.
    controls_.lbUnclassified.Remove(lookup.host);
    sender->SetTag(-1);
  }
  if (lookup.starting) return;  // the request decides right after DnsLookup
  TKwProxyClient* waiter = std::exchange(lookup.waiter, nullptr);
  std::weak_ptr<bool> alive = alive_;
  net::EventLoop::Default().Post([this, alive, sender] {
    if (alive.expired() || !*alive.lock()) return;
    lookups_.erase(sender);
  });
  if (waiter) {
    TClientState& state = State(waiter);
    state.resumed = true;
    if (answered && errCode == 0) state.answer = sender->DnsResult();
    proxy_.ResumeDecision(waiter);
    // A client that is gone or stopped never took its turn.
    if (auto found = clients_.find(waiter); found != clients_.end()) {
      found->second.resumed = false;
      found->second.answer.clear();
    }
  }
}

// ---- data ----

void TConnectionRouting::ConvertSocks(TKwProxyClient* c, TClientState& state, std::string& data) {
  state.socks.append(data);
  data.clear();
  const TSocks4Request request = ReadSocks4Request(state.socks);
  switch (request.result) {
    case TSocks4Request::Incomplete: return;  // held until the rest comes
    case TSocks4Request::Socks5:
      ConvertSocks5(c, state, data);
      return;
    case TSocks4Request::Reject:
      state.socksOpen = false;
      std::string().swap(state.socks);
      proxy_.AnswerAndClose(c, Socks4Reject(request.ReplyBytes));
      return;
    case TSocks4Request::Connect: break;
  }
  state.socksOpen = false;
  std::string().swap(state.socks);
  c->Socks4Reply = true;
  c->Socks4ReplyBytes = request.ReplyBytes;
  data = request.Header;
  if (LoggingOn()) log_.LogIt(data, "Converted to SOCKS4 connect", true);
}

void TConnectionRouting::ConvertSocks5(TKwProxyClient* c, TClientState& state, std::string& data) {
  TSocks5Request request = ReadSocks5Request(state.socks);
  // A client that waits for the method hears it at once. One that sent its
  // request along hears it in front of the reply: two small answers in a
  // row would wait on each other's acknowledgement.
  std::string method;
  if (request.Greeted && !std::exchange(state.socks5Greeted, true)) {
    if (request.result != TSocks5Request::Incomplete) {
      method = kSocks5NoAuthentication;
    } else if (c->State() == net::wsConnected) {
      try {
        c->SendText(kSocks5NoAuthentication);
      } catch (...) {
      }
    }
  }
  if (request.result == TSocks5Request::Incomplete) return;  // held until the rest comes
  state.socksOpen = false;
  std::string().swap(state.socks);
  switch (request.result) {
    case TSocks5Request::Incomplete:
    case TSocks5Request::Connect: break;
    case TSocks5Request::NoMethod: proxy_.AnswerAndClose(c, kSocks5NoMethod); return;
    case TSocks5Request::Reject:
      proxy_.AnswerAndClose(c, method + Socks5Reply(request.ReplyCode));
      return;
  }
  // From here on a tunnel like any other; only its answer is SOCKS5.
  c->Exchange().TunnelAnswer = [method](engine::TTunnelOutcome outcome, const TWSocket* remote) {
    return method + Socks5Answer(outcome, remote);
  };
  data = std::move(request.Header);
  if (LoggingOn()) log_.LogIt(data, "Converted to SOCKS5 connect", true);
}

void TConnectionRouting::Proxy1ClientDataAvailable(TKwGenericProxy*, TKwProxyClient* c,
                                                   std::string& data) {
  if (LoggingOn())
    log_.LogIt(data,
               std::to_string(data.size()) + " bytes received from Client " + c->GetPeerAddr(),
               true);
  TClientState& state = State(c);
  // Only the first bytes of a connection can be a SOCKS request.
  if (state.socksOpen) {
    ConvertSocks(c, state, data);
  } else if (!data.empty() && c->ReadCount() == static_cast<int64_t>(data.size()) &&
             (data[0] == 4 || data[0] == 5)) {
    state.socksOpen = true;
    ConvertSocks(c, state, data);
  }
  // Not counted here: these bytes may belong to a request not decided yet.
  showTotals_();
}

void TConnectionRouting::Proxy1ClientDataForwarded(TKwGenericProxy*, TKwProxyClient* c,
                                                   size_t length) {
  if (!Counted(c)) return;
  const TWSocket* remote = c->RemoteSocket();
  const int port = remote ? PortNumber(remote->Port()) : State(c).lastPort;
  Count(c, -static_cast<int64_t>(length), port);
  showTotals_();
}

void TConnectionRouting::Proxy1RemoteDataAvailable(TKwGenericProxy*, TKwProxyClient* c,
                                                   std::string_view data) {
  const TWSocket* remote = c->RemoteSocket();
  if (LoggingOn())
    log_.LogIt(data,
               std::to_string(data.size()) + " bytes received from Remote " +
                   (remote ? remote->Addr() : std::string()) + ", for Client " + c->GetPeerAddr(),
               false);
  Proxy1RemoteDataRelayed(nullptr, c, data.size());
}

void TConnectionRouting::Proxy1RemoteDataRelayed(TKwGenericProxy*, TKwProxyClient* c,
                                                 size_t length) {
  if (length == 0) return;
  if (Counted(c)) {
    const TWSocket* remote = c->RemoteSocket();
    int port = State(c).lastPort;
    if (remote) port = PortNumber(remote->Port());
    Count(c, static_cast<int64_t>(length), port);
  }
  showTotals_();
}

void TConnectionRouting::Proxy1RemoteSocketPrepared(TKwGenericProxy*, TKwProxyClient* c) {
  if (TWSocket* remote = c->RemoteSocket()) remote->LineMode = false;
}

void TConnectionRouting::Proxy1RequestRefused(TKwGenericProxy*, TKwProxyClient* c,
                                              const std::string& reason) {
  log_.DoComment("Client " + c->GetPeerAddr() + " refused: " + reason);
}

void TConnectionRouting::CheckNextHops() {
  const int port = proxy_.Active() ? proxy_.Server().BoundPort() : proxy_.Port();
  const std::string line = SelfNextHopsLine(controls_, nextHops_, port);
  if (!line.empty()) log_.DoComment(line);
}

}  // namespace vantrel
