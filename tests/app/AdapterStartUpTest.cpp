// The main window's start-up with the machine's adapters: recorded before
// the configuration, and a refresh is no change to save.

#include <string>
#include <vector>

#include "app/MainWindow.h"
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

TEST_F(AdapterStartUpTest, AnUnreadableAdaptersFileIsLoggedAndStartUpGoesOn) {
  std::filesystem::create_directory(FilePath());
  window.controls.cbLogging.SetChecked(true);  // "Log to Screen", so the line shows
  ASSERT_TRUE(window.FormCreate());
  bool logged = false;
  for (const auto& entry : window.memStatus.Entries()) {
    logged = logged ||
             entry.text.find("[EXCEPTION: Cannot read " + FilePath().string()) != std::string::npos;
  }
  EXPECT_TRUE(logged);
  EXPECT_FALSE(window.changes.IsChanged());
  EXPECT_NE(window.Timer1.Mode(), TAdapterWatcher::TMode::Stopped);
}

}  // namespace
}  // namespace vantrel
