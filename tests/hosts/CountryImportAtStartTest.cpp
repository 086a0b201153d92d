// A start without country data imports Tor's country file once, through the
// import command's own code, or says which command would make the data.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/hosts/CountryFixture.h"

namespace vantrel {
namespace {

class CountryImportAtStartTest : public CountryFixture, public ::testing::Test {
 protected:
  CountryImportAtStartTest() {
    fs::create_directory(folder / "source");
    countries.TorGeoipFile = tor;
    countries.IsoCodesFile = folder / "source" / "iso_3166-1.json";
    scratch.Write(
        "source/iso_3166-1.json",
        R"([{"alpha_2": "AU", "name": "Australia"}, {"alpha_2": "ZA", "name": "South Africa"}])");
  }
  // What a start does with the country data.
  bool Start() {
    const bool imported = countries.ImportMissingCountryData();
    countries.LoadCountryList();
    countries.LoadCountryRanges("ZA");
    return imported;
  }

  const fs::path tor = folder / "source" / "geoip";
  const std::string torText =
      "# Tor's country file\n"
      "16777216,16777471,AU\n"
      "687865856,687869951,ZA\n"
      "not,a,range\n";
  const std::string hint =
      "; every host counts as international; run: vantrel --import-country tor " + tor.string() +
      " --data-dir " + folder.string();
};

TEST_F(CountryImportAtStartTest, OnlyAStartWithoutCountryDataImportsAndOnlyOnce) {
  const std::string usersCsv =
      CsvLine("41.0.0.0", "41.0.15.255", 687865856, 687869951, "ZA", "South Africa");
  const struct {
    const char* what;
    std::optional<std::string> source;  // the Tor file
    std::optional<std::string> csv;     // GeoIPCountryWhoIs.csv before the start
    bool imported;
    std::vector<std::string> lines;
  } cases[] = {
      {"a Tor file and no country data",
       torText,
       std::nullopt,
       true,
       {tor.string() + ": Imported 2 ranges for 2 countries; 1 line skipped",
        "Country ZA: 1 address range from GeoIPCountryWhoIs.csv"}},
      {"the user's own country data",
       torText,
       usersCsv,
       false,
       {"Country ZA: 1 address range from GeoIPCountryWhoIs.csv"}},
      {"no Tor file",
       std::nullopt,
       std::nullopt,
       false,
       {"Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found in " + folder.string() +
        hint}},
      {"a Tor file without ranges",
       "# nothing\nnot,a,range\n",
       std::nullopt,
       false,
       {"Importing " + tor.string() + " failed: no IPv4 address ranges found (1 line skipped)",
        "Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found in " + folder.string() +
            hint}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(folder / "GeoIPCountryWhoIs.csv");
    fs::remove(folder / "countries.dat");
    fs::remove(tor);
    if (c.source) Write("source/geoip", *c.source);
    if (c.csv) Write("GeoIPCountryWhoIs.csv", *c.csv);
    comments.clear();
    EXPECT_EQ(Start(), c.imported);
    EXPECT_EQ(comments, c.lines);
    if (!c.source || c.imported == false) {
      EXPECT_EQ(fs::exists(folder / "GeoIPCountryWhoIs.csv"), c.csv.has_value());
      EXPECT_FALSE(fs::exists(folder / "countries.dat"));
      continue;
    }
    // The files the import command makes, with the names it found.
    EXPECT_EQ(Read("GeoIPCountryWhoIs.csv"),
              CsvLine("1.0.0.0", "1.0.0.255", 16777216, 16777471, "AU", "Australia") +
                  CsvLine("41.0.0.0", "41.0.15.255", 687865856, 687869951, "ZA", "South Africa"));
    EXPECT_EQ(Read("countries.dat"), "AU Australia\nZA South Africa\n");
    EXPECT_TRUE(ranges.IsLocal("41.0.0.1"));

    // The next start finds the data made: the Tor file is not read again.
    const std::string made = Read("GeoIPCountryWhoIs.csv");
    Write("source/geoip", "16777216,16777471,ZA\n");
    comments.clear();
    EXPECT_FALSE(Start());
    EXPECT_EQ(comments,
              std::vector<std::string>{"Country ZA: 1 address range from GeoIPCountryWhoIs.csv"});
    EXPECT_EQ(Read("GeoIPCountryWhoIs.csv"), made);
  }
}

// Without a Tor file to name, the line names tor-geoipdb's; a path that is no
// plain shell word is quoted.
TEST_F(CountryImportAtStartTest, TheHintIsACommandToPaste) {
  const struct {
    fs::path torFile;
    std::string command;
  } cases[] = {
      {"", "vantrel --import-country tor /usr/share/tor/geoip"},
      {"/opt/tor data/geoip", "vantrel --import-country tor '/opt/tor data/geoip'"},
      {"/opt/it's/geoip", "vantrel --import-country tor '/opt/it'\\''s/geoip'"},
  };
  for (const auto& c : cases) {
    countries.TorGeoipFile = c.torFile;
    comments.clear();
    EXPECT_FALSE(countries.ImportMissingCountryData());
    countries.LoadCountryRanges("ZA");
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0], "Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found in " +
                               folder.string() + "; every host counts as international; run: " +
                               c.command + " --data-dir " + folder.string());
  }
}

}  // namespace
}  // namespace vantrel
