// The list files: cleaning of address and host lines, the defaults, and
// the blocked-host write-back that must never cost the user's file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/BlockedHosts.h"
#include "files/FileIO.h"
#include "hosts/Addresses.h"
#include "tests/config/ConfigHarness.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using configtest::TConfigHarness;
using configtest::TDataFolderTest;
using configtest::TNoFileSpace;

TEST(RangeListTest, EachLineGivesOneEntryOrIsBlanked) {
  struct Case {
    std::string line;
    std::string entry;  // empty: the line is blanked
  };
  const Case cases[] = {
      {"127.0.0.1", "127.000.000.001-127.000.000.001"},
      {"10.0.0.1 - 10.0.0.9", "010.000.000.001-010.000.000.009"},
      {"\t 192.168.0.0-192.168.255.255 \r", "192.168.000.000-192.168.255.255"},
      {"10.0.0.9-10.0.0.1", "010.000.000.009-010.000.000.001"},  // kept; matches nothing
      {"010.1.2.3", "010.001.002.003-010.001.002.003"},
      {"intranet.example", ""},
      {"10.0.0.*", ""},
      {"10.0.0.256", ""},
      {"10.0.0", ""},
      {"10.0.0.1.5", ""},
      {"10.0.0.1-10.0.0.2-10.0.0.3", ""},
      {"10.0.0.1-", ""},
      {"", ""},
  };
  std::vector<std::string> lines;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    lines.push_back(c.line);
    if (!c.entry.empty()) expected.push_back(c.entry);
  }
  std::vector<std::string> cleaned = lines;
  EXPECT_EQ(RebuildRangeList(cleaned), expected);
  ASSERT_EQ(cleaned.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(cleaned[i].empty(), std::string(cases[i].entry).empty()) << lines[i];
    if (!cleaned[i].empty()) {
      EXPECT_EQ(cleaned[i], lines[i]);
    }
  }
  EXPECT_TRUE(AddressInRangeList("10.0.0.5", expected));
  EXPECT_FALSE(AddressInRangeList("10.0.0.10", expected));
}

TEST(BlockedHostsTest, CleaningGivesSortedLowerCaseNames) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      // Unchanged behaviour.
      {{"127.0.0.1 AdServer", "adserver", "# a comment", "localhost"}, {"adserver"}},
      {{"127.0.0.1\tads.example"}, {"ads.example"}},
      {{"  Tracker.Example  ", "", "\t"}, {"tracker.example"}},
      {{"LOCALHOST", "127.0.0.1 localhost"}, {}},
      {{"b.example", "a.example", "B.EXAMPLE"}, {"a.example", "b.example"}},
      // A comment behind a name is no name.
      {{"ads.example # note"}, {"ads.example"}},
      {{"ads.example\t#note"}, {"ads.example"}},
      {{"0.0.0.0 ads.example # note"}, {"ads.example"}},
      {{"my#host.example"}, {"my#host.example"}},
      // Several names on a HOSTS line: each one.
      {{"0.0.0.0 a.example b.example\tc.example"}, {"a.example", "b.example", "c.example"}},
      {{"127.0.0.1 localhost tracker.example"}, {"tracker.example"}},
      // One final dot names the same host.
      {{"blocked2.example.", "Blocked2.Example"}, {"blocked2.example"}},
      {{"0.0.0.0 ads.example. localhost."}, {"ads.example"}},
      // Two final dots or a dot alone: no host name, and nothing that would
      // clean to something else at the next load.
      {{"0.0.0.0 ads.example.. . ok.example"}, {"ok.example"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CleanBlockedHosts(c.lines), c.names) << c.lines.front();
  }
  const std::vector<std::string> list = CleanBlockedHosts({"blocked2.example."});
  for (const char* host : {"blocked2.example", "BLOCKED2.example."})
    EXPECT_TRUE(InBlockedHostList(list, host)) << host;
  for (const char* host : {"blocked2.example..", "x.blocked2.example", "blocked2"})
    EXPECT_FALSE(InBlockedHostList(list, host)) << host;
  std::vector<size_t> ignored;
  CleanBlockedHosts({"a.example", "", "# c", "localhost", "127.0.0.1 localhost", "b"}, &ignored);
  EXPECT_EQ(ignored, (std::vector<size_t>{3, 4}));
}

class ListFilesTest : public TDataFolderTest {};

// Lists written on Windows: no CR reaches the memo or the list, and a save
// writes LF alone.
TEST_F(ListFilesTest, CrLfAddressListsLoadWithoutCarriageReturnsAndSaveWithLf) {
  Write("allowedip.dat", "127.0.0.1\r\n10.0.0.1 - 10.0.0.9\r\n");
  Write("bypassip.dat", "192.168.1.0-192.168.1.255\r\n");
  TConfigHarness h;
  ASSERT_TRUE(h.Load());
  EXPECT_EQ(h.controls.memIncoming.Lines(),
            (std::vector<std::string>{"127.0.0.1", "10.0.0.1 - 10.0.0.9"}));
  EXPECT_EQ(h.controls.memBypass.Lines(), std::vector<std::string>{"192.168.1.0-192.168.1.255"});
  EXPECT_EQ(h.lists.AllowedIPList(), (std::vector<std::string>{"127.000.000.001-127.000.000.001",
                                                               "010.000.000.001-010.000.000.009"}));
  EXPECT_EQ(h.bypassList, std::vector<std::string>{"192.168.001.000-192.168.001.255"});
  std::string error;
  ASSERT_TRUE(h.lists.Save(error)) << error;
  EXPECT_EQ(Read("allowedip.dat"), "127.0.0.1\n10.0.0.1 - 10.0.0.9\n");
  EXPECT_EQ(Read("bypassip.dat"), "192.168.1.0-192.168.1.255\n");
}

// What was built from one version of the bypass list is built again after
// any rebuild of it, even one that gives the same entries.
TEST_F(ListFilesTest, EveryRebuildGivesTheBypassListANewVersion) {
  Write("bypassip.dat", "192.168.1.0-192.168.1.255\n");
  TConfigHarness h;
  const uint64_t before = h.lists.BypassListVersion();
  ASSERT_TRUE(h.Load());
  const uint64_t loaded = h.lists.BypassListVersion();
  EXPECT_NE(loaded, before);
  h.lists.RebuildAddressLists();
  EXPECT_NE(h.lists.BypassListVersion(), loaded);
  EXPECT_EQ(h.bypassList, std::vector<std::string>{"192.168.001.000-192.168.001.255"});
}

// A list too large to read is logged, stands aside for the defaults, and
// is neither rewritten by the load nor replaced by a save.
TEST_F(ListFilesTest, AListTooLargeIsLeftAsItIsAndTheLoadGoesOn) {
  for (const char* name : {"allowedip.dat", "blockedhosts.dat"}) {
    SCOPED_TRACE(name);
    Write(name, "");
    fs::resize_file(folder / name, kListFileLimit + 1);  // sparse
    TConfigHarness h;
    EXPECT_TRUE(h.Load());
    EXPECT_NE(std::find(h.comments.begin(), h.comments.end(),
                        (folder / name).string() + ": file too large"),
              h.comments.end());
    EXPECT_EQ(h.lists.AllowedIPList().size(), 4u);  // the defaults
    EXPECT_TRUE(h.lists.BlockedHostList().empty());
    std::string error;
    ASSERT_TRUE(h.lists.Save(error)) << error;
    EXPECT_EQ(fs::file_size(folder / name), kListFileLimit + 1);
    fs::remove(folder / name);
  }
}

TEST_F(ListFilesTest, TheBlockedHostFileIsRewrittenOnlyWhenCleaningChangedIt) {
  Write("blockedhosts.dat", "127.0.0.1 AdServer\r\nadserver\n# mine\nlocalhost\n");
  {
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
    EXPECT_EQ(h.controls.memBlockedHosts.Lines(), std::vector<std::string>{"adserver"});
    EXPECT_TRUE(h.lists.IsBlockedHost("AdServer"));
  }
  EXPECT_EQ(Read("blockedhosts.dat"), "adserver\n");
  struct stat before {};
  ASSERT_EQ(::stat((folder / "blockedhosts.dat").c_str(), &before), 0);
  {
    TConfigHarness h;
    ASSERT_TRUE(h.Load());
  }
  struct stat after {};
  ASSERT_EQ(::stat((folder / "blockedhosts.dat").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(ListFilesTest, AFailedWriteBackIsLoggedAndKeepsTheFileAndTheList) {
  const std::string original = "B.example\na.example\n";
  Write("blockedhosts.dat", original);
  TConfigHarness h;
  {
    TNoFileSpace noRoom;
    EXPECT_TRUE(h.Load());
  }
  EXPECT_EQ(h.lists.BlockedHostList(), (std::vector<std::string>{"a.example", "b.example"}));
  EXPECT_EQ(Read("blockedhosts.dat"), original);
  EXPECT_EQ(Names(), std::vector<std::string>{"blockedhosts.dat"});
  ASSERT_FALSE(h.comments.empty());
  EXPECT_EQ(h.comments.back(),
            "Unable to write to " + (folder / "blockedhosts.dat").string() + ": File too large");
}

// A pasted blocklist: collected and sorted once. Inserting name by name into
// a sorted list took 44 s for this many.
TEST_F(ListFilesTest, ALargeBlocklistLoadsWhole) {
  std::string text;
  for (int i = 150000; i > 0; --i) {
    char line[64];
    std::snprintf(line, sizeof line, "0.0.0.0 Host%06d.example # entry\n", i);
    text += line;
  }
  Write("blockedhosts.dat", text);
  TConfigHarness h;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(h.Load());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  RecordProperty("load_ms", static_cast<int>(ms));
  std::printf("150000 blocked hosts loaded in %lld ms\n", static_cast<long long>(ms));
  const auto& list = h.lists.BlockedHostList();
  ASSERT_EQ(list.size(), 150000u);
  EXPECT_EQ(list.front(), "host000001.example");
  EXPECT_EQ(list.back(), "host150000.example");
  EXPECT_TRUE(h.lists.IsBlockedHost("HOST075000.example"));
  EXPECT_EQ(Read("blockedhosts.dat").size(), 150000u * 19);
}

}  // namespace
}  // namespace vantrel
