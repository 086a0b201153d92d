#include "hosts/CountryCsv.h"

#include <cstring>
#include <string>

#include "hosts/Addresses.h"

namespace vantrel {

namespace {

bool ParseBound(std::string_view text, uint32_t& bound) {
  if (!text.empty() && text.front() == '"') text.remove_prefix(1);
  if (!text.empty() && text.back() == '"') text.remove_suffix(1);
  const auto value = ParseDecimal32(text);
  if (value) bound = *value;
  return value.has_value();
}

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

}  // namespace

bool ParseRangeBounds(std::string_view line, uint32_t& first, uint32_t& last) {
  size_t comma[4];
  size_t from = 0;
  for (size_t& at : comma) {
    at = line.find(',', from);
    if (at == std::string_view::npos) return false;
    from = at + 1;
  }
  uint32_t a = 0, b = 0;
  if (!ParseBound(line.substr(comma[1] + 1, comma[2] - comma[1] - 1), a) ||
      !ParseBound(line.substr(comma[2] + 1, comma[3] - comma[2] - 1), b)) {
    return false;
  }
  first = a;
  last = b;
  return true;
}

TCountryLines ReadCountryRanges(std::string_view data, std::string_view code,
                                TLocalRanges& ranges) {
  TCountryLines lines;
  std::string key;
  key.reserve(code.size() + 2);
  key += '"';
  key += code;
  key += '"';
  // A key with a line end in it can be in no line.
  if (key.find_first_of("\r\n") != std::string::npos) return lines;

  size_t from = 0;
  while (from < data.size()) {
    const void* hit = memmem(data.data() + from, data.size() - from, key.data(), key.size());
    if (!hit) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - data.data());
    size_t start = at;
    while (start > 0 && !IsLineEnd(data[start - 1])) --start;
    size_t end = at + key.size();
    while (end < data.size() && !IsLineEnd(data[end])) ++end;

    uint32_t first = 0, last = 0;
    if (ParseRangeBounds(data.substr(start, end - start), first, last)) {
      ranges.Append(first, last);
      ++lines.taken;
    } else {
      ++lines.skipped;
    }
    from = end;
  }
  return lines;
}

}  // namespace vantrel
