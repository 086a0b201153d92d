// The main window's own commands and wiring: closing and ending, the tray
// menu, the links, the title, starting on a sound port, the autostart entry,
// and every control reaching its handler.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessFrontEnd.h"
#include "app/MainWindow.h"
#include "model/Version.h"
#include "net/EventLoop.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// A port on 127.0.0.1 held by a listener of the test's own.
class THeldPort {
 public:
  THeldPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd_, 1) != 0) {
      return;
    }
    socklen_t len = sizeof sin;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
  }
  ~THeldPort() { Release(); }
  THeldPort(const THeldPort&) = delete;
  THeldPort& operator=(const THeldPort&) = delete;
  int Port() const { return port_; }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// What the error stream received.
class TCapturedStream {
 public:
  TCapturedStream() : file_(std::tmpfile()) {}
  ~TCapturedStream() { std::fclose(file_); }
  TCapturedStream(const TCapturedStream&) = delete;
  TCapturedStream& operator=(const TCapturedStream&) = delete;
  std::FILE* File() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::string text;
    std::rewind(file_);
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

// Starts the window's proxy on a port that was free a moment ago. Another
// process may take it in between: the start then fails with error 10048
// and another port is tried. Returns the port the last start used.
int StartOnAFreePort(TfrmVantrelMain& window, TScriptedUserInterface& ui) {
  int port = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    {
      THeldPort free;
      port = free.Port();
    }
    window.controls.edProxyPort.SetText(std::to_string(port));
    window.controls.btnStart.Click();
    if (window.lifecycle.Running() || ui.errors.empty() ||
        ui.errors.back().find("10048") == std::string::npos) {
      break;
    }
  }
  return port;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only loopback, and never the user's own autostart folder.
    window.Proxy1.SetLocalAddress("127.0.0.1");
    window.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
    window.commands.errorStream = err.File();
  }
  TMainControls& c() { return window.controls; }

  testsupport::ScratchFolder scratch{"vantrel-window"};
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
  TCapturedStream err;
};

TEST_F(MainWindowTest, TitleVersionAndMailSubjectComeFromOneConstant) {
  EXPECT_EQ(c().frmVantrelMain.Caption(), "Vantrel");
  window.FormCreate();
  EXPECT_EQ(std::string(kProgramTitle), "Vantrel v0.05");
  EXPECT_EQ(c().frmVantrelMain.Caption(), kProgramTitle);
  EXPECT_EQ(c().lblName.Caption(), kProgramTitle);
  EXPECT_EQ(VersionText(), std::string(kProgramTitle) + "\n");
  EXPECT_EQ(MailAddress("me@example.org"), "mailto:me@example.org?Subject=Vantrel%20v0.05");
}

// Port 0 would listen where the system likes and show "ACTIVE"; numbers past
// 65535 would wrap to another port. Both start on 1080 like a non-number.
TEST_F(MainWindowTest, PortTextOutsideOneTo65535StartsOn1080AndIsWrittenBack) {
  for (const char* text : {"0", "65536", "70000", "-1", "abc", "", "999999999"}) {
    SCOPED_TRACE(text);
    c().edProxyPort.SetText(text);
    c().btnStart.Click();
    EXPECT_EQ(window.Proxy1.Port(), 1080);
    EXPECT_EQ(c().edProxyPort.Text(), "1080");
    // 1080 may be taken on this machine: then the start failed, else stop.
    if (window.lifecycle.Running()) c().btnStart.Click();
    EXPECT_FALSE(window.lifecycle.Running());
  }
  const int port = StartOnAFreePort(window, ui);
  EXPECT_EQ(window.Proxy1.Port(), port);
  EXPECT_EQ(c().edProxyPort.Text(), std::to_string(port));
}

// The questions of "Close" and what follows each set of answers.
TEST_F(MainWindowTest, CloseAsksItsQuestionsBeforeTheLoopEndsAndEndsOnlyWhenSafe) {
  const std::string active = "Proxy is active - closing will disable it. Are you sure?";
  const std::string changed = "Configuration has changed - save it before closing?";
  const std::string last = "Configuration was changed - save before closing?";
  struct Case {
    const char* what;
    bool running;
    bool edited;
    bool saveFails;
    std::vector<TAnswer> answers;
    std::vector<std::string> questions;
    bool ends;
    bool saved;
  };
  const Case cases[] = {
      {"idle, unchanged", false, false, false, {}, {}, true, false},
      {"running, No", true, false, false, {TAnswer::No}, {active}, false, false},
      {"running, Yes", true, false, false, {TAnswer::Yes}, {active}, true, false},
      {"changed, Yes saves", false, true, false, {TAnswer::Yes}, {changed}, true, true},
      {"changed, No, then the last question Yes",
       false,
       true,
       false,
       {TAnswer::No, TAnswer::Yes},
       {changed, last},
       true,
       true},
      {"changed, No and No",
       false,
       true,
       false,
       {TAnswer::No, TAnswer::No},
       {changed, last},
       true,
       false},
      {"failed save stays open", false, true, true, {TAnswer::Yes}, {changed}, false, false},
      {"failed save at the last question stays open",
       false,
       true,
       true,
       {TAnswer::No, TAnswer::Yes},
       {changed, last},
       false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each case starts from no files at all.
    for (const auto& file : fs::directory_iterator(scratch.Path())) fs::remove_all(file.path());
    TScriptedUserInterface script;
    auto window = std::make_unique<TfrmVantrelMain>(script);
    TfrmVantrelMain& w = *window;
    w.Proxy1.SetLocalAddress("127.0.0.1");
    w.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
    w.FormCreate();
    fs::remove_all(scratch.Path() / "proxy.ini");
    if (c.running) {
      StartOnAFreePort(w, script);
      ASSERT_TRUE(w.lifecycle.Running());
    }
    w.changes.SetChanged(false);
    if (c.edited) w.controls.memBlockedHosts.SetLines({"ads.example"});
    if (c.saveFails) fs::create_directory(scratch.Path() / "proxy.ini");
    script.answers.assign(c.answers.begin(), c.answers.end());
    script.errors.clear();

    w.controls.Button1.Click();
    EXPECT_EQ(script.questions, c.questions);
    EXPECT_EQ(script.terminations, c.ends ? 1 : 0);
    EXPECT_EQ(w.commands.Ending(), c.ends);
    EXPECT_EQ(fs::is_regular_file(scratch.Path() / "proxy.ini"), c.saved);
    EXPECT_EQ(script.errors.size(), c.saveFails ? 1u : 0u);
    // Still changed after a failed save: nothing was lost.
    if (c.saveFails) {
      EXPECT_TRUE(w.changes.IsChanged());
    }
    fs::remove_all(scratch.Path() / "proxy.ini");
    // Destruction asks nothing more, even with the configuration changed.
    const size_t asked = script.questions.size();
    window.reset();
    EXPECT_EQ(script.questions.size(), asked);
  }
}

// A question box runs a nested loop: "Close" from the tray, or the end of
// the session, can come while one is open.
TEST_F(MainWindowTest, CloseAndSessionEndAreGuardedAgainstReentry) {
  window.FormCreate();
  c().memBypass.SetLines({"10.0.0.0/8"});
  ASSERT_TRUE(window.changes.IsChanged());

  int nested = 0;
  ui.whileAsking = [&](const std::string&) {
    if (nested++ == 0) c().Close1.Click();
  };
  ui.answers = {TAnswer::No, TAnswer::No};
  c().Button1.Click();
  EXPECT_EQ(ui.questions.size(), 2u);  // one Close's two questions, not three or four
  EXPECT_EQ(ui.terminations, 1);

  // The session ends while Close's question is open: it saves without
  // asking and ends once; Close then neither asks on nor ends again.
  TScriptedUserInterface script;
  TfrmVantrelMain w(script);
  w.Proxy1.SetLocalAddress("127.0.0.1");
  w.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
  w.FormCreate();
  w.controls.memBypass.SetLines({"10.0.0.0/8"});
  script.whileAsking = [&](const std::string&) { w.commands.SessionEnd(); };
  script.answers = {TAnswer::Yes, TAnswer::Yes};
  w.controls.Close1.Click();
  EXPECT_EQ(script.questions.size(), 1u);
  EXPECT_EQ(script.terminations, 1);
  EXPECT_FALSE(w.changes.IsChanged());
  w.commands.SessionEnd();
  EXPECT_EQ(script.terminations, 1);
}

TEST_F(MainWindowTest, SessionEndSavesWithoutAskingAndReportsAFailureOnStderr) {
  window.FormCreate();
  c().memBlockedHosts.SetLines({"ads.example"});
  fs::remove_all(scratch.Path() / "proxy.ini");
  fs::create_directory(scratch.Path() / "proxy.ini");
  window.commands.SessionEnd();
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(ui.errors.empty());  // no box while the session ends
  EXPECT_EQ(ui.terminations, 1);
  const std::string text = err.Text();
  EXPECT_NE(text.find("vantrel: the configuration was not saved at session end: Unable to write "
                      "to " +
                      (scratch.Path() / "proxy.ini").string()),
            std::string::npos)
      << text;

  // Unchanged: nothing to save, nothing written, still the end.
  TScriptedUserInterface script;
  TfrmVantrelMain w(script);
  w.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
  w.changes.SetChanged(false);
  fs::remove_all(scratch.Path() / "proxy.ini");
  w.commands.SessionEnd();
  EXPECT_EQ(script.terminations, 1);
  EXPECT_FALSE(fs::exists(scratch.Path() / "proxy.ini"));
}

TEST_F(MainWindowTest, AnExceptionIsLoggedAndWrittenToStderr) {
  window.ApplicationEvents1Exception("boom");
  EXPECT_EQ(err.Text(), "EXCEPTION: boom\n");
  ASSERT_EQ(window.memStatus.EntryCount(), 0u);  // "Log to Screen" is off
}

// A failed automatic start behind a hidden window would go unseen without
// a tray: the desktop hears of it.
TEST_F(MainWindowTest, AFailedAutomaticStartWhileHiddenSendsANotification) {
  THeldPort held;
  ASSERT_GT(held.Port(), 0);
  for (const bool minimized : {true, false}) {
    SCOPED_TRACE(minimized);
    scratch.Write("proxy.ini",
                  "[CONFIG]\nProxyPort=" + std::to_string(held.Port()) +
                      "\nStartAutomatically=1\nStartMinimized=" + (minimized ? "1" : "0") + "\n");
    TScriptedUserInterface script;
    TfrmVantrelMain w(script);
    w.Proxy1.SetLocalAddress("127.0.0.1");
    w.autostart.SetFile(scratch.Path() / "autostart" / "vantrel.desktop");
    w.FormCreate();
    EXPECT_FALSE(w.lifecycle.Running());
    EXPECT_EQ(w.controls.lblProxyStatus.Caption(), "ERROR");
    EXPECT_EQ(script.shown, !minimized);
    ASSERT_EQ(script.notifications.size(), minimized ? 1u : 0u);
    if (minimized) {
      EXPECT_EQ(script.notifications[0].first, kProgramTitle);
      EXPECT_EQ(script.notifications[0].second,
                "The proxy could not start: " + w.lifecycle.LastError());
      EXPECT_FALSE(w.lifecycle.LastError().empty());
    }
  }
}

TEST_F(MainWindowTest, AutostartSwitchWritesAndRemovesTheEntryOnly) {
  const fs::path entry = scratch.Path() / "autostart" / "vantrel.desktop";
  window.FormCreate();
  EXPECT_FALSE(c().cbAutostart.Checked());
  c().cbAutostart.SetChecked(true);
  ASSERT_TRUE(fs::is_regular_file(entry));
  const std::string text = scratch.Read("autostart/vantrel.desktop");
  EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Vantrel\n"), std::string::npos);
  EXPECT_NE(text.find(" --data-dir " + scratch.Path().string() + "\n"), std::string::npos) << text;
  EXPECT_FALSE(window.changes.IsChanged());  // not part of proxy.ini

  // The state comes from the file, read at start.
  {
    TScriptedUserInterface script;
    TfrmVantrelMain w(script);
    w.autostart.SetFile(entry);
    w.FormCreate();
    EXPECT_TRUE(w.controls.cbAutostart.Checked());
    EXPECT_FALSE(w.changes.IsChanged());
  }
  c().cbAutostart.SetChecked(false);
  EXPECT_FALSE(fs::exists(entry));

  // A folder that cannot be made: the error is shown, the switch stays off.
  scratch.Write("blocked", "a file, not a folder");
  window.autostart.SetFile(scratch.Path() / "blocked" / "autostart" / "vantrel.desktop");
  c().cbAutostart.SetChecked(true);
  EXPECT_FALSE(c().cbAutostart.Checked());
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].rfind("Unable to write ", 0), 0u) << ui.errors[0];
}

TEST(AutostartFile, FollowsXdgConfigHomeOrTheHomeFolderAndQuotesTheProgram) {
  EXPECT_EQ(TAutostart::DefaultFile("/cfg", "/home/u"), "/cfg/autostart/vantrel.desktop");
  EXPECT_EQ(TAutostart::DefaultFile(nullptr, "/home/u"),
            "/home/u/.config/autostart/vantrel.desktop");
  EXPECT_EQ(TAutostart::DefaultFile("relative", "/home/u"),
            "/home/u/.config/autostart/vantrel.desktop");
  // The installed program with its default folder writes the package's
  // own autostart entry, line for line.
  const fs::path usual = "/home/u/.config/vantrel";
  EXPECT_EQ(TAutostart::DesktopEntry(TAutostart::ExecLine("/usr/bin/vantrel", usual, usual)),
            "[Desktop Entry]\nType=Application\nName=Vantrel\nGenericName=HTTP Proxy\n"
            "Comment=HTTP proxy for this computer or a small LAN\nExec=vantrel\nIcon=vantrel\n"
            "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
  // Anything else names itself and its folder, quoted where it must be.
  EXPECT_EQ(TAutostart::ExecLine("/usr/bin/vantrel", "/srv/proxy", usual),
            "/usr/bin/vantrel --data-dir /srv/proxy");
  EXPECT_EQ(TAutostart::ExecLine("/opt/my apps/vantrel", "/data/100%\"x$", usual),
            "\"/opt/my apps/vantrel\" --data-dir \"/data/100%%\\\\\"x\\\\$\"");
}

// One lost line of wiring must fail here: each control is clicked through
// the model and the effect of its own handler is checked.
TEST_F(MainWindowTest, EveryControlReachesItsHandler) {
  scratch.Write("countries.dat", "US United States\nZA South Africa\n");
  window.FormCreate();
  auto& changes = window.changes;
  struct Row {
    std::string control;
    std::function<void()> click;
    std::function<bool()> effect;
  };
  std::vector<Row> rows;
  auto changesSetting = [&](TControl& control, std::function<void()> click) {
    rows.push_back({control.Name(), std::move(click), [&] { return changes.IsChanged(); }});
  };
  auto toggle = [](TCheckBox& box) { return [b = &box] { b->SetChecked(!b->Checked()); }; };

  changesSetting(c().edProxyPort, [&] { c().edProxyPort.SetText("3129"); });
  for (TCheckBox* box :
       {&c().cbStartAutomatically, &c().cbMinimize, &c().cbUnknownHosts, &c().cbLogging,
        &c().cbWriteLog, &c().cbDetailedLog, &c().cbDebug, &c().cbAllowedConnections}) {
    changesSetting(*box, toggle(*box));
  }
  const auto switches = c().NextHopSwitches();
  const auto selectors = c().NextHopSelectors();
  for (size_t i = 0; i < switches.size(); ++i) {
    TCheckBox* box = switches[i];
    TLookupCombo* selector = selectors[i];
    rows.push_back({box->Name(), toggle(*box), [&changes, box, selector] {
                      return changes.IsChanged() && selector->Enabled() == box->Checked();
                    }});
    changesSetting(*selector, [selector] { selector->SetValue(selector->Value() + "9"); });
  }
  for (TMemo* memo : {&c().memIncoming, &c().memBypass, &c().memBlockedHosts}) {
    changesSetting(*memo, [memo] { memo->SetLines({"10.9.9.9"}); });
  }
  rows.push_back({"cbBlock", toggle(c().cbBlock), [&] {
                    return changes.IsChanged() &&
                           c().memBlockedHosts.Enabled() == c().cbBlock.Checked();
                  }});
  rows.push_back({"cbBypass",
                  [&] {
                    c().lbLocalLAN.Add("lan.example");
                    c().cbBypass.SetChecked(!c().cbBypass.Checked());
                  },
                  [&] { return changes.IsChanged() && c().lbLocalLAN.Count() == 0; }});
  rows.push_back({"jvdbCountry", [&] { c().jvdbCountry.SetValue("US"); },
                  [&] { return changes.IsChanged(); }});
  rows.push_back({"cbShowLocalHosts", toggle(c().cbShowLocalHosts),
                  [&] { return c().lbLocal.Visible() == c().cbShowLocalHosts.Checked(); }});
  rows.push_back({"cbShowIntHosts", toggle(c().cbShowIntHosts),
                  [&] { return c().lbInternational.Visible() == c().cbShowIntHosts.Checked(); }});
  rows.push_back({"cbAutostart", toggle(c().cbAutostart),
                  [&] { return fs::exists(window.autostart.File()); }});
  rows.push_back({"btnClearLog",
                  [&] {
                    window.memStatus.Add("line", clBlack);
                    c().btnClearLog.Click();
                  },
                  [&] { return window.memStatus.EntryCount() == 0; }});

  rows.push_back({"btnStart", [&] { StartOnAFreePort(window, ui); },
                  [&] { return c().lblProxyStatus.Caption() == "ACTIVE"; }});
  // The tray's "Close" while running, answered No: the question, nothing else.
  size_t questions = 0;
  rows.push_back({"Close1",
                  [&] {
                    questions = ui.questions.size();
                    ui.answers = {TAnswer::No};
                    c().Close1.Click();
                  },
                  [&] {
                    return ui.questions.size() == questions + 1 && ui.terminations == 0 &&
                           window.lifecycle.Running();
                  }});
  rows.push_back({"btnStart (stop)", [&] { c().btnStart.Click(); },
                  [&] { return c().lblProxyStatus.Caption() == "INACTIVE"; }});

  // Record grids: each dialog shown is one handler run.
  auto proxyOk = [](TfrmProxyProperties& d) {
    d.dbProxyName.SetText("Office");
    d.dbProxyPort.SetText("3128");
    d.Button1.Click();
  };
  auto tunnelOk = [](TfrmTunnelProperties& d) {
    d.dbTunnelName.SetText("mail");
    d.dbLocalPortNo.SetText("1110");
    d.dbRemotePortNo.SetText("110");
    d.Button1.Click();
  };
  int dialogs = 0;
  auto showsDialog = [&](TControl& control, std::function<void()> click) {
    rows.push_back({control.Name(),
                    [&, click] {
                      dialogs = ui.dialogsShown;
                      click();
                    },
                    [&] { return ui.dialogsShown == dialogs + 1; }});
  };
  showsDialog(c().btnAdd, [&] {
    ui.proxyScripts.push_back(proxyOk);
    c().btnAdd.Click();
  });
  showsDialog(c().btnEdit, [&] { c().btnEdit.Click(); });
  showsDialog(c().DBGrid1, [&] { c().DBGrid1.DblClick(); });
  rows.push_back({"btnDelete",
                  [&] {
                    ui.answers.push_back(TAnswer::Yes);
                    c().btnDelete.Click();
                  },
                  [&] { return window.mtblProxy.RecordCount() == 0; }});
  showsDialog(c().btnAddTunnel, [&] {
    ui.tunnelScripts.push_back(tunnelOk);
    c().btnAddTunnel.Click();
  });
  showsDialog(c().btnEditTunnel, [&] { c().btnEditTunnel.Click(); });
  showsDialog(c().DBGrid2, [&] { c().DBGrid2.DblClick(); });
  rows.push_back({"btnDeleteTunnel",
                  [&] {
                    ui.answers.push_back(TAnswer::Yes);
                    c().btnDeleteTunnel.Click();
                  },
                  [&] { return window.mtblTunnels.RecordCount() == 0; }});

  rows.push_back(
      {"btnSave",
       [&] {
         changes.SetChanged(true);
         c().btnSave.Click();
       },
       [&] { return !changes.IsChanged() && fs::exists(scratch.Path() / "proxy.ini"); }});
  rows.push_back({"btnCancel",
                  [&] {
                    c().edProxyPort.SetText("4444");
                    c().btnCancel.Click();
                  },
                  [&] { return !changes.IsChanged() && c().edProxyPort.Text() != "4444"; }});

  // The pop-up menu.
  rows.push_back({"ClearTotals1",
                  [&] {
                    window.counters.ReceivedBytes[0][0] = 5;
                    window.totals.ShowTotals();
                    window.totals.ClearTotals1.Click();
                  },
                  [&] { return window.totals.lblLocalBytesRTotal.Caption() == "0"; }});
  rows.push_back({"ClearLocalHosts1",
                  [&] {
                    c().lbLocal.Add("near.example");
                    window.totals.ClearLocalHosts1.Click();
                  },
                  [&] { return c().lbLocal.Count() == 0; }});
  rows.push_back({"ClearInternationalHosts1",
                  [&] {
                    c().lbInternational.Add("far.example");
                    window.totals.ClearInternationalHosts1.Click();
                  },
                  [&] { return c().lbInternational.Count() == 0; }});

  // Links and the tray menu.
  auto opens = [&](TControl& control, std::function<void()> click, std::string address) {
    rows.push_back({control.Name(),
                    [&, click] {
                      ui.openedAddresses.clear();
                      click();
                    },
                    [&, address] { return ui.openedAddresses == std::vector{address}; }});
  };
  for (TLabel* link :
       {&c().jvlWebsite, &c().jvlHostLists, &c().jvlHostLists2, &c().jvlCountryDatabase}) {
    opens(
        *link, [link] { link->Click(); }, link->Caption());
  }
  opens(
      c().jvlEmail, [&] { c().jvlEmail.Click(); }, MailAddress(c().jvlEmail.Caption()));
  opens(
      c().Button3, [&] { c().Button3.Click(); },
      std::string(TMainControls::kDonationAddress) + " (maximised)");
  rows.push_back({"Restore1",
                  [&] {
                    ui.shown = false;
                    c().Restore1.Click();
                  },
                  [&] { return ui.shown; }});
  // Last: the program ends.
  rows.push_back({"Button1",
                  [&] {
                    ui.answers = {TAnswer::Yes};
                    c().Button1.Click();
                  },
                  [&] { return ui.terminations == 1; }});

  for (const Row& row : rows) {
    // Each row starts unchanged, so its own effect shows.
    changes.SetChanged(false);
    row.click();
    EXPECT_TRUE(row.effect()) << row.control;
  }
}

// Without a window, "Close" and session end still end the program: the
// loop stops.
TEST(HeadlessUserInterface, TerminateEndsTheLoop) {
  auto& loop = net::EventLoop::Default();
  THeadlessUserInterface ui;
  bool timedOut = false;
  const auto guard = loop.AddTimer(std::chrono::seconds(5), [&] {
    timedOut = true;
    loop.Quit();
  });
  loop.Post([&] { ui.Terminate(); });
  loop.Run();
  loop.ResetQuit();
  loop.CancelTimer(guard);
  EXPECT_FALSE(timedOut);
}

}  // namespace
}  // namespace vantrel
