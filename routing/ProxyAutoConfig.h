#pragma once
// The proxy auto-config file the proxy port serves itself, so that the
// machines of a LAN can be set up with one address: which requests ask for
// it, and its text, from the live bypass list at each request.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "routing/LocalEnd.h"

namespace vantrel {

// "/proxy.pac" or "/wpad.dat", any query ignored.
bool IsAutoConfigPath(std::string_view path);

// A request for the file: its path, in origin form or in
// absolute form naming this machine (the address the client connected to,
// its name, or localhost over loopback) and the port it connected to.
// host, port and path are the request's URL split up.
bool IsAutoConfigRequest(std::string_view url, std::string_view host, std::string_view port,
                         std::string_view path, const TLocalEnd& proxy,
                         std::string_view machineName);

// FindProxyForURL: DIRECT for dotless names, localhost and, when bypassOn,
// address literals inside the bypass list's ranges (address-range list
// entries, each range as its fewest CIDR blocks); the proxy otherwise.
std::string AutoConfigScript(const std::vector<std::string>& bypassList, bool bypassOn,
                             const TLocalEnd& proxy);

// The file as the proxy serves it, its bypass test kept for the list it was
// built from and built again only when the list changed.
class TAutoConfigFile {
 public:
  // The script; the live list is compared with the kept one, a long list in
  // a fraction of what building its test again costs.
  std::string Script(const std::vector<std::string>& bypassList, bool bypassOn,
                     const TLocalEnd& proxy);
  // The whole answer (AutoConfigResponse of the script), written over answer
  // in one piece. listVersion changes whenever the list does (0: unknown,
  // built again): a kept test of the same version is used as it is.
  void Answer(const std::vector<std::string>& bypassList, uint64_t listVersion, bool bypassOn,
              const TLocalEnd& proxy, bool head, std::string& answer);

 private:
  // keepList: also keep the list, for Script's comparison.
  void Build(const std::vector<std::string>& bypassList, bool keepList);
  bool SameList(const std::vector<std::string>& bypassList) const;

  // The list the test was built from, its entries back to back and where
  // each ends: one buffer, reused, rather than a string per entry. Nothing
  // kept yet stands for the empty list, whose test is empty.
  bool listKept_ = true;
  std::string listText_;
  std::vector<size_t> listEnds_;
  uint64_t builtVersion_ = 0;  // 0: built for Script, no version
  std::string bypassTest_;
};

// The whole answer; without the script for a HEAD request.
std::string AutoConfigResponse(const std::string& script, bool head);

}  // namespace vantrel
