#pragma once
// The Add, Edit and Delete commands of the Tunnels page. They change the
// table only; running listeners follow at the next start of the proxy.

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/RecordCommands.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"

namespace vantrel {

class TTunnelRecords {
 public:
  TTunnelRecords(TRecordTable& mtblTunnels, TChangeTracker& changes, TUserInterface& ui);

  void btnAddTunnelClick(TControl& sender);
  // Also a double click on the tunnel grid.
  void btnEditTunnelClick(TControl& sender);
  void btnDeleteTunnelClick(TControl& sender);

 private:
  TRecordTable& mtblTunnels_;
  TRecordCommands commands_;
};

}  // namespace vantrel
