#pragma once
// The three list files beside proxy.ini: allowed clients (allowedip.dat),
// next-hop bypass (bypassip.dat) and blocked hosts (blockedhosts.dat), each
// edited in its memo and turned into the list the connection handling
// reads. The lists change only at a load and at "Save Changes".

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/FileStamp.h"
#include "files/FileIO.h"
#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"

namespace vantrel {

class TListFiles {
 public:
  static constexpr const char* kAllowedFile = "allowedip.dat";
  static constexpr const char* kBypassFile = "bypassip.dat";
  static constexpr const char* kBlockedFile = "blockedhosts.dat";
  static constexpr std::array<const char*, 3> kFileNames{kAllowedFile, kBypassFile, kBlockedFile};
  // The memo lines of an address list whose file is missing.
  static const std::vector<std::string>& DefaultAddressLines();

  // comment: a log line; bypassRebuilt receives every new bypass list.
  TListFiles(TMainControls& controls, TChangeTracker& changes,
             std::function<void(const std::string&)> comment,
             std::function<void(const std::vector<std::string>&)> bypassRebuilt);

  // The three files as a load read them, in the order of kFileNames.
  struct TListText {
    TReadResult read = TReadResult::Missing;
    std::string data;  // the bytes when read
    bool tooLarge = false;
  };
  using TTexts = std::array<TListText, 3>;
  // Reads the three files; each that cannot be read adds "Cannot read
  // <path>: <reason>" to failures. A file too large to read is logged
  // ("<path>: file too large") and counts as missing. Changes nothing else.
  TTexts Read(std::vector<std::string>& failures) const;
  // The last step of the configuration load: the three memos from what was
  // read (or their defaults; a file that could not be read leaves its memo
  // as it was), then the three lists.
  void Apply(const TTexts& texts);
  // Read and Apply; false when a file was there but could not be read
  // (logged with its path and reason).
  bool Load();
  // Writes the three memos to their files, each replaced atomically. Stops
  // at the first failure with "Unable to write to <path>: <reason>". A file
  // the last load found too large is kept as it is.
  bool Save(std::string& error);
  // One of kFileNames. A file that is a symbolic link is never written (it
  // may be a system file such as /etc/hosts): that is logged and counts as
  // done; so is one the last load found too large. An existing file keeps
  // its mode; a new one gets the umask's.
  bool SaveFile(const char* name, std::string& error);
  // True when the file is no longer what the last load read or the last
  // save wrote (someone edited it since).
  bool ChangedOnDisk(const char* name) const;

  // A range list from an address memo; lines that are no address or range
  // are blanked in the memo.
  void RebuildRangeList(TMemo& memo, std::vector<std::string>& list);
  // AllowedIPList from memIncoming, BypassIPList from memBypass.
  void RebuildAddressLists();
  // BlockedHostList from memBlockedHosts; the cleaned names go back into the
  // memo and, when they differ from it, into the file, unless the file is a
  // symbolic link. A failed write is logged and changes nothing else: the
  // list in memory is complete.
  void RebuildBlockedHosts();

  // Click event of the three list switches, change event of the three memos.
  void cbAllowedConnectionsClick(TControl& sender);
  void memIncomingChange(TControl& sender);

  const std::vector<std::string>& AllowedIPList() const { return allowedIPList_; }
  const std::vector<std::string>& BypassIPList() const { return bypassIPList_; }
  // Changes at every rebuild of BypassIPList: what was built from one
  // version of the list needs no comparison with it.
  uint64_t BypassListVersion() const { return bypassListVersion_; }
  const std::vector<std::string>& BlockedHostList() const { return blockedHostList_; }
  bool IsBlockedHost(std::string_view host) const;

  // The bytes a list file holds for memo lines, and back (LF, CR LF, or CR
  // in a file without LF).
  static std::string FileText(const std::vector<std::string>& lines);
  static std::vector<std::string> FileLines(std::string_view text);

 private:
  static size_t Index(const char* name);
  TMemo& MemoOf(size_t index);

  TMainControls& controls_;
  TChangeTracker& changes_;
  std::function<void(const std::string&)> comment_;
  std::function<void(const std::vector<std::string>&)> bypassRebuilt_;
  std::vector<std::string> allowedIPList_;
  std::vector<std::string> bypassIPList_;
  uint64_t bypassListVersion_ = 1;
  std::vector<std::string> blockedHostList_;
  std::array<TFileStamp, 3> stamps_;
  // Files the last load left alone for their size: a save must not replace
  // them with the defaults that stood in.
  std::set<std::string> tooLarge_;
};

}  // namespace vantrel
