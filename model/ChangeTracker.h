#pragma once
// The configuration-changed flag. It lives only in the enabled state of
// "Save Changes" and "Cancel Changes", so the buttons can never disagree
// with it. Only the user's own edits mark it: a step of the program that
// sets a control for this run only marks nothing, and a save writes that
// setting as the file held it.

#include <functional>
#include <vector>

#include "model/MainControls.h"

namespace vantrel {

class TChangeTracker {
 public:
  explicit TChangeTracker(TMainControls& controls) : controls_(controls) {}

  // Marking changed is ignored while a run-only step runs.
  void SetChanged(bool changed);
  bool IsChanged() const { return controls_.btnSave.Enabled(); }

  // Runs step, which sets control for this run only (a port that fell back
  // to 1080, "Log to Disk" off after a failed write).
  void ForRunOnly(TControl& control, const std::function<void()>& step);
  bool HoldsRunOnly(const TControl& control) const;
  // An edit of the control outside such a step: its value is a setting
  // again.
  void Edited(const TControl& control);
  // A load puts the file's values back into every control.
  void ForgetRunOnly() { runOnly_.clear(); }

 private:
  TMainControls& controls_;
  int quiet_ = 0;
  std::vector<const TControl*> runOnly_;
};

}  // namespace vantrel
