#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include <optional>
#include <string>
#include <utility>

#include "hosts/LocaleCountry.h"

namespace vantrel {
namespace {

TEST(LocaleCountryTest, TheTerritoryOfALocaleNameIsTwoCapitalLetters) {
  const struct {
    const char* locale;
    const char* territory;
  } cases[] = {
      {"en_ZA.UTF-8", "ZA"},
      {"de_DE.UTF-8", "DE"},
      {"de_DE", "DE"},
      {"de_AT@euro", "AT"},
      {"sr_RS.UTF-8@latin", "RS"},
      {"en_gb.utf8", "GB"},
      {"C", ""},
      {"POSIX", ""},
      {"C.UTF-8", ""},
      {"", ""},
      {"de", ""},
      {"de.UTF-8", ""},
      {"es_419.UTF-8", ""},
      {"en_", ""},
      {"en_U1", ""},
      {"en_USA", ""},
      {"de@DE_x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LocaleTerritory(c.locale), c.territory) << c.locale;
}

// The C library's order: LC_ALL, then LC_MESSAGES, then LANG; an empty one
// counts as unset, and the first set one decides even without a territory.
TEST(LocaleCountryTest, TheFirstSetVariableDecides) {
  const struct {
    const char* all;
    const char* messages;
    const char* lang;
    const char* code;
  } cases[] = {
      {nullptr, nullptr, "de_DE.UTF-8", "DE"},
      {"", "", "de_DE.UTF-8", "DE"},
      {nullptr, "fr_FR", "de_DE.UTF-8", "FR"},
      {"it_IT", "fr_FR", "de_DE.UTF-8", "IT"},
      {"C", nullptr, "de_DE.UTF-8", "ZA"},
      {nullptr, nullptr, nullptr, "ZA"},
      {nullptr, nullptr, "", "ZA"},
  };
  std::optional<std::string> saved[3];
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (int i = 0; i < 3; ++i) {
    if (const char* value = std::getenv(names[i])) saved[i] = value;
  }
  for (const auto& c : cases) {
    for (auto [name, value] : {std::pair{"LC_ALL", c.all}, std::pair{"LC_MESSAGES", c.messages},
                               std::pair{"LANG", c.lang}}) {
      if (value) {
        ::setenv(name, value, 1);
      } else {
        ::unsetenv(name);
      }
    }
    EXPECT_EQ(LocaleCountryCode("ZA"), c.code)
        << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
}

}  // namespace
}  // namespace vantrel
