#pragma once
// The Add, Edit and Delete commands of the next-hop proxy grid.

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"
#include "model/RecordCommands.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"

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
