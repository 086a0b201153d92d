#pragma once
// Line parsers for the country data sources the import command reads. Each
// works on one line without its line end and allocates nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/Addresses.h"

namespace vantrel::routing {

// An IPv4 range for one country; both ends inclusive.
struct TImportRange {
  uint32_t first = 0;
  uint32_t last = 0;
  char code[2] = {0, 0};

  std::string_view Code() const { return {code, 2}; }
};

// What a line gave: a range, nothing worth counting (comment, blank line,
// IPv6 row), or a line that should have been a range and was not usable.
enum class TLineResult { Range, Ignored, Skipped };

// Dotted IPv4 read as everywhere else in the program (ParseAddress): a
// leading zero is decimal ("010" is 10), never octal.
std::optional<uint32_t> ParseIPv4(std::string_view text);
// "a.b.c.d/len" (or a bare address, taken as /32) whose host bits are zero.
std::optional<TImportRange> ParseCidr(std::string_view text);

// A country code as the output carries it: two ASCII letters, upper-cased.
// "??" and "ZZ" stand for unknown and are refused; digits are refused too,
// since a quoted code of digits would match a quoted two-digit bound of
// another line when the database is searched for it.
bool TakeCountryCode(std::string_view text, char code[2]);

// Walks the comma-separated fields of one line. A field wrapped in double
// quotes may hold commas; a doubled quote inside it stays doubled in the
// returned text (see UnquoteCsv).
class TCsvFields {
 public:
  explicit TCsvFields(std::string_view line) : rest_(line) {}
  // False once the line has no field left.
  bool Next(std::string_view& field);
  // Set when a quoted field was not closed or text followed its closing quote.
  bool Malformed() const { return malformed_; }

 private:
  std::string_view rest_;
  bool done_ = false;
  bool malformed_ = false;
};

// A quoted field's text with each doubled quote made one.
std::string UnquoteCsv(std::string_view field);

// Strips one CR before the line end, so CR LF files read as LF files.
std::string_view StripCarriageReturn(std::string_view line);

// Tor's geoip file: "FIRST,LAST,CC" in unsigned decimal, "#" comments.
TLineResult ParseTorLine(std::string_view line, TImportRange& range);
// DB-IP's country CSV: "ip_start,ip_end,country"; IPv6 rows are ignored.
TLineResult ParseDbipLine(std::string_view line, TImportRange& range);
// A list of networks for one country: "a.b.c.d/len" per line, "#" comments.
TLineResult ParseCidrLine(std::string_view line, const char code[2], TImportRange& range);

// Column positions read from a GeoLite2 header line; -1 where missing.
struct TGeoLite2BlockColumns {
  int network = -1;
  int geonameId = -1;
  int registeredId = -1;
};
struct TGeoLite2LocationColumns {
  int geonameId = -1;
  int code = -1;
  int name = -1;
};
// True when the line is the header of that kind of file.
bool ReadGeoLite2BlockHeader(std::string_view line, TGeoLite2BlockColumns& columns);
bool ReadGeoLite2LocationHeader(std::string_view line, TGeoLite2LocationColumns& columns);
// A Blocks row: its network, and the geoname id that names its country
// (geoname_id, or else registered_country_geoname_id). The range's code is
// left empty for the caller to fill from the Locations file.
TLineResult ParseGeoLite2BlockLine(std::string_view line, const TGeoLite2BlockColumns& columns,
                                   TImportRange& range, uint32_t& geonameId);
// A Locations row; false for a row without a usable id. `code` may be empty
// (continents have none); `name` is raw CSV text (see UnquoteCsv).
bool ParseGeoLite2LocationLine(std::string_view line, const TGeoLite2LocationColumns& columns,
                               uint32_t& geonameId, std::string_view& code, std::string_view& name);

}  // namespace vantrel::routing
