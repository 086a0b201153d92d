#include "app/DesktopProxySettings.h"

#include <filesystem>
#include <system_error>

#include "files/DataFolder.h"
#include "files/FileIO.h"
#include "hosts/Addresses.h"

namespace vantrel {

namespace {

const char* const kKdeFile = "kioslaverc";
const char* const kKdeGroup = "Proxy Settings";

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string Failure(const std::vector<std::string>& argv, const TCommandResult& result) {
  std::string command;
  for (const std::string& arg : argv) command += (command.empty() ? "" : " ") + arg;
  const std::string why = Trimmed(result.error);
  return command + " failed" + (why.empty() ? std::string() : ": " + why);
}

const char* KindName(TDesktopKind kind) {
  return kind == TDesktopKind::Kde ? "kde" : "gnome";
}

}  // namespace

TDesktopKind DesktopKindOf(const std::string& currentDesktop) {
  size_t start = 0;
  while (start <= currentDesktop.size()) {
    const size_t end = std::min(currentDesktop.find(':', start), currentDesktop.size());
    const std::string name = currentDesktop.substr(start, end - start);
    if (name == "GNOME" || name == "GNOME-Classic" || name == "Unity") return TDesktopKind::Gnome;
    if (name == "KDE") return TDesktopKind::Kde;
    start = end + 1;
  }
  return TDesktopKind::None;
}

std::vector<std::string> RangeToCidr(uint32_t first, uint32_t last) {
  std::vector<std::string> blocks;
  uint64_t at = first;
  while (at <= last) {
    // The largest block that starts at 'at' and ends by 'last'.
    int bits = 0;
    while (bits < 32 && (at & ((uint64_t{1} << (bits + 1)) - 1)) == 0 &&
           at + (uint64_t{1} << (bits + 1)) - 1 <= last) {
      ++bits;
    }
    const auto address = static_cast<uint32_t>(at);
    blocks.push_back(std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) +
                     "." + std::to_string((address >> 8) & 255) + "." +
                     std::to_string(address & 255) + "/" + std::to_string(32 - bits));
    at += uint64_t{1} << bits;
  }
  return blocks;
}

TDesktopProxySettings::TDesktopProxySettings(TDesktopKind kind, TCommandRunner run,
                                             TSources sources, TUserInterface& ui)
    : kind_(kind), run_(std::move(run)), sources_(std::move(sources)), ui_(ui) {
  btnUseForDesktop.OnClick = [this](TControl& sender) { btnUseForDesktopClick(sender); };
}

bool TDesktopProxySettings::InUse() const {
  std::error_code error;
  return std::filesystem::exists(DataPath(kStateFile), error);
}

void TDesktopProxySettings::Refresh() {
  const bool inUse = InUse();
  btnUseForDesktop.SetVisible(kind_ != TDesktopKind::None || inUse);
  btnUseForDesktop.SetCaption(inUse ? "Stop using Vantrel for this desktop"
                                    : "Use Vantrel for this desktop");
}

void TDesktopProxySettings::btnUseForDesktopClick(TControl&) {
  std::string error;
  const bool done = InUse() ? StopUsing(error) : Use(error);
  Refresh();
  if (!done || !error.empty()) ui_.ShowError(error);
}

std::string TDesktopProxySettings::Tool(const char* base) const {
  const std::string six = std::string(base) + "6";
  return commandExists(six) ? six : std::string(base) + "5";
}

bool TDesktopProxySettings::ToolsThere(std::string& error) const {
  if (kind_ == TDesktopKind::Gnome) {
    if (commandExists("gsettings")) return true;
    error = "The desktop's settings cannot be changed: gsettings was not found (it comes with "
            "the package libglib2.0-bin).";
    return false;
  }
  if (kind_ == TDesktopKind::Kde) {
    if (commandExists(Tool("kwriteconfig")) && commandExists(Tool("kreadconfig"))) return true;
    error = "The desktop's settings cannot be changed: kwriteconfig5 or kwriteconfig6 and "
            "kreadconfig5 or kreadconfig6 were not found.";
    return false;
  }
  error = "This desktop is neither GNOME nor KDE Plasma; its proxy settings are not known here.";
  return false;
}

std::vector<TDesktopProxySettings::TSetting> TDesktopProxySettings::Wanted() const {
  const std::string port = std::to_string(sources_.port ? sources_.port() : 1080);
  std::vector<std::string> around = {"localhost", "127.0.0.0/8", "::1"};
  for (const std::string& range : sources_.bypassRanges ? sources_.bypassRanges()
                                                        : std::vector<std::string>{}) {
    const size_t dash = range.find('-');
    uint32_t first = 0;
    uint32_t last = 0;
    if (dash == std::string::npos || !ParseAddress(range.substr(0, dash), first) ||
        !ParseAddress(range.substr(dash + 1), last) || first > last) {
      continue;
    }
    for (std::string& block : RangeToCidr(first, last)) around.push_back(std::move(block));
  }
  // The switch goes last, so the desktop changes over only once all is set.
  if (kind_ == TDesktopKind::Kde) {
    std::string noProxy;
    for (const std::string& item : around) noProxy += (noProxy.empty() ? "" : ",") + item;
    return {{"httpProxy", "http://127.0.0.1 " + port},
            {"httpsProxy", "http://127.0.0.1 " + port},
            {"NoProxyFor", noProxy},
            {"ProxyType", "1"}};
  }
  std::string ignore;
  for (const std::string& item : around) ignore += (ignore.empty() ? "'" : ", '") + item + "'";
  return {{"org.gnome.system.proxy.http host", "'127.0.0.1'"},
          {"org.gnome.system.proxy.http port", port},
          {"org.gnome.system.proxy.https host", "'127.0.0.1'"},
          {"org.gnome.system.proxy.https port", port},
          {"org.gnome.system.proxy ignore-hosts", "[" + ignore + "]"},
          {"org.gnome.system.proxy mode", "'manual'"}};
}

bool TDesktopProxySettings::Read(const std::string& target, std::string& value,
                                 std::string& error) const {
  std::vector<std::string> argv;
  if (kind_ == TDesktopKind::Kde) {
    argv = {Tool("kreadconfig"), "--file", kKdeFile, "--group", kKdeGroup, "--key", target};
  } else {
    const size_t space = target.find(' ');
    argv = {"gsettings", "get", target.substr(0, space), target.substr(space + 1)};
  }
  const TCommandResult result = run_(argv);
  if (!result.Ok()) {
    error = Failure(argv, result);
    return false;
  }
  value = Trimmed(result.output);
  return true;
}

bool TDesktopProxySettings::Write(const TSetting& setting, std::string& error) const {
  std::vector<std::string> argv;
  if (kind_ == TDesktopKind::Kde) {
    argv = {Tool("kwriteconfig"), "--file", kKdeFile, "--group", kKdeGroup, "--key",
            setting.target};
    // A key that was not there before goes again.
    if (setting.value.empty()) {
      argv.push_back("--delete");
    } else {
      argv.push_back(setting.value);
    }
  } else {
    const size_t space = setting.target.find(' ');
    argv = {"gsettings", "set", setting.target.substr(0, space),
            setting.target.substr(space + 1), setting.value};
  }
  const TCommandResult result = run_(argv);
  if (result.Ok()) return true;
  error = Failure(argv, result);
  return false;
}

// KDE's programs read kioslaverc again when told to.
bool TDesktopProxySettings::Tell(std::string& error) const {
  if (kind_ != TDesktopKind::Kde) return true;
  const std::vector<std::string> argv = {"dbus-send", "--type=signal", "/KIO/Scheduler",
                                         "org.kde.KIO.Scheduler.reparseSlaveConfiguration",
                                         "string:"};
  const TCommandResult result = run_(argv);
  if (result.Ok()) return true;
  error = "The settings are written, but running programs were not told: " +
          Failure(argv, result);
  return false;
}

bool TDesktopProxySettings::Use(std::string& error) {
  if (!ToolsThere(error)) return false;
  const std::vector<TSetting> wanted = Wanted();
  std::vector<TSetting> earlier;
  for (const TSetting& setting : wanted) {
    std::string value;
    if (!Read(setting.target, value, error)) return false;
    earlier.push_back({setting.target, value});
  }
  // Kept before anything changes, so the values can go back whatever
  // happens next.
  std::string state = std::string("desktop=") + KindName(kind_) + "\n";
  for (const TSetting& setting : earlier) state += setting.target + "=" + setting.value + "\n";
  std::string writeError;
  if (!WriteFileAtomically(DataPath(kStateFile), state, writeError)) {
    error = "Unable to write to " + DataPath(kStateFile).string() + ": " + writeError;
    return false;
  }
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (Write(wanted[i], error)) continue;
    // Back to where the desktop was; the first failure is the one to tell.
    std::string ignored;
    for (size_t j = i; j-- > 0;) Write(earlier[j], ignored);
    std::error_code removeError;
    std::filesystem::remove(DataPath(kStateFile), removeError);
    return false;
  }
  Tell(error);
  return true;
}

bool TDesktopProxySettings::StopUsing(std::string& error) {
  std::string state;
  std::string readError;
  if (!ReadWholeFile(DataPath(kStateFile), state, readError)) {
    error = "Cannot read " + DataPath(kStateFile).string() + ": " + readError;
    return false;
  }
  std::vector<TSetting> earlier;
  size_t start = 0;
  while (start < state.size()) {
    const size_t end = std::min(state.find('\n', start), state.size());
    const std::string line = state.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (name == "desktop") {
      kind_ = value == "kde" ? TDesktopKind::Kde : TDesktopKind::Gnome;
    } else {
      earlier.push_back({name, value});
    }
  }
  if (!ToolsThere(error)) return false;
  // The switch first: the desktop leaves the proxy before its address goes.
  for (size_t i = earlier.size(); i-- > 0;) {
    if (!Write(earlier[i], error)) return false;
  }
  std::error_code removeError;
  std::filesystem::remove(DataPath(kStateFile), removeError);
  Tell(error);
  return true;
}

}  // namespace vantrel
