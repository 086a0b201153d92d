#include "routing/DataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "config/DataFolder.h"

namespace vantrel {

namespace fs = std::filesystem;

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

bool IsRegular(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

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

}  // namespace

std::optional<fs::path> FindDataFile(const std::string& name) {
  const fs::path exact = DataPath(name);
  if (IsRegular(exact)) return exact;
  std::optional<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator it(DataFolder(), error), end; !error && it != end;
       it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (candidate == name || !SameIgnoringCase(candidate, name) || !IsRegular(it->path())) continue;
    if (found) return std::nullopt;  // two spellings: neither is the one
    found = it->path();
  }
  return found;
}

bool ReadWholeFile(const fs::path& path, std::string& data, std::string& error) {
  data.clear();
  // Non-blocking open: a FIFO in the file's place must not hang start-up.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    return false;
  }
  // The size is a hint: the file may grow or shrink while we read.
  data.resize(static_cast<size_t>(info.st_size) + 1);
  size_t filled = 0;
  for (;;) {
    if (filled == data.size()) data.resize(data.size() * 2);
    const ssize_t n = ::read(fd.Get(), data.data() + filled, data.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      data.resize(filled);
      return false;
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  data.resize(filled);
  return true;
}

bool WriteFileAtomically(const fs::path& path, std::string_view data, std::string& error) {
  std::string temporary = path.string() + ".XXXXXX";
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
  if (::fchmod(fd.Get(), 0644) != 0) return fail(errno);
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
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace vantrel
