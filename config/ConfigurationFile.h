#pragma once
// proxy.ini: the settings of the main window's controls, the proxy and the
// tunnel records. Loaded at start, by "Save Changes" and "Cancel Changes";
// saved by "Save Changes" and on leaving when the user agrees. A save builds
// the whole file in memory and replaces it atomically, and the changed flag
// is cleared only when every file is written. A reload is all or nothing,
// and no save overwrites a file that changed on disk since it was loaded
// unless the user says so.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "config/FileStamp.h"
#include "config/IniFile.h"
#include "config/ListFiles.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"
#include "hosts/CountryData.h"

namespace vantrel {

// Why a save runs; each save logs "Configuration saved (<cause>)". Only a
// session's end saves unattended: nobody is there to ask.
enum class TSaveCause { SaveChanges, Closing, SessionEnd };

class TConfigurationFile {
 public:
  static constexpr const char* kFileName = "proxy.ini";

  TConfigurationFile(TMainControls& controls, TRecordTable& mtblProxy, TRecordTable& mtblTunnels,
                     TChangeTracker& changes, TNextHopRecords& nextHops, TCountryData& countries,
                     TListFiles& lists, TUserInterface& ui, TCommentSink comment,
                     std::function<void()> loggingClick);

  // Reads everything into the controls and tables. False when a file was
  // there but could not be read (reported with its path and reason). At the
  // first load its settings are then the defaults; any later load changes
  // nothing at all, so what runs stays as it was.
  bool LoadConfiguration();
  // Writes proxy.ini and the list files. A file changed on disk since the
  // load is overwritten only when the user answers Yes, and never at a
  // session's end (logged per file); the changed flag then stays set. False,
  // reported as "Unable to write to <path>: <reason>", when any could not
  // be written; the changed flag then stays set and each file is either old
  // or new.
  bool SaveConfiguration(TSaveCause cause = TSaveCause::SaveChanges);
  // Why proxy.ini could not be read at the last load that took effect;
  // empty when it could.
  const std::string& ReadProblem() const { return readProblem_; }

  // "Save Changes": the address lists, the save, and when every file was
  // written the reload that puts every edit into force. After a failed or
  // partial save nothing is reloaded, so the unsaved edits stay. Returns
  // whether the save worked.
  bool btnSaveClick(TControl& sender);
  // The same steps for another cause: a session's end saves this way.
  bool SaveAndReload(TSaveCause cause);
  // "Cancel Changes": everything again from the files. False when a file
  // could not be read; nothing changed then.
  bool btnCancelClick(TControl& sender);
  // SIGHUP: "Cancel Changes", logged as "Configuration reloaded" or, when a
  // file could not be read, as kept.
  bool Reload();
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
  // firstRun: there is no proxy.ini yet.
  void LoadSettings(const TIniFile& ini, bool firstRun);
  void WriteRecords(TIniFile& ini) const;
  void WriteSettings(TIniFile& ini) const;
  void ReportWriteFailure(const std::string& message);
  // Whether a file that changed on disk since the load may be overwritten.
  bool MayOverwrite(const std::string& name, TSaveCause cause);

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
  bool fileWriteLog_ = false;  // WriteLog as the file last held it
  bool loadedOnce_ = false;
  TFileStamp iniStamp_;
  std::string readProblem_;
};

// Every line that the reader or the list cleaning of the data folder's
// files ignores or blanks, as "path:line: reason" (a file that cannot be
// read as "path: reason"). Changes no file.
std::vector<std::string> CheckConfiguration();

}  // namespace vantrel
