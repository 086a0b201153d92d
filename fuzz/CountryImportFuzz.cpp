// The country import's parsers on arbitrary files: the first byte picks the
// format, the rest is the file (for GeoLite2, two files cut at the first NUL).
// Whatever comes in, the ranges are sane, the clean-up leaves them sorted and
// disjoint, and the written database reads back as the same ranges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hosts/CountryImport.h"

namespace {

using namespace vantrel::routing;
using vantrel::ParseDecimal32;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsCodeChar(char c) {
  return c >= 'A' && c <= 'Z';
}

void CheckCode(std::string_view code) {
  Check(code.size() == 2 && IsCodeChar(code[0]) && IsCodeChar(code[1]) && code != "ZZ");
}

void CheckName(const std::string& name) {
  Check(!name.empty());
  for (char c : name) Check(c != '"' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

// Every line of the database holds six quoted fields that agree with the range.
void CheckDatabase(const std::string& csv, const std::vector<TImportRange>& ranges) {
  size_t index = 0;
  std::string_view rest = csv;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    Check(end != std::string_view::npos && index < ranges.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    TCsvFields fields(line);
    std::string_view field[6];
    for (auto& f : field) Check(fields.Next(f));
    std::string_view extra;
    Check(!fields.Next(extra) && !fields.Malformed());
    const TImportRange& range = ranges[index++];
    Check(ParseIPv4(field[0]) == range.first && ParseIPv4(field[1]) == range.last);
    Check(ParseDecimal32(field[2]) == range.first && ParseDecimal32(field[3]) == range.last);
    Check(field[4] == range.Code());
    CheckName(std::string(field[5]));
  }
  Check(index == ranges.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  // The single-value parsers on the whole text.
  if (const auto number = ParseDecimal32(text)) {
    Check(!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos);
  }
  if (const auto network = ParseCidr(text)) Check(network->first <= network->last);

  TImportResult result;
  switch (selector % 5) {
    case 0: ImportTorText(text, result); break;
    case 1: ImportDbipText(text, result); break;
    case 2: ImportCidrText(text, "DE", result); break;
    case 3: {
      const size_t cut = text.find('\0');
      std::string error;
      const bool ok = ImportGeoLite2Texts(
          text.substr(0, cut),
          cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1), result, error);
      Check(ok || (error.size() > 0 && result.ranges.empty()));
      break;
    }
    case 4: {
      for (const auto& [code, name] : ParseIsoCountryNames(text)) {
        CheckCode(code);
        CheckName(name);
      }
      return 0;
    }
  }

  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  Check(result.ranges.size() + result.skipped <= lines);
  for (const auto& range : result.ranges) {
    Check(range.first <= range.last);
    CheckCode(range.Code());
  }
  for (const auto& [code, name] : result.names) {
    CheckCode(code);
    CheckName(name);
  }

  NormaliseRanges(result.ranges);
  for (size_t i = 1; i < result.ranges.size(); ++i) {
    const auto& previous = result.ranges[i - 1];
    const auto& range = result.ranges[i];
    Check(range.first > previous.last);
    Check(range.first != previous.last + 1 || range.Code() != previous.Code());
  }
  CheckDatabase(FormatCountryCsv(result.ranges, result.names), result.ranges);
  return 0;
}
