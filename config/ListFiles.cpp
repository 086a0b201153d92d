#include "config/ListFiles.h"

#include <utility>

#include "config/BlockedHosts.h"
#include "files/DataFolder.h"
#include "files/FileIO.h"
#include "hosts/Addresses.h"

namespace vantrel {

const std::vector<std::string>& TListFiles::DefaultAddressLines() {
  static const std::vector<std::string> lines{"127.0.0.1", "10.0.0.0-10.255.255.255",
                                              "192.168.0.0-192.168.255.255",
                                              "172.16.0.0-172.31.255.255"};
  return lines;
}

TListFiles::TListFiles(TMainControls& controls, TChangeTracker& changes,
                       std::function<void(const std::string&)> comment,
                       std::function<void(const std::vector<std::string>&)> bypassRebuilt)
    : controls_(controls),
      changes_(changes),
      comment_(std::move(comment)),
      bypassRebuilt_(std::move(bypassRebuilt)) {}

std::string TListFiles::FileText(const std::vector<std::string>& lines) {
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 1;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

std::vector<std::string> TListFiles::FileLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

int TListFiles::ReadMemo(const char* name, TMemo& memo) {
  const auto path = DataPath(name);
  std::string data, error;
  switch (ReadFileIfPresent(path, data, error, kListFileLimit)) {
    case TReadResult::Read: memo.SetLines(FileLines(data)); return 1;
    case TReadResult::Missing: return 0;
    case TReadResult::Failed: break;
  }
  comment_(ReadFailureText(path, error));
  if (error != kFileTooLarge) return -1;
  tooLarge_.insert(name);
  return -2;
}

bool TListFiles::Load() {
  tooLarge_.clear();
  const int allowed = ReadMemo(kAllowedFile, controls_.memIncoming);
  if (allowed == 0 || allowed == -2) controls_.memIncoming.SetLines(DefaultAddressLines());
  const int bypass = ReadMemo(kBypassFile, controls_.memBypass);
  if (bypass == 0 || bypass == -2) controls_.memBypass.SetLines(DefaultAddressLines());
  RebuildAddressLists();
  const int blocked = ReadMemo(kBlockedFile, controls_.memBlockedHosts);
  if (blocked == 0 || blocked == -2) controls_.memBlockedHosts.SetLines({});
  // An unreadable file must not be replaced by what little the memo holds.
  if (blocked != -1) RebuildBlockedHosts();
  return allowed != -1 && bypass != -1 && blocked != -1;
}

bool TListFiles::Save(std::string& error) {
  const std::pair<const char*, const TMemo*> files[] = {
      {kAllowedFile, &controls_.memIncoming},
      {kBypassFile, &controls_.memBypass},
      {kBlockedFile, &controls_.memBlockedHosts},
  };
  for (const auto& [name, memo] : files) {
    if (tooLarge_.count(name) != 0) continue;
    const auto path = DataPath(name);
    std::string reason;
    if (!WriteFileAtomically(path, FileText(memo->Lines()), reason)) {
      error = "Unable to write to " + path.string() + ": " + reason;
      return false;
    }
  }
  return true;
}

void TListFiles::RebuildRangeList(TMemo& memo, std::vector<std::string>& list) {
  std::vector<std::string> lines = memo.Lines();
  list = vantrel::RebuildRangeList(lines);
  memo.SetLines(lines);
}

void TListFiles::RebuildAddressLists() {
  RebuildRangeList(controls_.memIncoming, allowedIPList_);
  RebuildRangeList(controls_.memBypass, bypassIPList_);
  if (bypassRebuilt_) bypassRebuilt_(bypassIPList_);
}

void TListFiles::RebuildBlockedHosts() {
  blockedHostList_ = CleanBlockedHosts(controls_.memBlockedHosts.Lines());
  controls_.memBlockedHosts.SetLines(blockedHostList_);

  const auto path = DataPath(kBlockedFile);
  const std::string text = FileText(blockedHostList_);
  std::string old, error;
  const TReadResult read = ReadFileIfPresent(path, old, error, kListFileLimit);
  // Rewritten only when the cleaning changed something: a load must not
  // touch a file that is already clean, nor one it could not read.
  if (read == TReadResult::Failed ||
      (read == TReadResult::Read ? old == text : (read == TReadResult::Missing && text.empty()))) {
    return;
  }
  if (!WriteFileAtomically(path, text, error)) {
    comment_("Unable to write to " + path.string() + ": " + error);
  }
}

void TListFiles::cbAllowedConnectionsClick(TControl& /*sender*/) {
  controls_.memIncoming.SetEnabled(controls_.cbAllowedConnections.Checked());
  controls_.memBlockedHosts.SetEnabled(controls_.cbBlock.Checked());
  controls_.cbBlockTunnels.SetEnabled(controls_.cbBlock.Checked());
  controls_.memBypass.SetEnabled(controls_.cbBypass.Checked());
  changes_.SetChanged(true);
}

void TListFiles::memIncomingChange(TControl& /*sender*/) {
  changes_.SetChanged(true);
}

bool TListFiles::IsBlockedHost(std::string_view host) const {
  return InBlockedHostList(blockedHostList_, host);
}

}  // namespace vantrel
