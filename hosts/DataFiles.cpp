#include "hosts/DataFiles.h"

#include <cctype>
#include <system_error>

#include "files/DataFolder.h"

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
