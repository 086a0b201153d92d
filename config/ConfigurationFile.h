#pragma once
// proxy.ini: the settings of the main window's controls, the proxy and the
// tunnel records. Loaded at start, by "Save Changes" and "Cancel Changes";
// saved by "Save Changes" and on leaving when the user agrees. A save builds
// the whole file in memory and replaces it atomically, and the changed flag
// is cleared only when every file is written.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "config/IniFile.h"
#include "config/ListFiles.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"
#include "hosts/CountryData.h"

namespace vantrel {

class TConfigurationFile {
 public:
  static constexpr const char* kFileName = "proxy.ini";

  TConfigurationFile(TMainControls& controls, TRecordTable& mtblProxy, TRecordTable& mtblTunnels,
                     TChangeTracker& changes, TNextHopRecords& nextHops, TCountryData& countries,
                     TListFiles& lists, TUserInterface& ui, TCommentSink comment,
                     std::function<void()> loggingClick);

  // Reads everything into the controls and tables. False when a file was
  // there but could not be read (reported with its path and reason); its
  // settings are then the defaults.
  bool LoadConfiguration();
  // Why proxy.ini could not be read at the last load; empty when it could.
  const std::string& ReadProblem() const { return readProblem_; }
  // Writes proxy.ini and the list files. False, reported as "Unable to
  // write to <path>: <reason>", when any could not be written; the changed
  // flag then stays set and each file is either old or new.
  bool SaveConfiguration();

  // "Save Changes": the address lists, the save, and on success the reload
  // that puts every edit into force. After a failed save nothing is
  // reloaded, so the unsaved edits stay. Returns whether the save worked.
  bool btnSaveClick(TControl& sender);
  // "Cancel Changes": everything again from the files.
  void btnCancelClick(TControl& sender);
  // The window's last question when the configuration is still changed,
  // asked before the event loop ends. True when the program may end: nothing
  // to save, the answer No, or a save that worked.
  bool FormCloseQuery();

  // A listening port for this run only: every load puts it into the port
  // field, and a save writes the file's own port while the field holds it.
  void SetPortOverride(std::optional<int> port) { portOverride_ = port; }

  // When set, a write failure goes here instead of an error box (it is
  // logged either way): at session end nobody is there to read a box.
  std::function<void(const std::string& message)> reportFailure;

 private:
  void LoadProxies(const TIniFile& ini);
  void LoadTunnels(const TIniFile& ini);
  void LoadSettings(const TIniFile& ini);
  void WriteRecords(TIniFile& ini) const;
  void WriteSettings(TIniFile& ini) const;
  void ReportWriteFailure(const std::string& message);

  TMainControls& controls_;
  TRecordTable& mtblProxy_;
  TRecordTable& mtblTunnels_;
  TChangeTracker& changes_;
  TNextHopRecords& nextHops_;
  TCountryData& countries_;
  TListFiles& lists_;
  TUserInterface& ui_;
  TCommentSink comment_;
  std::function<void()> loggingClick_;
  std::optional<int> portOverride_;
  int32_t filePort_ = 1080;  // ProxyPort as the file last held it
  std::string readProblem_;
};

// Every line that the reader or the list cleaning of the data folder's
// files ignores or blanks, as "path:line: reason" (a file that cannot be
// read as "path: reason"). Changes no file.
std::vector<std::string> CheckConfiguration();

}  // namespace vantrel
