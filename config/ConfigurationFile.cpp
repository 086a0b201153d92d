#include "config/ConfigurationFile.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "config/BlockedHosts.h"
#include "config/ConfigText.h"
#include "config/TimeoutSettings.h"
#include "files/DataFolder.h"
#include "model/DecryptText.h"
#include "files/FileIO.h"
#include "model/ProxyTables.h"
#include "model/TextNumbers.h"
#include "hosts/Addresses.h"
#include "hosts/LocaleCountry.h"

namespace vantrel {

namespace {

constexpr const char* kProxy = "PROXY";
constexpr const char* kTunnel = "Tunnel";
constexpr const char* kConfig = "CONFIG";

std::string Key(const char* name, int n) {
  return name + std::to_string(n);
}

// The switches of CONFIG with their defaults, in the order they are loaded.
struct TSwitchKey {
  const char* key;
  TCheckBox TMainControls::*box;
  bool fallback;
};
constexpr TSwitchKey kLoadedSwitches[] = {
    {"StartAutomatically", &TMainControls::cbStartAutomatically, false},
    {"ShowLocalHosts", &TMainControls::cbShowLocalHosts, true},
    {"ShowInternationalHosts", &TMainControls::cbShowIntHosts, true},
    {"StartMinimized", &TMainControls::cbMinimize, false},
    {"EnableLogging", &TMainControls::cbLogging, false},
    {"DebugMode", &TMainControls::cbDebug, false},
    {"WriteLog", &TMainControls::cbWriteLog, false},
    {"DetailedLog", &TMainControls::cbDetailedLog, false},
    {"AllowedConnections", &TMainControls::cbAllowedConnections, true},
    {"BlockHosts", &TMainControls::cbBlock, false},
    {"BlockTunnels", &TMainControls::cbBlockTunnels, true},
    {"BypassIPs", &TMainControls::cbBypass, true},
    {"UnknownHosts", &TMainControls::cbUnknownHosts, false},
};
// The order in which they are written, after LocalCountryCode's place.
constexpr const char* kWrittenBeforeCountry[] = {"StartAutomatically", "StartMinimized"};
constexpr const char* kWrittenAfterCountry[] = {
    "EnableLogging",      "DebugMode",      "WriteLog",
    "DetailedLog",        "ShowLocalHosts", "ShowInternationalHosts",
    "AllowedConnections", "BlockHosts",     "BlockTunnels",
    "BypassIPs",          "UnknownHosts"};

constexpr const char* kSelectorKeys[] = {"IntCon",   "IntConSSL",   "IntConOTHER",
                                         "LocalCon", "LocalConSSL", "LocalConOTHER"};
constexpr const char* kNextHopSwitchKeys[] = {"IntConProxy",      "IntConSSLProxy",
                                              "IntConOTHERProxy", "LocalConProxy",
                                              "LocalConSSLProxy", "LocalConOTHERProxy"};

const TSwitchKey& SwitchKey(const char* key) {
  for (const TSwitchKey& entry : kLoadedSwitches) {
    if (std::string_view(entry.key) == key) return entry;
  }
  throw std::logic_error(std::string("no switch key ") + key);
}

const char* CauseText(TSaveCause cause) {
  switch (cause) {
    case TSaveCause::SaveChanges: return "Save Changes";
    case TSaveCause::Closing: return "on closing";
    case TSaveCause::SessionEnd: return "on exit";
  }
  return "";
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// The port field's number, 1080 when it is not one.
int32_t PortFromEdit(const std::string& text) {
  const auto number = ParseInt32(text);
  return number ? *number : 1080;
}

}  // namespace

TConfigurationFile::TConfigurationFile(TMainControls& controls, TRecordTable& mtblProxy,
                                       TRecordTable& mtblTunnels, TChangeTracker& changes,
                                       TNextHopRecords& nextHops, TCountryData& countries,
                                       TListFiles& lists, TUserInterface& ui, TCommentSink comment,
                                       std::function<void()> loggingClick)
    : controls_(controls),
      mtblProxy_(mtblProxy),
      mtblTunnels_(mtblTunnels),
      changes_(changes),
      nextHops_(nextHops),
      countries_(countries),
      lists_(lists),
      ui_(ui),
      comment_(std::move(comment)),
      loggingClick_(std::move(loggingClick)) {}

bool TConfigurationFile::LoadConfiguration() {
  const auto path = DataPath(kFileName);
  std::string data, error;
  std::vector<std::string> failures;
  const TReadResult read = ReadConfigText(path, data, error);
  if (read == TReadResult::Failed) failures.push_back(ReadFailureText(path, error));
  const TListFiles::TTexts lists = lists_.Read(failures);
  if (!failures.empty()) {
    for (const std::string& failure : failures) comment_(failure);
    ui_.ShowError(Joined(failures, "\n"));
    // Half a reload would run new switches with old lists, or defaults: what
    // runs stays as it was.
    if (loadedOnce_) return false;
    data.clear();
  }
  loadedOnce_ = true;
  // What the window shows from here on are defaults, until a load works.
  readProblem_ = read == TReadResult::Failed ? error : std::string();
  const TIniFile ini(data);
  for (const auto& [key, line] : ini.RefusedKeys()) {
    comment_(path.string() + ":" + std::to_string(line) + ": the value of " + key +
             " holds a CR; " + key + " is ignored");
  }
  changes_.ForgetRunOnly();
  LoadProxies(ini);
  LoadTunnels(ini);
  LoadSettings(ini, read == TReadResult::Missing);
  if (loggingClick_) loggingClick_();
  nextHops_.cbIntConClick(controls_.cbIntCon);
  if (loggingClick_) loggingClick_();
  lists_.Apply(lists);
  // Settings from a file that could not be read are not the user's: a save
  // must not take them for the file's.
  iniStamp_ = read == TReadResult::Failed ? TFileStamp()
                                          : TFileStamp::Of(path, read == TReadResult::Read, data);
  return failures.empty();
}

void TConfigurationFile::LoadProxies(const TIniFile& ini) {
  using namespace proxy_fields;
  mtblProxy_.DisableControls();
  mtblProxy_.EmptyTable();
  for (int n = 1; n < std::numeric_limits<int>::max(); ++n) {
    const std::string name = ini.ReadString(kProxy, Key("ProxyName", n), "");
    // Files rely on this: the first group without a name ends the list.
    if (name.empty()) break;
    mtblProxy_.Append();
    mtblProxy_.SetInteger(ProxyID, ini.ReadInteger(kProxy, Key("ProxyID", n), n));
    mtblProxy_.SetString(ProxyName, name);
    mtblProxy_.SetString(ProxyAddress, ini.ReadString(kProxy, Key("ProxyAddress", n), ""));
    mtblProxy_.SetInteger(ProxyPort, ini.ReadInteger(kProxy, Key("ProxyPort", n), 0));
    mtblProxy_.SetBoolean(NeedsAuthentication,
                          ini.ReadBool(kProxy, Key("AuthenticationRequired", n), false));
    mtblProxy_.SetString(ProxyUserName, ini.ReadString(kProxy, Key("ProxyUserName", n), ""));
    mtblProxy_.SetString(ProxyPassword,
                         DecryptText(ini.ReadString(kProxy, Key("ProxyUserPassword", n), "")));
    mtblProxy_.Post();
  }
  mtblProxy_.First();
  mtblProxy_.EnableControls();
}

void TConfigurationFile::LoadTunnels(const TIniFile& ini) {
  using namespace tunnel_fields;
  mtblTunnels_.DisableControls();
  mtblTunnels_.EmptyTable();
  for (int n = 1; n < std::numeric_limits<int>::max(); ++n) {
    const int32_t localPort = ini.ReadInteger(kTunnel, Key("TunnelLocalPort", n), 0);
    if (localPort == 0) break;
    mtblTunnels_.Append();
    mtblTunnels_.SetInteger(TunnelID, ini.ReadInteger(kTunnel, Key("TunnelID", n), n));
    mtblTunnels_.SetString(TunnelName, ini.ReadString(kTunnel, Key("TunnelName", n), ""));
    mtblTunnels_.SetInteger(LocalPortNo, localPort);
    mtblTunnels_.SetString(RemoteHost, ini.ReadString(kTunnel, Key("TunnelRemoteHost", n), ""));
    mtblTunnels_.SetInteger(RemotePortNo, ini.ReadInteger(kTunnel, Key("TunnelRemotePort", n), 0));
    mtblTunnels_.SetBoolean(Enabled, ini.ReadBool(kTunnel, Key("TunnelEnabled", n), false));
    mtblTunnels_.Post();
  }
  mtblTunnels_.First();
  mtblTunnels_.EnableControls();
}

void TConfigurationFile::LoadSettings(const TIniFile& ini, bool firstRun) {
  auto& c = controls_;
  filePort_ = ini.ReadInteger(kConfig, "ProxyPort", 1080);
  fileWriteLog_ = ini.ReadBool(kConfig, "WriteLog", false);
  c.edProxyPort.SetText(std::to_string(portOverride_ ? *portOverride_ : filePort_));
  auto selectors = c.NextHopSelectors();
  for (size_t i = 0; i < selectors.size(); ++i) {
    selectors[i]->SetValue(ini.ReadString(kConfig, kSelectorKeys[i], ""));
  }
  auto switches = c.NextHopSwitches();
  for (size_t i = 0; i < switches.size(); ++i) {
    switches[i]->SetChecked(ini.ReadBool(kConfig, kNextHopSwitchKeys[i], false));
  }
  // A first start assumes the country the user's locale names.
  const std::string country = firstRun ? LocaleCountryCode(TCountryData::kDefaultCountryCode)
                                       : std::string(TCountryData::kDefaultCountryCode);
  c.jvdbCountry.SetValue(ini.ReadString(kConfig, "LocalCountryCode", country));
  countries_.LoadCountryRanges(c.jvdbCountry.Value());
  for (const TSwitchKey& entry : kLoadedSwitches) {
    (c.*entry.box).SetChecked(ini.ReadBool(kConfig, entry.key, entry.fallback));
  }
  LoadTimeouts(ini, c);
}

void TConfigurationFile::WriteRecords(TIniFile& ini) const {
  // The sections are rewritten in place, so the user's comments in them
  // keep their lines.
  std::vector<std::pair<std::string, std::string>> keys;
  for (int row = 0; row < mtblProxy_.RecordCount(); ++row) {
    using namespace proxy_fields;
    const int n = row + 1;
    keys.emplace_back(Key("ProxyID", n), std::to_string(mtblProxy_.IntegerAt(row, ProxyID)));
    keys.emplace_back(Key("ProxyName", n), mtblProxy_.StringAt(row, ProxyName));
    keys.emplace_back(Key("ProxyAddress", n), mtblProxy_.StringAt(row, ProxyAddress));
    keys.emplace_back(Key("ProxyPort", n), std::to_string(mtblProxy_.IntegerAt(row, ProxyPort)));
    keys.emplace_back(Key("AuthenticationRequired", n),
                      mtblProxy_.BooleanAt(row, NeedsAuthentication) ? "1" : "0");
    keys.emplace_back(Key("ProxyUserName", n), mtblProxy_.StringAt(row, ProxyUserName));
    keys.emplace_back(Key("ProxyUserPassword", n),
                      DecryptText(mtblProxy_.StringAt(row, ProxyPassword)));
  }
  ini.ReplaceKeys(kProxy, keys);
  keys.clear();
  for (int row = 0; row < mtblTunnels_.RecordCount(); ++row) {
    using namespace tunnel_fields;
    const int n = row + 1;
    keys.emplace_back(Key("TunnelID", n), std::to_string(mtblTunnels_.IntegerAt(row, TunnelID)));
    keys.emplace_back(Key("TunnelName", n), mtblTunnels_.StringAt(row, TunnelName));
    keys.emplace_back(Key("TunnelLocalPort", n),
                      std::to_string(mtblTunnels_.IntegerAt(row, LocalPortNo)));
    keys.emplace_back(Key("TunnelRemoteHost", n), mtblTunnels_.StringAt(row, RemoteHost));
    keys.emplace_back(Key("TunnelRemotePort", n),
                      std::to_string(mtblTunnels_.IntegerAt(row, RemotePortNo)));
    keys.emplace_back(Key("TunnelEnabled", n), mtblTunnels_.BooleanAt(row, Enabled) ? "1" : "0");
  }
  ini.ReplaceKeys(kTunnel, keys);
}

void TConfigurationFile::WriteSettings(TIniFile& ini) const {
  auto& c = controls_;
  // The override is for this run only: the file keeps its own port unless
  // the field was changed to something else since.
  // A port that fell back to 1080 at a start is not the user's either.
  const bool overridden =
      (portOverride_ && c.edProxyPort.Text() == std::to_string(*portOverride_)) ||
      changes_.HoldsRunOnly(c.edProxyPort);
  ini.WriteInteger(kConfig, "ProxyPort",
                   overridden ? filePort_ : PortFromEdit(c.edProxyPort.Text()));
  auto selectors = c.NextHopSelectors();
  for (size_t i = 0; i < selectors.size(); ++i) {
    ini.WriteString(kConfig, kSelectorKeys[i], selectors[i]->Value());
  }
  auto switches = c.NextHopSwitches();
  for (size_t i = 0; i < switches.size(); ++i) {
    ini.WriteBool(kConfig, kNextHopSwitchKeys[i], switches[i]->Checked());
  }
  for (const char* key : kWrittenBeforeCountry) {
    ini.WriteBool(kConfig, key, (c.*SwitchKey(key).box).Checked());
  }
  ini.WriteString(kConfig, "LocalCountryCode", c.jvdbCountry.Value());
  for (const char* key : kWrittenAfterCountry) {
    const TCheckBox& box = c.*SwitchKey(key).box;
    // Off for this run after a failed log write; the user's choice stays.
    const bool runOnly = &box == &c.cbWriteLog && changes_.HoldsRunOnly(box);
    ini.WriteBool(kConfig, key, runOnly ? fileWriteLog_ : box.Checked());
  }
  WriteTimeouts(ini, c);
}

void TConfigurationFile::ReportWriteFailure(const std::string& message) {
  comment_(message);
  if (reportFailure) {
    reportFailure(message);
  } else {
    ui_.ShowError(message);
  }
}

bool TConfigurationFile::MayOverwrite(const std::string& name, TSaveCause cause) {
  if (cause == TSaveCause::SessionEnd) {
    comment_(name +
             " changed on disk since it was loaded; your edits were kept and this session's "
             "changes were not saved");
    return false;
  }
  return ui_.Confirm(name +
                     " was changed by another program. Overwrite it with the settings shown "
                     "here?") == TAnswer::Yes;
}

bool TConfigurationFile::SaveConfiguration(TSaveCause cause) {
  const auto path = DataPath(kFileName);
  const std::string unable = "Unable to write to " + path.string() + ": ";
  // Lines the program does not own (comments, other sections) are kept, so
  // the file is read first; one that cannot be read is not overwritten.
  std::string data, error;
  if (ReadConfigText(path, data, error) == TReadResult::Failed) {
    ReportWriteFailure(unable + error);
    return false;
  }
  std::vector<std::string> kept;
  if (iniStamp_.ChangedOnDisk(path) && !MayOverwrite(kFileName, cause)) {
    kept.push_back(kFileName);
  } else {
    TIniFile ini(data);
    try {
      WriteRecords(ini);
      WriteSettings(ini);
    } catch (const EIniValueError& bad) {
      ReportWriteFailure(unable + bad.what());
      return false;
    }
    const std::string bytes = ini.Bytes();
    // It holds the next hops' passwords: readable by the user alone.
    if (bytes != data && !WriteFileAtomically(path, bytes, error, 0600)) {
      ReportWriteFailure(unable + error);
      return false;
    }
    iniStamp_ = TFileStamp::Of(path, true, bytes);
  }
  nextHops_.EnableSelectors();
  nextHops_.LoadNextHopRecords();
  for (const char* name : TListFiles::kFileNames) {
    if (lists_.ChangedOnDisk(name) && !MayOverwrite(name, cause)) {
      kept.push_back(name);
    } else if (!lists_.SaveFile(name, error)) {
      ReportWriteFailure(error);
      return false;
    }
  }
  if (!kept.empty()) {
    // The kept files still differ from this session's settings.
    comment_("Configuration saved except " + Joined(kept, ", ") + " (" + CauseText(cause) + ")");
    return true;
  }
  // Only now is everything on disk; before, leaving must still ask.
  changes_.SetChanged(false);
  comment_(std::string("Configuration saved (") + CauseText(cause) + ")");
  return true;
}

bool TConfigurationFile::btnSaveClick(TControl& /*sender*/) {
  return SaveAndReload(TSaveCause::SaveChanges);
}

bool TConfigurationFile::SaveAndReload(TSaveCause cause) {
  lists_.RebuildAddressLists();
  if (!SaveConfiguration(cause)) return false;
  // A file left alone: the reload would drop the edits shown.
  if (changes_.IsChanged()) return true;
  LoadConfiguration();
  changes_.SetChanged(false);
  return true;
}

bool TConfigurationFile::btnCancelClick(TControl& /*sender*/) {
  if (!LoadConfiguration()) return false;
  changes_.SetChanged(false);
  return true;
}

bool TConfigurationFile::Reload() {
  const bool reloaded = btnCancelClick(controls_.btnCancel);
  comment_(reloaded ? "Configuration reloaded"
                    : "Configuration not reloaded; the settings in use are kept");
  return reloaded;
}

bool TConfigurationFile::FormCloseQuery() {
  if (!changes_.IsChanged()) return true;
  if (ui_.Confirm("Configuration was changed - save before closing?") != TAnswer::Yes) return true;
  return SaveConfiguration(TSaveCause::Closing);
}

}  // namespace vantrel
