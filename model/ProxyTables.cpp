#include "model/ProxyTables.h"

#include <algorithm>
#include <limits>

namespace vantrel {

TRecordTable CreateProxyTable() {
  using namespace proxy_fields;
  return TRecordTable("mtblProxy", std::vector<TFieldDef>{
                                       {ProxyID, TFieldType::Integer},
                                       {ProxyName, TFieldType::Text, 30},
                                       {ProxyAddress, TFieldType::Text, 80},
                                       {ProxyPort, TFieldType::Integer},
                                       {NeedsAuthentication, TFieldType::Boolean},
                                       {ProxyUserName, TFieldType::Text, 80},
                                       {ProxyPassword, TFieldType::Text, 80},
                                   });
}

TRecordTable CreateTunnelTable() {
  using namespace tunnel_fields;
  return TRecordTable("mtblTunnels", std::vector<TFieldDef>{
                                         {TunnelID, TFieldType::Integer},
                                         {TunnelName, TFieldType::Text, 30},
                                         {LocalPortNo, TFieldType::Integer},
                                         {RemoteHost, TFieldType::Text, 100},
                                         {RemotePortNo, TFieldType::Integer},
                                         {Enabled, TFieldType::Boolean},
                                     });
}

int32_t NextRecordId(const TRecordTable& table, const char* idField,
                     std::initializer_list<int32_t> alsoInUse) {
  int32_t highest = 0;
  for (int row = 0; row < table.RecordCount(); ++row) {
    highest = std::max(highest, table.IntegerAt(row, idField));
  }
  for (int32_t id : alsoInUse) highest = std::max(highest, id);
  if (highest < std::numeric_limits<int32_t>::max()) return highest + 1;
  // The top is taken (an id typed into the file): fall back to the lowest
  // free positive id rather than wrap around.
  for (int32_t id = 1;; ++id) {
    bool used = table.Find(idField, id).has_value();
    for (int32_t other : alsoInUse) used = used || other == id;
    if (!used) return id;
  }
}

}  // namespace vantrel
