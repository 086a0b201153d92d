#pragma once
// Reading and replacing the country files in the data folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileIO.h"  // ReadWholeFile, WriteFileAtomically

namespace vantrel {

// A regular file of that name in the data folder. When the exact name is
// missing, the one file whose name differs only in ASCII case is taken (the
// country file is known under two spellings). Anything that is not a
// regular file counts as missing.
std::optional<std::filesystem::path> FindDataFile(const std::string& name);

// The lines of a text, LF or CR LF; a final line end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace vantrel
