#include "routing/TrafficCounters.h"

#include <langinfo.h>
#include <locale.h>

namespace vantrel {

int PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return 0;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string FormatThousands(int64_t value, std::string_view separator) {
  // Unsigned from here, so that the most negative value has a magnitude too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  std::string out;
  if (value < 0) out.push_back('-');
  for (size_t i = digits.size(); i-- > 0;) {
    out.push_back(digits[i]);
    if (i != 0 && i % 3 == 0) out.append(separator);
  }
  return out;
}

std::string LocaleThousandsSeparator() {
  std::string separator;
  locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (locale != static_cast<locale_t>(0)) {
    if (const char* sep = nl_langinfo_l(THOUSEP, locale)) separator = sep;
    freelocale(locale);
  }
  return separator.empty() ? std::string(",") : separator;
}

int64_t TTrafficCounters::Received(bool international) const {
  const auto& row = ReceivedBytes[international ? 1 : 0];
  return row[0] + row[1] + row[2];
}

int64_t TTrafficCounters::Sent(bool international) const {
  const auto& row = SentBytes[international ? 1 : 0];
  return row[0] + row[1] + row[2];
}

}  // namespace vantrel
