#include "model/NextHopRecords.h"

#include "model/ProxyTables.h"
#include "model/TextNumbers.h"

namespace vantrel {

TNextHopRecords::TNextHopRecords(TMainControls& controls, TRecordTable& mtblProxy,
                                 TChangeTracker& changes)
    : controls_(controls), mtblProxy_(mtblProxy), changes_(changes) {}

void TNextHopRecords::EnableSelectors() {
  auto switches = controls_.NextHopSwitches();
  auto selectors = controls_.NextHopSelectors();
  for (size_t i = 0; i < switches.size(); ++i) selectors[i]->SetEnabled(switches[i]->Checked());
}

void TNextHopRecords::cbIntConClick(TControl& /*sender*/) {
  EnableSelectors();
  LoadNextHopRecords();
  changes_.SetChanged(true);
}

void TNextHopRecords::GetProxyInfo(const std::string& proxyId, TProxyInfo& info) {
  using namespace proxy_fields;
  info = TProxyInfo();
  const auto id = proxyId.empty() ? std::nullopt : ParseInt32(proxyId);
  const auto row = id ? mtblProxy_.Find(ProxyID, *id) : std::nullopt;
  if (row) {
    info.Address = mtblProxy_.StringAt(*row, ProxyAddress);
    info.Port = mtblProxy_.IntegerAt(*row, ProxyPort);
    info.NeedsAuthentication = mtblProxy_.BooleanAt(*row, NeedsAuthentication);
    info.UserName = mtblProxy_.StringAt(*row, ProxyUserName);
    info.Password = mtblProxy_.StringAt(*row, ProxyPassword);
    // The grid follows the last record looked up; a pending edit (a dialog
    // still open) is never posted behind the user's back. Views hear one
    // cursor move, and only when the cursor really moves.
    if (mtblProxy_.State() == TDataSetState::Browse && mtblProxy_.RecNo() != *row) {
      mtblProxy_.MoveTo(*row);
    }
  }
}

void TNextHopRecords::LoadNextHopRecords() {
  auto selectors = controls_.NextHopSelectors();
  TProxyInfo* records[] = {&IntConInfo,   &IntConSSLInfo,   &IntConOTHERInfo,
                           &LocalConInfo, &LocalConSSLInfo, &LocalConOTHERInfo};
  for (size_t i = 0; i < selectors.size(); ++i) GetProxyInfo(selectors[i]->Value(), *records[i]);
  if (OnLoaded) OnLoaded();
}

}  // namespace vantrel
