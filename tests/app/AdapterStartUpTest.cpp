// The main window's start-up with the machine's adapters: recorded before
// the configuration, and a refresh is no change to save.

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "tests/support/ScriptedUserInterface.h"
#include "tests/adapters/AdapterFixture.h"

namespace vantrel {
namespace {

class AdapterStartUpTest : public AdapterFixture {
 protected:
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
};

TEST_F(AdapterStartUpTest, StartUpRecordsTheAdaptersAndLeavesTheConfigurationUnchanged) {
  WriteFile("{old},Old adapter\n");
  std::vector<AdapterRecord> machine;
  ASSERT_EQ(TLinuxAdapterSource().GetAdapterInfoList(machine), 0);
  ASSERT_TRUE(window.FormCreate());

  std::string expected = "{old},Old adapter\n";
  for (const AdapterRecord& record : machine)
    expected += record.name + "," + record.description + "\n";
  EXPECT_EQ(ReadFile(), expected);
  EXPECT_EQ(window.mtblAdapters.RecordCount(), static_cast<int>(machine.size()) + 1);
  EXPECT_EQ(window.adapters.CurrentList().size(), machine.size());
  EXPECT_FALSE(window.changes.IsChanged());
  EXPECT_NE(window.Timer1.Mode(), TAdapterWatcher::TMode::Stopped);

  // A change the watcher finds is recorded but is no settings change:
  // nothing of it is in proxy.ini, so nothing is there to save.
  window.adapters.RefreshAdapterTable({{"{usb0}", "USB modem", ""}});
  EXPECT_NE(ReadFile().find("{usb0},USB modem\n"), std::string::npos);
  EXPECT_FALSE(window.changes.IsChanged());
  EXPECT_FALSE(window.controls.btnCancel.Enabled());
}

// Start-up lines come before the log settings are loaded; they still reach
// the screen and the day's file that the settings ask for.
TEST_F(AdapterStartUpTest, AnUnreadableAdaptersFileIsLoggedAndStartUpGoesOn) {
  std::filesystem::create_directory(FilePath());
  std::ofstream(DataPath("proxy.ini")) << "[CONFIG]\r\nEnableLogging=1\r\nWriteLog=1\r\n";
  ASSERT_TRUE(window.FormCreate());
  const std::string failure = "[EXCEPTION: Cannot read " + FilePath().string();
  bool logged = false;
  for (const auto& entry : window.memStatus.Entries())
    logged = logged || entry.text.find(failure) != std::string::npos;
  EXPECT_TRUE(logged);
  std::string file;  // every day's file: the run may cross midnight
  for (const auto& day : std::filesystem::directory_iterator(DataPath("log"))) {
    std::ifstream in(day.path(), std::ios::binary);
    file.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_NE(file.find(failure), std::string::npos) << file;
  EXPECT_NE(file.find(" [Country ZA: no address ranges"), std::string::npos) << file;
  EXPECT_FALSE(window.changes.IsChanged());
  EXPECT_NE(window.Timer1.Mode(), TAdapterWatcher::TMode::Stopped);
}

}  // namespace
}  // namespace vantrel
