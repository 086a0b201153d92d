#pragma once
// Cleaning of the blocked-host list: lines typed by hand or pasted from a
// HOSTS file become sorted, lower-case, unique host names.

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Per line: trimmed, lower-cased and without a final dot; empty lines and
// "#" lines give nothing; a "#" comment behind white space is cut off; one
// word is the name, of several words the first (a HOSTS file's address) is
// dropped and every other one is a name; "localhost", "." and a word with
// two final dots are never names. White
// space is blanks, tabs and the other control characters. Cleaning a cleaned
// list changes nothing. The result is sorted and each name appears once.
// When `ignored` is given, it receives the 0-based index of every line with
// content that gave no name.
std::vector<std::string> CleanBlockedHosts(const std::vector<std::string>& lines,
                                           std::vector<size_t>* ignored = nullptr);

// A lookup in a cleaned list, ignoring ASCII case and a final dot.
bool InBlockedHostList(const std::vector<std::string>& list, std::string_view host);

}  // namespace vantrel
