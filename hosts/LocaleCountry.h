#pragma once
// The country a first start assumes: the territory of the user's locale.

#include <string>
#include <string_view>

namespace vantrel {

// The territory of a locale name (language[_TERRITORY][.codeset][@modifier])
// as two capital letters: "de_DE.UTF-8" gives "DE". Empty for "C", "POSIX",
// an empty name, a name without a territory and one whose territory is no
// two-letter code (a region number such as es_419).
std::string LocaleTerritory(std::string_view locale);

// The territory of the locale messages are shown in: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty, as the C library takes
// them. `fallback` when that locale names no territory.
std::string LocaleCountryCode(const std::string& fallback);

}  // namespace vantrel
