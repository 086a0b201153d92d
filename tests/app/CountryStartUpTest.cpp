// The main window's start-up with the country files, and the wiring of the
// controls that the host classification listens to.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "files/FileIO.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// An environment variable set for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class CountryStartUpTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) { scratch.Write(name, text); }
  // The messages of the screen log, without their timestamps.
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : window.memStatus.Entries()) {
      const size_t open = entry.text.find(" [");
      messages.push_back(entry.text.substr(open + 2, entry.text.size() - open - 3));
    }
    return messages;
  }

  testsupport::ScratchFolder scratch{"vantrel-start"};
  fs::path folder = scratch.Path();
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
};

TEST_F(CountryStartUpTest, WithoutCountryFilesStartUpSaysWhyNothingIsLocal) {
  ASSERT_TRUE(window.FormCreate());
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found in " +
                            folder.string() +
                            "; every host counts as international; run: vantrel --import-country "
                            "tor /usr/share/tor/geoip --data-dir " +
                            folder.string()});
  ASSERT_EQ(window.mtblCountries.RecordCount(), 1);
  EXPECT_EQ(window.controls.jvdbCountry.DisplayText(), "South Africa");
  EXPECT_FALSE(window.changes.IsChanged());
}

TEST_F(CountryStartUpTest, StartUpLoadsListRangesAndLocalHostsOfTheCountry) {
  Write("countries.dat", "US United States\nZA South Africa\n");
  Write("GeoIPCountryWhoIs.csv",
        "\"41.0.0.0\",\"41.0.15.255\",\"687865856\",\"687869951\",\"ZA\",\"South Africa\"\n"
        "\"3.0.0.0\",\"3.0.0.255\",\"50331648\",\"50331903\",\"US\",\"United States\"\n");
  Write("localhosts_ZA.dat", "za.example\n");
  Write("localhosts_US.dat", "us.example\n");
  ASSERT_TRUE(window.FormCreate());
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Country ZA: 1 address range from GeoIPCountryWhoIs.csv"});
  EXPECT_EQ(window.mtblCountries.RecordCount(), 2);
  EXPECT_EQ(window.controls.lbLocal.Items(), std::vector<std::string>{"za.example"});
  EXPECT_TRUE(window.hosts.IsLocal("41.0.0.1"));
  EXPECT_FALSE(window.changes.IsChanged());

  // Picking a country swaps the host lists and is a change to save.
  window.controls.lbInternational.Add("far.example");
  window.controls.jvdbCountry.SetValue("US");
  EXPECT_EQ(window.controls.lbLocal.Items(), std::vector<std::string>{"us.example"});
  EXPECT_EQ(window.controls.lbInternational.Count(), 0);
  EXPECT_TRUE(window.changes.IsChanged());

  // Whichever way cbBypass turns, hosts it filed are looked up afresh.
  window.controls.lbLocalLAN.Add("lan.example");
  window.controls.cbBypass.SetChecked(!window.controls.cbBypass.Checked());
  EXPECT_EQ(window.controls.lbLocalLAN.Count(), 0);
}

// A first start, without proxy.ini, in Germany: the country is the locale's,
// and Tor's file, where installed, gives its ranges and the country list.
TEST_F(CountryStartUpTest, AFirstStartImportsTorsFileAndTakesTheCountryOfTheLocale) {
  const ScopedEnvironment lang("LANG", "de_DE.UTF-8");
  fs::create_directory(folder / "tor");
  Write("tor/geoip", "1311244288,1311246335,DE\n16777216,16777471,AU\n");
  window.countries.TorGeoipFile = folder / "tor" / "geoip";
  window.countries.IsoCodesFile = folder / "tor" / "iso_3166-1.json";  // none: the codes name them
  ASSERT_TRUE(window.FormCreate());
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{(folder / "tor" / "geoip").string() +
                                          ": Imported 2 ranges for 2 countries; 0 lines skipped",
                                      "Country DE: 1 address range from GeoIPCountryWhoIs.csv"}));
  EXPECT_EQ(window.controls.jvdbCountry.Value(), "DE");
  EXPECT_EQ(window.mtblCountries.RecordCount(), 2);
  EXPECT_TRUE(window.hosts.IsLocal("78.40.0.1"));
  EXPECT_FALSE(window.changes.IsChanged());
}

TEST(FirstStartCountryTest, OnlyAFirstStartTakesTheCountryOfTheLocale) {
  const struct {
    const char* lang;
    const char* ini;  // nullptr: no proxy.ini
    const char* country;
  } cases[] = {
      {"de_DE.UTF-8", nullptr, "DE"},
      {"en_ZA.UTF-8", nullptr, "ZA"},
      {"C.UTF-8", nullptr, "ZA"},
      {"de_DE.UTF-8", "[CONFIG]\nLocalCountryCode=AT\n", "AT"},
      {"de_DE.UTF-8", "[CONFIG]\nLocalCountryCode=\n", ""},
      {"de_DE.UTF-8", "[CONFIG]\nProxyPort=3128\n", "ZA"},  // a file without the key
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lang) + " " + (c.ini ? c.ini : "(no proxy.ini)"));
    const ScopedEnvironment lang("LANG", c.lang);
    testsupport::ScratchFolder scratch{"vantrel-first"};
    if (c.ini) scratch.Write("proxy.ini", c.ini);
    TScriptedUserInterface ui;
    TfrmVantrelMain window{ui};
    ASSERT_TRUE(window.FormCreate());
    EXPECT_EQ(window.controls.jvdbCountry.Value(), c.country);
    EXPECT_FALSE(window.changes.IsChanged());
  }
}

TEST_F(CountryStartUpTest, UnreadableCountryFilesDoNotStopStartUp) {
  ASSERT_EQ(symlink("/proc/self/mem", (folder / "countries.dat").c_str()), 0);
  fs::create_directory(folder / "GeoIPCountryWhoIs.csv");
  ASSERT_TRUE(window.FormCreate());
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0],
            "Cannot read " + (folder / "countries.dat").string() + ": Input/output error");
  EXPECT_EQ(messages[1].rfind("Country ZA: no address ranges, GeoIPCountryWhoIs.csv not found", 0),
            0u);
  EXPECT_EQ(window.controls.jvdbCountry.DisplayText(), "South Africa");
  EXPECT_FALSE(window.changes.IsChanged());
}

// A country file past the bound is not taken into memory: it is named, and
// start-up goes on without it.
TEST_F(CountryStartUpTest, ACountryFileTooLargeIsSkipped) {
  Write("GeoIPCountryWhoIs.csv", "");
  fs::resize_file(folder / "GeoIPCountryWhoIs.csv", kDataFileLimit + 1);  // sparse
  ASSERT_TRUE(window.FormCreate());
  const auto messages = Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], (folder / "GeoIPCountryWhoIs.csv").string() + ": file too large");
  EXPECT_EQ(window.mtblCountries.RecordCount(), 1);
}

}  // namespace
}  // namespace vantrel
