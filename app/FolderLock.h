#pragma once
// One running program per data folder, desktop or headless: two would
// overwrite each other's saves and fight over the port. The lock is an
// flock on ".vantrel.lock" in the folder, which the system drops when the
// holder ends in any way, so a crash leaves nothing that blocks a new start.
// The file holds the holder's process id, program name and host, one a line.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace vantrel {

class TFolderLock {
 public:
  static constexpr const char* kFileName = ".vantrel.lock";

  explicit TFolderLock(const std::filesystem::path& folder);
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

  // True when this process holds the folder now (or already did). False
  // when another holds it (HolderPid names it) or the file cannot be made
  // (Error says why).
  bool Acquire();
  void Release();

  const std::filesystem::path& Path() const { return path_; }
  // The process id the lock file names; 0 when unknown.
  pid_t HolderPid() const { return holderPid_; }
  const std::string& Error() const { return error_; }
  // "Another Vantrel is using <folder> (pid N)".
  std::string InUseMessage() const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path path_;
  int fd_ = -1;
  pid_t holderPid_ = 0;
  std::string error_;
};

}  // namespace vantrel
