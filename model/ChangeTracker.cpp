#include "model/ChangeTracker.h"

#include <algorithm>

namespace vantrel {

void TChangeTracker::SetChanged(bool changed) {
  if (changed && quiet_ > 0) return;
  controls_.btnSave.SetEnabled(changed);
  controls_.btnCancel.SetEnabled(changed);
}

void TChangeTracker::ForRunOnly(TControl& control, const std::function<void()>& step) {
  ++quiet_;
  try {
    step();
  } catch (...) {
    --quiet_;
    throw;
  }
  --quiet_;
  if (!HoldsRunOnly(control)) runOnly_.push_back(&control);
}

bool TChangeTracker::HoldsRunOnly(const TControl& control) const {
  return std::find(runOnly_.begin(), runOnly_.end(), &control) != runOnly_.end();
}

void TChangeTracker::Edited(const TControl& control) {
  if (quiet_ > 0) return;
  runOnly_.erase(std::remove(runOnly_.begin(), runOnly_.end(), &control), runOnly_.end());
}

}  // namespace vantrel
