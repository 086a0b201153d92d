#pragma once
// Reading the text of proxy.ini and the list files: UTF-8 (or ASCII) with
// LF, CR LF or, from old editors, CR-only line ends. UTF-16 is refused with
// a message that says so, instead of a text cut at its first NUL byte.

#include <filesystem>
#include <string>
#include <string_view>

#include "files/FileIO.h"

namespace vantrel {

inline constexpr const char* kUtf16Refused = "UTF-16 is not supported; save the file as UTF-8";

// A byte-order mark of UTF-16, or a NUL in one of the first two bytes.
bool LooksLikeUtf16(std::string_view bytes);
// CR line ends and no LF anywhere: such a file is read at its CRs.
bool CrOnlyLineEnds(std::string_view bytes);
// The character that ends lines in the bytes.
char LineEnd(std::string_view bytes);

// As ReadFileIfPresent; a UTF-16 file fails with kUtf16Refused.
TReadResult ReadConfigText(const std::filesystem::path& path, std::string& data, std::string& error,
                           size_t limit = kSettingsFileLimit);

}  // namespace vantrel
