#include "config/DataFolder.h"

#include <optional>
#include <system_error>

namespace vantrel {

namespace {

std::optional<std::filesystem::path>& Chosen() {
  static std::optional<std::filesystem::path> chosen;
  return chosen;
}

std::filesystem::path ExecutableFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path();
  return exe.parent_path();
}

}  // namespace

std::filesystem::path DataFolder() {
  if (!Chosen()) Chosen() = ExecutableFolder();
  return *Chosen();
}

void SetDataFolder(const std::filesystem::path& folder) {
  Chosen() = std::filesystem::absolute(folder);
}

std::filesystem::path DataPath(const std::string& name) {
  return DataFolder() / name;
}

}  // namespace vantrel
