#pragma once
// Field and character helpers on byte strings. Field numbers are 1-based.
// All functions return copies, so passing a temporary is always safe.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::engine {

// 0 for an empty text, otherwise the number of separators plus one. An empty
// separator never matches, so a non-empty text then has one field.
int FieldCount(std::string_view text, std::string_view separator);

// The n-th field; adjacent separators give empty fields, and a field number
// below 1 or beyond the last gives an empty text.
std::string GetField(std::string_view text, int n, std::string_view separator);

// Field 1: the whole text when it holds no separator.
std::string FirstField(std::string_view text, std::string_view separator);

// The field numbered FieldCount (empty for an empty text).
std::string LastField(std::string_view text, std::string_view separator);

// The text after the n-th separator; the whole text when there are fewer
// separators or n is below 1.
std::string FieldsAfter(std::string_view text, int n, std::string_view separator);

// The first / last n characters, the whole text when it is shorter.
std::string LeftChars(std::string_view text, std::size_t n);
std::string RightChars(std::string_view text, std::size_t n);

// The text after the first n characters; empty when n is not below the length.
std::string CharsAfter(std::string_view text, std::size_t n);

// Equal ignoring ASCII letter case.
bool SameText(std::string_view a, std::string_view b);

// word occurs in text, ignoring ASCII letter case.
bool ContainsText(std::string_view text, std::string_view word);

// Standard Base64 ("+", "/", "=" padding, no line breaks).
std::string Base64Encode(std::string_view data);

}  // namespace vantrel::engine
