#pragma once
// Country names for the import: Debian's iso-codes list, and the clean-up
// every name gets before it goes into the country files.

#include <map>
#include <string>
#include <string_view>

namespace vantrel::routing {

// Code (two upper-case characters) to name.
using TCountryNames = std::map<std::string, std::string, std::less<>>;

inline constexpr const char* kIsoCodesFile = "/usr/share/iso-codes/json/iso_3166-1.json";

// Reads the objects of iso-codes' ISO 3166-1 list: "alpha_2" with
// "common_name", or else "name". Tolerates anything else in the text.
TCountryNames ParseIsoCountryNames(std::string_view json);

// A name fit for a quoted CSV field and a one-line list entry: no double
// quotes (a quoted code inside a name would match a search for that code),
// no control characters, no surrounding blanks. Empty when nothing is left.
std::string CleanCountryName(std::string_view name);

}  // namespace vantrel::routing
