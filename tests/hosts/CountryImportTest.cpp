// The import command: line parsers of each source, the clean-up of the
// ranges, the files it writes, its exit codes, and a run on real Tor data.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hosts/CountryImport.h"

namespace vantrel::routing {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::path(testing::TempDir()) / "import-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TImportRange Range(uint32_t first, uint32_t last, const char* code) {
  TImportRange range;
  range.first = first;
  range.last = last;
  range.code[0] = code[0];
  range.code[1] = code[1];
  return range;
}

std::string Show(const std::vector<TImportRange>& ranges) {
  std::string text;
  for (const auto& r : ranges) {
    text +=
        std::to_string(r.first) + "-" + std::to_string(r.last) + " " + std::string(r.Code()) + "; ";
  }
  return text;
}

constexpr const char* kIsoSample = R"({
  "3166-1": [
    {"alpha_2": "AU", "alpha_3": "AUS", "name": "Australia", "numeric": "036"},
    {"alpha_2": "US", "name": "United States", "official_name": "United States of America"},
    {"alpha_2": "BO", "common_name": "Bolivia", "name": "Bolivia, Plurinational State of"},
    {"alpha_2": "DE", "name": "Germany"},
    {"alpha_2": "JP", "name": "Japan"}
  ]
})";

// ---------------------------------------------------------------------------
// Numbers and addresses

TEST(ImportNumbers, DecimalBoundsAreRefusedRatherThanWrapped) {
  const std::vector<std::pair<std::string, std::optional<uint32_t>>> cases = {
      {"0", 0u},
      {"16777216", 16777216u},         // 8 digits
      {"167772160", 167772160u},       // 9 digits
      {"3758096384", 3758096384u},     // 10 digits, above the signed range
      {"4294967295", 4294967295u},     // the last address
      {"0004294967295", 4294967295u},  // leading zeros change nothing
      {"4294967296", std::nullopt},    // one too many: never wraps to 0
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"12a", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseDecimal32(text), expected) << text;
}

TEST(ImportNumbers, AddressesAreStrictDottedDecimal) {
  const std::vector<std::pair<std::string, std::optional<uint32_t>>> cases = {
      {"1.2.3.4", 0x01020304u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {"010.008.0.1", 0x0A080001u},  // leading zeros are decimal, not octal
      {"256.0.0.1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1..2.3", std::nullopt},
      {"0001.2.3.4", 0x01020304u},  // as the address lists read it
      {"1.2.3.4 ", std::nullopt},
      {"0x1.2.3.4", std::nullopt},
      {"1.2.3.-4", std::nullopt},
      {"16909060", std::nullopt},  // inet_aton would take a bare number
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseIPv4(text), expected) << text;
}

TEST(ImportNumbers, NetworksNeedAValidLengthAndZeroHostBits) {
  struct Case {
    std::string text;
    bool ok;
    uint32_t first, last;
  };
  const std::vector<Case> cases = {
      {"10.0.0.0/8", true, 0x0A000000u, 0x0AFFFFFFu},
      {"0.0.0.0/0", true, 0u, 0xFFFFFFFFu},
      {"1.2.3.4/32", true, 0x01020304u, 0x01020304u},
      {"1.2.3.4", true, 0x01020304u, 0x01020304u},
      {"128.0.0.0/1", true, 0x80000000u, 0xFFFFFFFFu},
      {"10.0.0.1/8", false, 0, 0},
      {"1.2.3.0/33", false, 0, 0},
      {"1.2.3.0/", false, 0, 0},
      {"1.2.3.0/024", false, 0, 0},
      {"1.2.3.0/-1", false, 0, 0},
      {"1.2.3.0/24/24", false, 0, 0},
  };
  for (const auto& c : cases) {
    const auto range = ParseCidr(c.text);
    ASSERT_EQ(range.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(range->first, c.first) << c.text;
    EXPECT_EQ(range->last, c.last) << c.text;
  }
}

// ---------------------------------------------------------------------------
// One line of each format

TEST(ImportLines, EachFormatTakesGoodLinesAndRefusesBadOnes) {
  enum Format { Tor, Dbip, Cidr };
  struct Case {
    Format format;
    std::string line;
    TLineResult result;
    uint32_t first = 0, last = 0;
    std::string code = {};
  };
  using R = TLineResult;
  const std::vector<Case> cases = {
      {Tor, "# comment", R::Ignored},
      {Tor, "", R::Ignored},
      {Tor, "16777216,16777471,AU", R::Range, 16777216, 16777471, "AU"},
      {Tor, "3758096384,4294967295,us", R::Range, 3758096384u, 4294967295u, "US"},
      {Tor, "\"1\",\"2\",\"DE\"", R::Range, 1, 2, "DE"},
      {Tor, "7,7,DE", R::Range, 7, 7, "DE"},
      {Tor, "15726992,15726999,??", R::Skipped},
      {Tor, "1,2,ZZ", R::Skipped},
      {Tor, "1,2,USA", R::Skipped},
      {Tor, "1,2,A1", R::Skipped},  // would match the quoted bound "10".."99" of other lines
      {Tor, "1,2,", R::Skipped},
      {Tor, "1,2", R::Skipped},
      {Tor, "1,2,AU,extra", R::Skipped},
      {Tor, "2,1,AU", R::Skipped},
      {Tor, "4294967295,4294967296,US", R::Skipped},
      {Tor, "-1,5,US", R::Skipped},
      {Tor, "1.0.0.0,1.0.0.255,AU", R::Skipped},
      {Tor, "\"1,2,AU", R::Skipped},
      {Dbip, "1.0.0.0,1.0.0.255,AU", R::Range, 16777216, 16777471, "AU"},
      {Dbip, "010.0.0.0,010.0.0.255,DE", R::Range, 0x0A000000u, 0x0A0000FFu, "DE"},
      {Dbip, "\"1.0.0.0\",\"1.0.0.255\",\"AU\"", R::Range, 16777216, 16777471, "AU"},
      {Dbip, "2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP", R::Ignored},
      {Dbip, "::,1.0.0.0,ZZ", R::Ignored},
      {Dbip, "1.0.0.256,1.0.1.0,AU", R::Skipped},
      {Dbip, "16777216,16777471,AU", R::Skipped},
      {Dbip, "1.0.0.9,1.0.0.1,AU", R::Skipped},
      {Dbip, "0.0.0.0,0.255.255.255,ZZ", R::Skipped},
      {Dbip, "ip_start,ip_end,country", R::Skipped},
      {Cidr, "10.0.0.0/8", R::Range, 0x0A000000u, 0x0AFFFFFFu, "DE"},
      {Cidr, "  192.168.1.0/24 \t", R::Range, 0xC0A80100u, 0xC0A801FFu, "DE"},
      {Cidr, "# list", R::Ignored},
      {Cidr, "   ", R::Ignored},
      {Cidr, "10.0.0.1/8", R::Skipped},
      {Cidr, "2001:db8::/32", R::Skipped},
      {Cidr, "10.0.0.0/8 # note", R::Skipped},
  };
  for (const auto& c : cases) {
    TImportRange range;
    TLineResult result = R::Ignored;
    switch (c.format) {
      case Tor: result = ParseTorLine(c.line, range); break;
      case Dbip: result = ParseDbipLine(c.line, range); break;
      case Cidr: result = ParseCidrLine(c.line, "DE", range); break;
    }
    ASSERT_EQ(result, c.result) << c.line;
    if (result != R::Range) continue;
    EXPECT_EQ(range.first, c.first) << c.line;
    EXPECT_EQ(range.last, c.last) << c.line;
    EXPECT_EQ(range.Code(), c.code) << c.line;
  }
}

TEST(ImportTexts, CommentsLineEndsAndBadLinesLeaveTheGoodRangesAndACount) {
  TImportResult tor;
  ImportTorText(
      "\xEF\xBB\xBF# header\r\n16777216,16777471,AU\r\nnonsense\r\n2,1,US\r\n\r\n"
      "15726992,15726999,??\n3758096384,3758096639,US",
      tor);
  EXPECT_EQ(Show(tor.ranges), "16777216-16777471 AU; 3758096384-3758096639 US; ");
  EXPECT_EQ(tor.skipped, 3u);

  TImportResult dbip;
  ImportDbipText(
      "1.0.0.0,1.0.0.255,AU\n1.0.1.0,1.0.3.255,CN\n1.0.4.0,1.0.4.300,AU\n"
      "2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n::1,::1,ZZ\n",
      dbip);
  EXPECT_EQ(Show(dbip.ranges), "16777216-16777471 AU; 16777472-16778239 CN; ");
  EXPECT_EQ(dbip.skipped, 1u);  // IPv6 rows are not faults

  TImportResult cidr;
  ImportCidrText("# ours\n10.0.0.0/8\r\n10.0.0.1/8\n172.16.0.0/12\n", "ZA", cidr);
  EXPECT_EQ(Show(cidr.ranges), "167772160-184549375 ZA; 2886729728-2887778303 ZA; ");
  EXPECT_EQ(cidr.skipped, 1u);
}

// Blocks columns in an unusual order prove they are read by header name.
constexpr const char* kBlocks =
    "network,is_anonymous_proxy,registered_country_geoname_id,geoname_id,is_satellite_provider\n"
    "1.0.0.0/24,0,2077456,2077456,0\n"     // AU by geoname_id
    "1.0.1.0/24,0,1814991,,0\n"            // CN by the registered country
    "1.0.2.0/23,0,1814991,2077456,0\n"     // geoname_id wins over registered
    "2.0.0.0/24,1,,,0\n"                   // neither: skipped
    "3.0.0.0/24,0,6255148,6255148,0\n"     // a continent: skipped
    "4.0.0.0/24,0,999,999,0\n"             // unknown id: skipped
    "5.0.0.1/24,0,2077456,2077456,0\n"     // host bits: skipped
    "2001:db8::/32,0,2077456,2077456,0\n"  // IPv6: ignored
    "6.0.0.0/8,0,2921044,2921044,0\r\n";
constexpr const char* kLocations =
    "geoname_id,locale_code,continent_code,continent_name,country_iso_code,country_name,"
    "is_in_european_union\n"
    "2077456,en,OC,Oceania,AU,Australia,0\n"
    "1814991,en,AS,Asia,CN,China,0\n"
    "6255148,en,EU,Europe,,,0\n"
    "2921044,en,EU,Europe,DE,\"Germany, \"\"Federal\"\" Republic\",1\r\n";

TEST(ImportTexts, GeoLite2PairIsReadByHeaderNamesInEitherOrder) {
  for (bool swapped : {false, true}) {
    TImportResult result;
    std::string error;
    ASSERT_TRUE(swapped ? ImportGeoLite2Texts(kLocations, kBlocks, result, error)
                        : ImportGeoLite2Texts(kBlocks, kLocations, result, error))
        << error;
    EXPECT_EQ(Show(result.ranges),
              "16777216-16777471 AU; 16777472-16777727 CN; 16777728-16778239 AU; "
              "100663296-117440511 DE; ");
    EXPECT_EQ(result.skipped, 4u);
    EXPECT_EQ(result.names["AU"], "Australia");
    EXPECT_EQ(result.names["DE"], "Germany, 'Federal' Republic");
  }
}

TEST(ImportTexts, GeoLite2WithoutItsHeadersIsRefused) {
  TImportResult result;
  std::string error;
  EXPECT_FALSE(ImportGeoLite2Texts(kBlocks, kBlocks, result, error));
  EXPECT_FALSE(ImportGeoLite2Texts(kLocations, kLocations, result, error));
  EXPECT_FALSE(ImportGeoLite2Texts("1.0.0.0/24,1,1\n", kLocations, result, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(result.ranges.empty());
}

// ---------------------------------------------------------------------------
// Sorting, merging, conflicts

TEST(NormaliseRanges, SortsMergesAndSettlesConflicts) {
  struct Case {
    const char* what;
    std::vector<TImportRange> in;
    std::string out;
    size_t conflicts;
  };
  const std::vector<Case> cases = {
      {"unsorted", {Range(50, 60, "US"), Range(10, 20, "AU")}, "10-20 AU; 50-60 US; ", 0},
      {"overlap, same country",
       {Range(10, 30, "AU"), Range(20, 40, "AU"), Range(35, 36, "AU")},
       "10-40 AU; ",
       0},
      {"adjacent, same country", {Range(21, 30, "AU"), Range(10, 20, "AU")}, "10-30 AU; ", 0},
      {"adjacent, other country",
       {Range(10, 20, "AU"), Range(21, 30, "NZ")},
       "10-20 AU; 21-30 NZ; ",
       0},
      {"overlap, other country: the later start keeps the rest",
       {Range(10, 30, "AU"), Range(20, 40, "NZ")},
       "10-30 AU; 31-40 NZ; ",
       1},
      {"contained in another country's range",
       {Range(10, 50, "AU"), Range(20, 30, "NZ"), Range(40, 60, "AU")},
       "10-60 AU; ",
       1},
      {"same start: the shorter range keeps it",
       {Range(10, 50, "AU"), Range(10, 20, "NZ")},
       "10-20 NZ; 21-50 AU; ",
       1},
      {"duplicates", {Range(5, 5, "AU"), Range(5, 5, "AU")}, "5-5 AU; ", 0},
      {"top of the address space",
       {Range(4294967295u, 4294967295u, "US"), Range(4294967200u, 4294967295u, "US")},
       "4294967200-4294967295 US; ",
       0},
      {"empty", {}, "", 0},
  };
  for (auto c : cases) {
    EXPECT_EQ(NormaliseRanges(c.in), c.conflicts) << c.what;
    EXPECT_EQ(Show(c.in), c.out) << c.what;
  }
}

// Over many random tables on a small address space, the result must be
// sorted and disjoint, cover exactly what the input covered, give each
// address one of the countries the input gave it, and agree with the input
// wherever only one country claimed an address.
TEST(NormaliseRanges, AgreesWithAnAddressByAddressModel) {
  std::mt19937 random(7);
  const char* codes[] = {"AU", "NZ", "US"};
  for (int round = 0; round < 500; ++round) {
    std::vector<TImportRange> ranges;
    const int count = static_cast<int>(random() % 12);
    std::map<uint32_t, std::set<std::string>> claims;
    for (int i = 0; i < count; ++i) {
      const uint32_t a = random() % 64;
      const uint32_t b = a + random() % 12;
      const char* code = codes[random() % 3];
      ranges.push_back(Range(a, b, code));
      for (uint32_t x = a; x <= b; ++x) claims[x].insert(code);
    }
    const std::string before = Show(ranges);
    NormaliseRanges(ranges);
    for (size_t i = 1; i < ranges.size(); ++i) {
      ASSERT_GT(ranges[i].first, ranges[i - 1].last) << before;
      if (ranges[i].first == ranges[i - 1].last + 1) {
        ASSERT_NE(ranges[i].Code(), ranges[i - 1].Code()) << "unmerged neighbours: " << before;
      }
    }
    for (uint32_t x = 0; x < 80; ++x) {
      std::string got;
      for (const auto& r : ranges) {
        if (r.first <= x && x <= r.last) got = std::string(r.Code());
      }
      const auto claim = claims.find(x);
      if (claim == claims.end()) {
        ASSERT_EQ(got, "") << x << " in " << before;
      } else {
        ASSERT_TRUE(claim->second.count(got)) << x << " in " << before;
        if (claim->second.size() == 1) {
          ASSERT_EQ(got, *claim->second.begin()) << before;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The files written

TEST(CountryFiles, DatabaseLinesCarrySixQuotedFields) {
  TCountryNames names{{"AU", "Australia"}};
  const std::vector<TImportRange> ranges = {Range(16777216, 16777471, "AU"),
                                            Range(3758096384u, 4294967295u, "US")};
  EXPECT_EQ(FormatCountryCsv(ranges, names),
            "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n"
            "\"224.0.0.0\",\"255.255.255.255\",\"3758096384\",\"4294967295\",\"US\",\"US\"\n");
  EXPECT_EQ(FormatCountryList(ranges, {{"US", "United States"}, {"AU", "Australia"}}),
            "AU Australia\nUS United States\n");
  // Ordered by name, not by code; a code without a name shows itself, last.
  EXPECT_EQ(FormatCountryList({Range(1, 1, "DE"), Range(2, 2, "BO"), Range(3, 3, "AN")},
                              {{"DE", "Germany"}, {"BO", "Bolivia"}}),
            "BO Bolivia\nDE Germany\nAN AN\n");
}

TEST(CountryNames, IsoCodesListGivesCommonNamesAndTakesEscapes) {
  const TCountryNames names = ParseIsoCountryNames(kIsoSample);
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(names.at("AU"), "Australia");
  EXPECT_EQ(names.at("BO"), "Bolivia");
  EXPECT_EQ(names.at("US"), "United States");

  const TCountryNames escaped = ParseIsoCountryNames(
      R"({"3166-1": [{"name": "Cura\u00e7ao", "alpha_2": "CW"},)"
      R"( {"alpha_2": "XX", "name": "A \"quoted\"\tname \ud83d\ude00"},)"
      R"( {"alpha_3": "NOP", "name": "No code"}, {"alpha_2": "ZZ", "name": "Unknown"},)"
      R"( {"alpha_2": "YY", "name": "Nested", "extra": {"name": "Inner", "alpha_2": "QQ"}}]})");
  EXPECT_EQ(escaped.at("CW"),
            "Cura\xC3\xA7"
            "ao");
  EXPECT_EQ(escaped.at("XX"), "A 'quoted' name \xF0\x9F\x98\x80");
  EXPECT_EQ(escaped.at("YY"), "Nested");
  EXPECT_EQ(escaped.at("QQ"), "Inner");
  EXPECT_EQ(escaped.size(), 4u);

  for (const char* broken : {"", "{", "{\"alpha_2\": \"AU\", \"name\": \"Aus", "]]}}", "\"\\u12"}) {
    EXPECT_TRUE(ParseIsoCountryNames(broken).empty()) << broken;
  }
}

// ---------------------------------------------------------------------------
// The whole command

struct CapturedRun {
  int code = -1;
  std::string out;
  std::string err;
};

CapturedRun Import(const TImportRequest& request, const fs::path& dataFolder,
                   const fs::path& isoFile) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TImportOptions options;
  options.dataFolder = dataFolder;
  options.isoCodesFile = isoFile;
  CapturedRun run;
  run.code = RunCountryImport(request, options, out, err);
  for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
    std::rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
    std::fclose(file);
  }
  return run;
}

TImportRequest Request(const std::vector<std::string>& operands) {
  std::string error;
  auto request = ParseImportRequest(operands, error);
  EXPECT_TRUE(request.has_value()) << error;
  return request.value_or(TImportRequest{});
}

TEST(RunCountryImport, EachFormatWritesTheDatabaseAndTheCountryList) {
  struct Case {
    std::vector<std::string> operands;  // FORMAT [CC], then sources as name=text
    std::vector<std::pair<std::string, std::string>> sources;
    std::string csv;
    std::string list;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {{"tor"},
       {{"geoip", "# c\n16777472,16778239,JP\n16777216,16777471,AU\nbad\n"}},
       "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n"
       "\"1.0.1.0\",\"1.0.3.255\",\"16777472\",\"16778239\",\"JP\",\"Japan\"\n",
       "AU Australia\nJP Japan\n",
       "Imported 2 ranges for 2 countries; 1 line skipped\n"},
      {{"tor"},  // two files make one database
       {{"a", "16777216,16777471,AU\n"}, {"b", "16777472,16777500,AU\n"}},
       "\"1.0.0.0\",\"1.0.1.28\",\"16777216\",\"16777500\",\"AU\",\"Australia\"\n",
       "AU Australia\n",
       "Imported 1 range for 1 country; 0 lines skipped\n"},
      {{"dbip"},
       {{"dbip.csv",
         "1.0.0.0,1.0.0.255,AU\r\n2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\r\n"
         "224.0.0.0,255.255.255.255,US\r\n"}},
       "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n"
       "\"224.0.0.0\",\"255.255.255.255\",\"3758096384\",\"4294967295\",\"US\",\"United "
       "States\"\n",
       "AU Australia\nUS United States\n",
       "Imported 2 ranges for 2 countries; 0 lines skipped\n"},
      {{"geolite2"},
       {{"Blocks.csv", kBlocks}, {"Locations.csv", kLocations}},
       "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n"
       "\"1.0.1.0\",\"1.0.1.255\",\"16777472\",\"16777727\",\"CN\",\"China\"\n"
       "\"1.0.2.0\",\"1.0.3.255\",\"16777728\",\"16778239\",\"AU\",\"Australia\"\n"
       "\"6.0.0.0\",\"6.255.255.255\",\"100663296\",\"117440511\",\"DE\",\"Germany, "
       "'Federal' Republic\"\n",
       "AU Australia\nCN China\nDE Germany, 'Federal' Republic\n",
       "Imported 4 ranges for 3 countries; 4 lines skipped\n"},
      {{"cidr", "de"},
       {{"de.txt", "10.0.0.0/9\n10.128.0.0/9\n192.168.0.0/16\n"}},
       "\"10.0.0.0\",\"10.255.255.255\",\"167772160\",\"184549375\",\"DE\",\"Germany\"\n"
       "\"192.168.0.0\",\"192.168.255.255\",\"3232235520\",\"3232301055\",\"DE\",\"Germany\"\n",
       "DE Germany\n",
       "Imported 2 ranges for 1 country; 0 lines skipped\n"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    WriteText(folder / "iso.json", kIsoSample);
    fs::create_directory(folder / "data");
    std::vector<std::string> operands = c.operands;
    for (const auto& [name, text] : c.sources) {
      WriteText(folder / name, text);
      operands.push_back((folder / name).string());
    }
    const auto run = Import(Request(operands), folder / "data", folder / "iso.json");
    const std::string what = c.operands[0];
    ASSERT_EQ(run.code, 0) << what << ": " << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), c.printed) << what;
    EXPECT_EQ(ReadText(folder / "data" / "GeoIPCountryWhoIs.csv"), c.csv) << what;
    EXPECT_EQ(ReadText(folder / "data" / "countries.dat"), c.list) << what;
    EXPECT_EQ(FilesIn(folder / "data"),
              (std::vector<std::string>{"GeoIPCountryWhoIs.csv", "countries.dat"}))
        << what;
  }
}

TEST(RunCountryImport, ReplacesTheDatabaseButKeepsTheUsersCountryList) {
  TempFolder folder;
  WriteText(folder / "geoip", "16777216,16777471,AU\n");
  WriteText(folder / "GeoIPCountryWhoIs.csv", "old\n");
  WriteText(folder / "countries.dat", "ZA South Africa\n");
  // No iso-codes list: the code stands in for the name.
  const auto run =
      Import(Request({"tor", (folder / "geoip").string()}), folder.path(), folder / "missing.json");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadText(folder / "GeoIPCountryWhoIs.csv"),
            "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"AU\"\n");
  EXPECT_EQ(ReadText(folder / "countries.dat"), "ZA South Africa\n");
  EXPECT_EQ(FilesIn(folder.path()),
            (std::vector<std::string>{"GeoIPCountryWhoIs.csv", "countries.dat", "geoip"}));
  EXPECT_EQ(fs::status(folder / "GeoIPCountryWhoIs.csv").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

TEST(RunCountryImport, FailuresReturnOneAndLeaveTheOldDatabase) {
  TempFolder folder;
  WriteText(folder / "good", "16777216,16777471,AU\n");
  WriteText(folder / "useless", "# only a comment\n1,2,??\nbad\n");
  WriteText(folder / "GeoIPCountryWhoIs.csv", "old\n");
  fs::create_directory(folder / "a-folder");
  struct Case {
    std::vector<std::string> operands;
    fs::path dataFolder;
    std::string message;
  };
  const std::string good = (folder / "good").string();
  const std::vector<Case> cases = {
      {{"tor", (folder / "missing").string()}, folder.path(), "cannot read"},
      {{"tor", good, (folder / "missing").string()}, folder.path(), "cannot read"},
      {{"tor", (folder / "a-folder").string()}, folder.path(), "Is a directory"},
      {{"tor", (folder / "useless").string()}, folder.path(), "no IPv4 address ranges"},
      {{"dbip", good}, folder.path(), "no IPv4 address ranges"},
      {{"geolite2", good, good}, folder.path(), "GeoLite2"},
      {{"tor", good}, folder / "no-such-folder", "cannot write"},
  };
  for (const auto& c : cases) {
    const auto run = Import(Request(c.operands), c.dataFolder, folder / "missing.json");
    EXPECT_EQ(run.code, 1) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(ReadText(folder / "GeoIPCountryWhoIs.csv"), "old\n") << c.message;
  }
  EXPECT_EQ(FilesIn(folder.path()),
            (std::vector<std::string>{"GeoIPCountryWhoIs.csv", "a-folder", "good", "useless"}));
}

TEST(RunCountryImport, ConflictsBetweenCountriesAreReported) {
  TempFolder folder;
  WriteText(folder / "geoip", "10,30,AU\n20,40,NZ\n");
  const auto run =
      Import(Request({"tor", (folder / "geoip").string()}), folder.path(), folder / "none");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("1 ranges overlapped another country's"), std::string::npos) << run.err;
  EXPECT_EQ(ReadText(folder / "GeoIPCountryWhoIs.csv"),
            "\"0.0.0.10\",\"0.0.0.30\",\"10\",\"30\",\"AU\",\"AU\"\n"
            "\"0.0.0.31\",\"0.0.0.40\",\"31\",\"40\",\"NZ\",\"NZ\"\n");
}

// ---------------------------------------------------------------------------
// The program as users run it

// Runs the program with stdout and stderr in files; the run is bounded.
CapturedRun RunProgram(const std::vector<std::string>& args, const fs::path& folder) {
  const fs::path outFile = folder / "stdout.txt";
  const fs::path errFile = folder / "stderr.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(VANTREL_BINARY)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  CapturedRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadText(outFile);
  run.err = ReadText(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return run;
}

TEST(ImportCommand, ExitCodesOfTheProgram) {
  TempFolder folder;
  WriteText(folder / "geoip", "16777216,16777471,AU\n16777472,16778239,CN\nbad\n");
  const std::string geoip = (folder / "geoip").string();
  const std::string data = (folder / "data").string();
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string output;  // expected in stdout (code 0) or stderr
  };
  const std::vector<Case> cases = {
      {{"--import-country", "tor", geoip, "--data-dir", data},
       0,
       "Imported 2 ranges for 2 countries; 1 line skipped\n"},
      {{"--data-dir=" + data, "--import-country", "tor", geoip}, 0, "Imported 2 ranges"},
      {{"--import-country", "tor", (folder / "missing").string(), "--data-dir", data},
       1,
       "cannot read"},
      {{"--import-country"}, 2, "needs a format"},
      {{"--import-country", "tor"}, 2, "needs at least one file"},
      {{"--import-country", "maxmind", geoip}, 2, "unknown import format"},
      {{"--import-country", "cidr", geoip}, 2, "country code"},
      {{"--import-country", "cidr", "D", geoip}, 2, "country code"},
      {{"--import-country", "cidr", "10", geoip}, 2, "country code"},
      {{"--import-country", "geolite2", geoip}, 2, "two files"},
      {{"--import-country", "tor", geoip, "--port", "8080"}, 2, "no option but --data-dir"},
      {{"--import-country", "tor", geoip, "--dns-server", "127.0.0.1"}, 2, "no option but"},
      {{"--check-config", "--import-country", "tor", geoip}, 2, "no option but --data-dir"},
      // A failed import leaves no folder it made behind.
      {{"--import-country", "tor", (folder / "missing").string(), "--data-dir",
        (folder / "made" / "data").string()},
       1,
       "cannot read"},
      {{"--import-country", "tor", geoip, "--import-country", "tor", geoip}, 2, "twice"},
  };
  for (const auto& c : cases) {
    const auto run = RunProgram(c.args, folder.path());
    EXPECT_EQ(run.code, c.code) << c.args[1] << "\n" << run.err;
    EXPECT_NE((c.code == 0 ? run.out : run.err).find(c.output), std::string::npos)
        << run.out << run.err;
  }
  EXPECT_TRUE(fs::exists(folder / "data" / "GeoIPCountryWhoIs.csv"));
  EXPECT_TRUE(fs::exists(folder / "data" / "countries.dat"));
  EXPECT_FALSE(fs::exists(folder / "made"));
}

// ---------------------------------------------------------------------------
// Real data: Debian's tor-geoipdb, extracted by scripts/test.sh

fs::path TorGeoipFile() {
  if (const char* env = std::getenv("VANTREL_TEST_TOR_GEOIP"); env && *env) return env;
  for (const fs::path& candidate :
       {fs::path(VANTREL_TOR_GEOIP), fs::path("/usr/share/tor/geoip")}) {
    if (fs::is_regular_file(candidate)) return candidate;
  }
  return {};
}

struct RefRange {
  uint32_t first, last;
  std::string code;
};

// Calls `on` for each line of a whole file's text (LF ends).
template <typename OnLine>
void Lines(const std::string& text, OnLine on) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    on(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

// A plain reading of the source, independent of the importer's parsers.
std::vector<RefRange> ReferenceScan(const fs::path& path) {
  std::vector<RefRange> ranges;
  Lines(ReadText(path), [&](std::string_view line) {
    if (line.empty() || line[0] == '#') return;
    const size_t comma1 = line.find(',');
    const size_t comma2 = line.find(',', comma1 + 1);
    if (comma2 == std::string_view::npos) return;
    const std::string_view code = line.substr(comma2 + 1);
    unsigned long long a = 0, b = 0;
    const char* begin = line.data();
    const auto ra = std::from_chars(begin, begin + comma1, a);
    const auto rb = std::from_chars(begin + comma1 + 1, begin + comma2, b);
    if (ra.ec != std::errc() || ra.ptr != begin + comma1 || rb.ec != std::errc() ||
        rb.ptr != begin + comma2 || code == "??" || a > 4294967295ull || b > 4294967295ull ||
        a > b) {
      return;
    }
    ranges.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(b), std::string(code)});
  });
  std::sort(ranges.begin(), ranges.end(),
            [](const RefRange& x, const RefRange& y) { return x.first < y.first; });
  return ranges;
}

// The written database as ranges, checking each line's shape on the way.
std::vector<RefRange> ReadDatabase(const fs::path& path) {
  std::vector<RefRange> ranges;
  bool bad = false;
  Lines(ReadText(path), [&](std::string_view line) {
    if (bad) return;
    std::string_view fields[6];
    size_t count = 0;
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"') {
      std::string_view inner = line.substr(1, line.size() - 2);
      for (; count < 5; ++count) {
        const size_t cut = inner.find("\",\"");
        if (cut == std::string_view::npos) break;
        fields[count] = inner.substr(0, cut);
        inner.remove_prefix(cut + 3);
      }
      fields[count++] = inner;
    }
    const auto first = ParseDecimal32(fields[2]);
    const auto last = ParseDecimal32(fields[3]);
    if (count != 6 || !first || !last || ParseIPv4(fields[0]) != first ||
        ParseIPv4(fields[1]) != last || fields[4].size() != 2 || fields[5].empty()) {
      ADD_FAILURE() << "not six quoted fields that agree: " << line;
      bad = true;
      return;
    }
    ranges.push_back({*first, *last, std::string(fields[4])});
  });
  return ranges;
}

TEST(ImportRealData, TorGeoipAgreesWithAReferenceScan) {
  const fs::path source = TorGeoipFile();
  if (source.empty()) GTEST_SKIP() << "no tor-geoipdb here (scripts/test.sh extracts it)";
  TempFolder folder;
  const auto run = Import(Request({"tor", source.string()}), folder.path(), kIsoCodesFile);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Imported ", 0), 0u) << run.out;
  EXPECT_EQ(FilesIn(folder.path()),
            (std::vector<std::string>{"GeoIPCountryWhoIs.csv", "countries.dat"}));

  const std::vector<RefRange> written = ReadDatabase(folder / "GeoIPCountryWhoIs.csv");
  ASSERT_FALSE(written.empty());
  for (size_t i = 1; i < written.size(); ++i) {
    ASSERT_GT(written[i].first, written[i - 1].last) << "unsorted or overlapping at line " << i;
    if (written[i].first == written[i - 1].last + 1) {
      ASSERT_NE(written[i].code, written[i - 1].code) << "unmerged at line " << i;
    }
  }

  const std::vector<RefRange> reference = ReferenceScan(source);
  ASSERT_FALSE(reference.empty());
  std::vector<uint32_t> reachLast(reference.size());  // highest last so far
  for (size_t i = 0; i < reference.size(); ++i) {
    reachLast[i] = std::max(reference[i].last, i ? reachLast[i - 1] : 0);
  }
  // Every country the source gives an address, or none.
  const auto referenceCodes = [&](uint32_t address) {
    std::set<std::string> codes;
    auto it = std::upper_bound(reference.begin(), reference.end(), address,
                               [](uint32_t a, const RefRange& r) { return a < r.first; });
    for (size_t i = static_cast<size_t>(it - reference.begin()); i-- > 0;) {
      if (reachLast[i] < address) break;
      if (reference[i].last >= address) codes.insert(reference[i].code);
    }
    return codes;
  };
  const auto writtenCode = [&](uint32_t address) -> std::string {
    auto it = std::upper_bound(written.begin(), written.end(), address,
                               [](uint32_t a, const RefRange& r) { return a < r.first; });
    if (it == written.begin()) return "";
    --it;
    return it->last >= address ? it->code : "";
  };

  std::vector<uint32_t> samples;
  for (size_t i = 0; i < reference.size(); i += 37) {
    samples.insert(samples.end(), {reference[i].first, reference[i].last, reference[i].first - 1,
                                   reference[i].last + 1});
  }
  std::mt19937 random(2026);
  for (int i = 0; i < 20000; ++i) samples.push_back(static_cast<uint32_t>(random()));
  size_t checked = 0;
  for (uint32_t address : samples) {
    const auto codes = referenceCodes(address);
    if (codes.size() > 1) continue;  // the source itself is ambiguous here
    ++checked;
    ASSERT_EQ(writtenCode(address), codes.empty() ? "" : *codes.begin()) << address;
  }
  EXPECT_GT(checked, samples.size() / 2);
}

}  // namespace
}  // namespace vantrel::routing
