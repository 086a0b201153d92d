#pragma once
// Reading and replacing the country files in the data folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// A regular file of that name in the data folder. When the exact name is
// missing, the one file whose name differs only in ASCII case is taken (the
// country file is known under two spellings). Anything that is not a
// regular file counts as missing.
std::optional<std::filesystem::path> FindDataFile(const std::string& name);

// Reads the whole file with one read where it can. On failure the error
// text says why and data holds what was read before it. Never blocks on a
// file that is not a regular one: that is an error.
bool ReadWholeFile(const std::filesystem::path& path, std::string& data, std::string& error);

// Replaces the file through a temporary file beside it, flushed to disk
// before the rename, so a crash leaves the old file or the new one.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::string& error);

// The lines of a text, LF or CR LF; a final line end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace vantrel
