#pragma once
// Reading and replacing the program's files. A replaced file is either the
// old one or the new one, never half of each: the new bytes go to a
// temporary file beside it, reach the disk, and are renamed over it.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

// Reads the whole file with one read where it can. On failure the error
// text says why and data holds what was read before it. Never blocks on a
// file that is not a regular one: that is an error.
bool ReadWholeFile(const std::filesystem::path& path, std::string& data, std::string& error);

enum class TReadResult { Read, Missing, Failed };
// As ReadWholeFile, telling a file that is not there (no error) from one
// that cannot be read.
TReadResult ReadFileIfPresent(const std::filesystem::path& path, std::string& data,
                              std::string& error);

// Replaces the file atomically: temporary file in the same folder with the
// given mode, fsync, rename, fsync of the folder. A symbolic link at the
// path stays a link: its target is replaced. On failure the old file is
// untouched, the temporary file is gone and error holds the system's reason.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::string& error, mode_t mode = 0644);

}  // namespace vantrel
