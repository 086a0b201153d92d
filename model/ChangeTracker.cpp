#include "model/ChangeTracker.h"

namespace vantrel {

void TChangeTracker::SetChanged(bool changed) {
  controls_.btnSave.SetEnabled(changed);
  controls_.btnCancel.SetEnabled(changed);
}

}  // namespace vantrel
