#pragma once
// The import command: makes GeoIPCountryWhoIs.csv (and countries.dat when
// missing) from country data that is published today.
//
//   vantrel --import-country FORMAT FILE... [--data-dir DIR]

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/CountryImportNames.h"
#include "hosts/ImportFormats.h"

namespace vantrel::routing {

enum class TImportFormat { Tor, Dbip, GeoLite2, Cidr };

struct TImportRequest {
  TImportFormat format = TImportFormat::Tor;
  char code[2] = {0, 0};  // cidr only
  std::vector<std::filesystem::path> files;
};

// FORMAT and its operands as typed after --import-country; nullopt with the
// reason in `error` for a line that cannot be acted on.
std::optional<TImportRequest> ParseImportRequest(const std::vector<std::string>& operands,
                                                 std::string& error);

// What the sources gave before sorting: ranges, names they carry, and the
// count of lines that should have been ranges and were not usable.
struct TImportResult {
  std::vector<TImportRange> ranges;
  TCountryNames names;
  size_t skipped = 0;
};

void ImportTorText(std::string_view text, TImportResult& result);
void ImportDbipText(std::string_view text, TImportResult& result);
void ImportCidrText(std::string_view text, const char code[2], TImportResult& result);
// The Blocks-IPv4 and the Locations file, in either order, told apart by
// their headers; false with the reason in `error` when they cannot be.
bool ImportGeoLite2Texts(std::string_view one, std::string_view other, TImportResult& result,
                         std::string& error);

// Sorts by first address and merges overlapping or adjacent ranges of the
// same country. Where countries overlap, an address stays with the range
// that starts first (at the same start, the shorter one); the other range
// keeps only what is left of it. Returns how many ranges lost addresses so.
size_t NormaliseRanges(std::vector<TImportRange>& ranges);

// The country database: six quoted fields per range (first and last address
// dotted, then as decimal numbers, the code and the name).
std::string FormatCountryCsv(const std::vector<TImportRange>& ranges, const TCountryNames& names);
// The country list: "CC Name" per line, ordered by name; codes without a
// name last.
std::string FormatCountryList(const std::vector<TImportRange>& ranges, const TCountryNames& names);

// Where Debian's tor-geoipdb puts Tor's country file.
inline constexpr const char* kTorGeoipFile = "/usr/share/tor/geoip";
// The Tor country file a start without country data imports:
// $VANTREL_TOR_GEOIP when set (empty for none), otherwise kTorGeoipFile.
std::filesystem::path TorGeoipFile();

struct TImportOptions {
  std::filesystem::path dataFolder;
  std::filesystem::path isoCodesFile = kIsoCodesFile;
};

// What the command has to say: its lines for standard output (the summary
// first), and failures and warnings, without the program's name.
struct TImportReport {
  int exitCode = 0;  // 0 done, 1 unreadable source, no ranges or a failed write
  std::vector<std::string> output;
  std::vector<std::string> errors;
};
TImportReport ImportCountryData(const TImportRequest& request, const TImportOptions& options);

// Runs the whole command and prints its report; returns the exit code.
int RunCountryImport(const TImportRequest& request, const TImportOptions& options, std::FILE* out,
                     std::FILE* err);

}  // namespace vantrel::routing
