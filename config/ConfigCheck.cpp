#include <cctype>
#include <string_view>

#include "config/BlockedHosts.h"
#include "config/ConfigurationFile.h"
#include "files/DataFolder.h"
#include "files/FileIO.h"
#include "config/ListFiles.h"
#include "config/TimeoutSettings.h"
#include "hosts/Addresses.h"

namespace vantrel {

namespace {

constexpr const char* kIntegerConfigKeys[] = {
    "ProxyPort",          "IntConProxy",        "IntConSSLProxy",
    "IntConOTHERProxy",   "LocalConProxy",      "LocalConSSLProxy",
    "LocalConOTHERProxy", "StartAutomatically", "StartMinimized",
    "EnableLogging",      "DebugMode",          "WriteLog",
    "DetailedLog",        "ShowLocalHosts",     "ShowInternationalHosts",
    "AllowedConnections", "BlockHosts",         "BypassIPs",
    "UnknownHosts"};

struct TGroup {
  const char* section;
  const char* endKey;  // the key whose default ends the list
  std::vector<const char*> keys;
  std::vector<const char*> integerKeys;
};

const TGroup kGroups[] = {
    {"PROXY",
     "ProxyName",
     {"ProxyID", "ProxyName", "ProxyAddress", "ProxyPort", "AuthenticationRequired",
      "ProxyUserName", "ProxyUserPassword"},
     {"ProxyID", "ProxyPort", "AuthenticationRequired"}},
    {"Tunnel",
     "TunnelLocalPort",
     {"TunnelID", "TunnelName", "TunnelLocalPort", "TunnelRemoteHost", "TunnelRemotePort",
      "TunnelEnabled"},
     {"TunnelID", "TunnelLocalPort", "TunnelRemotePort", "TunnelEnabled"}},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The group number of a numbered key ("ProxyName12" -> 12), 0 when the key
// is none of the group's.
int GroupNumber(const TGroup& group, std::string_view key) {
  for (const char* name : group.keys) {
    const std::string_view prefix(name);
    if (key.size() <= prefix.size() || !SameName(key.substr(0, prefix.size()), prefix)) continue;
    const std::string_view digits = key.substr(prefix.size());
    if (digits.size() > 9 || digits.front() == '0') continue;
    int n = 0;
    bool number = true;
    for (char c : digits) {
      number = number && c >= '0' && c <= '9';
      n = n * 10 + (c - '0');
    }
    if (number) return n;
  }
  return 0;
}

void CheckIni(std::vector<std::string>& out) {
  const auto path = DataPath(TConfigurationFile::kFileName).string();
  std::string data, error;
  const TReadResult read = ReadFileIfPresent(path, data, error);
  if (read == TReadResult::Missing) return;
  if (read == TReadResult::Failed) {
    out.push_back(path + (error == kFileTooLarge ? ": " : ": cannot be read: ") + error);
    return;
  }
  const TIniFile ini(data);
  for (const TIniProblem& problem : ini.Problems()) {
    out.push_back(path + ":" + std::to_string(problem.line) + ": " + problem.reason);
  }
  auto notNumber = [&](const char* section, const std::string& key) {
    const auto value = ini.Find(section, key);
    if (value && !TIniFile::ParseInteger(*value)) {
      out.push_back(path + ":" + std::to_string(ini.LineOf(section, key)) + ": " + key +
                    " is not a number; the default is used");
    }
  };
  for (const char* key : kIntegerConfigKeys) notNumber("CONFIG", key);
  for (const TTimeoutKey& entry : kTimeoutKeys) {
    const auto value = ini.Find("CONFIG", entry.key);
    if (value && !ParseTimeout(*value)) {
      out.push_back(path + ":" + std::to_string(ini.LineOf("CONFIG", entry.key)) + ": " +
                    entry.key + " is not a whole number from 0 to " +
                    std::to_string(engine::TSessionTimeouts::kMaxSeconds) +
                    "; the default is used");
    }
  }
  for (const TGroup& group : kGroups) {
    // The loader stops at the first group whose end key reads as its default.
    int end = 1;
    for (;; ++end) {
      const std::string key = group.endKey + std::to_string(end);
      const bool ends = std::string_view(group.endKey) == "ProxyName"
                            ? ini.ReadString(group.section, key, "").empty()
                            : ini.ReadInteger(group.section, key, 0) == 0;
      if (ends) break;
      for (const char* name : group.integerKeys)
        notNumber(group.section, name + std::to_string(end));
    }
    for (const auto& [key, line] : ini.Keys(group.section)) {
      if (GroupNumber(group, key) > end) {
        out.push_back(path + ":" + std::to_string(line) + ": ignored: " + key +
                      " stands behind the end of the list (group " + std::to_string(end) +
                      " has no " + group.endKey + ")");
      }
    }
  }
}

// Lines of a list file, or nothing with a report when it cannot be read.
bool ReadList(const char* name, std::string& path, std::vector<std::string>& lines,
              std::vector<std::string>& out) {
  path = DataPath(name).string();
  std::string data, error;
  const TReadResult read = ReadFileIfPresent(path, data, error, kListFileLimit);
  if (read == TReadResult::Failed) {
    out.push_back(path + (error == kFileTooLarge ? ": " : ": cannot be read: ") + error);
  }
  if (read != TReadResult::Read) return false;
  lines = TListFiles::FileLines(data);
  return true;
}

void CheckLists(std::vector<std::string>& out) {
  for (const char* name : {TListFiles::kAllowedFile, TListFiles::kBypassFile}) {
    std::string path;
    std::vector<std::string> lines;
    if (!ReadList(name, path, lines, out)) continue;
    std::vector<std::string> cleaned = lines;
    RebuildRangeList(cleaned);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (cleaned[i].empty() && lines[i].find_first_not_of(" \t\r\v\f") != std::string::npos) {
        out.push_back(path + ":" + std::to_string(i + 1) +
                      ": not an address or an address range; blanked");
      }
    }
  }
  std::string path;
  std::vector<std::string> lines;
  if (ReadList(TListFiles::kBlockedFile, path, lines, out)) {
    std::vector<size_t> ignored;
    CleanBlockedHosts(lines, &ignored);
    for (size_t i : ignored) {
      out.push_back(path + ":" + std::to_string(i + 1) + ": gives no host name; ignored");
    }
  }
}

}  // namespace

std::vector<std::string> CheckConfiguration() {
  std::vector<std::string> out;
  CheckIni(out);
  CheckLists(out);
  return out;
}

}  // namespace vantrel
