#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sys/stat.h>
#include <string>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "net/EventLoop.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantrel-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    SetDataFolder(folder);
    window.FormCreate();
    // Start-up says where the country data stands; these tests start after it.
    window.memStatus.Clear();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  std::string FileText(const std::string& name) const {
    std::ifstream in(folder / "log" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  const TLogEntry& LastEntry() const { return window.memStatus.Entries().back(); }
  TMainControls& c() { return window.controls; }

  // Each clock reading takes the next of `readings`; then `now` for good.
  TLocalTime ReadClock() {
    if (readings.empty()) return now;
    const TLocalTime reading = readings.front();
    readings.pop_front();
    return reading;
  }

  fs::path folder;
  TLocalTime now{2025, 1, 1, 12, 0, 0};
  std::deque<TLocalTime> readings;
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui, [this] { return ReadClock(); }};
};

TEST_F(ActivityLogTest, WithBothOutputsOffOnlyUngatedMessagesAppear) {
  window.log.LogIt("hello", "bytes received from Client", clGreen);
  window.log.DoComment("EXCEPTION: boom", true);
  EXPECT_EQ(window.memStatus.EntryCount(), 0u);

  window.log.DoComment("Proxy Started", false);
  ASSERT_EQ(window.memStatus.EntryCount(), 1u);
  EXPECT_EQ(LastEntry().text, "2025/01/01 12:00:00 [Proxy Started]");
  EXPECT_EQ(LastEntry().colour, clBlack);
  EXPECT_FALSE(fs::exists(folder / "log" / "20250101.log"));
}

TEST_F(ActivityLogTest, WithoutDetailedLogADataEventIsOneBlackLine) {
  c().cbLogging.SetChecked(true);
  window.log.LogIt("12345", "5 bytes received from Client", clGreen);
  ASSERT_EQ(window.memStatus.EntryCount(), 1u);
  EXPECT_EQ(LastEntry().text, "2025/01/01 12:00:00 [5 bytes received from Client]");
  EXPECT_EQ(LastEntry().colour, clBlack);
  window.log.LogIt("", "nothing", clGreen);  // empty data: no line at all
  EXPECT_EQ(window.memStatus.EntryCount(), 1u);
}

TEST_F(ActivityLogTest, DebugModeShowsAHexDumpInTheCallersColour) {
  c().cbLogging.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  c().cbDebug.SetChecked(true);
  window.log.LogIt(std::string(20, 'x'), "data", clBlue);
  ASSERT_EQ(window.memStatus.EntryCount(), 2u);
  EXPECT_EQ(LastEntry().colour, clBlue);
  const auto lines = TScreenLog::ScreenLines(LastEntry().text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 5), "0000 ");
  EXPECT_EQ(lines[0][5 + 8 * 3 - 1], '-');
  EXPECT_EQ(lines[1].substr(0, 5), "0010 ");
  EXPECT_EQ(lines[0].find('x'), lines[1].find('x'));
}

// Whatever a client or peer sends, the screen and the file get one line per
// line of data and no control byte but tab: a forged stamp or a terminal
// escape shows as text.
TEST_F(ActivityLogTest, ControlBytesAreEscapedAndDataLinesAreLogLines) {
  c().cbLogging.SetChecked(true);
  c().cbWriteLog.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  struct Case {
    const char* name;
    std::string message;
    std::string data;  // empty: a message line alone
    std::string screen;  // the message line, then the data entry
    std::string file;
  };
  const std::string stamp = "2025/01/01 12:00:00 ";
  const Case cases[] = {
      {"request header", "26 bytes received from Client",
       "GET http://a/ HTTP/1.0\r\nX:\ty\r\n\r\n",
       stamp + "[26 bytes received from Client]\nGET http://a/ HTTP/1.0\nX:\ty\n\n",
       stamp + "[26 bytes received from Client]\r\nGET http://a/ HTTP/1.0\r\nX:\ty\r\n\r\n"},
      {"forged line in a message", "Client 1 requests evil\n2026/12/07 10:00:00 [forged]", "",
       stamp + "[Client 1 requests evil\\x0A2026/12/07 10:00:00 [forged]]\n",
       stamp + "[Client 1 requests evil\\x0A2026/12/07 10:00:00 [forged]]\r\n"},
      {"terminal escape in a message", "a.b\x1b]0;pwned\x07\x7f:443", "",
       stamp + "[a.b\\x1B]0;pwned\\x07\\x7F:443]\n", stamp + "[a.b\\x1B]0;pwned\\x07\\x7F:443]\r\n"},
      {"bare CR, NUL and bytes above 0x7F in data", "m",
       std::string("a\rb\0c\xe9\n", 7),
       stamp + "[m]\na\\x0Db\\x00c\xe9\n", stamp + "[m]\r\na\\x0Db\\x00c\xe9\r\n"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    window.memStatus.Clear();
    fs::remove(folder / "log" / "20250101.log");
    window.log.ReopenLogFile();
    if (t.data.empty()) {
      window.log.DoComment(t.message, false);
    } else {
      window.log.LogIt(t.data, t.message, clGreen);
    }
    std::string screen;
    for (const auto& entry : window.memStatus.Entries()) screen += entry.text + "\n";
    EXPECT_EQ(screen, t.screen);
    EXPECT_EQ(FileText("20250101.log"), t.file);
  }
  // A line written to the file alone is escaped too.
  window.log.WriteLogLine("exception waiting for DNS result: a\r\nb");
  EXPECT_EQ(FileText("20250101.log"),
            cases[3].file + "exception waiting for DNS result: a\\x0D\\x0Ab\r\n");
}

// Folder and files hold credentials with Detailed Log: the user's alone,
// even under umask 0 and for a file an older version left readable.
TEST_F(ActivityLogTest, TheLogFolderAndFilesAreTheUsersAlone) {
  const mode_t old = ::umask(0);
  fs::remove_all(folder / "log");
  TScriptedUserInterface otherUi;
  TfrmVantrelMain other{otherUi, [this] { return now; }};
  other.FormCreate();
  std::ofstream(folder / "log" / "20241231.log") << "old\r\n";
  fs::permissions(folder / "log" / "20241231.log", fs::perms(0644));
  other.controls.cbWriteLog.SetChecked(true);
  other.log.DoComment("today", false);
  now = {2024, 12, 31, 12, 0, 0};
  other.log.DoComment("yesterday", false);
  ::umask(old);
  EXPECT_EQ(fs::status(folder / "log").permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(folder / "log" / "20250101.log").permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(folder / "log" / "20241231.log").permissions(), fs::perms(0600));
}

// The day's file stays open between lines: a rotation that moves it away
// takes the lines until the reopen (SIGHUP), then the name is used again.
TEST_F(ActivityLogTest, TheDaysFileStaysOpenUntilReopened) {
  c().cbWriteLog.SetChecked(true);
  window.log.DoComment("one", false);
  fs::rename(folder / "log" / "20250101.log", folder / "log" / "rotated");
  window.log.DoComment("two", false);
  EXPECT_FALSE(fs::exists(folder / "log" / "20250101.log"));
  window.log.ReopenLogFile();
  window.log.DoComment("three", false);
  const std::string stamp = "2025/01/01 12:00:00 ";
  std::ifstream in(folder / "log" / "rotated", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            stamp + "[one]\r\n" + stamp + "[two]\r\n");
  EXPECT_EQ(FileText("20250101.log"), stamp + "[three]\r\n");
}

// 5,000 refused connects in one second make two lines; the count comes
// with the next different line, or by itself a second later.
TEST_F(ActivityLogTest, RepeatsWithinASecondBecomeOneLineAndACount) {
  c().cbWriteLog.SetChecked(true);
  const std::string stamp = "2025/01/01 12:00:00 ";
  for (int i = 0; i < 5000; ++i) window.log.DoComment("client 10.0.0.9 connection rejected", false);
  window.log.DoComment("Proxy Stopped", false);
  now = {2025, 1, 1, 12, 0, 1};
  window.log.DoComment("Proxy Stopped", false);  // a later second: a line of its own
  window.log.DoComment("Proxy Stopped", false);
  const std::string screen[] = {
      stamp + "[client 10.0.0.9 connection rejected]",
      stamp + "[client 10.0.0.9 connection rejected] (repeated 4999 times)",
      stamp + "[Proxy Stopped]",
      "2025/01/01 12:00:01 [Proxy Stopped]",
  };
  ASSERT_EQ(window.memStatus.EntryCount(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(window.memStatus.Entries()[i].text, screen[i]);
  EXPECT_EQ(FileText("20250101.log"),
            screen[0] + "\r\n" + screen[1] + "\r\n" + screen[2] + "\r\n" + screen[3] + "\r\n");
  // Nothing else comes: the count is written by the timer.
  ASSERT_TRUE(net::EventLoop::Default().RunUntil(
      [&] { return window.memStatus.EntryCount() == 5; }, std::chrono::seconds(10)));
  EXPECT_EQ(window.memStatus.Entries()[4].text, screen[3] + " (repeated 1 times)");
}

TEST_F(ActivityLogTest, LogSwitchesEnableEachOtherAndMarkChanged) {
  EXPECT_FALSE(c().cbDetailedLog.Enabled());
  EXPECT_FALSE(c().cbDebug.Enabled());
  EXPECT_FALSE(window.changes.IsChanged());

  c().cbDebug.SetChecked(true);  // without Detailed Log it stays without effect
  EXPECT_FALSE(c().cbDebug.Enabled());
  c().cbWriteLog.SetChecked(true);
  EXPECT_TRUE(c().cbDetailedLog.Enabled());
  EXPECT_FALSE(c().cbDebug.Enabled());
  EXPECT_TRUE(window.changes.IsChanged());

  c().cbLogging.SetChecked(true);
  window.log.LogIt("ab", "m", clGreen);
  EXPECT_EQ(window.memStatus.EntryCount(), 1u);  // no Detailed Log, no data

  c().cbDetailedLog.SetChecked(true);
  EXPECT_TRUE(c().cbDebug.Enabled());
  window.log.LogIt("ab", "m", clGreen);
  EXPECT_EQ(LastEntry().text.substr(0, 5), "0000 ");

  // Debug Mode counts only while it is enabled as well as checked.
  c().cbDebug.SetEnabled(false);
  window.log.LogIt("ab", "m", clGreen);
  EXPECT_EQ(LastEntry().text, "ab");

  // Both outputs off: Detailed Log greys out and takes Debug Mode with it.
  c().cbLogging.SetChecked(false);
  c().cbWriteLog.SetChecked(false);
  EXPECT_FALSE(c().cbDetailedLog.Enabled());
  EXPECT_FALSE(c().cbDebug.Enabled());
}

TEST_F(ActivityLogTest, MidnightStartsTheNextDaysFile) {
  c().cbWriteLog.SetChecked(true);
  now = {2024, 12, 31, 23, 59, 59};
  window.log.DoComment("last of the year", false);
  now = {2025, 1, 1, 0, 0, 0};
  window.log.DoComment("first of the year", false);
  EXPECT_EQ(FileText("20241231.log"), "2024/12/31 23:59:59 [last of the year]\r\n");
  EXPECT_EQ(FileText("20250101.log"), "2025/01/01 00:00:00 [first of the year]\r\n");
  window.log.WriteLogLine("exception waiting for DNS result: x");
  EXPECT_EQ(FileText("20250101.log"),
            "2025/01/01 00:00:00 [first of the year]\r\nexception waiting for DNS result: x\r\n");
}

TEST_F(ActivityLogTest, AnEventAtMidnightLandsWholeInTheFileOfItsStamp) {
  c().cbWriteLog.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  // The clock turns over between any two readings.
  readings = {{2024, 12, 31, 23, 59, 59}, {2025, 1, 1, 0, 0, 0}, {2025, 1, 1, 0, 0, 0}};
  now = {2025, 1, 1, 0, 0, 1};
  window.log.LogIt("data", "4 bytes received from Client", clGreen);
  EXPECT_EQ(FileText("20241231.log"),
            "2024/12/31 23:59:59 [4 bytes received from Client]\r\ndata\r\n");
  readings = {{2024, 12, 31, 23, 59, 59}, {2025, 1, 1, 0, 0, 0}};
  window.log.DoComment("last of the year", false);
  EXPECT_EQ(FileText("20241231.log"),
            "2024/12/31 23:59:59 [4 bytes received from Client]\r\ndata\r\n"
            "2024/12/31 23:59:59 [last of the year]\r\n");
  EXPECT_FALSE(fs::exists(folder / "log" / "20250101.log"));
}

TEST_F(ActivityLogTest, UnwritableLogTurnsLogToDiskOffForThisRunAndSaysSoOnce) {
  // A regular file where the folder should be stops writes even for root.
  fs::remove_all(folder / "log");
  std::ofstream(folder / "log") << "not a folder";
  c().cbLogging.SetChecked(true);
  c().cbWriteLog.SetChecked(true);
  window.changes.SetChanged(false);

  window.log.DoComment("first", false);
  EXPECT_FALSE(c().cbWriteLog.Checked());
  // Off for this run only: no change of the user's to save.
  EXPECT_FALSE(window.changes.IsChanged());
  ASSERT_EQ(window.memStatus.EntryCount(), 2u);
  const std::string report = LastEntry().text;
  const std::regex expected(
      R"(2025/01/01 12:00:00 \[Error writing log \(log disabled for this run; the saved setting is kept\): "Cannot open .*/log/20250101\.log: Not a directory"\])");
  EXPECT_TRUE(std::regex_match(report, expected)) << report;

  window.log.DoComment("second", false);
  window.log.LogIt("data", "more", clGreen);
  EXPECT_EQ(window.memStatus.EntryCount(), 4u);
  int reports = 0;
  for (const auto& entry : window.memStatus.Entries()) {
    reports += entry.text.find("Error writing log") != std::string::npos;
  }
  EXPECT_EQ(reports, 1);

  // Once the folder is back and the box on again, the file is opened anew.
  fs::remove(folder / "log");
  fs::create_directory(folder / "log");
  c().cbWriteLog.SetChecked(true);
  window.log.DoComment("third", false);
  EXPECT_EQ(FileText("20250101.log"), "2025/01/01 12:00:00 [third]\r\n");
}

TEST_F(ActivityLogTest, TheDataLineAboveTenThousandLinesEmptiesTheScreen) {
  c().cbLogging.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  for (int i = 0; i < 9998; ++i) window.log.DoComment("filler " + std::to_string(i), false);
  window.log.LogIt("x", "data", clGreen);  // message line 9999, data line 10000
  EXPECT_EQ(window.memStatus.LineCount(), 10000u);

  window.log.DoComment("message lines do not clear", false);
  EXPECT_EQ(window.memStatus.LineCount(), 10001u);
  window.log.LogIt("x", "data", clGreen);
  EXPECT_EQ(window.memStatus.LineCount(), 0u);
}

TEST_F(ActivityLogTest, ClearLogEmptiesOnlyTheScreen) {
  c().cbWriteLog.SetChecked(true);
  window.log.DoComment("kept on disk", false);
  c().btnClearLog.Click();
  EXPECT_EQ(window.memStatus.EntryCount(), 0u);
  EXPECT_EQ(FileText("20250101.log"), "2025/01/01 12:00:00 [kept on disk]\r\n");
}

TEST_F(ActivityLogTest, AutoScrollFollowsEachDataEvent) {
  c().cbLogging.SetChecked(true);
  int scrolls = 0;
  window.memStatus.Subscribe([&](TScreenLogEvent event, const TLogEntry&) {
    scrolls += event == TScreenLogEvent::ScrollToEnd;
  });
  window.log.LogIt("x", "data", clGreen);
  window.log.DoComment("no scroll for messages", false);
  EXPECT_EQ(scrolls, 1);
  c().cbAutoScroll.SetChecked(false);
  window.log.LogIt("x", "data", clGreen);
  EXPECT_EQ(scrolls, 1);
}

TEST_F(ActivityLogTest, UncaughtExceptionsAreLoggedOnlyWithLogToScreen) {
  window.ApplicationEvents1Exception("lost");
  EXPECT_EQ(window.memStatus.EntryCount(), 0u);
  c().cbLogging.SetChecked(true);
  window.ApplicationEvents1Exception("bad thing");
  EXPECT_EQ(LastEntry().text, "2025/01/01 12:00:00 [EXCEPTION: bad thing]");
}

}  // namespace
}  // namespace vantrel
