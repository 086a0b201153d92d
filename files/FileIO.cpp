#include "files/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

namespace vantrel {

namespace fs = std::filesystem;

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The file a write to `path` must replace: links are followed (a bounded
// number of times, as the system does) so that the link itself survives.
fs::path WriteTarget(fs::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) break;
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

// The process's umask, without changing it: other threads may create files.
mode_t CurrentUmask() {
  std::string status, error;
  if (ReadFileIfPresent("/proc/self/status", status, error) == TReadResult::Read) {
    const size_t at = status.find("\nUmask:");
    if (at != std::string::npos) {
      mode_t mask = 0;
      for (size_t i = status.find_first_of("01234567", at + 7);
           i < status.size() && status[i] >= '0' && status[i] <= '7'; ++i) {
        mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(status[i] - '0'));
      }
      return mask & 0777;
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

mode_t ModeToKeep(const fs::path& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
  return 0666 & ~CurrentUmask();
}

}  // namespace

bool ReadWholeFile(const fs::path& path, std::string& data, std::string& error, size_t limit) {
  switch (ReadFileIfPresent(path, data, error, limit)) {
    case TReadResult::Read: return true;
    case TReadResult::Missing: error = std::strerror(ENOENT); return false;
    case TReadResult::Failed: break;
  }
  return false;
}

std::string ReadFailureText(const fs::path& path, const std::string& error) {
  if (error == kFileTooLarge) return path.string() + ": " + kFileTooLarge;
  return "Cannot read " + path.string() + ": " + error;
}

TReadResult ReadFileIfPresent(const fs::path& path, std::string& data, std::string& error,
                              size_t limit) {
  data.clear();
  error.clear();
  // Non-blocking open: a FIFO in the file's place must not hang start-up.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return TReadResult::Missing;
    error = std::strerror(errno);
    return TReadResult::Failed;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    error = std::strerror(errno);
    return TReadResult::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    return TReadResult::Failed;
  }
  auto tooLarge = [&] {
    std::string().swap(data);
    error = kFileTooLarge;
    return TReadResult::Failed;
  };
  // Before any memory is taken: a sparse file may claim gigabytes.
  if (static_cast<uint64_t>(info.st_size) > limit) return tooLarge();
  // The size is a hint: the file may grow or shrink while we read.
  data.resize(static_cast<size_t>(info.st_size) + 1);
  size_t filled = 0;
  for (;;) {
    if (filled > limit) return tooLarge();
    if (filled == data.size()) data.resize(std::min(data.size() * 2, limit + 1));
    const ssize_t n = ::read(fd.Get(), data.data() + filled, data.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      data.resize(filled);
      return TReadResult::Failed;
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  data.resize(filled);
  return TReadResult::Read;
}

bool WriteFileAtomically(const fs::path& path, std::string_view data, std::string& error,
                         mode_t mode) {
  const fs::path target = WriteTarget(path);
  if (mode == kKeepMode) mode = ModeToKeep(target);
  std::string temporary = target.string() + ".XXXXXX";
  FileDescriptor fd(::mkstemp(temporary.data()));
  if (fd.Get() < 0) {
    error = std::strerror(errno);
    return false;
  }
  auto fail = [&](int code) {
    error = std::strerror(code);
    ::unlink(temporary.c_str());
    return false;
  };
  // Before any byte is written: a password never sits in a readable file.
  if (::fchmod(fd.Get(), mode) != 0) return fail(errno);
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd.Get(), data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd.Get()) != 0) return fail(errno);
  if (::close(fd.Release()) != 0) return fail(errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(errno);
  // The rename itself must reach the disk too, or a crash may bring the
  // old file back after the program said it saved.
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
  return true;
}

}  // namespace vantrel
