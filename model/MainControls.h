#pragma once
// The controls of the main window that hold settings and state, named as the
// window names them. Code reads a setting from its control when it needs it.
// Controls join here as the features that use them arrive.

#include <array>

#include "model/Controls.h"
#include "model/RecordTable.h"
#include "model/Version.h"

namespace vantrel {

struct TMainControls {
  // The next-hop selectors list the records of the proxy table, the
  // country selector those of the country table.
  TMainControls(TRecordTable& mtblProxy, TRecordTable& mtblCountries);

  // Proxy page.
  TEdit edProxyPort{"edProxyPort", "Proxy Listens on Port:"};
  TCheckBox cbStartAutomatically{"cbStartAutomatically", "Start Proxy Automatically"};
  TCheckBox cbMinimize{"cbMinimize", "Minimize on Start"};
  // Not a setting of proxy.ini: its state is whether the desktop's autostart
  // entry exists.
  TCheckBox cbAutostart{"cbAutostart", "Start Vantrel when I log in"};
  TCheckBox cbUnknownHosts{"cbUnknownHosts",
                           "Consider unknown hosts \"international\" until DNS result is returned"};
  TDBGrid DBGrid1{"DBGrid1"};  // the next-hop proxies
  TButton btnAdd{"btnAdd", "Add"};
  TButton btnEdit{"btnEdit", "Edit"};
  TButton btnDelete{"btnDelete", "Delete"};
  TLookupCombo jvdbCountry;  // "Local Country:", its value a country code

  // Next hops: a switch and a selector per locality and traffic class.
  TCheckBox cbIntCon{"cbIntCon", "HTTP (80):"};
  TCheckBox cbIntConSSL{"cbIntConSSL", "Secure (443):"};
  TCheckBox cbIntConOther{"cbIntConOther", "All Others:"};
  TCheckBox cbLocalCon{"cbLocalCon", "HTTP (80):"};
  TCheckBox cbLocalConSSL{"cbLocalConSSL", "Secure (443):"};
  TCheckBox cbLocalConOTHER{"cbLocalConOTHER", "All Others:"};
  TLookupCombo jvdbIntCon;
  TLookupCombo jvdbIntConSSL;
  TLookupCombo jvdbIntConOTHER;
  TLookupCombo jvdbLocalCon;
  TLookupCombo jvdbLocalConSSL;
  TLookupCombo jvdbLocalConOTHER;

  // Proxy Client Connections page.
  TCheckBox cbAllowedConnections{"cbAllowedConnections",
                                 "Only allow connections from the following IP addresses:"};
  TMemo memIncoming{"memIncoming"};

  // Local LAN/Proxy Bypass page.
  TCheckBox cbBypass{"cbBypass", "Bypass Next Hop Proxies for the following IP addresses:"};
  TMemo memBypass{"memBypass"};

  // Blocked Hosts page.
  TCheckBox cbBlock{"cbBlock", "Block Connections to the following hosts:"};
  TCheckBox cbBlockTunnels{"cbBlockTunnels",
                           "Also block HTTPS and SOCKS connections to these hosts"};
  TMemo memBlockedHosts{"memBlockedHosts"};
  TLabel jvlHostLists{"jvlHostLists", kHostListsAddress};

  // Tunnels page.
  TDBGrid DBGrid2{"DBGrid2"};
  TButton btnAddTunnel{"btnAddTunnel", "Add"};
  TButton btnEditTunnel{"btnEditTunnel", "Edit"};
  TButton btnDeleteTunnel{"btnDeleteTunnel", "Delete"};

  // Traffic page: whether the two host lists are shown.
  TCheckBox cbShowLocalHosts{"cbShowLocalHosts", "Show Local Internet Hosts"};
  TCheckBox cbShowIntHosts{"cbShowIntHosts", "Show International Internet Hosts"};

  // Host lists. Local and international are shown on the Traffic page; the
  // other two are only lookup tables.
  TListBox lbLocalLAN{"lbLocalLAN"};
  TListBox lbLocal{"lbLocal", "Local Hosts"};
  TListBox lbInternational{"lbInternational", "International Hosts"};
  TListBox lbUnclassified{"lbUnclassified"};

  // The window's title: "Vantrel" until the window is created.
  TLabel frmVantrelMain{"frmVantrelMain", kProgramName};

  // Status bar and command buttons.
  TLabel lblProxyStatus{"lblProxyStatus", "INACTIVE"};
  TButton btnStart{"btnStart", "Start Proxy"};
  TButton Button1{"Button1", "Close"};
  TButton btnSave{"btnSave", "Save Changes"};
  TButton btnCancel{"btnCancel", "Cancel Changes"};

  // Logging page.
  TCheckBox cbLogging{"cbLogging", "Log to Screen"};
  TCheckBox cbDebug{"cbDebug", "Debug Mode"};
  TCheckBox cbWriteLog{"cbWriteLog", "Log to Disk"};
  TCheckBox cbDetailedLog{"cbDetailedLog", "Detailed Log"};
  TCheckBox cbAutoScroll{"cbAutoScroll", "Auto Scroll"};
  TButton btnClearLog{"btnClearLog", "Clear Log"};

  // About page. A link label's caption is the address it opens.
  TLabel lblName{"lblName", kProgramTitle};
  TLabel jvlWebsite{"jvlWebsite", kWebsiteAddress};
  TLabel jvlEmail{"jvlEmail", kEmailAddress};
  TLabel jvlHostLists2{"jvlHostLists2", kHostListsAddress};
  TLabel jvlCountryDatabase{"jvlCountryDatabase", kCountryDatabaseAddress};
  TButton Button3{"Button3", "Donate"};

  // Session deadlines in seconds, 0 for none. Set in proxy.ini only; no
  // page shows them.
  TEdit edHeaderTimeout{"edHeaderTimeout", "Header Timeout:"};
  TEdit edIdleTimeout{"edIdleTimeout", "Idle Timeout:"};
  TEdit edStallTimeout{"edStallTimeout", "Stall Timeout:"};
  TEdit edConnectTimeout{"edConnectTimeout", "Connect Timeout:"};

  // The tray icon's menu; "Restore" is its default item.
  TButton Restore1{"Restore1", "Restore"};
  TButton Close1{"Close1", "Close"};

  static constexpr const char* kWebsiteAddress = "https://vantrel.example.org/";
  static constexpr const char* kEmailAddress = "support@vantrel.example.org";
  static constexpr const char* kHostListsAddress = "https://someonewhocares.org/hosts/";
  static constexpr const char* kCountryDatabaseAddress =
      "https://dev.maxmind.com/geoip/geolite2-free-geolocation-data";
  static constexpr const char* kDonationAddress = "https://vantrel.example.org/donate";

  // The six switches and selectors in table order: international HTTP,
  // secure, other; then local HTTP, secure, other.
  std::array<TCheckBox*, 6> NextHopSwitches();
  std::array<TLookupCombo*, 6> NextHopSelectors();
};

}  // namespace vantrel
