#include "config/ConfigurationFile.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "config/BlockedHosts.h"
#include "files/DataFolder.h"
#include "model/DecryptText.h"
#include "files/FileIO.h"
#include "model/ProxyTables.h"
#include "model/TextNumbers.h"
#include "hosts/Addresses.h"

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
    {"BypassIPs", &TMainControls::cbBypass, true},
    {"UnknownHosts", &TMainControls::cbUnknownHosts, false},
};
// The order in which they are written, after LocalCountryCode's place.
constexpr const char* kWrittenBeforeCountry[] = {"StartAutomatically", "StartMinimized"};
constexpr const char* kWrittenAfterCountry[] = {
    "EnableLogging",          "DebugMode",          "WriteLog",   "DetailedLog", "ShowLocalHosts",
    "ShowInternationalHosts", "AllowedConnections", "BlockHosts", "BypassIPs",   "UnknownHosts"};

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
  bool ok = true;
  readProblem_.clear();
  if (ReadFileIfPresent(path, data, error) == TReadResult::Failed) {
    readProblem_ = error;
    comment_(ReadFailureText(path, error));
    ui_.ShowError(ReadFailureText(path, error));
    data.clear();
    ok = false;
  }
  const TIniFile ini(data);
  LoadProxies(ini);
  LoadTunnels(ini);
  LoadSettings(ini);
  if (loggingClick_) loggingClick_();
  nextHops_.cbIntConClick(controls_.cbIntCon);
  if (loggingClick_) loggingClick_();
  if (!lists_.Load()) {
    ui_.ShowError("Some list files could not be read; see the log.");
    ok = false;
  }
  return ok;
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

void TConfigurationFile::LoadSettings(const TIniFile& ini) {
  auto& c = controls_;
  filePort_ = ini.ReadInteger(kConfig, "ProxyPort", 1080);
  c.edProxyPort.SetText(std::to_string(portOverride_ ? *portOverride_ : filePort_));
  auto selectors = c.NextHopSelectors();
  for (size_t i = 0; i < selectors.size(); ++i) {
    selectors[i]->SetValue(ini.ReadString(kConfig, kSelectorKeys[i], ""));
  }
  auto switches = c.NextHopSwitches();
  for (size_t i = 0; i < switches.size(); ++i) {
    switches[i]->SetChecked(ini.ReadBool(kConfig, kNextHopSwitchKeys[i], false));
  }
  c.jvdbCountry.SetValue(
      ini.ReadString(kConfig, "LocalCountryCode", TCountryData::kDefaultCountryCode));
  countries_.LoadCountryRanges(c.jvdbCountry.Value());
  for (const TSwitchKey& entry : kLoadedSwitches) {
    (c.*entry.box).SetChecked(ini.ReadBool(kConfig, entry.key, entry.fallback));
  }
}

void TConfigurationFile::WriteRecords(TIniFile& ini) const {
  ini.EraseSection(kProxy);
  for (int row = 0; row < mtblProxy_.RecordCount(); ++row) {
    using namespace proxy_fields;
    const int n = row + 1;
    ini.WriteInteger(kProxy, Key("ProxyID", n), mtblProxy_.IntegerAt(row, ProxyID));
    ini.WriteString(kProxy, Key("ProxyName", n), mtblProxy_.StringAt(row, ProxyName));
    ini.WriteString(kProxy, Key("ProxyAddress", n), mtblProxy_.StringAt(row, ProxyAddress));
    ini.WriteInteger(kProxy, Key("ProxyPort", n), mtblProxy_.IntegerAt(row, ProxyPort));
    ini.WriteBool(kProxy, Key("AuthenticationRequired", n),
                  mtblProxy_.BooleanAt(row, NeedsAuthentication));
    ini.WriteString(kProxy, Key("ProxyUserName", n), mtblProxy_.StringAt(row, ProxyUserName));
    ini.WriteString(kProxy, Key("ProxyUserPassword", n),
                    DecryptText(mtblProxy_.StringAt(row, ProxyPassword)));
  }
  ini.EraseSection(kTunnel);
  for (int row = 0; row < mtblTunnels_.RecordCount(); ++row) {
    using namespace tunnel_fields;
    const int n = row + 1;
    ini.WriteInteger(kTunnel, Key("TunnelID", n), mtblTunnels_.IntegerAt(row, TunnelID));
    ini.WriteString(kTunnel, Key("TunnelName", n), mtblTunnels_.StringAt(row, TunnelName));
    ini.WriteInteger(kTunnel, Key("TunnelLocalPort", n), mtblTunnels_.IntegerAt(row, LocalPortNo));
    ini.WriteString(kTunnel, Key("TunnelRemoteHost", n), mtblTunnels_.StringAt(row, RemoteHost));
    ini.WriteInteger(kTunnel, Key("TunnelRemotePort", n),
                     mtblTunnels_.IntegerAt(row, RemotePortNo));
    ini.WriteBool(kTunnel, Key("TunnelEnabled", n), mtblTunnels_.BooleanAt(row, Enabled));
  }
}

void TConfigurationFile::WriteSettings(TIniFile& ini) const {
  auto& c = controls_;
  // The override is for this run only: the file keeps its own port unless
  // the field was changed to something else since.
  const bool overridden = portOverride_ && c.edProxyPort.Text() == std::to_string(*portOverride_);
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
    ini.WriteBool(kConfig, key, (c.*SwitchKey(key).box).Checked());
  }
}

void TConfigurationFile::ReportWriteFailure(const std::string& message) {
  comment_(message);
  if (reportFailure) {
    reportFailure(message);
  } else {
    ui_.ShowError(message);
  }
}

bool TConfigurationFile::SaveConfiguration() {
  const auto path = DataPath(kFileName);
  const std::string unable = "Unable to write to " + path.string() + ": ";
  // Lines the program does not own (comments, other sections) are kept, so
  // the file is read first; one that cannot be read is not overwritten.
  std::string data, error;
  if (ReadFileIfPresent(path, data, error) == TReadResult::Failed) {
    ReportWriteFailure(unable + error);
    return false;
  }
  TIniFile ini(data);
  try {
    WriteRecords(ini);
    WriteSettings(ini);
  } catch (const EIniValueError& bad) {
    ReportWriteFailure(unable + bad.what());
    return false;
  }
  // It holds the next hops' passwords: readable by the user alone.
  if (!WriteFileAtomically(path, ini.Bytes(), error, 0600)) {
    ReportWriteFailure(unable + error);
    return false;
  }
  nextHops_.EnableSelectors();
  nextHops_.LoadNextHopRecords();
  if (!lists_.Save(error)) {
    ReportWriteFailure(error);
    return false;
  }
  // Only now is everything on disk; before, leaving must still ask.
  changes_.SetChanged(false);
  return true;
}

bool TConfigurationFile::btnSaveClick(TControl& /*sender*/) {
  lists_.RebuildAddressLists();
  if (!SaveConfiguration()) return false;
  LoadConfiguration();
  changes_.SetChanged(false);
  return true;
}

void TConfigurationFile::btnCancelClick(TControl& /*sender*/) {
  LoadConfiguration();
  changes_.SetChanged(false);
}

bool TConfigurationFile::FormCloseQuery() {
  if (!changes_.IsChanged()) return true;
  if (ui_.Confirm("Configuration was changed - save before closing?") != TAnswer::Yes) return true;
  return SaveConfiguration();
}

}  // namespace vantrel
