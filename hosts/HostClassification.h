#pragma once
// What a destination host is: on the user's own network (local LAN), in the
// user's country (local) or elsewhere (international), remembered per host
// name in the four host lists once its name lookup has answered.

#include <string>
#include <string_view>
#include <vector>

#include "model/Controls.h"
#include "model/MainControls.h"
#include "hosts/CountryData.h"
#include "hosts/LocalRanges.h"

namespace vantrel {

enum class THostClass { LocalLAN, Local, International };

class THostClassification {
 public:
  THostClassification(TMainControls& controls, TLocalRanges& ranges, TCountryData& countries,
                      TCommentSink comment);

  // The bypass list in force: entries of RangeEntry form.
  const std::vector<std::string>& BypassIPList() const { return bypassIPList_; }
  // The list rebuild of the configuration hands its result here. Hosts filed
  // as local LAN by the old list are forgotten, so a removed range stops
  // bypassing the next hops at once.
  void SetBypassIPList(std::vector<std::string> list);
  // Part of the click event of cbBypass: the hosts it filed no longer hold.
  void cbBypassClick(TControl& sender);
  void ForgetLocalLANHosts();

  // cbBypass is checked and the address is on the bypass list.
  bool IsBypassed(std::string_view address) const;
  bool IsLocal(std::string_view address) const { return ranges_.IsLocal(address); }

  // Files a lookup's answer: the host leaves lbUnclassified and, on success,
  // joins the first of lbLocalLAN, lbLocal, lbInternational that its first
  // address belongs to, unless it is there already. A failure is logged and
  // files the host nowhere, so the next request looks it up again; ipv6Only
  // says the name has IPv6 addresses only, which no IPv4 connection reaches.
  void FileLookupAnswer(const std::string& host, int errCode, const std::string& dnsResult,
                        bool ipv6Only = false);

  // The class the routing reads; a host not filed yet counts as international.
  THostClass HostClass(std::string_view host) const;

 private:
  TMainControls& controls_;
  TLocalRanges& ranges_;
  TCountryData& countries_;
  TCommentSink comment_;
  std::vector<std::string> bypassIPList_;
};

}  // namespace vantrel
