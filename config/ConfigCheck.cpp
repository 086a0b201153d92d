#include <cctype>
#include <filesystem>
#include <set>
#include <string_view>

#include "config/BlockedHosts.h"
#include "config/ConfigText.h"
#include "config/ConfigurationFile.h"
#include "files/DataFolder.h"
#include "files/FileIO.h"
#include "config/ListFiles.h"
#include "config/TimeoutSettings.h"
#include "hosts/Addresses.h"
#include "model/ProxyTables.h"

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

// A text key of a group and the table field that keeps at most its width.
struct TTextKey {
  const char* key;
  const char* field;
};

struct TGroup {
  const char* section;
  const char* endKey;  // the key whose default ends the list
  std::vector<const char*> keys;
  std::vector<const char*> integerKeys;
  std::vector<const char*> portKeys;
  const char* badPort;  // what a port outside 1-65535 does
  std::vector<TTextKey> textKeys;
  TRecordTable (*table)();
};

const TGroup kGroups[] = {
    {"PROXY",
     "ProxyName",
     {"ProxyID", "ProxyName", "ProxyAddress", "ProxyPort", "AuthenticationRequired",
      "ProxyUserName", "ProxyUserPassword"},
     {"ProxyID", "ProxyPort", "AuthenticationRequired"},
     {"ProxyPort"},
     "the next hop cannot be reached",
     {{"ProxyName", proxy_fields::ProxyName},
      {"ProxyAddress", proxy_fields::ProxyAddress},
      {"ProxyUserName", proxy_fields::ProxyUserName},
      {"ProxyUserPassword", proxy_fields::ProxyPassword}},
     CreateProxyTable},
    {"Tunnel",
     "TunnelLocalPort",
     {"TunnelID", "TunnelName", "TunnelLocalPort", "TunnelRemoteHost", "TunnelRemotePort",
      "TunnelEnabled"},
     {"TunnelID", "TunnelLocalPort", "TunnelRemotePort", "TunnelEnabled"},
     {"TunnelLocalPort", "TunnelRemotePort"},
     "the tunnel does not start",
     {{"TunnelName", tunnel_fields::TunnelName}, {"TunnelRemoteHost", tunnel_fields::RemoteHost}},
     CreateTunnelTable},
};

constexpr const char* kSelectorKeys[] = {"IntCon",   "IntConSSL",   "IntConOTHER",
                                         "LocalCon", "LocalConSSL", "LocalConOTHER"};

size_t FieldWidth(const TGroup& group, const char* field) {
  const TRecordTable table = group.table();
  for (const TFieldDef& def : table.Fields()) {
    if (def.name == field) return def.size;
  }
  return 0;
}

bool IsPort(int32_t value) {
  return value >= 1 && value <= 65535;
}

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

// The group number of a numbered key ("ProxyName12" -> 12); 0 when the key
// is none of the group's, -1 when its number has a leading zero.
int GroupNumber(const TGroup& group, std::string_view key) {
  for (const char* name : group.keys) {
    const std::string_view prefix(name);
    if (key.size() <= prefix.size() || !SameName(key.substr(0, prefix.size()), prefix)) continue;
    const std::string_view digits = key.substr(prefix.size());
    if (digits.size() > 9) continue;
    int n = 0;
    bool number = true;
    for (char c : digits) {
      number = number && c >= '0' && c <= '9';
      n = n * 10 + (c - '0');
    }
    if (!number) continue;
    return digits.front() == '0' ? -1 : n;
  }
  return 0;
}

void CheckIni(std::vector<std::string>& out) {
  const auto path = DataPath(TConfigurationFile::kFileName).string();
  std::string data, error;
  const TReadResult read = ReadConfigText(path, data, error);
  if (read == TReadResult::Missing) return;
  if (read == TReadResult::Failed) {
    out.push_back(path + (error == kFileTooLarge ? ": " : ": cannot be read: ") + error);
    return;
  }
  const TIniFile ini(data);
  auto report = [&](size_t line, const std::string& reason) {
    // Appended piece by piece: g++ 12 at -O3 warns falsely about the sums.
    std::string text = path;
    if (line) {
      text += ':';
      text += std::to_string(line);
    }
    text += ": ";
    text += reason;
    out.push_back(std::move(text));
  };
  for (const TIniProblem& problem : ini.Problems()) report(problem.line, problem.reason);
  auto notNumber = [&](const char* section, const std::string& key) {
    const auto value = ini.Find(section, key);
    if (value && !TIniFile::ParseInteger(*value)) {
      report(ini.LineOf(section, key), key + " is not a number; the default is used");
    }
  };
  for (const char* key : kIntegerConfigKeys) notNumber("CONFIG", key);
  for (const TTimeoutKey& entry : kTimeoutKeys) {
    const auto value = ini.Find("CONFIG", entry.key);
    if (value && !ParseTimeout(*value)) {
      report(ini.LineOf("CONFIG", entry.key),
             std::string(entry.key) + " is not a whole number from 0 to " +
                 std::to_string(engine::TSessionTimeouts::kMaxSeconds) + "; the default is used");
    }
  }
  if (const auto port = ini.Find("CONFIG", "ProxyPort")) {
    const auto number = TIniFile::ParseInteger(*port);
    if (number && !IsPort(*number)) {
      report(ini.LineOf("CONFIG", "ProxyPort"),
             "ProxyPort " + *port + " is not a port from 1 to 65535; the proxy listens on 1080");
    }
  }
  if (const auto country = ini.Find("CONFIG", "LocalCountryCode")) {
    const bool letters = country->size() == 2 &&
                         std::isalpha(static_cast<unsigned char>((*country)[0])) &&
                         std::isalpha(static_cast<unsigned char>((*country)[1]));
    if (!letters) {
      report(ini.LineOf("CONFIG", "LocalCountryCode"),
             "LocalCountryCode \"" + *country +
                 "\" is not a two-letter country code; every host counts as international");
    }
  }
  std::set<int32_t> proxyIds;
  for (const TGroup& group : kGroups) {
    // The loader stops at the first group whose end key reads as its default.
    int end = 1;
    for (;; ++end) {
      const std::string key = group.endKey + std::to_string(end);
      const bool ends = std::string_view(group.endKey) == "ProxyName"
                            ? ini.ReadString(group.section, key, "").empty()
                            : ini.ReadInteger(group.section, key, 0) == 0;
      if (ends) break;
      const std::string n = std::to_string(end);
      for (const char* name : group.integerKeys) notNumber(group.section, name + n);
      for (const char* name : group.portKeys) {
        const auto value = ini.Find(group.section, name + n);
        const auto number = value ? TIniFile::ParseInteger(*value) : std::nullopt;
        if (number && !IsPort(*number)) {
          report(ini.LineOf(group.section, name + n),
                 name + n + " " + *value + " is not a port from 1 to 65535; " + group.badPort);
        }
      }
      for (const TTextKey& text : group.textKeys) {
        const auto value = ini.Find(group.section, text.key + n);
        const size_t width = FieldWidth(group, text.field);
        if (value && width && value->size() > width) {
          report(ini.LineOf(group.section, text.key + n),
                 text.key + n + " is longer than the " + std::to_string(width) +
                     " characters kept; the rest is cut off");
        }
      }
      if (std::string_view(group.section) == "PROXY") {
        proxyIds.insert(ini.ReadInteger(group.section, "ProxyID" + n, end));
      }
    }
    for (const auto& [key, line] : ini.Keys(group.section)) {
      const int number = GroupNumber(group, key);
      if (number < 0) {
        report(line,
               "ignored: " + key + " has a leading zero in its number; the next save erases it");
      } else if (number == 0) {
        report(line, "ignored: " + key + " is no key of [" + group.section +
                         "]; the next save erases it");
      } else if (number > end) {
        report(line, "ignored: " + key + " stands behind the end of the list (group " +
                         std::to_string(end) + " has no " + group.endKey + ")");
      } else if (number == end && !SameName(key, group.endKey + std::to_string(end))) {
        report(line, "ignored: " + key + " belongs to group " + std::to_string(end) + ", whose " +
                         group.endKey + " is missing or empty and ends the list");
      }
    }
  }
  for (const char* key : kSelectorKeys) {
    const auto value = ini.Find("CONFIG", key);
    if (!value || value->empty()) continue;
    const auto id = TIniFile::ParseInteger(*value);
    if (!id || !proxyIds.count(*id)) {
      report(ini.LineOf("CONFIG", key), std::string(key) + "=" + *value +
                                            " names no proxy (no ProxyID " + *value +
                                            "); the next hop is direct");
    }
  }
}

// Lines of a list file, or nothing with a report when it cannot be read.
bool ReadList(const char* name, std::string& path, std::vector<std::string>& lines,
              std::vector<std::string>& out) {
  path = DataPath(name).string();
  std::string data, error;
  const TReadResult read = ReadConfigText(path, data, error, kListFileLimit);
  if (read == TReadResult::Failed) {
    out.push_back(path + (error == kFileTooLarge ? ": " : ": cannot be read: ") + error);
  }
  if (read != TReadResult::Read) return false;
  if (CrOnlyLineEnds(data))
    out.push_back(path + ": the lines end with CR only; they are read as lines");
  lines = TListFiles::FileLines(data);
  return true;
}

void CheckLists(std::vector<std::string>& out) {
  for (const char* name : {TListFiles::kAllowedFile, TListFiles::kBypassFile}) {
    std::string path;
    std::vector<std::string> lines;
    if (!ReadList(name, path, lines, out)) continue;
    std::vector<std::string> cleaned = lines;
    const std::vector<std::string> ranges = RebuildRangeList(cleaned);
    size_t entry = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string at = path + ":" + std::to_string(i + 1);
      if (cleaned[i].empty()) {
        if (lines[i].find_first_not_of(" \t\r\v\f") != std::string::npos) {
          out.push_back(at + ": not an address or an address range; blanked");
        }
        continue;
      }
      // Entries are first-last in a fixed-width form: text order is address order.
      const std::string& range = ranges[entry++];
      const size_t dash = range.find('-');
      if (range.substr(0, dash) > range.substr(dash + 1)) {
        out.push_back(at + ": the range's first address is above its last; it matches no address");
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
  const std::filesystem::path folder = DataFolder();
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    out.push_back(folder.string() +
                  (std::filesystem::exists(folder, error)
                       ? ": the data folder is not a folder"
                       : ": the data folder does not exist; the program would start with the "
                         "defaults"));
    return out;
  }
  CheckIni(out);
  CheckLists(out);
  return out;
}

}  // namespace vantrel
