#include "tunnels/TunnelRecords.h"

#include "model/ProxyTables.h"
#include "model/RecordDialogs.h"

namespace vantrel {

TTunnelRecords::TTunnelRecords(TRecordTable& mtblTunnels, TChangeTracker& changes,
                               TUserInterface& ui)
    : mtblTunnels_(mtblTunnels),
      commands_(mtblTunnels, changes, ui, [](TRecordTable& table, TUserInterface& userInterface) {
        return std::make_unique<TfrmTunnelProperties>(table, userInterface);
      }) {}

void TTunnelRecords::btnAddTunnelClick(TControl& /*sender*/) {
  using namespace tunnel_fields;
  // The highest id in use plus one (after a deletion in the middle, more
  // than the count plus one), so a new tunnel never takes an id in use.
  const int32_t id = NextRecordId(mtblTunnels_, TunnelID);
  commands_.Add([id](TRecordTable& table) {
    table.SetInteger(TunnelID, id);
    table.SetBoolean(Enabled, true);
  });
}

void TTunnelRecords::btnEditTunnelClick(TControl& /*sender*/) {
  commands_.Edit();
}

void TTunnelRecords::btnDeleteTunnelClick(TControl& /*sender*/) {
  using namespace tunnel_fields;
  commands_.Delete([](const TRecordTable& table) {
    return "Delete Tunnel \"" + table.AsString(RemoteHost) + ":" +
           std::to_string(table.AsInteger(RemotePortNo)) + "\" - are you sure?";
  });
}

}  // namespace vantrel
