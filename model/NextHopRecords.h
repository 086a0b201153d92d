#pragma once
// The six next-hop records the routing reads for every request: copies of
// the chosen proxy records, refreshed only by LoadNextHopRecords so that an
// edit of the proxy table reaches routing at a well-defined moment.

#include <functional>
#include <string>

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"
#include "model/ProxyInfo.h"
#include "model/RecordTable.h"

namespace vantrel {

class TNextHopRecords {
 public:
  TNextHopRecords(TMainControls& controls, TRecordTable& mtblProxy, TChangeTracker& changes);

  // The settings-changed step shared by every routing setting.
  void cbIntConClick(TControl& sender);
  // Copies the proxy with the given id (decimal text) into info, or clears
  // info when the id is empty or unknown. The row found becomes current.
  void GetProxyInfo(const std::string& proxyId, TProxyInfo& info);
  void LoadNextHopRecords();
  // The first two steps of cbIntConClick, without marking a change.
  void EnableSelectors();

  TProxyInfo IntConInfo;
  TProxyInfo IntConSSLInfo;
  TProxyInfo IntConOTHERInfo;
  TProxyInfo LocalConInfo;
  TProxyInfo LocalConSSLInfo;
  TProxyInfo LocalConOTHERInfo;

  // Runs after every LoadNextHopRecords.
  std::function<void()> OnLoaded;

 private:
  TMainControls& controls_;
  TRecordTable& mtblProxy_;
  TChangeTracker& changes_;
};

}  // namespace vantrel
