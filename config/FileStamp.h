#pragma once
// What a load saw of a file (there or not, size, modification time and a
// hash of its bytes), so that a save can tell whether someone else changed
// the file since: a save must never overwrite the user's own edits unasked.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace vantrel {

class TFileStamp {
 public:
  // Unknown: a file that could not be read counts as changed on disk.
  TFileStamp() = default;
  // The file as just read (data) or found missing (present false).
  static TFileStamp Of(const std::filesystem::path& path, bool present, std::string_view data);

  // True when the file on disk differs from what was stamped, or was never
  // stamped. A file that cannot be read now is left to the write to report.
  bool ChangedOnDisk(const std::filesystem::path& path) const;

 private:
  bool known_ = false;
  bool present_ = false;
  off_t size_ = 0;
  long long mtimeNs_ = 0;
  size_t hash_ = 0;
};

}  // namespace vantrel
