// The rules that keep the user's files: a reload is all or nothing, a save
// never overwrites a file edited on disk unasked, the sections keep their
// comments, links are not written and modes follow the user's.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/ProxyTables.h"
#include "tests/config/ConfigHarness.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using configtest::TConfigHarness;
using configtest::TDataFolderTest;

class SaveRulesTest : public TDataFolderTest {
 protected:
  bool Logged(const TConfigHarness& h, const std::string& line) const {
    return std::find(h.comments.begin(), h.comments.end(), line) != h.comments.end();
  }
  mode_t Mode(const std::string& name) const {
    struct stat info {};
    return ::stat((folder / name).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }
  static const char* ChangedOnDisk() {
    return " changed on disk since it was loaded; your edits were kept and this session's changes "
           "were not saved";
  }
};

// Whichever file cannot be read, nothing of the reload applies: the switches,
// the records and the lists in force stay, and nothing is marked to save.
TEST_F(SaveRulesTest, AFailedReloadKeepsWhatRunsAndSavesNothing) {
  for (const char* unreadable : {"proxy.ini", "allowedip.dat"}) {
    SCOPED_TRACE(unreadable);
    fs::remove_all(folder);
    fs::create_directory(folder);
    Write("proxy.ini", "[CONFIG]\nProxyPort=8080\nBlockHosts=1\n[PROXY]\nProxyName1=up\n");
    Write("allowedip.dat", "10.0.0.1\n");
    Write("blockedhosts.dat", "ads.example\n");
    TConfigHarness h;
    ASSERT_TRUE(h.Load());

    Write("proxy.ini", "[CONFIG]\nProxyPort=9090\n");
    Write("blockedhosts.dat", "other.example\n");
    fs::remove(folder / unreadable);
    fs::create_directory(folder / unreadable);
    h.comments.clear();
    EXPECT_FALSE(h.file.Reload());
    EXPECT_TRUE(Logged(h, "Cannot read " + (folder / unreadable).string() + ": Is a directory"));
    EXPECT_FALSE(Logged(h, "Configuration reloaded"));
    EXPECT_TRUE(Logged(h, "Configuration not reloaded; the settings in use are kept"));
    EXPECT_EQ(h.controls.edProxyPort.Text(), "8080");
    EXPECT_TRUE(h.controls.cbBlock.Checked());
    EXPECT_TRUE(h.lists.IsBlockedHost("ads.example"));
    EXPECT_FALSE(h.lists.IsBlockedHost("other.example"));
    EXPECT_EQ(h.lists.AllowedIPList(), std::vector<std::string>{"010.000.000.001-010.000.000.001"});
    EXPECT_EQ(h.mtblProxy.RecordCount(), 1);
    EXPECT_FALSE(h.changes.IsChanged());
  }
}

// SIGTERM or a session's end: a file edited on disk since the load keeps the
// edit, each such file is named in the log, the others are saved.
TEST_F(SaveRulesTest, AnUnattendedSaveLeavesFilesEditedOnDiskAlone) {
  Write("proxy.ini", "[CONFIG]\nProxyPort=8080\n");
  Write("allowedip.dat", "10.0.0.1\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  h.controls.edProxyPort.SetText("7070");
  h.controls.memIncoming.SetLines({"10.0.0.2"});
  h.controls.memBypass.SetLines({"10.0.0.3"});
  const std::string edited = "[CONFIG]\nProxyPort=6060\n[PROXY]\nProxyName1=by hand\n";
  Write("proxy.ini", edited);
  Write("allowedip.dat", "10.0.0.9\n");

  EXPECT_TRUE(h.file.SaveAndReload(TSaveCause::SessionEnd));
  EXPECT_EQ(Read("proxy.ini"), edited);
  EXPECT_EQ(Read("allowedip.dat"), "10.0.0.9\n");
  EXPECT_EQ(Read("bypassip.dat"), "10.0.0.3\n");
  EXPECT_TRUE(Logged(h, std::string("proxy.ini") + ChangedOnDisk()));
  EXPECT_TRUE(Logged(h, std::string("allowedip.dat") + ChangedOnDisk()));
  EXPECT_TRUE(Logged(h, "Configuration saved except proxy.ini, allowedip.dat (on exit)"));
  EXPECT_TRUE(h.ui.questions.empty());
  EXPECT_TRUE(h.changes.IsChanged());
}

// The window asks for each file edited on disk; only Yes overwrites it. Every
// save names its cause in the log.
TEST_F(SaveRulesTest, TheWindowAsksBeforeOverwritingAFileEditedOnDisk) {
  for (const TAnswer answer : {TAnswer::Yes, TAnswer::No}) {
    SCOPED_TRACE(answer == TAnswer::Yes ? "Yes" : "No");
    Write("proxy.ini", "[CONFIG]\nProxyPort=8080\n");
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
    h.controls.edProxyPort.SetText("7070");
    Write("proxy.ini", "[CONFIG]\nProxyPort=6060\n");
    h.ui.answers.push_back(answer);

    EXPECT_TRUE(h.file.btnSaveClick(h.controls.btnSave));
    EXPECT_EQ(h.ui.questions,
              std::vector<std::string>{"proxy.ini was changed by another program. Overwrite it "
                                       "with the settings shown here?"});
    const bool yes = answer == TAnswer::Yes;
    EXPECT_EQ(Read("proxy.ini").find("ProxyPort=7070\n") != std::string::npos, yes);
    EXPECT_EQ(Logged(h, "Configuration saved (Save Changes)"), yes);
    EXPECT_EQ(Logged(h, "Configuration saved except proxy.ini (Save Changes)"), !yes);
    // No keeps the edits shown, still to be saved.
    EXPECT_EQ(h.controls.edProxyPort.Text(), "7070");
    EXPECT_EQ(h.changes.IsChanged(), !yes);
    if (!yes) {
      h.ui.answers.push_back(TAnswer::Yes);
      h.ui.answers.push_back(TAnswer::Yes);
      EXPECT_TRUE(h.file.FormCloseQuery());
      EXPECT_TRUE(Logged(h, "Configuration saved (on closing)"));
      EXPECT_NE(Read("proxy.ini").find("ProxyPort=7070\n"), std::string::npos);
    }
  }
}

TEST_F(SaveRulesTest, CommentsInsideTheRecordSectionsStayInPlace) {
  Write("proxy.ini",
        "[PROXY]\n; the office proxy\nProxyID1=1\nProxyName1=office\n; the home one\n"
        "ProxyID2=2\nProxyName2=home\nProxyName02=typo\n\n"
        "[Tunnel]\n# mail\nTunnelLocalPort1=110\nTunnelRemoteHost1=mail.example\n\n"
        "[CONFIG]\nProxyPort=8080\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  h.mtblProxy.First();
  h.mtblProxy.Delete();
  h.changes.SetChanged(true);
  ASSERT_TRUE(h.file.btnSaveClick(h.controls.btnSave));
  EXPECT_EQ(Read("proxy.ini"),
            "[PROXY]\n; the office proxy\nProxyID1=2\nProxyName1=home\n; the home one\n"
            "ProxyAddress1=\nProxyPort1=0\nAuthenticationRequired1=0\nProxyUserName1=\n"
            "ProxyUserPassword1=\n\n"
            "[Tunnel]\n# mail\nTunnelLocalPort1=110\nTunnelRemoteHost1=mail.example\n"
            "TunnelID1=1\nTunnelName1=\nTunnelRemotePort1=0\nTunnelEnabled1=0\n\n"
            "[CONFIG]\nProxyPort=8080\n"
            "IntCon=\nIntConSSL=\nIntConOTHER=\nLocalCon=\nLocalConSSL=\nLocalConOTHER=\n"
            "IntConProxy=0\nIntConSSLProxy=0\nIntConOTHERProxy=0\nLocalConProxy=0\n"
            "LocalConSSLProxy=0\nLocalConOTHERProxy=0\nStartAutomatically=0\nStartMinimized=0\n"
            "LocalCountryCode=ZA\nEnableLogging=0\nDebugMode=0\nWriteLog=0\nDetailedLog=0\n"
            "ShowLocalHosts=1\nShowInternationalHosts=1\nAllowedConnections=1\nBlockHosts=0\n"
            "BlockTunnels=1\nBypassIPs=1\nUnknownHosts=0\n"
            "HeaderTimeout=30\nIdleTimeout=120\nStallTimeout=120\nConnectTimeout=30\n");
}

// Old editors end lines with CR alone; a CR inside a value would break every
// later save, so its key is refused at the load and named.
TEST_F(SaveRulesTest, CrLineEndsAreReadAndAStrayCrIsRefusedByName) {
  Write("proxy.ini", "[CONFIG]\rProxyPort=8080\rBlockHosts=1\r[PROXY]\rProxyName1=a\r");
  Write("allowedip.dat", "10.0.0.1\r10.0.0.2\r");
  {
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
    EXPECT_EQ(h.controls.edProxyPort.Text(), "8080");
    EXPECT_TRUE(h.controls.cbBlock.Checked());
    EXPECT_EQ(h.mtblProxy.RecordCount(), 1);
    EXPECT_EQ(h.lists.AllowedIPList().size(), 2u);
  }
  Write("proxy.ini", "[PROXY]\nProxyName1=a\nProxyAddress1=up\rstream.example\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_EQ(h.mtblProxy.StringAt(0, proxy_fields::ProxyAddress), "");
  EXPECT_TRUE(Logged(h, (folder / "proxy.ini").string() +
                            ":3: the value of ProxyAddress1 holds a CR; ProxyAddress1 is ignored"));
  // A value that cannot be written names its key.
  h.mtblProxy.Edit();
  h.mtblProxy.SetString(proxy_fields::ProxyName, "two\nlines");
  h.mtblProxy.Post();
  EXPECT_FALSE(h.file.SaveConfiguration());
  EXPECT_EQ(h.ui.errors.back(), "Unable to write to " + (folder / "proxy.ini").string() +
                                    ": the value of ProxyName1 cannot hold a line break or a "
                                    "NUL byte");
}

// A list file that is a link (here to a HOSTS file) is read and cleaned in
// memory but never written, at a load or at a save.
TEST_F(SaveRulesTest, ListFilesThatAreLinksAreNeverWritten) {
  const std::string hosts = "127.0.0.1 localhost\n0.0.0.0 Ads.example\n";
  Write("hosts", hosts);
  fs::create_symlink("hosts", folder / "blockedhosts.dat");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_TRUE(h.lists.IsBlockedHost("ads.example"));
  EXPECT_EQ(h.controls.memBlockedHosts.Lines(), std::vector<std::string>{"ads.example"});
  h.controls.memBlockedHosts.SetLines({"other.example"});
  ASSERT_TRUE(h.file.btnSaveClick(h.controls.btnSave));
  EXPECT_TRUE(fs::is_symlink(folder / "blockedhosts.dat"));
  EXPECT_EQ(Read("hosts"), hosts);
  EXPECT_TRUE(Logged(h, (folder / "blockedhosts.dat").string() +
                            " is a symbolic link and is not written; edit the file it points to"));
}

// Under umask 077 new list files are the user's alone; an existing file keeps
// its mode; proxy.ini is always 0600.
TEST_F(SaveRulesTest, ModesFollowTheUmaskAndTheFilesOwnMode) {
  Write("bypassip.dat", "10.0.0.1\n");
  ASSERT_EQ(::chmod((folder / "bypassip.dat").c_str(), 0640), 0);
  const mode_t old = ::umask(077);
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  h.controls.memBypass.SetLines({"10.0.0.2"});
  h.controls.memBlockedHosts.SetLines({"ads.example"});
  const bool saved = h.file.btnSaveClick(h.controls.btnSave);
  ::umask(old);
  ASSERT_TRUE(saved);
  EXPECT_EQ(Mode("proxy.ini"), 0600u);
  EXPECT_EQ(Mode("allowedip.dat"), 0600u);
  EXPECT_EQ(Mode("blockedhosts.dat"), 0600u);
  EXPECT_EQ(Mode("bypassip.dat"), 0640u);
  EXPECT_EQ(Read("bypassip.dat"), "10.0.0.2\n");
}

}  // namespace
}  // namespace vantrel
