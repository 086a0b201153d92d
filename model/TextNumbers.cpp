#include "model/TextNumbers.h"

#include <charconv>

namespace vantrel {

std::optional<int32_t> ParseInt32(const std::string& text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes only '-'
  if (first == last) return std::nullopt;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value, 10);
  if (error != std::errc() || end != last) return std::nullopt;
  return value;
}

}  // namespace vantrel
