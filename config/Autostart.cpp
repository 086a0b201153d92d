#include "config/Autostart.h"

#include <cstdlib>
#include <system_error>

#include "files/DataFolder.h"
#include "files/FileIO.h"

namespace vantrel {

namespace fs = std::filesystem;

namespace {

// One argument of an Exec line: quoted when it holds anything but plain
// characters, with the characters the desktop entry format reserves inside
// quotes escaped; '%' introduces field codes and is doubled.
std::string ExecArgument(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '.' || c == '-' || c == '_' || c == '+' || c == ',' ||
                    c == ':' || c == '@';
    if (!ok) plain = false;
  }
  if (plain) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  // A backslash in a string value is itself escaped in the file.
  std::string escaped;
  for (char c : quoted) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

fs::path RunningProgram() {
  std::error_code error;
  fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("vantrel") : program;
}

}  // namespace

TAutostart::TAutostart(TCheckBox& cbAutostart, TUserInterface& ui)
    : cbAutostart_(cbAutostart),
      ui_(ui),
      file_(DefaultFile(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))) {}

fs::path TAutostart::DefaultFile(const char* xdgConfigHome, const char* home) {
  fs::path config;
  if (xdgConfigHome && fs::path(xdgConfigHome).is_absolute()) {
    config = xdgConfigHome;
  } else {
    config = fs::path(home && *home ? home : "/") / ".config";
  }
  return config / "autostart" / "vantrel.desktop";
}

std::string TAutostart::DesktopEntry(const std::string& exec) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vantrel\n"
         "GenericName=HTTP Proxy\n"
         "Comment=HTTP proxy for this computer or a small LAN\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=vantrel\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::string TAutostart::ExecLine(const fs::path& program, const fs::path& dataFolder,
                                 const fs::path& defaultFolder) {
  // The installed program with its usual folder: the package's own entry.
  if (program == "/usr/bin/vantrel" && dataFolder == defaultFolder) return "vantrel";
  // Control characters cannot stand in a desktop entry's value.
  auto clean = [](std::string text) {
    for (char& c : text) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
  };
  return ExecArgument(clean(program.string())) + " --data-dir " +
         ExecArgument(clean(dataFolder.string()));
}

void TAutostart::Refresh() {
  std::error_code error;
  refreshing_ = true;
  cbAutostart_.SetChecked(fs::exists(file_, error));
  refreshing_ = false;
}

bool TAutostart::Apply(bool on, std::string& error) const {
  std::error_code code;
  if (!on) {
    fs::remove(file_, code);
    if (code) error = code.message();
    return !code;
  }
  fs::create_directories(file_.parent_path(), code);
  if (code) {
    error = code.message();
    return false;
  }
  const fs::path program = RunningProgram();
  const fs::path defaultFolder =
      DefaultDataFolder(program.parent_path(), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  return WriteFileAtomically(file_, DesktopEntry(ExecLine(program, DataFolder(), defaultFolder)),
                             error, 0644);
}

void TAutostart::cbAutostartClick(TControl& /*sender*/) {
  if (refreshing_) return;
  std::string error;
  if (Apply(cbAutostart_.Checked(), error)) return;
  ui_.ShowError("Unable to " + std::string(cbAutostart_.Checked() ? "write " : "remove ") +
                file_.string() + ": " + error);
  Refresh();
}

}  // namespace vantrel
