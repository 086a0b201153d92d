#include "config/FileStamp.h"

#include <sys/stat.h>

#include <functional>
#include <string>

#include "files/FileIO.h"

namespace vantrel {

namespace {

bool StatTimes(const std::filesystem::path& path, off_t& size, long long& mtimeNs) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  size = info.st_size;
  mtimeNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  return true;
}

}  // namespace

TFileStamp TFileStamp::Of(const std::filesystem::path& path, bool present, std::string_view data) {
  TFileStamp stamp;
  stamp.known_ = true;
  stamp.present_ = present;
  if (!present) return stamp;
  // The times are read after the bytes: a write in between shows as a hash
  // that differs from the file's, so it still counts as a change.
  if (!StatTimes(path, stamp.size_, stamp.mtimeNs_)) stamp.known_ = false;
  stamp.hash_ = std::hash<std::string_view>{}(data);
  return stamp;
}

bool TFileStamp::ChangedOnDisk(const std::filesystem::path& path) const {
  if (!known_) return true;
  std::string data, error;
  const TReadResult read = ReadFileIfPresent(path, data, error, kListFileLimit);
  // The write that follows reports that one with its own reason.
  if (read == TReadResult::Failed) return false;
  if (read == TReadResult::Missing) return present_;
  if (!present_) return true;
  off_t size = 0;
  long long mtimeNs = 0;
  if (!StatTimes(path, size, mtimeNs)) return true;
  return size != size_ || mtimeNs != mtimeNs_ || std::hash<std::string_view>{}(data) != hash_;
}

}  // namespace vantrel
