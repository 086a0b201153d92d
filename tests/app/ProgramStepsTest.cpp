// Only the user's own edits mark the configuration changed: an adapter
// refresh, a port that fell back to 1080 and "Log to Disk" turned off after
// a failed write mark nothing, and a save keeps the file's values for them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/MainWindow.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

TEST(ProgramStepsTest, OnlyTheUsersOwnEditsAreChangesToSave) {
  testsupport::ScratchFolder scratch("vantrel-steps");
  scratch.Write("proxy.ini", "[CONFIG]\nProxyPort=99999\nWriteLog=1\n");
  // A file where the log folder should be: every log write fails.
  scratch.Write("log", "not a folder");
  TScriptedUserInterface ui;
  TfrmVantrelMain window(ui);
  window.Proxy1.SetLocalAddress("127.0.0.1");
  window.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
  auto& c = window.controls;
  window.FormCreate();
  // The start-up lines already go to the file, and fail there.

  window.adapters.RefreshAdapterTable({{"{usb0}", "USB modem", ""}});
  window.StartProxy();
  // 1080 may be taken on this machine; either way the field shows it.
  if (window.lifecycle.Running()) c.btnStart.Click();
  EXPECT_EQ(c.edProxyPort.Text(), "1080");
  EXPECT_FALSE(c.cbWriteLog.Checked());
  EXPECT_FALSE(window.changes.IsChanged());
  bool logged = false;
  for (const auto& entry : window.memStatus.Entries()) {
    logged = logged || entry.text.find(
                           "[Port \"99999\" is not a port from 1 to 65535; listening "
                           "on port 1080 (not saved)]") != std::string::npos;
  }
  EXPECT_TRUE(logged);

  // A change of the user's own is saved; the two run-only values are not.
  c.cbUnknownHosts.SetChecked(true);
  ASSERT_TRUE(window.configFile.btnSaveClick(c.btnSave));
  std::string saved = scratch.Read("proxy.ini");
  EXPECT_NE(saved.find("ProxyPort=99999\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("WriteLog=1\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("UnknownHosts=1\n"), std::string::npos) << saved;

  // Typed by the user, the same field is a setting again.
  c.edProxyPort.SetText("8080");
  c.cbWriteLog.SetChecked(false);
  ASSERT_TRUE(window.configFile.btnSaveClick(c.btnSave));
  saved = scratch.Read("proxy.ini");
  EXPECT_NE(saved.find("ProxyPort=8080\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("WriteLog=0\n"), std::string::npos) << saved;
}

}  // namespace
}  // namespace vantrel
