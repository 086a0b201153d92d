#include "model/ProxyRecords.h"

#include "model/ProxyTables.h"
#include "model/RecordDialogs.h"
#include "model/TextNumbers.h"

namespace vantrel {

TProxyRecords::TProxyRecords(TMainControls& controls, TRecordTable& mtblProxy,
                             TChangeTracker& changes, TUserInterface& ui)
    : controls_(controls),
      mtblProxy_(mtblProxy),
      commands_(mtblProxy, changes, ui, [](TRecordTable& table, TUserInterface& userInterface) {
        return std::make_unique<TfrmProxyProperties>(table, userInterface);
      }) {}

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
  commands_.Add([id](TRecordTable& table) {
    table.SetInteger(ProxyID, id);
    table.SetBoolean(NeedsAuthentication, false);
  });
}

void TProxyRecords::btnEditClick(TControl& /*sender*/) {
  commands_.Edit();
}

void TProxyRecords::btnDeleteClick(TControl& /*sender*/) {
  commands_.Delete([](const TRecordTable& table) {
    return "Delete proxy \"" + table.AsString(proxy_fields::ProxyName) + "\" - are you sure?";
  });
}

}  // namespace vantrel
