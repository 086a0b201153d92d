#include "config/ListFiles.h"

#include <sys/stat.h>

#include <cstring>
#include <utility>

#include "config/BlockedHosts.h"
#include "config/ConfigText.h"
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
  const char lineEnd = LineEnd(text);
  while (!text.empty()) {
    const size_t end = text.find(lineEnd);
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

namespace {

bool IsLink(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

size_t TListFiles::Index(const char* name) {
  for (size_t i = 0; i < kFileNames.size(); ++i) {
    if (std::strcmp(kFileNames[i], name) == 0) return i;
  }
  return kFileNames.size() - 1;
}

TMemo& TListFiles::MemoOf(size_t index) {
  TMemo* memos[] = {&controls_.memIncoming, &controls_.memBypass, &controls_.memBlockedHosts};
  return *memos[index];
}

TListFiles::TTexts TListFiles::Read(std::vector<std::string>& failures) const {
  TTexts texts;
  for (size_t i = 0; i < kFileNames.size(); ++i) {
    const auto path = DataPath(kFileNames[i]);
    std::string error;
    texts[i].read = ReadConfigText(path, texts[i].data, error, kListFileLimit);
    if (texts[i].read != TReadResult::Failed) continue;
    if (error == kFileTooLarge) {
      comment_(ReadFailureText(path, error));
      texts[i].read = TReadResult::Missing;
      texts[i].tooLarge = true;
    } else {
      failures.push_back(ReadFailureText(path, error));
    }
  }
  return texts;
}

void TListFiles::Apply(const TTexts& texts) {
  tooLarge_.clear();
  for (size_t i = 0; i < kFileNames.size(); ++i) {
    const TListText& text = texts[i];
    if (text.tooLarge) tooLarge_.insert(kFileNames[i]);
    if (text.read == TReadResult::Read) MemoOf(i).SetLines(FileLines(text.data));
    if (text.read == TReadResult::Missing) {
      MemoOf(i).SetLines(i == 2 ? std::vector<std::string>{} : DefaultAddressLines());
    }
    stamps_[i] =
        text.read == TReadResult::Failed
            ? TFileStamp()
            : TFileStamp::Of(DataPath(kFileNames[i]), text.read == TReadResult::Read, text.data);
    if (i == 1) RebuildAddressLists();
  }
  // An unreadable file must not be replaced by what little the memo holds.
  if (texts[2].read != TReadResult::Failed) RebuildBlockedHosts();
}

bool TListFiles::Load() {
  std::vector<std::string> failures;
  const TTexts texts = Read(failures);
  for (const std::string& failure : failures) comment_(failure);
  Apply(texts);
  return failures.empty();
}

bool TListFiles::Save(std::string& error) {
  for (const char* name : kFileNames) {
    if (!SaveFile(name, error)) return false;
  }
  return true;
}

bool TListFiles::SaveFile(const char* name, std::string& error) {
  const size_t index = Index(name);
  const auto path = DataPath(name);
  if (tooLarge_.count(name) != 0) return true;
  if (IsLink(path)) {
    comment_(path.string() + " is a symbolic link and is not written; edit the file it points to");
    return true;
  }
  const std::string text = FileText(MemoOf(index).Lines());
  std::string old, reason;
  // Unchanged content is not rewritten: its time and inode stay.
  if (ReadFileIfPresent(path, old, reason, kListFileLimit) != TReadResult::Read || old != text) {
    if (!WriteFileAtomically(path, text, reason, kKeepMode)) {
      error = "Unable to write to " + path.string() + ": " + reason;
      return false;
    }
  }
  stamps_[index] = TFileStamp::Of(path, true, text);
  return true;
}

bool TListFiles::ChangedOnDisk(const char* name) const {
  if (tooLarge_.count(name) != 0) return false;  // never written anyway
  return stamps_[Index(name)].ChangedOnDisk(DataPath(name));
}

void TListFiles::RebuildRangeList(TMemo& memo, std::vector<std::string>& list) {
  std::vector<std::string> lines = memo.Lines();
  list = vantrel::RebuildRangeList(lines);
  memo.SetLines(lines);
}

void TListFiles::RebuildAddressLists() {
  RebuildRangeList(controls_.memIncoming, allowedIPList_);
  RebuildRangeList(controls_.memBypass, bypassIPList_);
  ++bypassListVersion_;
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
  // touch a file that is already clean, nor one it could not read. A link
  // may lead to a HOSTS file of the system: it is cleaned in memory only.
  if (read == TReadResult::Failed ||
      (read == TReadResult::Read ? old == text : (read == TReadResult::Missing && text.empty()))) {
    return;
  }
  if (IsLink(path)) return;
  if (!WriteFileAtomically(path, text, error, kKeepMode)) {
    comment_("Unable to write to " + path.string() + ": " + error);
    return;
  }
  stamps_[Index(kBlockedFile)] = TFileStamp::Of(path, true, text);
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
