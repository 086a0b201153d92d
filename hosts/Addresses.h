#pragma once
// IPv4 addresses as the host classification writes and compares them: the
// dotted-address normal form (every part three digits, so byte order is
// numeric order) and address-range lists of 31-character entries
// "first-last" in that form.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Four decimal parts of 0 to 255 split at the first three dots, digits only
// (a leading zero is still decimal: "010" is ten). Anything else is false.
bool ParseAddress(std::string_view text, uint32_t& address);

// An address written as one unsigned decimal number, digits only, leading
// zeros allowed; nullopt above 4294967295 rather than wrapping.
std::optional<uint32_t> ParseDecimal32(std::string_view text);

// "192.168.000.001" for 192.168.0.1.
std::string NormalForm(uint32_t address);

// Replaces the text by its normal form; false, text untouched, when the text
// is not an address.
bool NormalizeAddress(std::string& address);

// The list entry of a range: both ends in normal form around a hyphen.
std::string RangeEntry(uint32_t first, uint32_t last);

// Both ends of a list entry; false for anything RangeEntry does not write.
bool ParseRangeEntry(std::string_view entry, uint32_t& first, uint32_t& last);

// True when the first entry containing the address is found. Text that is
// not an address is in no list: a byte comparison would put "100" or an
// IPv6 text inside a wide range.
bool AddressInRangeList(std::string_view address, const std::vector<std::string>& list);

// The range list of an address memo's lines (allowed clients, bypass), one
// entry per valid line in line order: "a.b.c.d" or "a.b.c.d - e.f.g.h",
// white space around each address ignored. A line that is no address or
// range is blanked in place, so the lines after it keep their indexes.
// Nothing is sorted or merged: a range whose first address is above its
// last stays and matches nothing.
std::vector<std::string> RebuildRangeList(std::vector<std::string>& lines);

}  // namespace vantrel
