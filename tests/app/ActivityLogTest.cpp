#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
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

TEST_F(ActivityLogTest, ScreenGetsPrintableTextWhileTheFileGetsRawBytes) {
  c().cbLogging.SetChecked(true);
  c().cbWriteLog.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  const std::string request = "GET http://a/ HTTP/1.0\r\n\r\n";
  window.log.LogIt(request, "26 bytes received from Client", clGreen);
  EXPECT_EQ(LastEntry().text, "GET http://a/ HTTP/1.0\r \r ");
  EXPECT_EQ(FileText("20250101.log"),
            "2025/01/01 12:00:00 [26 bytes received from Client]\r\n" + request + "\r\n");
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

TEST_F(ActivityLogTest, UnwritableLogTurnsLogToDiskOffAndSaysSoOnce) {
  // A regular file where the folder should be stops writes even for root.
  fs::remove_all(folder / "log");
  std::ofstream(folder / "log") << "not a folder";
  c().cbLogging.SetChecked(true);
  c().cbWriteLog.SetChecked(true);
  window.changes.SetChanged(false);

  window.log.DoComment("first", false);
  EXPECT_FALSE(c().cbWriteLog.Checked());
  EXPECT_TRUE(window.changes.IsChanged());  // the box's handler ran as for a click
  ASSERT_EQ(window.memStatus.EntryCount(), 2u);
  const std::string report = LastEntry().text;
  const std::regex expected(
      R"(2025/01/01 12:00:00 \[Error writing log \(log disabled\): "Cannot open .*/log/20250101\.log: Not a directory"\])");
  EXPECT_TRUE(std::regex_match(report, expected)) << report;

  window.log.DoComment("second", false);
  window.log.LogIt("data", "more", clGreen);
  EXPECT_EQ(window.memStatus.EntryCount(), 4u);
  int reports = 0;
  for (const auto& entry : window.memStatus.Entries()) {
    reports += entry.text.find("Error writing log") != std::string::npos;
  }
  EXPECT_EQ(reports, 1);
}

TEST_F(ActivityLogTest, TheDataLineAboveTenThousandLinesEmptiesTheScreen) {
  c().cbLogging.SetChecked(true);
  c().cbDetailedLog.SetChecked(true);
  for (int i = 0; i < 9998; ++i) window.log.DoComment("filler", false);
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
