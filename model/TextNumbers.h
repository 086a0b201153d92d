#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

// A whole decimal number with an optional sign and nothing else around it;
// nullopt for anything else, including values outside 32 bits.
std::optional<int32_t> ParseInt32(const std::string& text);

}  // namespace vantrel
