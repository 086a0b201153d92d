#include "routing/SelfNextHops.h"

#include "engine/SelfTarget.h"

namespace vantrel {

std::string SelfNextHopsLine(TMainControls& controls, const TNextHopRecords& records,
                             int proxyPort) {
  // In the order of the switches.
  const TProxyInfo* infos[] = {&records.IntConInfo,      &records.IntConSSLInfo,
                               &records.IntConOTHERInfo, &records.LocalConInfo,
                               &records.LocalConSSLInfo, &records.LocalConOTHERInfo};
  const char* names[] = {"International HTTP", "International SSL", "International other",
                         "Local HTTP",         "Local SSL",         "Local other"};
  const auto switches = controls.NextHopSwitches();
  const int ports[] = {proxyPort};
  std::string found;
  for (size_t i = 0; i < switches.size(); ++i) {
    const TProxyInfo& info = *infos[i];
    if (!switches[i]->Checked() || info.Address.empty()) continue;
    if (!engine::IsSelfTarget(info.Address, info.Port, ports)) continue;
    found += (found.empty() ? "" : ", ") + std::string(names[i]) + " (" + info.Address + ":" +
             std::to_string(info.Port) + ")";
  }
  if (found.empty()) return {};
  return "Next hop is this proxy itself, never used; its requests are refused: " + found;
}

}  // namespace vantrel
