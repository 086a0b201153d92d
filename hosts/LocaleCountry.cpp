#include "hosts/LocaleCountry.h"

#include <cstdlib>

namespace vantrel {

namespace {

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string LocaleTerritory(std::string_view locale) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  const size_t underscore = locale.find('_');
  if (underscore == std::string_view::npos) return {};
  const std::string_view territory = locale.substr(underscore + 1);
  if (territory.size() != 2 || !IsLetter(territory[0]) || !IsLetter(territory[1])) return {};
  return {Upper(territory[0]), Upper(territory[1])};
}

std::string LocaleCountryCode(const std::string& fallback) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    const std::string territory = LocaleTerritory(value);
    return territory.empty() ? fallback : territory;
  }
  return fallback;
}

}  // namespace vantrel
