#pragma once
// The next-hop proxy table and the tunnel table, with their field names.

#include <initializer_list>

#include "model/RecordTable.h"

namespace vantrel {

namespace proxy_fields {
inline constexpr const char* ProxyID = "ProxyID";
inline constexpr const char* ProxyName = "ProxyName";
inline constexpr const char* ProxyAddress = "ProxyAddress";
inline constexpr const char* ProxyPort = "ProxyPort";
inline constexpr const char* NeedsAuthentication = "NeedsAuthentication";
inline constexpr const char* ProxyUserName = "ProxyUserName";
inline constexpr const char* ProxyPassword = "ProxyPassword";
}  // namespace proxy_fields

namespace tunnel_fields {
inline constexpr const char* TunnelID = "TunnelID";
inline constexpr const char* TunnelName = "TunnelName";
inline constexpr const char* LocalPortNo = "LocalPortNo";
inline constexpr const char* RemoteHost = "RemoteHost";
inline constexpr const char* RemotePortNo = "RemotePortNo";
inline constexpr const char* Enabled = "Enabled";
}  // namespace tunnel_fields

TRecordTable CreateProxyTable();   // mtblProxy
TRecordTable CreateTunnelTable();  // mtblTunnels

// An id for a new record that no committed record holds and that is above
// every id in use elsewhere (alsoInUse: ids still named by selectors), so
// nothing that refers to a deleted record silently comes to name the new one.
int32_t NextRecordId(const TRecordTable& table, const char* idField,
                     std::initializer_list<int32_t> alsoInUse = {});

}  // namespace vantrel
