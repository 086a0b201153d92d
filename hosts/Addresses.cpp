#include "hosts/Addresses.h"

#include <cstdio>
#include <optional>

namespace vantrel {

namespace {

constexpr size_t kNormalLength = 15;
constexpr size_t kEntryLength = 2 * kNormalLength + 1;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool ParsePart(std::string_view text, uint32_t& part) {
  if (text.empty()) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 255) return false;  // also stops any overflow of long digit runs
  }
  part = value;
  return true;
}

}  // namespace

std::optional<uint32_t> ParseDecimal32(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

bool ParseAddress(std::string_view text, uint32_t& address) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    // The fourth part runs to the end, so "1.2.3.4.5" fails on "4.5".
    const size_t dot = i < 3 ? text.find('.') : std::string_view::npos;
    if (i < 3 && dot == std::string_view::npos) return false;
    uint32_t part = 0;
    if (!ParsePart(text.substr(0, dot), part)) return false;
    value = value << 8 | part;
    if (i < 3) text.remove_prefix(dot + 1);
  }
  address = value;
  return true;
}

std::string NormalForm(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%03u.%03u.%03u.%03u", address >> 24, address >> 16 & 255,
                address >> 8 & 255, address & 255);
  return text;
}

bool NormalizeAddress(std::string& address) {
  uint32_t value = 0;
  if (!ParseAddress(address, value)) return false;
  address = NormalForm(value);
  return true;
}

std::string RangeEntry(uint32_t first, uint32_t last) {
  return NormalForm(first) + "-" + NormalForm(last);
}

namespace {

// One address in normal form: three digits per part, dots between.
bool ParseNormalForm(std::string_view text, uint32_t& address) {
  uint32_t value = 0;
  for (size_t part = 0; part < 4; ++part) {
    const size_t at = part * 4;
    if (part > 0 && text[at - 1] != '.') return false;
    uint32_t number = 0;
    for (size_t i = at; i < at + 3; ++i) {
      if (!IsDigit(text[i])) return false;
      number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (number > 255) return false;
    value = value << 8 | number;
  }
  address = value;
  return true;
}

}  // namespace

bool ParseRangeEntry(std::string_view entry, uint32_t& first, uint32_t& last) {
  return entry.size() == kEntryLength && entry[kNormalLength] == '-' &&
         ParseNormalForm(entry.substr(0, kNormalLength), first) &&
         ParseNormalForm(entry.substr(kNormalLength + 1), last);
}

bool AddressInRangeList(std::string_view address, const std::vector<std::string>& list) {
  uint32_t value = 0;
  if (!ParseAddress(address, value)) return false;
  const std::string normal = NormalForm(value);
  for (const std::string& entry : list) {
    // Only the list builder writes entries; a malformed one matches nothing.
    if (entry.size() != kEntryLength) continue;
    const std::string_view text(entry);
    if (normal < text.substr(0, kNormalLength)) continue;
    if (normal <= text.substr(kNormalLength + 1)) return true;
  }
  return false;
}

namespace {

// Blanks, tabs and the other control characters.
std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<std::string> RebuildRangeList(std::vector<std::string>& lines) {
  std::vector<std::string> list;
  for (std::string& line : lines) {
    const std::string_view text = TrimControls(line);
    const size_t dash = text.find('-');
    const std::string_view firstText = dash == std::string_view::npos ? text : text.substr(0, dash);
    const std::string_view lastText = dash == std::string_view::npos ? text : text.substr(dash + 1);
    uint32_t first = 0, last = 0;
    if (ParseAddress(TrimControls(firstText), first) &&
        ParseAddress(TrimControls(lastText), last)) {
      list.push_back(RangeEntry(first, last));
    } else {
      line.clear();
    }
  }
  return list;
}

}  // namespace vantrel
