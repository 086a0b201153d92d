#pragma once
// The main window's side of every proxied connection: admission, blocked
// hosts, classification of the destination (with a name lookup for a new
// host), the next hop per locality and class, SOCKS4 requests, the request
// and data log lines, and the traffic counters.
//
// A request for a new host waits for its lookup without holding anyone
// else: its decision is left pending in the engine and completed when the
// answer is filed or the wait has timed out.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "model/Controls.h"
#include "config/ListFiles.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "engine/KwHttpProxy.h"
#include "net/EventLoop.h"
#include "net/WSocket.h"
#include "hosts/HostClassification.h"
#include "routing/ProxyAutoConfig.h"
#include "routing/TrafficCounters.h"

namespace vantrel {

// The route tag on a client: the last routing decision of its connection.
enum TRouteTag : int { rtNotRouted = 0, rtLocal = 1, rtInternational = -1, rtLocalLAN = -2 };

struct TRoutingLog {
  // A message line, shown whatever "Log to Screen" says.
  std::function<void(const std::string& message)> DoComment;
  // A data event; fromClient picks the colour.
  std::function<void(std::string_view data, const std::string& message, bool fromClient)> LogIt;
};

class TConnectionRouting {
 public:
  TConnectionRouting(TMainControls& controls, THostClassification& hosts, TNextHopRecords& nextHops,
                     TListFiles& lists, engine::TKwHttpProxy& proxy, TTrafficCounters& counters,
                     TRoutingLog log, std::function<void()> showTotals);
  ~TConnectionRouting();
  TConnectionRouting(const TConnectionRouting&) = delete;
  TConnectionRouting& operator=(const TConnectionRouting&) = delete;

  // The status bar's second panel: the number of client connections.
  TLabel StatusBarConnections{"StatusBarConnections", "0"};

  void Proxy1ClientConnect(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client);
  void Proxy1ClientDisconnect(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client);
  void Proxy1ClientHeaderAvailable(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                                   const std::string& url, std::string& header, std::string& proto,
                                   std::string& user, std::string& pass, std::string& host,
                                   std::string& port, std::string& path, std::string& hdrHost,
                                   bool& ignoreNextHopProxy, std::string& returnContent);
  void Proxy1TunnelRequest(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                           std::string& header, std::string& host, std::string& port,
                           bool& ignoreNextHopProxy, std::string& returnContent);
  void Proxy1ClientDataAvailable(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                                 std::string& data);
  // Client bytes the engine handed on for the current request after its
  // header: counted under that request's decision.
  void Proxy1ClientDataForwarded(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                                 size_t length);
  void Proxy1RemoteDataAvailable(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                                 std::string_view data);
  // Bytes that went on unseen (no log wants them): counted only.
  void Proxy1RemoteDataRelayed(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                               size_t length);
  // Remote bytes may pass unseen while nothing logs them.
  bool MayRelayUnseen() const { return !LoggingOn(); }
  void Proxy1RemoteSocketPrepared(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client);
  // A request the engine refused for a reason the user must see.
  void Proxy1RequestRefused(engine::TKwGenericProxy* sender, engine::TKwProxyClient* client,
                            const std::string& reason);
  // After the next hops were set: one line naming those that are the proxy
  // itself (the engine never follows them).
  void CheckNextHops();

  // Classifies the host (lower case), sets the client's route tag and the
  // engine's next hop. False when the host's lookup must be waited for: the
  // caller leaves the decision pending, and the engine asks again later.
  bool SetUpConnection(engine::TKwProxyClient* client, const std::string& host,
                       bool& ignoreNextHopProxy, const std::string& port);
  void ApplyNextHop(bool useNextHop, const TProxyInfo& info, bool& ignoreNextHopProxy);
  bool IsBlockedHost(std::string_view host) const;

  // Events of the lookup sockets.
  void WSocket1DnsLookupDone(net::TWSocket* sender, uint16_t errCode);
  void WSocket1Error(net::TWSocket* sender);
  void WSocket1BgException(net::TWSocket* sender, const std::exception& e, bool& canClose);

  static std::string BlockedPage(const std::string& host);
  // The answer to a blocked CONNECT: no page, and the connection ends.
  static constexpr const char* kTunnelBlocked =
      "HTTP/1.0 403 Forbidden\r\nConnection: close\r\n\r\n";

  // How long a request waits for its host's lookup; then the lookup is
  // aborted and the request goes on as international.
  std::chrono::milliseconds LookupWait{5000};
  size_t LookupsUnderWay() const { return lookups_.size(); }

  // A request for the proxy auto-config file is answered here, and nothing
  // else happens to it: no routing, lookup, counting or blocking.
  bool AnswerAutoConfig(engine::TKwProxyClient* client, const std::string& url,
                        const std::string& header, const std::string& host,
                        const std::string& port, const std::string& path,
                        std::string& returnContent);

 private:
  struct TLookup {
    std::unique_ptr<net::TWSocket> socket;
    std::string host;
    engine::TKwProxyClient* waiter = nullptr;
    net::EventLoop::TimerId timer = 0;
    bool starting = true;  // inside DnsLookup: the request decides by itself
    bool done = false;
  };
  struct TClientState {
    // The port the last decision connects to, for data without a remote.
    int lastPort = 0;
    // The engine asks again for a decision left pending.
    bool resumed = false;
    // The address the lookup this request waited for found.
    std::string answer;
    // The host of the last decision, whose bytes these are.
    std::string host;
    // A SOCKS request is being collected from the connection's first bytes.
    bool socksOpen = false;
    std::string socks;
    // The SOCKS5 greeting has been answered.
    bool socks5Greeted = false;
  };

  TClientState& State(engine::TKwProxyClient* client) { return clients_[client]; }
  bool LoggingOn() const;
  void StartLookup(const std::string& host, engine::TKwProxyClient* client, bool& wait);
  // Ends a lookup: the host filed (or dropped, on failure), the socket freed
  // off the stack, the waiting request asked again.
  void EndLookup(net::TWSocket* sender, int errCode, bool answered);
  void CountHeader(engine::TKwProxyClient* client, size_t length, const std::string& port);
  // A CONNECT or SOCKS4a request for a blocked host, with both switches on.
  // A SOCKS4 request names an address, which is not checked.
  bool IsBlockedTunnel(const engine::TKwProxyClient* client, const std::string& host) const;
  // One count of a routed client: its locality and class, and its host.
  void Count(engine::TKwProxyClient* client, int64_t count, int port);
  // A connection's first bytes as a SOCKS request: converted, held until
  // complete, or refused.
  void ConvertSocks(engine::TKwProxyClient* client, TClientState& state, std::string& data);
  void ConvertSocks5(engine::TKwProxyClient* client, TClientState& state, std::string& data);
  void Decide(engine::TKwProxyClient* client, const std::string& host, bool& ignoreNextHopProxy,
              const std::string& port);
  // A request that goes direct connects to the address its wait found,
  // rather than have the engine look the name up a second time.
  void UseLookupAnswer(engine::TKwProxyClient* client, std::string& host, bool ignoreNextHopProxy);

  TMainControls& controls_;
  THostClassification& hosts_;
  TNextHopRecords& nextHops_;
  TListFiles& lists_;
  engine::TKwHttpProxy& proxy_;
  TTrafficCounters& counters_;
  TRoutingLog log_;
  std::function<void()> showTotals_;
  std::unordered_map<net::TWSocket*, TLookup> lookups_;
  std::unordered_map<engine::TKwProxyClient*, TClientState> clients_;
  TAutoConfigFile autoConfig_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantrel
