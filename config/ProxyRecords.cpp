#include "config/ProxyRecords.h"

#include "config/ProxyTables.h"
#include "config/RecordDialogs.h"
#include "config/TextNumbers.h"

namespace vantrel {

namespace {

// Runs the dialog on the pending record; posts on Ok, cancels otherwise,
// and never leaves the table half edited when something throws.
bool RunDialog(TRecordTable& table, TUserInterface& ui) {
  try {
    TfrmProxyProperties dialog(table, ui);
    if (dialog.ShowModal() == TModalResult::Ok) {
      table.Post();
      return true;
    }
    table.Cancel();
    return false;
  } catch (...) {
    table.Cancel();
    throw;
  }
}

}  // namespace

TProxyRecords::TProxyRecords(TMainControls& controls, TRecordTable& mtblProxy,
                             TChangeTracker& changes, TUserInterface& ui)
    : controls_(controls), mtblProxy_(mtblProxy), changes_(changes), ui_(ui) {}

void TProxyRecords::btnAddClick(TControl& /*sender*/) {
  using namespace proxy_fields;
  // A selector may still name a deleted proxy; a new id above those too
  // keeps it from silently naming the new record.
  auto selectors = controls_.NextHopSelectors();
  int32_t named[6] = {};
  for (size_t i = 0; i < selectors.size(); ++i)
    named[i] = ParseInt32(selectors[i]->Value()).value_or(0);
  const int32_t id = NextRecordId(mtblProxy_, ProxyID,
                                  {named[0], named[1], named[2], named[3], named[4], named[5]});
  mtblProxy_.Append();
  mtblProxy_.SetInteger(ProxyID, id);
  mtblProxy_.SetBoolean(NeedsAuthentication, false);
  if (RunDialog(mtblProxy_, ui_)) changes_.SetChanged(true);
}

void TProxyRecords::btnEditClick(TControl& /*sender*/) {
  if (mtblProxy_.IsEmpty() || !mtblProxy_.Edit()) return;
  if (RunDialog(mtblProxy_, ui_)) changes_.SetChanged(true);
}

void TProxyRecords::btnDeleteClick(TControl& /*sender*/) {
  if (mtblProxy_.IsEmpty()) return;
  const std::string question =
      "Delete proxy \"" + mtblProxy_.AsString(proxy_fields::ProxyName) + "\" - are you sure?";
  if (ui_.Confirm(question) != TAnswer::Yes) return;
  mtblProxy_.Delete();
  changes_.SetChanged(true);
}

}  // namespace vantrel
