#pragma once
// The three list files beside proxy.ini: allowed clients (allowedip.dat),
// next-hop bypass (bypassip.dat) and blocked hosts (blockedhosts.dat), each
// edited in its memo and turned into the list the connection handling
// reads. The lists change only at a load and at "Save Changes".

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"

namespace vantrel {

class TListFiles {
 public:
  static constexpr const char* kAllowedFile = "allowedip.dat";
  static constexpr const char* kBypassFile = "bypassip.dat";
  static constexpr const char* kBlockedFile = "blockedhosts.dat";
  // The memo lines of an address list whose file is missing.
  static const std::vector<std::string>& DefaultAddressLines();

  // comment: a log line; bypassRebuilt receives every new bypass list.
  TListFiles(TMainControls& controls, TChangeTracker& changes,
             std::function<void(const std::string&)> comment,
             std::function<void(const std::vector<std::string>&)> bypassRebuilt);

  // The last step of the configuration load: the three memos from their
  // files (or their defaults), then the three lists. False when a file was
  // there but could not be read; that is logged with its path and reason,
  // and its memo is left as it was. A file too large to read is logged
  // ("<path>: file too large") and the load goes on as if it were missing.
  bool Load();
  // Writes the three memos to their files, each replaced atomically. Stops
  // at the first failure with "Unable to write to <path>: <reason>". A file
  // the last load found too large is kept as it is.
  bool Save(std::string& error);

  // A range list from an address memo; lines that are no address or range
  // are blanked in the memo.
  void RebuildRangeList(TMemo& memo, std::vector<std::string>& list);
  // AllowedIPList from memIncoming, BypassIPList from memBypass.
  void RebuildAddressLists();
  // BlockedHostList from memBlockedHosts; the cleaned names go back into the
  // memo and, when they differ from it, into the file. A failed write is
  // logged and changes nothing else: the list in memory is complete.
  void RebuildBlockedHosts();

  // Click event of the three list switches, change event of the three memos.
  void cbAllowedConnectionsClick(TControl& sender);
  void memIncomingChange(TControl& sender);

  const std::vector<std::string>& AllowedIPList() const { return allowedIPList_; }
  const std::vector<std::string>& BypassIPList() const { return bypassIPList_; }
  const std::vector<std::string>& BlockedHostList() const { return blockedHostList_; }
  bool IsBlockedHost(std::string_view host) const;

  // The bytes a list file holds for memo lines, and back.
  static std::string FileText(const std::vector<std::string>& lines);
  static std::vector<std::string> FileLines(std::string_view text);

 private:
  // 1: read, 0: missing, -1: failed, -2: too large (both logged).
  int ReadMemo(const char* name, TMemo& memo);

  TMainControls& controls_;
  TChangeTracker& changes_;
  std::function<void(const std::string&)> comment_;
  std::function<void(const std::vector<std::string>&)> bypassRebuilt_;
  std::vector<std::string> allowedIPList_;
  std::vector<std::string> bypassIPList_;
  std::vector<std::string> blockedHostList_;
  // Files the last load left alone for their size: a save must not replace
  // them with the defaults that stood in.
  std::set<std::string> tooLarge_;
};

}  // namespace vantrel
