// "Use Vantrel for this desktop" and back, against a settings store of the
// test's own: GNOME's real gsettings on a key file in a scratch folder, and
// a KDE store that answers as kreadconfig5 and kwriteconfig5 do. The user's
// own settings are never touched.
#include "app/DesktopProxySettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

TEST(DesktopProxySettingsTest, RangesBecomeTheFewestCidrBlocks) {
  struct Case {
    uint32_t first, last;
    std::vector<std::string> blocks;
  };
  const Case cases[] = {
      {0x0A000000, 0x0AFFFFFF, {"10.0.0.0/8"}},
      {0xC0A80001, 0xC0A800FF,
       {"192.168.0.1/32", "192.168.0.2/31", "192.168.0.4/30", "192.168.0.8/29", "192.168.0.16/28",
        "192.168.0.32/27", "192.168.0.64/26", "192.168.0.128/25"}},
      {0x7F000001, 0x7F000001, {"127.0.0.1/32"}},
      {0, 0xFFFFFFFF, {"0.0.0.0/0"}},
      {0xFFFFFFFE, 0xFFFFFFFF, {"255.255.255.254/31"}},
  };
  for (const Case& c : cases) EXPECT_EQ(RangeToCidr(c.first, c.last), c.blocks) << c.first;
}

TEST(DesktopProxySettingsTest, DesktopsAreToldFromXdgCurrentDesktop) {
  EXPECT_EQ(DesktopKindOf("GNOME"), TDesktopKind::Gnome);
  EXPECT_EQ(DesktopKindOf("ubuntu:GNOME"), TDesktopKind::Gnome);
  EXPECT_EQ(DesktopKindOf("KDE"), TDesktopKind::Kde);
  EXPECT_EQ(DesktopKindOf("XFCE"), TDesktopKind::None);
  EXPECT_EQ(DesktopKindOf(""), TDesktopKind::None);
}

// A kioslaverc group in memory, reached as the KDE tools are.
struct TKdeStore {
  std::map<std::string, std::string> keys;
  int signals = 0;
  bool failWrites = false;
  TCommandResult operator()(const std::vector<std::string>& argv) {
    TCommandResult result;
    result.started = true;
    result.status = 0;
    if (argv[0] == "dbus-send") {
      ++signals;
      return result;
    }
    const std::string key = argv[6];
    if (argv[0] == "kreadconfig5") {
      auto found = keys.find(key);
      result.output = found != keys.end() ? found->second + "\n" : "\n";
    } else if (failWrites) {
      result.status = 1;
      result.error = "cannot write";
    } else if (argv[7] == "--delete") {
      keys.erase(key);
    } else {
      keys[key] = argv[7];
    }
    return result;
  }
};

class DesktopRoundTrip : public ::testing::Test {
 protected:
  TDesktopProxySettings::TSources Sources() {
    return {[] { return 3128; }, [] {
              return std::vector<std::string>{"010.000.000.000-010.255.255.255"};
            }};
  }
  testsupport::ScratchFolder folder{"vantrel-desktop-proxy"};
  TScriptedUserInterface ui;
};

TEST_F(DesktopRoundTrip, GnomeThroughGsettings) {
  // Debian's gsettings-desktop-schemas and libglib2.0-bin.
  const std::vector<std::string> env = {"GSETTINGS_BACKEND=keyfile",
                                        "XDG_CONFIG_HOME=" + (folder.Path() / "config").string()};
  auto gsettings = [&env](const std::vector<std::string>& argv) { return RunCommand(argv, env); };
  if (!gsettings({"gsettings", "list-keys", "org.gnome.system.proxy"}).Ok()) {
    GTEST_SKIP() << "no gsettings or no org.gnome.system.proxy schema";
  }
  auto get = [&](const char* schema, const char* key) {
    std::string out = gsettings({"gsettings", "get", schema, key}).output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  ASSERT_TRUE(gsettings({"gsettings", "set", "org.gnome.system.proxy", "mode", "auto"}).Ok());
  ASSERT_TRUE(gsettings({"gsettings", "set", "org.gnome.system.proxy.http", "port", "8080"}).Ok());
  const std::string ignoreBefore = get("org.gnome.system.proxy", "ignore-hosts");

  TDesktopProxySettings settings(TDesktopKind::Gnome, gsettings, Sources(), ui);
  settings.Refresh();
  EXPECT_TRUE(settings.btnUseForDesktop.Visible());
  EXPECT_EQ(settings.btnUseForDesktop.Caption(), "Use Vantrel for this desktop");
  settings.btnUseForDesktop.Click();
  EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
  EXPECT_EQ(get("org.gnome.system.proxy", "mode"), "'manual'");
  EXPECT_EQ(get("org.gnome.system.proxy.http", "host"), "'127.0.0.1'");
  EXPECT_EQ(get("org.gnome.system.proxy.http", "port"), "3128");
  EXPECT_EQ(get("org.gnome.system.proxy.https", "host"), "'127.0.0.1'");
  EXPECT_EQ(get("org.gnome.system.proxy.https", "port"), "3128");
  EXPECT_EQ(get("org.gnome.system.proxy", "ignore-hosts"),
            "['localhost', '127.0.0.0/8', '::1', '10.0.0.0/8']");
  EXPECT_EQ(settings.btnUseForDesktop.Caption(), "Stop using Vantrel for this desktop");

  // A program started later still knows what to put back.
  TDesktopProxySettings later(TDesktopKind::Gnome, gsettings, Sources(), ui);
  later.Refresh();
  EXPECT_EQ(later.btnUseForDesktop.Caption(), "Stop using Vantrel for this desktop");
  later.btnUseForDesktop.Click();
  EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
  EXPECT_EQ(get("org.gnome.system.proxy", "mode"), "'auto'");
  EXPECT_EQ(get("org.gnome.system.proxy.http", "port"), "8080");
  EXPECT_EQ(get("org.gnome.system.proxy", "ignore-hosts"), ignoreBefore);
  EXPECT_EQ(later.btnUseForDesktop.Caption(), "Use Vantrel for this desktop");
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / TDesktopProxySettings::kStateFile));
}

TEST_F(DesktopRoundTrip, KdeThroughKwriteconfigAndItsSignal) {
  TKdeStore store;
  store.keys["ProxyType"] = "0";
  store.keys["NoProxyFor"] = "intranet.example";
  TDesktopProxySettings settings(
      TDesktopKind::Kde, [&store](const std::vector<std::string>& argv) { return store(argv); },
      Sources(), ui);
  settings.commandExists = [](const std::string& name) { return name.back() == '5'; };
  settings.btnUseForDesktop.Click();
  EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
  EXPECT_EQ(store.keys, (std::map<std::string, std::string>{
                            {"ProxyType", "1"},
                            {"httpProxy", "http://127.0.0.1 3128"},
                            {"httpsProxy", "http://127.0.0.1 3128"},
                            {"NoProxyFor", "localhost,127.0.0.0/8,::1,10.0.0.0/8"}}));
  EXPECT_EQ(store.signals, 1);
  settings.btnUseForDesktop.Click();
  // Keys that were not there before are gone again.
  EXPECT_EQ(store.keys, (std::map<std::string, std::string>{{"ProxyType", "0"},
                                                            {"NoProxyFor", "intranet.example"}}));
  EXPECT_EQ(store.signals, 2);
}

TEST_F(DesktopRoundTrip, AMissingToolOrAFailedWriteIsShownAndChangesNothing) {
  TKdeStore store;
  store.keys["ProxyType"] = "0";
  TDesktopProxySettings settings(
      TDesktopKind::Kde, [&store](const std::vector<std::string>& argv) { return store(argv); },
      Sources(), ui);
  settings.commandExists = [](const std::string&) { return false; };
  settings.btnUseForDesktop.Click();
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_NE(ui.errors[0].find("kwriteconfig5"), std::string::npos) << ui.errors[0];

  settings.commandExists = [](const std::string& name) { return name.back() == '5'; };
  store.failWrites = true;
  settings.btnUseForDesktop.Click();
  ASSERT_EQ(ui.errors.size(), 2u);
  EXPECT_NE(ui.errors[1].find("cannot write"), std::string::npos) << ui.errors[1];
  EXPECT_EQ(store.keys, (std::map<std::string, std::string>{{"ProxyType", "0"}}));
  EXPECT_EQ(settings.btnUseForDesktop.Caption(), "Use Vantrel for this desktop");
  EXPECT_FALSE(settings.InUse());
}

}  // namespace
}  // namespace vantrel
