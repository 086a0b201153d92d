#include "files/DataFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <system_error>

namespace vantrel {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path>& Chosen() {
  static std::optional<fs::path> chosen;
  return chosen;
}

fs::path ExecutableFolder() {
  std::error_code error;
  auto exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::current_path();
  return exe.parent_path();
}

bool UnderUsr(const fs::path& folder) {
  const fs::path normal = folder.lexically_normal();
  auto part = normal.begin();  // the root "/"
  return normal.is_absolute() && part != normal.end() && ++part != normal.end() && *part == "usr";
}

const char* HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  const passwd* entry = getpwuid(getuid());
  return entry ? entry->pw_dir : nullptr;
}

}  // namespace

fs::path DefaultDataFolder(const fs::path& exeFolder, const char* xdgConfigHome, const char* home) {
  if (!UnderUsr(exeFolder)) return exeFolder;
  if (xdgConfigHome && fs::path(xdgConfigHome).is_absolute()) {
    return fs::path(xdgConfigHome) / "vantrel";
  }
  return fs::path(home ? home : "/") / ".config" / "vantrel";
}

fs::path DataFolder() {
  if (!Chosen()) {
    Chosen() = DefaultDataFolder(ExecutableFolder(), std::getenv("XDG_CONFIG_HOME"), HomeFolder());
  }
  return *Chosen();
}

namespace {
bool given = false;
}  // namespace

void SetDataFolder(const fs::path& folder) {
  Chosen() = fs::absolute(folder);
  given = true;
}

bool DataFolderGiven() {
  return given;
}

fs::path DataPath(const std::string& name) {
  return DataFolder() / name;
}

}  // namespace vantrel
