#include "engine/KwString.h"

#include <cctype>

namespace vantrel::engine {

namespace {

// Offset just after the skip-th separator, or npos when there are fewer.
std::size_t AfterSeparators(std::string_view text, int skip, std::string_view separator) {
  std::size_t start = 0;
  for (int i = 0; i < skip; ++i) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) return std::string_view::npos;
    start = at + separator.size();
  }
  return start;
}

}  // namespace

int FieldCount(std::string_view text, std::string_view separator) {
  if (text.empty()) return 0;
  if (separator.empty()) return 1;
  int count = 1;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, at + separator.size()))
    ++count;
  return count;
}

std::string GetField(std::string_view text, int n, std::string_view separator) {
  if (n < 1 || text.empty()) return {};
  if (separator.empty()) return n == 1 ? std::string(text) : std::string();
  const std::size_t start = AfterSeparators(text, n - 1, separator);
  if (start == std::string_view::npos) return {};
  const std::size_t end = text.find(separator, start);
  return std::string(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
}

std::string FirstField(std::string_view text, std::string_view separator) {
  return GetField(text, 1, separator);
}

std::string LastField(std::string_view text, std::string_view separator) {
  if (text.empty()) return {};
  if (separator.empty()) return std::string(text);
  const std::size_t at = text.rfind(separator);
  if (at == std::string_view::npos) return std::string(text);
  return std::string(text.substr(at + separator.size()));
}

std::string FieldsAfter(std::string_view text, int n, std::string_view separator) {
  if (n < 1 || separator.empty()) return std::string(text);
  const std::size_t start = AfterSeparators(text, n, separator);
  if (start == std::string_view::npos) return std::string(text);
  return std::string(text.substr(start));
}

std::string LeftChars(std::string_view text, std::size_t n) {
  return std::string(text.substr(0, n));
}

std::string RightChars(std::string_view text, std::size_t n) {
  if (n >= text.size()) return std::string(text);
  return std::string(text.substr(text.size() - n));
}

std::string CharsAfter(std::string_view text, std::size_t n) {
  if (n >= text.size()) return {};
  return std::string(text.substr(n));
}

std::string Base64Encode(std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                       static_cast<unsigned char>(data[i + 1]) << 8 |
                       static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

bool ContainsText(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (SameText(text.substr(i, word.size()), word)) return true;
  return false;
}

}  // namespace vantrel::engine
