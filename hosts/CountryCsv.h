#pragma once
// The country lines of GeoIPCountryWhoIs.csv: six quoted fields per line,
// of which the third and fourth (the range's first and last address as
// decimal numbers) and the quoted country code matter.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hosts/LocalRanges.h"

namespace vantrel {

// The bounds of one line: the texts between the second and third and the
// third and fourth comma, each without one leading and one trailing double
// quote. False when the line has fewer than four commas or a bound that is
// not a decimal number up to 4294967295 (no sign, no blanks).
bool ParseRangeBounds(std::string_view line, uint32_t& first, uint32_t& last);

struct TCountryLines {
  size_t taken = 0;    // lines whose range was appended
  size_t skipped = 0;  // lines with the code whose bounds were unusable
};

// Appends the range of every line that contains the quoted code ("ZA" with
// its quotes) anywhere, in file order. Lines end with LF, CR LF or CR. Only
// the lines holding the code are looked at, so other countries' lines cost
// nothing but the search.
TCountryLines ReadCountryRanges(std::string_view data, std::string_view code, TLocalRanges& ranges);

}  // namespace vantrel
