#include "hosts/Addresses.h"

#include <bit>
#include <cstdio>
#include <cstring>
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

// Eight bytes as one number, the first byte lowest, on any machine.
uint64_t LoadLittleEndian(const char* bytes) {
  uint64_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

// The digit bytes of "ddd.ddd." (first byte lowest), and the other bytes as
// entries have them.
constexpr uint64_t kDigitBytes = 0x00FFFFFF00FFFFFF;
constexpr uint64_t kDotDot = 0x2E0000002E000000;   // ddd.ddd.
constexpr uint64_t kDotDash = 0x2D0000002E000000;  // ddd.ddd-
constexpr uint64_t kDotEnd = 0x000000002E000000;   // ddd.ddd and nothing

// The two parts of "ddd?ddd?" appended to value; nonzero when a digit byte is
// no digit or a part is above 255. All eight digits are checked at once.
uint64_t AppendTwoParts(uint64_t word, uint32_t& value) {
  const uint64_t digits = (word ^ 0x3030303030303030) & kDigitBytes;
  // A byte above 9 reaches its top bit when 0x76 is added; above 0x7F it has it.
  uint64_t bad = ((digits + 0x7676767676767676) | digits) & 0x8080808080808080;
  const uint64_t tens = digits * 10 + (digits >> 8);  // each byte at most 99: no carry
  const uint32_t high = static_cast<uint32_t>((tens & 0xFF) * 10 + (digits >> 16 & 0xFF));
  const uint32_t low = static_cast<uint32_t>((tens >> 32 & 0xFF) * 10 + (digits >> 48 & 0xFF));
  bad |= static_cast<uint64_t>(high > 255) | static_cast<uint64_t>(low > 255);
  value = value << 16 | (high & 0xFF) << 8 | (low & 0xFF);
  return bad;
}

}  // namespace

// Four overlapping eight-byte words and one test: a long bypass list parses
// tens of thousands of entries at each change.
bool ParseRangeEntry(std::string_view entry, uint32_t& first, uint32_t& last) {
  if (entry.size() != kEntryLength) return false;
  const char* text = entry.data();
  const uint64_t a = LoadLittleEndian(text);
  const uint64_t b = LoadLittleEndian(text + 8);
  const uint64_t c = LoadLittleEndian(text + 16);
  const uint64_t d = LoadLittleEndian(text + 23) >> 8;  // ".ddd.ddd" as "ddd.ddd"
  uint32_t low = 0, high = 0;
  uint64_t bad = AppendTwoParts(a, low) | AppendTwoParts(b, low) | AppendTwoParts(c, high) |
                 AppendTwoParts(d, high);
  bad |= ((a & ~kDigitBytes) ^ kDotDot) | ((b & ~kDigitBytes) ^ kDotDash) |
         ((c & ~kDigitBytes) ^ kDotDot) | ((d & ~kDigitBytes) ^ kDotEnd);
  if (bad) return false;
  first = low;
  last = high;
  return true;
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
