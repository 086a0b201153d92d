#include "model/MainControls.h"

#include <string>

#include "engine/SessionTimeouts.h"
#include "model/CountryTable.h"
#include "model/ProxyTables.h"

namespace vantrel {

namespace {
constexpr const char* kDirect = "<direct>";
}

TMainControls::TMainControls(TRecordTable& mtblProxy, TRecordTable& mtblCountries)
    : jvdbCountry("jvdbCountry", mtblCountries, country_fields::CountryCode,
                  std::string(country_fields::CountryName) + ";" + country_fields::CountryCode,
                  "<none>"),
      jvdbIntCon("jvdbIntCon", mtblProxy, proxy_fields::ProxyID, proxy_fields::ProxyName, kDirect),
      jvdbIntConSSL("jvdbIntConSSL", mtblProxy, proxy_fields::ProxyID, proxy_fields::ProxyName,
                    kDirect),
      jvdbIntConOTHER("jvdbIntConOTHER", mtblProxy, proxy_fields::ProxyID, proxy_fields::ProxyName,
                      kDirect),
      jvdbLocalCon("jvdbLocalCon", mtblProxy, proxy_fields::ProxyID, proxy_fields::ProxyName,
                   kDirect),
      jvdbLocalConSSL("jvdbLocalConSSL", mtblProxy, proxy_fields::ProxyID, proxy_fields::ProxyName,
                      kDirect),
      jvdbLocalConOTHER("jvdbLocalConOTHER", mtblProxy, proxy_fields::ProxyID,
                        proxy_fields::ProxyName, kDirect) {
  edProxyPort.SetText("1080");
  const engine::TSessionTimeouts timeouts;
  edHeaderTimeout.SetText(std::to_string(timeouts.HeaderTimeout));
  edIdleTimeout.SetText(std::to_string(timeouts.IdleTimeout));
  edStallTimeout.SetText(std::to_string(timeouts.StallTimeout));
  edConnectTimeout.SetText(std::to_string(timeouts.ConnectTimeout));
  lbLocalLAN.SetVisible(false);
  lbUnclassified.SetVisible(false);
  cbAutoScroll.SetChecked(true);
  // The settings a missing proxy.ini gives; the load sets them all.
  cbAllowedConnections.SetChecked(true);
  cbBypass.SetChecked(true);
  cbShowLocalHosts.SetChecked(true);
  cbShowIntHosts.SetChecked(true);
  cbBlockTunnels.SetChecked(true);
  memBlockedHosts.SetEnabled(false);
  cbBlockTunnels.SetEnabled(false);
  // Nothing has changed before the configuration is loaded.
  btnSave.SetEnabled(false);
  btnCancel.SetEnabled(false);
}

std::array<TCheckBox*, 6> TMainControls::NextHopSwitches() {
  return {&cbIntCon, &cbIntConSSL, &cbIntConOther, &cbLocalCon, &cbLocalConSSL, &cbLocalConOTHER};
}

std::array<TLookupCombo*, 6> TMainControls::NextHopSelectors() {
  return {&jvdbIntCon,   &jvdbIntConSSL,   &jvdbIntConOTHER,
          &jvdbLocalCon, &jvdbLocalConSSL, &jvdbLocalConOTHER};
}

}  // namespace vantrel
