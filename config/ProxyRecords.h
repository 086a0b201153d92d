#pragma once
// The Add, Edit and Delete commands of the next-hop proxy grid.

#include "config/ChangeTracker.h"
#include "config/Controls.h"
#include "config/MainControls.h"
#include "config/RecordCommands.h"
#include "config/RecordTable.h"
#include "config/UserInterface.h"

namespace vantrel {

class TProxyRecords {
 public:
  TProxyRecords(TMainControls& controls, TRecordTable& mtblProxy, TChangeTracker& changes,
                TUserInterface& ui);

  void btnAddClick(TControl& sender);
  void btnEditClick(TControl& sender);
  void btnDeleteClick(TControl& sender);

 private:
  TMainControls& controls_;
  TRecordTable& mtblProxy_;
  TRecordCommands commands_;
};

}  // namespace vantrel
