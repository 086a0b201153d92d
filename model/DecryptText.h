#pragma once
// The scrambling of next-hop passwords in proxy.ini. It is not encryption:
// anyone with the file reads the passwords back with this same routine.

#include <string>
#include <string_view>

namespace vantrel {

// Each byte at 1-based position p XOR (p AND 3); applying it twice gives the
// text back.
std::string DecryptText(std::string_view text);

}  // namespace vantrel
