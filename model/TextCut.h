#pragma once

#include <string_view>

namespace vantrel {

// The longest start of `text` of at most `width` bytes that does not end in
// the middle of a UTF-8 character. Bytes that are not UTF-8 are cut as bytes.
std::string_view CutToWidth(std::string_view text, size_t width);

}  // namespace vantrel
