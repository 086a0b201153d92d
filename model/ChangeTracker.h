#pragma once
// The configuration-changed flag. It lives only in the enabled state of
// "Save Changes" and "Cancel Changes", so the buttons can never disagree
// with it.

#include "model/MainControls.h"

namespace vantrel {

class TChangeTracker {
 public:
  explicit TChangeTracker(TMainControls& controls) : controls_(controls) {}

  void SetChanged(bool changed);
  bool IsChanged() const { return controls_.btnSave.Enabled(); }

 private:
  TMainControls& controls_;
};

}  // namespace vantrel
