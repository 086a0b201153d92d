// The country file reader on arbitrary bytes: the first two bytes are the
// country code, the rest the file. Every line holding the quoted code is
// taken or counted as skipped, exactly as a slow reference reader decides,
// and the sorted table answers as a scan of the ranges read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hosts/CountryCsv.h"
#include "hosts/LocalRanges.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A bound as the reference sees it: quotes off, then digits worth at most 32 bits.
bool ReferenceBound(std::string field, uint32_t& value) {
  if (!field.empty() && field.front() == '"') field.erase(0, 1);
  if (!field.empty() && field.back() == '"') field.pop_back();
  if (field.empty()) return false;
  unsigned long long number = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned long long>(c - '0');
    if (number > 0xFFFFFFFFull) return false;
  }
  value = static_cast<uint32_t>(number);
  return true;
}

bool ReferenceLine(const std::string& line, uint32_t& first, uint32_t& last) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() < 5) return false;
  return ReferenceBound(fields[2], first) && ReferenceBound(fields[3], last);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::string_view code = all.substr(0, 2);
  const std::string_view text = all.substr(2);

  vantrel::TLocalRanges table;
  const vantrel::TCountryLines lines = vantrel::ReadCountryRanges(text, code, table);

  const std::string key = "\"" + std::string(code) + "\"";
  const bool searchable = key.find_first_of("\r\n") == std::string::npos;
  std::vector<std::pair<uint32_t, uint32_t>> expected;
  size_t skipped = 0;
  std::string line;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n' && text[i] != '\r') {
      line += text[i];
      continue;
    }
    if (searchable && line.find(key) != std::string::npos) {
      uint32_t first = 0, last = 0;
      if (ReferenceLine(line, first, last)) {
        expected.emplace_back(first, last);
      } else {
        ++skipped;
      }
    }
    line.clear();
  }
  Check(lines.taken == expected.size() && lines.skipped == skipped);
  Check(table.Count() == expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    Check(table.First(i) == expected[i].first && table.Last(i) == expected[i].second);
  }

  table.Normalize();
  for (size_t i = 0; i < table.Count(); ++i) {
    Check(table.First(i) <= table.Last(i));
    Check(i == 0 || uint64_t{table.Last(i - 1)} + 1 < table.First(i));
  }
  auto scan = [&expected](uint32_t a) {
    for (auto [first, last] : expected) {
      if (first <= a && a <= last) return true;
    }
    return false;
  };
  for (auto [first, last] : expected) {
    for (uint32_t probe : {first - 1, first, last, last + 1})
      Check(table.Contains(probe) == scan(probe));
  }
  return 0;
}
