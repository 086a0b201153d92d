#include "hosts/HostClassification.h"

#include <utility>

#include "hosts/Addresses.h"

namespace vantrel {

THostClassification::THostClassification(TMainControls& controls, TLocalRanges& ranges,
                                         TCountryData& countries, TCommentSink comment)
    : controls_(controls), ranges_(ranges), countries_(countries), comment_(std::move(comment)) {}

void THostClassification::SetBypassIPList(std::vector<std::string> list) {
  bypassIPList_ = std::move(list);
  ForgetLocalLANHosts();
}

void THostClassification::cbBypassClick(TControl& /*sender*/) {
  ForgetLocalLANHosts();
}

void THostClassification::ForgetLocalLANHosts() {
  controls_.lbLocalLAN.Clear();
}

bool THostClassification::IsBypassed(std::string_view address) const {
  return controls_.cbBypass.Checked() && AddressInRangeList(address, bypassIPList_);
}

void THostClassification::FileLookupAnswer(const std::string& host, int errCode,
                                           const std::string& dnsResult, bool ipv6Only) {
  if (errCode != 0) {
    std::string line = "Error code ";
    line += std::to_string(errCode);
    line += ' ';
    line += host;
    if (ipv6Only) line += " (IPv6 addresses only; the proxy connects over IPv4)";
    comment_(line);
  }
  controls_.lbUnclassified.Remove(host);
  if (errCode != 0) return;

  if (IsBypassed(dnsResult)) {
    controls_.lbLocalLAN.Add(host);
  } else if (ranges_.IsLocal(dnsResult)) {
    if (controls_.lbLocal.Add(host)) countries_.SaveLocalHostsFile(controls_.jvdbCountry.Value());
  } else {
    controls_.lbInternational.Add(host);
  }
}

THostClass THostClassification::HostClass(std::string_view host) const {
  if (controls_.lbLocalLAN.Contains(host)) return THostClass::LocalLAN;
  if (controls_.lbLocal.Contains(host)) return THostClass::Local;
  return THostClass::International;
}

}  // namespace vantrel
