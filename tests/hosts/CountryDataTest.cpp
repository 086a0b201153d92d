#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/hosts/CountryFixture.h"

namespace vantrel {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

class CountryDataTest : public CountryFixture, public ::testing::Test {
 protected:
  CountryDataTest() {
    controls.jvdbCountry.OnChange = [this](TControl& sender) {
      countries.jvdbCountryChange(sender);
    };
  }
  Rows CountryRows() const {
    Rows rows;
    for (int row = 0; row < mtblCountries.RecordCount(); ++row) {
      rows.emplace_back(mtblCountries.StringAt(row, country_fields::CountryCode),
                        mtblCountries.StringAt(row, country_fields::CountryName));
    }
    return rows;
  }
  // A file that exists as a regular file yet fails every read, even for root.
  void Unreadable(const std::string& name) {
    ASSERT_EQ(symlink("/proc/self/mem", (folder / name).c_str()), 0);
  }
  const std::string za1 =
      CsvLine("41.0.0.0", "41.0.15.255", 687865856, 687869951, "ZA", "South Africa");
  const std::string za2 =
      CsvLine("196.0.0.0", "196.0.255.255", 3288334336, 3288399871, "ZA", "South Africa");
  const std::string au = CsvLine("1.0.0.0", "1.0.0.255", 16777216, 16777471, "AU", "Australia");
};

TEST_F(CountryDataTest, CountryListWithoutAFileOffersSouthAfricaAlone) {
  countries.LoadCountryList();
  EXPECT_EQ(CountryRows(), (Rows{{"ZA", "South Africa"}}));
  EXPECT_FALSE(fs::exists(folder / "countries.dat"));  // not created

  // Neither a folder in its place nor an unreadable file stops the list.
  fs::create_directory(folder / "countries.dat");
  countries.LoadCountryList();
  EXPECT_EQ(CountryRows(), (Rows{{"ZA", "South Africa"}}));
  fs::remove(folder / "countries.dat");
  Unreadable("countries.dat");
  countries.LoadCountryList();
  EXPECT_EQ(CountryRows(), (Rows{{"ZA", "South Africa"}}));
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0],
            "Cannot read " + (folder / "countries.dat").string() + ": Input/output error");
}

TEST_F(CountryDataTest, CountryListTakesCodeAndNameFromEveryLine) {
  const std::string a29(29, 'a');
  const struct {
    const char* what;
    std::string text;
    Rows rows;
  } cases[] = {
      {"one line", "US United States\n", {{"US", "United States"}}},
      {"no final line end", "US United States", {{"US", "United States"}}},
      {"CR LF",
       "US United States\r\nZA South Africa\r\n",
       {{"US", "United States"}, {"ZA", "South Africa"}}},
      {"an empty line is a row",
       "US United States\n\nZA South Africa\n",
       {{"US", "United States"}, {"", ""}, {"ZA", "South Africa"}}},
      {"only an empty line", "\n", {{"", ""}}},
      {"empty file", "", {}},
      {"byte-order mark", "\xEF\xBB\xBFUS United States\n", {{"US", "United States"}}},
      {"short lines", "U\nUSA\nUS \n", {{"U", ""}, {"US", ""}, {"US", ""}}},
      {"any separator", "US;United States\n", {{"US", "United States"}}},
      {"long name cut to 30",
       "GB United Kingdom of Great Britain and Northern Ireland\n",
       {{"GB", "United Kingdom of Great Britai"}}},
      {"cut before a character, not inside", "AX " + a29 + "\xC3\xA9" + "z\n", {{"AX", a29}}},
      {"a whole character fits",
       "AX " + std::string(28, 'a') + "\xC3\xA9" + "z\n",
       {{"AX", std::string(28, 'a') + "\xC3\xA9"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write("countries.dat", c.text);
    countries.LoadCountryList();
    EXPECT_EQ(CountryRows(), c.rows);
  }
  EXPECT_TRUE(comments.empty());
}

TEST_F(CountryDataTest, CountrySelectorShowsNameAndCodeAfterItsNoneRow) {
  Write("countries.dat", "US United States\nZA South Africa\n");
  countries.LoadCountryList();
  const auto items = controls.jvdbCountry.ItemColumns();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].first, "");
  EXPECT_EQ(items[0].second, std::vector<std::string>{"<none>"});
  EXPECT_EQ(items[2].first, "ZA");
  EXPECT_EQ(items[2].second, (std::vector<std::string>{"South Africa", "ZA"}));
  EXPECT_EQ(controls.jvdbCountry.DisplayText(), "<none>");
  controls.jvdbCountry.SetValue("US");
  EXPECT_EQ(controls.jvdbCountry.DisplayText(), "United States");
}

TEST_F(CountryDataTest, RangesAreLoadedSortedAndSaidInOneLine) {
  // A range appended at the end of the file must still be found.
  Write("GeoIPCountryWhoIs.csv", au + za2 + za1);
  countries.LoadCountryRanges("ZA");
  EXPECT_EQ(comments,
            std::vector<std::string>{"Country ZA: 2 address ranges from GeoIPCountryWhoIs.csv"});
  EXPECT_EQ(countries.RangesCountry(), "ZA");
  EXPECT_TRUE(ranges.IsLocal("41.0.0.1"));
  EXPECT_TRUE(ranges.IsLocal("196.0.0.1"));
  EXPECT_FALSE(ranges.IsLocal("1.0.0.1"));

  comments.clear();
  Write("GeoIPCountryWhoIs.csv", au + "\"x\",\"y\",\"687865856\",\"-5\",\"ZA\",\"South Africa\"\n" +
                                     za1 +
                                     "\"x\",\"y\",\"4294967296\",\"1\",\"ZA\",\"South Africa\"\n" +
                                     "\"x\",\"y\",\"300\",\"200\",\"ZA\",\"South Africa\"\n");
  countries.LoadCountryRanges("ZA");
  EXPECT_EQ(comments,
            (std::vector<std::string>{
                "Country ZA: 3 lines with unusable address bounds skipped in GeoIPCountryWhoIs.csv",
                "Country ZA: 1 address range from GeoIPCountryWhoIs.csv"}));
  EXPECT_TRUE(ranges.IsLocal("41.0.0.1"));
  EXPECT_FALSE(ranges.IsLocal("0.0.1.0"));  // the inverted range 300-200 is not kept

  comments.clear();
  countries.LoadCountryRanges("US");
  countries.LoadCountryRanges("");
  EXPECT_EQ(comments,
            (std::vector<std::string>{
                "Country US: no address ranges in GeoIPCountryWhoIs.csv; every host counts as "
                "international",
                "Country <none>: no address ranges in GeoIPCountryWhoIs.csv; every host counts "
                "as international"}));
  EXPECT_TRUE(ranges.Empty());
}

TEST_F(CountryDataTest, RangesFileUnderAnotherCaseIsTakenWhenItIsTheOnlyOne) {
  countries.TorGeoipFile.clear();
  const std::string missing = "Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found in " +
                              folder.string() +
                              "; every host counts as international; run: vantrel "
                              "--import-country tor /usr/share/tor/geoip --data-dir " +
                              folder.string();
  const struct {
    const char* what;
    std::vector<std::string> names;  // files written, each with the ZA lines
    std::string line;
  } cases[] = {
      {"no file", {}, missing},
      {"the other spelling",
       {"GeoIPCountryWhois.csv"},
       "Country ZA: 2 address ranges from GeoIPCountryWhois.csv"},
      {"two other spellings: neither", {"geoipcountrywhois.csv", "GEOIPCOUNTRYWHOIS.CSV"}, missing},
      {"the exact name wins",
       {"geoipcountrywhois.csv", "GeoIPCountryWhoIs.csv"},
       "Country ZA: 2 address ranges from GeoIPCountryWhoIs.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    for (const auto& name : c.names) Write(name, za1 + za2);
    comments.clear();
    countries.LoadCountryRanges("ZA");
    EXPECT_EQ(comments, std::vector<std::string>{c.line});
  }
}

TEST_F(CountryDataTest, ARangesFileThatCannotBeReadLeavesTheTableEmptyAndSaysWhy) {
  Write("GeoIPCountryWhoIs.csv", za1);
  countries.LoadCountryRanges("ZA");
  ASSERT_FALSE(ranges.Empty());

  fs::remove(folder / "GeoIPCountryWhoIs.csv");
  fs::create_directory(folder / "GeoIPCountryWhoIs.csv");
  comments.clear();
  countries.LoadCountryRanges("ZA");
  EXPECT_TRUE(ranges.Empty());
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_NE(comments[0].find("GeoIPCountryWhoIs.csv not found"), std::string::npos);

  fs::remove(folder / "GeoIPCountryWhoIs.csv");
  Unreadable("GeoIPCountryWhoIs.csv");
  comments.clear();
  countries.LoadCountryRanges("ZA");
  EXPECT_TRUE(ranges.Empty());
  EXPECT_EQ(
      comments,
      (std::vector<std::string>{
          "Cannot read " + (folder / "GeoIPCountryWhoIs.csv").string() + ": Input/output error",
          "Country ZA: no address ranges in GeoIPCountryWhoIs.csv; every host counts as "
          "international"}));
}

TEST_F(CountryDataTest, LocalHostFileFillsAndEmptiesTheLocalHosts) {
  Write("localhosts_ZA.dat", "b.example\r\nA.example\r\n\r\na.example\nc.example\nc.example.");
  countries.LoadLocalHostsFile("ZA");
  EXPECT_EQ(controls.lbLocal.Items(),
            (std::vector<std::string>{"A.example", "b.example", "c.example"}));
  EXPECT_TRUE(controls.lbLocal.Contains("B.EXAMPLE"));
  countries.LoadLocalHostsFile("US");  // no file
  EXPECT_EQ(controls.lbLocal.Count(), 0);
  // "<none>": the file with nothing between the underscore and the dot.
  Write("localhosts_.dat", "none.example\n");
  countries.LoadLocalHostsFile("");
  EXPECT_EQ(controls.lbLocal.Items(), std::vector<std::string>{"none.example"});
}

TEST_F(CountryDataTest, LocalHostFileIsWrittenWholeOnlyForATwoCharacterCodeWhoseRangesAreLoaded) {
  controls.lbLocal.SetItems({"b.example", "a.example"});
  const auto before = FolderNames();
  for (const char* code : {"", "Z", "ZAF", "..", "Z/", "/Z", "Z\n", "Z "}) {
    SCOPED_TRACE(code);
    countries.LoadCountryRanges(code);
    countries.SaveLocalHostsFile(code);
    countries.FlushLocalHostsFile();
  }
  EXPECT_EQ(FolderNames(), before);

  countries.LoadCountryRanges("ZA");
  controls.lbLocal.SetItems({"b.example", "a.example"});
  countries.SaveLocalHostsFile("US");  // not the country whose ranges are loaded
  countries.SaveLocalHostsFile("ZA");
  countries.FlushLocalHostsFile();
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"localhosts_ZA.dat"});
  EXPECT_EQ(Read("localhosts_ZA.dat"), "a.example\nb.example\n");

  // A failed write leaves no temporary file behind and says why.
  fs::remove(folder / "localhosts_ZA.dat");
  fs::create_directory(folder / "localhosts_ZA.dat");
  comments.clear();
  countries.SaveLocalHostsFile("ZA");
  countries.FlushLocalHostsFile();
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"localhosts_ZA.dat"});
  EXPECT_EQ(comments,
            std::vector<std::string>{"Unable to write to " +
                                     (folder / "localhosts_ZA.dat").string() + ": Is a directory"});
}

// A burst of new local hosts costs one write, made from the loop; what is
// pending is written before lbLocal is reloaded, and at the end.
TEST_F(CountryDataTest, LocalHostSavesAreWrittenLaterAndTogether) {
  const fs::path file = folder / "localhosts_ZA.dat";
  {
    TCountryData later(controls, mtblCountries, ranges, nextHops,
                       [this](const std::string& m) { comments.push_back(m); });
    later.LocalHostsDelay = std::chrono::milliseconds(20);
    later.LoadCountryRanges("ZA");
    comments.clear();
    for (const char* host : {"b.example", "a.example"}) {
      controls.lbLocal.Add(host);
      later.SaveLocalHostsFile("ZA");
    }
    EXPECT_FALSE(fs::exists(file));  // nobody waited for the disk
    ASSERT_TRUE(net::EventLoop::Default().RunUntil([&] { return fs::exists(file); },
                                                   std::chrono::milliseconds(5000)));
    EXPECT_EQ(Read("localhosts_ZA.dat"), "a.example\nb.example\n");

    controls.lbLocal.Add("c.example");
    later.SaveLocalHostsFile("ZA");
    later.LoadLocalHostsFile("ZA");
    EXPECT_EQ(controls.lbLocal.Count(), 3);
    controls.lbLocal.Add("d.example");
    later.SaveLocalHostsFile("ZA");
  }
  EXPECT_EQ(Read("localhosts_ZA.dat"), "a.example\nb.example\nc.example\nd.example\n");
  EXPECT_TRUE(comments.empty());
}

TEST_F(CountryDataTest, PickingACountrySwapsTheHostListsButNotTheRanges) {
  Write("GeoIPCountryWhoIs.csv",
        za1 + CsvLine("3.0.0.0", "3.0.0.255", 50331648, 50331903, "US", "United States"));
  Write("localhosts_ZA.dat", "za.example\n");
  Write("localhosts_US.dat", "us.example\n");
  controls.jvdbCountry.SetValue("ZA");
  countries.LoadCountryRanges("ZA");
  controls.lbInternational.Add("far.example");
  changes.SetChanged(false);

  controls.jvdbCountry.SetValue("US");
  EXPECT_EQ(controls.lbLocal.Items(), std::vector<std::string>{"us.example"});
  EXPECT_EQ(controls.lbInternational.Count(), 0);
  EXPECT_TRUE(changes.IsChanged());
  EXPECT_TRUE(ranges.IsLocal("41.0.0.1"));  // still South Africa's until the reload
  EXPECT_FALSE(ranges.IsLocal("3.0.0.1"));

  // The reload after "Save Changes" brings the new country's ranges; hosts
  // filed meanwhile by the old ranges are dropped with them.
  controls.lbLocal.Add("filed-meanwhile.example");
  controls.lbInternational.Add("also-meanwhile.example");
  countries.LoadCountryRanges("US");
  EXPECT_TRUE(ranges.IsLocal("3.0.0.1"));
  EXPECT_EQ(controls.lbLocal.Items(), std::vector<std::string>{"us.example"});
  EXPECT_EQ(controls.lbInternational.Count(), 0);
  EXPECT_EQ(Read("localhosts_ZA.dat"), "za.example\n");
  EXPECT_EQ(Read("localhosts_US.dat"), "us.example\n");
}

}  // namespace
}  // namespace vantrel
