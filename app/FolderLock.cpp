#include "app/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace vantrel {

namespace {

// The first line of the lock file as a process id; 0 when it is none.
pid_t ReadPid(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  long pid = 0;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    pid = pid * 10 + (text[i] - '0');
    if (pid > 0x7FFFFFFF) return 0;
  }
  return static_cast<pid_t>(pid);
}

}  // namespace

TFolderLock::TFolderLock(const std::filesystem::path& folder) {
  std::error_code error;
  folder_ = std::filesystem::weakly_canonical(folder, error);
  if (error) folder_ = folder;
  path_ = folder_ / kFileName;
}

TFolderLock::~TFolderLock() {
  Release();
}

bool TFolderLock::Acquire() {
  if (fd_ >= 0) return true;
  holderPid_ = 0;
  error_.clear();
  // A holder that ends removes the file while it still holds the lock, so
  // the file we locked may be gone: then try again on the new one.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      error_ = path_.string() + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno;
      if (code == EWOULDBLOCK) {
        holderPid_ = ReadPid(fd);
      } else {
        error_ = path_.string() + ": " + std::strerror(code);
      }
      ::close(fd);
      return false;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(path_.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string text = std::to_string(::getpid()) + "\nvantrel\n" + host + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
      // The lock holds without its text; only the message would lack the id.
    }
    fd_ = fd;
    return true;
  }
  error_ = path_.string() + ": replaced while being locked";
  return false;
}

void TFolderLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, so nobody locks a file about to vanish.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

std::string TFolderLock::InUseMessage() const {
  return "Another Vantrel is using " + folder_.string() + " (pid " + std::to_string(holderPid_) +
         ")";
}

}  // namespace vantrel
