// The adapter record with a scripted source: the file's read and write
// rules, the change rule, and what a failure leaves behind.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/adapters/AdapterFixture.h"

namespace vantrel {
namespace {

using RowList = std::vector<TableRow>;

AdapterRecord Adapter(const std::string& name, const std::string& description,
                      std::vector<std::string> addresses = {}) {
  return {name, description, std::move(addresses), 0};
}

class AdapterDiscoveryTest : public AdapterFixture {};

TEST_F(AdapterDiscoveryTest, StartUpKeepsTheFilesRowsThatCountAndMergesTheSystemsAdapters) {
  WriteFile(
      "{old},Old adapter\n"
      "no brace,dropped\n"
      "{bad} no comma\n"
      "{eth0},Stale description\n"
      "{crlf},Written on Windows\r\n"
      "{odd},text with },inside\n"
      " {indented},dropped\n"
      "\n");
  source.records = {Adapter("{eth0}", "Intel Ethernet", {"10.0.0.2", "10.0.0.3"}),
                    Adapter("{wlan0}", "Wi-Fi")};
  discovery.StartUp();

  EXPECT_EQ(Rows(), (RowList{{"{old}", "Old adapter", ""},
                             {"{eth0}", "Intel Ethernet", "10.0.0.2"},
                             {"{crlf}", "Written on Windows", ""},
                             {"{odd}", "text with },inside", ""},
                             {"{wlan0}", "Wi-Fi", ""}}));
  EXPECT_EQ(ReadFile(),
            "{old},Old adapter\n{eth0},Intel Ethernet\n{crlf},Written on Windows\n"
            "{odd},text with },inside\n{wlan0},Wi-Fi\n");
  EXPECT_EQ(settingsChanged, 1);
  EXPECT_EQ(discovery.CurrentList().size(), 2u);
}

TEST_F(AdapterDiscoveryTest, TextsAreCutToTheirWidthsAndControlBytesBecomeBlanks) {
  const std::string longDescription(100, 'd');
  source.records = {Adapter("{eth0}", longDescription),
                    Adapter("{eth1}", "  Intel\nEthernet\r\tX\x7f  ", {" 10.0.0.2 "}),
                    Adapter("{" + std::string(50, 'n') + "}", "long name")};
  discovery.StartUp();

  const std::string cutName = "{" + std::string(39, 'n');
  EXPECT_EQ(Rows(), (RowList{{"{eth0}", std::string(80, 'd'), ""},
                             {"{eth1}", "Intel Ethernet  X", "10.0.0.2"},
                             {cutName, "long name", ""}}));
  EXPECT_EQ(ReadFile(), "{eth0}," + std::string(80, 'd') + "\n{eth1},Intel Ethernet  X\n" +
                            cutName + ",long name\n");

  // The cut name lost its "}": the next rebuild drops that line, and the
  // adapter comes back as a row of its own, once.
  source.records.push_back(Adapter("{eth3}", "new"));
  ASSERT_TRUE(discovery.Timer1Timer());
  ASSERT_EQ(Rows().size(), 4u);
  EXPECT_EQ(std::get<0>(Rows()[2]), cutName);
  EXPECT_EQ(std::get<0>(Rows()[3]), "{eth3}");
}

TEST_F(AdapterDiscoveryTest, OnlyTheCountOrANameAtSomeIndexIsAChange) {
  struct Case {
    const char* what;
    std::vector<AdapterRecord> before;
    std::vector<AdapterRecord> after;
    bool changed;
  };
  const std::vector<Case> cases = {
      {"a new address on the same adapter",
       {Adapter("{eth0}", "Intel", {"10.0.0.2"})},
       {Adapter("{eth0}", "Intel", {"10.0.0.9"})},
       false},
      {"a new description",
       {Adapter("{eth0}", "Intel")},
       {Adapter("{eth0}", "Intel renamed")},
       false},
      {"a second adapter plugged in",
       {Adapter("{eth0}", "Intel")},
       {Adapter("{eth0}", "Intel"), Adapter("{usb0}", "USB")},
       true},
      {"the only adapter unplugged", {Adapter("{eth0}", "Intel")}, {}, true},
      {"another name at the same index",
       {Adapter("{eth0}", "Intel")},
       {Adapter("{eth1}", "Intel")},
       true},
      {"a name that differs only in length",
       {Adapter("{eth0}", "Intel")},
       {Adapter("{eth00}", "Intel")},
       true},
      {"the same names in another order",
       {Adapter("{a}", "A"), Adapter("{b}", "B")},
       {Adapter("{b}", "B"), Adapter("{a}", "A")},
       true},
      {"nothing at all", {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(FilePath());
    source.records = c.before;
    discovery.StartUp();
    const std::string fileBefore = ReadFile();
    const RowList rowsBefore = Rows();
    const int stepsBefore = settingsChanged;

    source.records = c.after;
    EXPECT_TRUE(discovery.Timer1Timer());
    EXPECT_EQ(settingsChanged - stepsBefore, c.changed ? 1 : 0);
    if (!c.changed) {
      // Nothing was merged or written: the old address and text remain.
      EXPECT_EQ(Rows(), rowsBefore);
      EXPECT_EQ(ReadFile(), fileBefore);
      EXPECT_EQ(discovery.CurrentList().size(), c.before.size());
    } else {
      EXPECT_EQ(discovery.CurrentList().size(), c.after.size());
    }
  }
}

TEST_F(AdapterDiscoveryTest, AnAdapterThatLeavesKeepsItsRowAndItsLine) {
  source.records = {Adapter("{eth0}", "Intel", {"10.0.0.2"}),
                    Adapter("{usb0}", "USB modem", {"10.0.0.3"})};
  discovery.StartUp();
  source.records = {Adapter("{eth0}", "Intel", {"10.0.0.2"})};
  ASSERT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(settingsChanged, 2);
  EXPECT_EQ(Rows(), (RowList{{"{eth0}", "Intel", "10.0.0.2"}, {"{usb0}", "USB modem", ""}}));
  EXPECT_EQ(ReadFile(), "{eth0},Intel\n{usb0},USB modem\n");

  // It comes back under its name: its row is updated, not repeated.
  source.records = {Adapter("{usb0}", "USB modem 2", {"10.0.0.4"})};
  ASSERT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(Rows(), (RowList{{"{eth0}", "Intel", ""}, {"{usb0}", "USB modem 2", "10.0.0.4"}}));
  EXPECT_EQ(ReadFile(), "{eth0},Intel\n{usb0},USB modem 2\n");
}

TEST_F(AdapterDiscoveryTest, AFailedQueryKeepsTheCurrentListAndWritesNothing) {
  source.records = {Adapter("{eth0}", "Intel", {"10.0.0.2"})};
  discovery.StartUp();
  struct stat before {};
  ASSERT_EQ(::stat(FilePath().c_str(), &before), 0);

  source.failure = 5;
  EXPECT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(settingsChanged, 1);
  ASSERT_EQ(discovery.CurrentList().size(), 1u);
  EXPECT_EQ(discovery.CurrentList()[0].name, "{eth0}");
  EXPECT_EQ(Rows(), (RowList{{"{eth0}", "Intel", "10.0.0.2"}}));
  struct stat after {};
  ASSERT_EQ(::stat(FilePath().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not even rewritten

  // The system answers again with the same adapters: still no change.
  source.failure = 0;
  EXPECT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(settingsChanged, 1);
  EXPECT_EQ(source.queries, 3);
}

TEST_F(AdapterDiscoveryTest, AQueryThatFailsAtStartStillLoadsAndRewritesTheFile) {
  WriteFile("{old},Old adapter\nbroken line\n");
  source.failure = 5;
  discovery.StartUp();
  EXPECT_TRUE(discovery.CurrentList().empty());
  EXPECT_EQ(Rows(), (RowList{{"{old}", "Old adapter", ""}}));
  EXPECT_EQ(ReadFile(), "{old},Old adapter\n");

  source.failure = 0;
  source.records = {Adapter("{eth0}", "Intel", {"10.0.0.2"})};
  EXPECT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(settingsChanged, 2);
  EXPECT_EQ(ReadFile(), "{old},Old adapter\n{eth0},Intel\n");
}

TEST_F(AdapterDiscoveryTest, TheFileIsReplacedNeverRewrittenInPlace) {
  source.records = {Adapter("{eth0}", "Intel")};
  discovery.StartUp();
  // A reader that opened the file before the change goes on reading the
  // whole old file.
  const int reader = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  source.records.push_back(Adapter("{wlan0}", "Wi-Fi"));
  ASSERT_TRUE(discovery.Timer1Timer());
  char buffer[256];
  const ssize_t n = ::pread(reader, buffer, sizeof buffer, 0);
  ::close(reader);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "{eth0},Intel\n");
  EXPECT_EQ(ReadFile(), "{eth0},Intel\n{wlan0},Wi-Fi\n");
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

// A new file gets the umask's mode (the user's alone under 077); a file
// whose mode the user set keeps it.
TEST_F(AdapterDiscoveryTest, TheFileKeepsItsModeAndANewOneFollowsTheUmask) {
  auto mode = [this] {
    struct stat info {};
    return ::stat(FilePath().c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  source.records = {Adapter("{eth0}", "Intel")};
  const mode_t old = ::umask(077);
  discovery.StartUp();
  EXPECT_EQ(mode(), 0600u);
  ASSERT_EQ(::chmod(FilePath().c_str(), 0640), 0);
  source.records.push_back(Adapter("{wlan0}", "Wi-Fi"));
  const bool run = discovery.Timer1Timer();
  ::umask(old);
  ASSERT_TRUE(run);
  EXPECT_EQ(ReadFile(), "{eth0},Intel\n{wlan0},Wi-Fi\n");
  EXPECT_EQ(mode(), 0640u);
}

TEST_F(AdapterDiscoveryTest, RunsNeverOverlapAndAFileErrorEndsOnlyThatRun) {
  source.records = {Adapter("{eth0}", "Intel")};
  discovery.StartUp();

  // The settings-changed step may pump the loop and so meet the timer
  // again: that inner run does nothing.
  std::vector<bool> inner;
  onSettingsChanged = [&] {
    EXPECT_EQ(discovery.Timer1Tag(), 1);
    inner.push_back(discovery.Timer1Timer());
  };
  source.records.push_back(Adapter("{wlan0}", "Wi-Fi"));
  EXPECT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(inner, std::vector<bool>{false});
  EXPECT_EQ(source.queries, 2);
  EXPECT_EQ(discovery.Timer1Tag(), 0);
  onSettingsChanged = nullptr;

  // A file that cannot be read ends the refresh with an error; the new
  // list is current all the same and the next run goes ahead.
  std::filesystem::remove(FilePath());
  std::filesystem::create_directory(FilePath());
  source.records.push_back(Adapter("{usb0}", "USB"));
  EXPECT_THROW(discovery.Timer1Timer(), EAdapterFileError);
  EXPECT_EQ(discovery.Timer1Tag(), 0);
  EXPECT_EQ(discovery.CurrentList().size(), 3u);
  EXPECT_EQ(settingsChanged, 2);

  std::filesystem::remove(FilePath());
  source.records.pop_back();
  EXPECT_TRUE(discovery.Timer1Timer());
  EXPECT_EQ(settingsChanged, 3);
  EXPECT_EQ(ReadFile(), "{eth0},Intel\n{wlan0},Wi-Fi\n");
}

TEST_F(AdapterDiscoveryTest, ViewsOfTheDataSourceRedrawOncePerRefresh) {
  TDataSource dsAdapters(mtblAdapters);
  std::vector<TTableChange> seen;
  dsAdapters.Subscribe([&](TTableChange change, int) { seen.push_back(change); });
  WriteFile("{old},Old\n{older},Older\n");
  source.records = {Adapter("{eth0}", "Intel"), Adapter("{eth1}", "Intel")};
  discovery.StartUp();
  const std::vector<TTableChange> redraw{TTableChange::AboutToReset, TTableChange::Reset};
  EXPECT_EQ(seen, redraw);

  // While the source is disabled its views hear nothing; enabling it again
  // redraws them once.
  seen.clear();
  dsAdapters.SetEnabled(false);
  source.records.pop_back();
  ASSERT_TRUE(discovery.Timer1Timer());
  EXPECT_TRUE(seen.empty());
  dsAdapters.SetEnabled(true);
  EXPECT_EQ(seen, redraw);
  EXPECT_EQ(mtblAdapters.RecordCount(), 4);
}

}  // namespace
}  // namespace vantrel
