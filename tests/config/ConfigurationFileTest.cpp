// proxy.ini and the list files through load and save: round trips, the
// defaults, the failures that must leave the user's files as they were, and
// the changed flag around them.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "model/DecryptText.h"
#include "model/ProxyTables.h"
#include "tests/config/ConfigHarness.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using configtest::TConfigHarness;
using configtest::TDataFolderTest;
using configtest::TNoFileSpace;

class ConfigurationFileTest : public TDataFolderTest {
 protected:
  static void AddProxy(TRecordTable& table, int32_t id, const std::string& name,
                       const std::string& address, const std::string& user,
                       const std::string& password) {
    using namespace proxy_fields;
    table.Append();
    table.SetInteger(ProxyID, id);
    table.SetString(ProxyName, name);
    table.SetString(ProxyAddress, address);
    table.SetInteger(ProxyPort, 3000 + id);
    table.SetBoolean(NeedsAuthentication, !user.empty());
    table.SetString(ProxyUserName, user);
    table.SetString(ProxyPassword, password);
    table.Post();
  }
  static void AddTunnel(TRecordTable& table, int32_t id, const std::string& name, int32_t port) {
    using namespace tunnel_fields;
    table.Append();
    table.SetInteger(TunnelID, id);
    table.SetString(TunnelName, name);
    table.SetInteger(LocalPortNo, port);
    table.SetString(RemoteHost, " mail.example ");
    table.SetInteger(RemotePortNo, 110);
    table.SetBoolean(Enabled, id % 2 == 1);
    table.Post();
  }
  static std::vector<TRecord> Rows(const TRecordTable& table) {
    std::vector<TRecord> rows;
    for (int row = 0; row < table.RecordCount(); ++row) rows.push_back(table.Row(row));
    return rows;
  }
  // Every setting a save writes, as text.
  static std::vector<std::string> Settings(TMainControls& c) {
    std::vector<std::string> settings{c.edProxyPort.Text(), c.jvdbCountry.Value()};
    for (TLookupCombo* combo : c.NextHopSelectors()) settings.push_back(combo->Value());
    for (TCheckBox* box : c.NextHopSwitches()) settings.push_back(box->Checked() ? "1" : "0");
    for (TCheckBox* box :
         {&c.cbStartAutomatically, &c.cbMinimize, &c.cbLogging, &c.cbDebug, &c.cbWriteLog,
          &c.cbDetailedLog, &c.cbShowLocalHosts, &c.cbShowIntHosts, &c.cbAllowedConnections,
          &c.cbBlock, &c.cbBlockTunnels, &c.cbBypass, &c.cbUnknownHosts}) {
      settings.push_back(box->Name() + (box->Checked() ? "=1" : "=0"));
    }
    return settings;
  }
};

TEST_F(ConfigurationFileTest, SaveThenLoadGivesIdenticalTablesAndControls) {
  TConfigHarness saved;
  ASSERT_TRUE(saved.Load());
  // Passwords whose scrambled form begins or ends with a blank or a quote,
  // names with blanks around them, UTF-8 and values of the full 80 bytes.
  AddProxy(saved.mtblProxy, 7, " spaced ", "proxy.example", "me", "!abc");
  AddProxy(saved.mtblProxy, 3, "Прокси", std::string(80, 'a'), "\"quoted\"", "ab#");
  AddProxy(saved.mtblProxy, 9, "'single'", "p.example", std::string(80, 'u'), "&ab'");
  AddProxy(saved.mtblProxy, 4, "full", "p.example", "u", std::string(80, 'p'));
  AddTunnel(saved.mtblTunnels, 1, " mail ", 1110);
  AddTunnel(saved.mtblTunnels, 2, "Почта", 1995);
  auto& c = saved.controls;
  c.edProxyPort.SetText("8123");
  c.jvdbCountry.SetValue("");  // an empty country code
  c.jvdbIntConSSL.SetValue("3");
  c.jvdbLocalConOTHER.SetValue("9");
  for (TCheckBox* box :
       {&c.cbIntCon, &c.cbLocalConSSL, &c.cbStartAutomatically, &c.cbMinimize, &c.cbLogging,
        &c.cbDebug, &c.cbWriteLog, &c.cbDetailedLog, &c.cbBlock, &c.cbUnknownHosts}) {
    box->SetChecked(true);
  }
  for (TCheckBox* box : {&c.cbShowLocalHosts, &c.cbShowIntHosts, &c.cbAllowedConnections,
                         &c.cbBlockTunnels, &c.cbBypass}) {
    box->SetChecked(false);
  }
  c.memIncoming.SetLines({"127.0.0.1", "", "10.0.0.1 - 10.0.0.9"});
  c.memBypass.SetLines({"192.168.1.0-192.168.1.255"});
  c.memBlockedHosts.SetLines({"ads.example", "track.example"});
  ASSERT_TRUE(saved.file.SaveConfiguration());
  EXPECT_TRUE(saved.ui.errors.empty());

  TConfigHarness loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(Rows(loaded.mtblProxy), Rows(saved.mtblProxy));
  EXPECT_EQ(Rows(loaded.mtblTunnels), Rows(saved.mtblTunnels));
  EXPECT_EQ(Settings(loaded.controls), Settings(saved.controls));
  EXPECT_EQ(loaded.controls.memIncoming.Lines(), c.memIncoming.Lines());
  EXPECT_EQ(loaded.controls.memBypass.Lines(), c.memBypass.Lines());
  EXPECT_EQ(loaded.controls.memBlockedHosts.Lines(), c.memBlockedHosts.Lines());
  EXPECT_EQ(loaded.lists.AllowedIPList(),
            (std::vector<std::string>{"127.000.000.001-127.000.000.001",
                                      "010.000.000.001-010.000.000.009"}));
  EXPECT_EQ(loaded.bypassList, std::vector<std::string>{"192.168.001.000-192.168.001.255"});
  EXPECT_TRUE(loaded.lists.IsBlockedHost("Ads.Example"));

  // The file itself: LF only, no byte-order mark, passwords scrambled.
  const std::string text = Read("proxy.ini");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), std::string::npos);
  EXPECT_NE(text.find("ProxyUserPassword4=" + DecryptText(std::string(80, 'p')) + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("ProxyName1=\" spaced \"\n"), std::string::npos);
  EXPECT_NE(text.find("ProxyPort=8123\n"), std::string::npos);
  EXPECT_EQ(text.find("abc"), std::string::npos);
}

// What the port field holds is saved as a number: 1080 when it is none.
TEST_F(ConfigurationFileTest, APortFieldWithoutANumberIsSavedAs1080) {
  for (const char* text : {"", "abc"}) {
    SCOPED_TRACE(std::string("\"") + text + "\"");
    fs::remove(folder / "proxy.ini");
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
    h.controls.edProxyPort.SetText(text);
    ASSERT_TRUE(h.file.SaveConfiguration());
    const std::string saved = Read("proxy.ini");
    EXPECT_NE(saved.find("\nProxyPort=1080\n"), std::string::npos) << saved;
  }
}

TEST_F(ConfigurationFileTest, MissingFilesGiveTheDefaults) {
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_EQ(h.mtblProxy.RecordCount(), 0);
  EXPECT_EQ(h.mtblTunnels.RecordCount(), 0);
  EXPECT_EQ(Settings(h.controls), (std::vector<std::string>{"1080",
                                                            "ZA",
                                                            "",
                                                            "",
                                                            "",
                                                            "",
                                                            "",
                                                            "",
                                                            "0",
                                                            "0",
                                                            "0",
                                                            "0",
                                                            "0",
                                                            "0",
                                                            "cbStartAutomatically=0",
                                                            "cbMinimize=0",
                                                            "cbLogging=0",
                                                            "cbDebug=0",
                                                            "cbWriteLog=0",
                                                            "cbDetailedLog=0",
                                                            "cbShowLocalHosts=1",
                                                            "cbShowIntHosts=1",
                                                            "cbAllowedConnections=1",
                                                            "cbBlock=0",
                                                            "cbBlockTunnels=1",
                                                            "cbBypass=1",
                                                            "cbUnknownHosts=0"}));
  const std::vector<std::string> ranges{
      "127.000.000.001-127.000.000.001", "010.000.000.000-010.255.255.255",
      "192.168.000.000-192.168.255.255", "172.016.000.000-172.031.255.255"};
  EXPECT_EQ(h.lists.AllowedIPList(), ranges);
  EXPECT_EQ(h.bypassList, ranges);
  EXPECT_EQ(h.controls.memIncoming.Lines(), TListFiles::DefaultAddressLines());
  EXPECT_TRUE(h.controls.memIncoming.Enabled());
  EXPECT_FALSE(h.controls.memBlockedHosts.Enabled());
  // The defaults are put into the memos only; nothing is written by a load.
  EXPECT_TRUE(Names().empty());
  EXPECT_GE(h.loggingClicks, 2);
}

TEST_F(ConfigurationFileTest, HandWrittenFilesReadByTheProfileRules) {
  Write("proxy.ini",
        "\xEF\xBB\xBF; written by hand\r\n"
        "[config]\r\n"
        "allowedconnections = 0\r\n"
        "DetailedLog=1\r\n"
        "ProxyPort=8080 ; my port\r\n"
        "LocalCountryCode=\"US\"\r\n"
        "[Proxy]\r\n"
        "ProxyName1=First\r\n"
        "ProxyPort1=0x0C38\r\n"
        "ProxyID1=010\r\n"
        "ProxyName2=   \r\n"
        "ProxyName3=Hidden behind the end\r\n"
        "[TUNNEL]\r\n"
        "TunnelLocalPort1=25\r\n"
        "TunnelLocalPort2=0\r\n"
        "TunnelLocalPort3=26\r\n"
        "[PROXY]\r\n"
        "ProxyName2=In a hidden duplicate\r\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_FALSE(h.controls.cbAllowedConnections.Checked());
  EXPECT_FALSE(h.controls.memIncoming.Enabled());
  EXPECT_TRUE(h.controls.cbDetailedLog.Checked());
  EXPECT_TRUE(h.controls.cbBypass.Checked());
  EXPECT_EQ(h.controls.edProxyPort.Text(), "1080");
  EXPECT_EQ(h.controls.jvdbCountry.Value(), "US");
  ASSERT_EQ(h.mtblProxy.RecordCount(), 1);
  EXPECT_EQ(h.mtblProxy.IntegerAt(0, proxy_fields::ProxyPort), 3128);
  EXPECT_EQ(h.mtblProxy.IntegerAt(0, proxy_fields::ProxyID), 10);
  EXPECT_EQ(h.mtblTunnels.RecordCount(), 1);

  // --check-config names each of those lines; the file stays as it was.
  const std::string before = Read("proxy.ini");
  const std::string path = (folder / "proxy.ini").string();
  EXPECT_EQ(CheckConfiguration(),
            (std::vector<std::string>{
                path + ":17: section [PROXY] ignored: an earlier section of that name is read "
                       "instead",
                path + ":5: ProxyPort is not a number; the default is used",
                path + ":12: ignored: ProxyName3 stands behind the end of the list (group 2 has "
                       "no ProxyName)",
                path + ":16: ignored: TunnelLocalPort3 stands behind the end of the list (group 2 "
                       "has no TunnelLocalPort)",
            }));
  EXPECT_EQ(Read("proxy.ini"), before);
}

TEST_F(ConfigurationFileTest, SaveKeepsForeignLinesAndLeavesOneGroupPerRecord) {
  Write("proxy.ini",
        "[CONFIG]\n; the port my firewall allows\nProxyPort=8080\n\n"
        "[PROXY]\nProxyID1=1\nProxyName1=a\nProxyID2=2\nProxyName2=b\n"
        "[Mine]\nx=1\n[proxy]\nProxyName3=stale\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  ASSERT_EQ(h.mtblProxy.RecordCount(), 2);
  h.mtblProxy.First();
  h.mtblProxy.Delete();
  ASSERT_TRUE(h.file.SaveConfiguration());
  const std::string text = Read("proxy.ini");
  EXPECT_EQ(text.rfind("[CONFIG]\n; the port my firewall allows\nProxyPort=8080\n", 0), 0u) << text;
  EXPECT_NE(text.find("\n[Mine]\nx=1\n"), std::string::npos);
  EXPECT_NE(text.find("\n[PROXY]\nProxyID1=2\nProxyName1=b\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("stale"), std::string::npos);
  EXPECT_EQ(text.find("ProxyName2"), std::string::npos);
}

TEST_F(ConfigurationFileTest, ProxyIniIsReadableByItsOwnerOnlyAndALinkStaysALink) {
  const mode_t old = umask(022);
  fs::create_directory(folder / "real");
  fs::create_symlink("real/target.ini", folder / "proxy.ini");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  AddProxy(h.mtblProxy, 1, "p", "p.example", "me", "secret");
  ASSERT_TRUE(h.file.SaveConfiguration());
  umask(old);
  EXPECT_TRUE(fs::is_symlink(folder / "proxy.ini"));
  struct stat info {};
  ASSERT_EQ(::stat((folder / "real" / "target.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_NE(Read("real/target.ini").find("ProxyName1=p\n"), std::string::npos);
  ASSERT_EQ(::stat((folder / "allowedip.dat").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

// A failed save keeps every file as it was (or, for files written before
// the failure, wholly new), removes its temporary file, says why, and keeps
// the configuration changed so that leaving still asks.
TEST_F(ConfigurationFileTest, FailedSavesKeepTheFilesAndTheChangedFlag) {
  struct Case {
    const char* name;
    const char* directoryInPlace;  // nullptr: writes fail for lack of room
    const char* failingPath;
    const char* reason;
  };
  const Case cases[] = {
      {"no room", nullptr, "proxy.ini", "File too large"},
      {"proxy.ini is a folder", "proxy.ini", "proxy.ini", "Is a directory"},
      {"a list file is a folder", "bypassip.dat", "bypassip.dat", "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    fs::create_directory(folder);
    const std::string original = "[CONFIG]\nProxyPort=8080\n[PROXY]\nProxyName1=keep\n";
    if (c.directoryInPlace && std::string(c.directoryInPlace) == "proxy.ini") {
      fs::create_directory(folder / "proxy.ini");
    } else {
      Write("proxy.ini", original);
      Write("allowedip.dat", "127.0.0.1\n");
    }
    TConfigHarness h;
    h.Load();
    h.ui.errors.clear();
    h.comments.clear();
    if (c.directoryInPlace && std::string(c.directoryInPlace) != "proxy.ini") {
      fs::create_directory(folder / c.directoryInPlace);
    }
    h.mtblProxy.EmptyTable();
    h.controls.memIncoming.SetLines({"10.0.0.1", "not an address"});
    h.controls.edProxyPort.SetText("9090");
    ASSERT_TRUE(h.changes.IsChanged());
    const auto before = Names();
    bool saved = true;
    {
      std::unique_ptr<TNoFileSpace> noRoom;
      if (!c.directoryInPlace) noRoom = std::make_unique<TNoFileSpace>();
      saved = h.controls.btnSave.Enabled() && h.file.btnSaveClick(h.controls.btnSave);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(h.changes.IsChanged());
    EXPECT_EQ(Names(), before);
    const std::string message =
        "Unable to write to " + (folder / c.failingPath).string() + ": " + c.reason;
    EXPECT_EQ(h.ui.errors, std::vector<std::string>{message});
    ASSERT_FALSE(h.comments.empty());
    EXPECT_EQ(h.comments.back(), message);
    // Nothing was reloaded over the unsaved edits.
    EXPECT_EQ(h.mtblProxy.RecordCount(), 0);
    EXPECT_EQ(h.controls.edProxyPort.Text(), "9090");
    EXPECT_EQ(h.controls.memIncoming.Lines(), (std::vector<std::string>{"10.0.0.1", ""}));
    if (!c.directoryInPlace) {
      EXPECT_EQ(Read("proxy.ini"), original);
      EXPECT_EQ(Read("allowedip.dat"), "127.0.0.1\n");
    }
    // Leaving asks, and Yes tries again: with room back it saves and lets the
    // program end; a folder still in the way fails again and keeps it.
    h.ui.answers.push_back(TAnswer::Yes);
    EXPECT_EQ(h.file.FormCloseQuery(), c.directoryInPlace == nullptr);
    EXPECT_EQ(h.changes.IsChanged(), c.directoryInPlace != nullptr);
    EXPECT_EQ(h.ui.questions,
              std::vector<std::string>{"Configuration was changed - save before closing?"});
  }
}

TEST_F(ConfigurationFileTest, TheChangedFlagAfterLoadSaveAndCancel) {
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_FALSE(h.changes.IsChanged());
  EXPECT_TRUE(h.file.FormCloseQuery());
  EXPECT_TRUE(h.ui.questions.empty());

  h.controls.memBlockedHosts.SetLines({"ads.example"});
  EXPECT_TRUE(h.changes.IsChanged());
  EXPECT_FALSE(h.lists.IsBlockedHost("ads.example"));  // not before "Save Changes"
  h.controls.btnSave.Click();
  EXPECT_FALSE(h.changes.IsChanged());
  EXPECT_TRUE(h.lists.IsBlockedHost("ads.example"));
  EXPECT_EQ(Read("blockedhosts.dat"), "ads.example\n");

  h.controls.cbBlock.SetChecked(true);
  h.controls.memIncoming.SetLines({"1.2.3.4"});
  EXPECT_TRUE(h.changes.IsChanged());
  EXPECT_TRUE(h.controls.memBlockedHosts.Enabled());
  h.controls.btnCancel.Click();
  EXPECT_FALSE(h.changes.IsChanged());
  EXPECT_FALSE(h.controls.cbBlock.Checked());
  EXPECT_EQ(h.controls.memIncoming.Lines(), TListFiles::DefaultAddressLines());
}

TEST_F(ConfigurationFileTest, APortOverrideIsShownButNeverSaved) {
  Write("proxy.ini", "[CONFIG]\nProxyPort=8080\n");
  TConfigHarness h;
  h.file.SetPortOverride(9999);
  ASSERT_TRUE(h.Load());
  EXPECT_EQ(h.controls.edProxyPort.Text(), "9999");
  h.controls.cbLogging.SetChecked(true);
  ASSERT_TRUE(h.file.btnSaveClick(h.controls.btnSave));
  EXPECT_NE(Read("proxy.ini").find("ProxyPort=8080\n"), std::string::npos);
  EXPECT_EQ(h.controls.edProxyPort.Text(), "9999");  // the reload applies it again
  // A port typed since is the user's: that one is saved.
  h.controls.edProxyPort.SetText("7070");
  ASSERT_TRUE(h.file.btnSaveClick(h.controls.btnSave));
  EXPECT_NE(Read("proxy.ini").find("ProxyPort=7070\n"), std::string::npos);
}

TEST_F(ConfigurationFileTest, UnreadableFilesAreReportedNotTakenForMissing) {
  fs::create_directory(folder / "proxy.ini");
  fs::create_directory(folder / "blockedhosts.dat");
  TConfigHarness h;
  EXPECT_FALSE(h.Load());
  const std::string ini = (folder / "proxy.ini").string();
  const std::string hosts = (folder / "blockedhosts.dat").string();
  EXPECT_NE(
      std::find(h.comments.begin(), h.comments.end(), "Cannot read " + ini + ": Is a directory"),
      h.comments.end());
  EXPECT_NE(
      std::find(h.comments.begin(), h.comments.end(), "Cannot read " + hosts + ": Is a directory"),
      h.comments.end());
  EXPECT_EQ(CheckConfiguration(),
            (std::vector<std::string>{ini + ": cannot be read: Is a directory",
                                      hosts + ": cannot be read: Is a directory"}));
}

// The four session deadlines: a whole number of seconds from 0 (never) to a
// day is read as written, anything else gives the default and is named by
// --check-config; a save writes each edit, the default for one not valid.
TEST_F(ConfigurationFileTest, TimeoutKeysAreReadSavedAndChecked) {
  struct Row {
    const char* line;
    const char* key;
    std::string loaded;
    bool reported;
  };
  const Row rows[] = {
      {"HeaderTimeout=5", "HeaderTimeout", "5", false},
      {"IdleTimeout=0", "IdleTimeout", "0", false},
      {"StallTimeout=86400", "StallTimeout", "86400", false},
      {"ConnectTimeout=0x1F", "ConnectTimeout", "31", false},
      {"StallTimeout=86401", "StallTimeout", "120", true},
      {"ConnectTimeout=-1", "ConnectTimeout", "30", true},
      {"HeaderTimeout=1.5", "HeaderTimeout", "30", true},
      {"IdleTimeout=", "IdleTimeout", "120", true},
  };
  const std::string path = (folder / "proxy.ini").string();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Write("proxy.ini", std::string("[CONFIG]\n") + row.line + "\n");
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
    auto& c = h.controls;
    const std::vector<std::pair<std::string, TEdit*>> edits{
        {"HeaderTimeout", &c.edHeaderTimeout},
        {"IdleTimeout", &c.edIdleTimeout},
        {"StallTimeout", &c.edStallTimeout},
        {"ConnectTimeout", &c.edConnectTimeout}};
    const std::vector<std::string> defaults{"30", "120", "120", "30"};
    for (size_t i = 0; i < edits.size(); ++i) {
      EXPECT_EQ(edits[i].second->Text(), edits[i].first == row.key ? row.loaded : defaults[i])
          << edits[i].first;
    }
    const std::vector<std::string> reports = CheckConfiguration();
    if (row.reported) {
      EXPECT_EQ(reports, std::vector<std::string>{path + ":2: " + row.key +
                                                  " is not a whole number from 0 to 86400; the "
                                                  "default is used"});
    } else {
      EXPECT_TRUE(reports.empty());
    }
  }

  Write("proxy.ini", "");
  TConfigHarness saved;
  ASSERT_TRUE(saved.Load());
  saved.controls.edHeaderTimeout.SetText("7");
  saved.controls.edIdleTimeout.SetText("0");
  saved.controls.edStallTimeout.SetText("abc");  // not a number: its default
  ASSERT_TRUE(saved.file.SaveConfiguration());
  const std::string text = Read("proxy.ini");
  for (const char* line :
       {"HeaderTimeout=7\n", "IdleTimeout=0\n", "StallTimeout=120\n", "ConnectTimeout=30\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  TConfigHarness loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.controls.edHeaderTimeout.Text(), "7");
  EXPECT_EQ(loaded.controls.edIdleTimeout.Text(), "0");
}

TEST(DataFolderTest, AProgramUnderUsrKeepsItsFilesInTheUsersConfigFolder) {
  struct Case {
    const char* exe;
    const char* xdg;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/opt/vantrel", "/x", "/home/u", "/opt/vantrel"},
      {"/home/u/build/app", nullptr, "/home/u", "/home/u/build/app"},
      {"/usr/bin", "/x/cfg", "/home/u", "/x/cfg/vantrel"},
      {"/usr/local/bin", nullptr, "/home/u", "/home/u/.config/vantrel"},
      {"/usr/bin", "relative", "/home/u", "/home/u/.config/vantrel"},
      {"/usr/bin", "", "/home/u", "/home/u/.config/vantrel"},
      {"/usrlocal/bin", nullptr, "/home/u", "/usrlocal/bin"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultDataFolder(c.exe, c.xdg, c.home), fs::path(c.expected)) << c.exe;
  }
}

}  // namespace
}  // namespace vantrel
