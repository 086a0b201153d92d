#pragma once
// The configuration pieces of the main window, wired as the window wires
// them, over a data folder of the test's own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "config/ConfigurationFile.h"
#include "model/CountryTable.h"
#include "files/DataFolder.h"
#include "config/ListFiles.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/ProxyTables.h"
#include "tests/support/ScriptedUserInterface.h"
#include "hosts/CountryData.h"
#include "hosts/LocalRanges.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel::configtest {

namespace fs = std::filesystem;

struct TConfigHarness {
  TConfigHarness() {
    auto settings = [this](TControl& sender) { nextHops.cbIntConClick(sender); };
    controls.edProxyPort.OnChange = settings;
    controls.cbStartAutomatically.OnClick = settings;
    controls.cbMinimize.OnClick = settings;
    controls.cbUnknownHosts.OnClick = settings;
    for (TCheckBox* box : controls.NextHopSwitches()) box->OnClick = settings;
    for (TLookupCombo* combo : controls.NextHopSelectors()) combo->OnChange = settings;
    auto changed = [this](TControl&) { changes.SetChanged(true); };
    for (TCheckBox* box :
         {&controls.cbLogging, &controls.cbDebug, &controls.cbWriteLog, &controls.cbDetailedLog,
          &controls.cbShowLocalHosts, &controls.cbShowIntHosts}) {
      box->OnClick = changed;
    }
    auto listSwitch = [this](TControl& sender) { lists.cbAllowedConnectionsClick(sender); };
    controls.cbAllowedConnections.OnClick = listSwitch;
    controls.cbBlock.OnClick = listSwitch;
    controls.cbBypass.OnClick = listSwitch;
    for (TMemo* memo : {&controls.memIncoming, &controls.memBypass, &controls.memBlockedHosts}) {
      memo->OnChange = [this](TControl& sender) { lists.memIncomingChange(sender); };
    }
    controls.jvdbCountry.OnChange = [this](TControl& sender) {
      countries.jvdbCountryChange(sender);
    };
    controls.btnSave.OnClick = [this](TControl& sender) { file.btnSaveClick(sender); };
    controls.btnCancel.OnClick = [this](TControl& sender) { file.btnCancelClick(sender); };
  }

  TRecordTable mtblProxy = CreateProxyTable();
  TRecordTable mtblTunnels = CreateTunnelTable();
  TRecordTable mtblCountries = CreateCountryTable();
  TMainControls controls{mtblProxy, mtblCountries};
  TChangeTracker changes{controls};
  TNextHopRecords nextHops{controls, mtblProxy, changes};
  TLocalRanges ranges;
  std::vector<std::string> comments;
  TCommentSink comment = [this](const std::string& message) { comments.push_back(message); };
  TCountryData countries{controls, mtblCountries, ranges, nextHops, comment};
  std::vector<std::string> bypassList;
  TListFiles lists{controls, changes, comment,
                   [this](const std::vector<std::string>& list) { bypassList = list; }};
  TScriptedUserInterface ui;
  int loggingClicks = 0;
  TConfigurationFile file{controls,  mtblProxy, mtblTunnels, changes, nextHops,
                          countries, lists,     ui,          comment, [this] { ++loggingClicks; }};

  // Start-up's load: the load, then unchanged.
  bool Load() {
    const bool ok = file.LoadConfiguration();
    changes.SetChanged(false);
    return ok;
  }
};

// A data folder of the test's own, removed afterwards.
class TDataFolderTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) { scratch.Write(name, text); }
  std::string Read(const std::string& name) const { return scratch.Read(name); }
  // Names in the folder, to see that no temporary file stays behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::ScratchFolder scratch{"vantrel-config"};
  fs::path folder = scratch.Path();
};

// Makes every write to a regular file fail with EFBIG while it lives, as
// `ulimit -f 0` does, with SIGXFSZ ignored so the process is not killed.
class TNoFileSpace {
 public:
  TNoFileSpace() {
    old_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &limit_);
    rlimit zero = limit_;
    zero.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &zero);
  }
  ~TNoFileSpace() {
    setrlimit(RLIMIT_FSIZE, &limit_);
    signal(SIGXFSZ, old_);
  }
  TNoFileSpace(const TNoFileSpace&) = delete;
  TNoFileSpace& operator=(const TNoFileSpace&) = delete;

 private:
  rlimit limit_{};
  sighandler_t old_;
};

}  // namespace vantrel::configtest
