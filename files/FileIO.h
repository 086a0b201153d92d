#pragma once
// Reading and replacing the program's files. A replaced file is either the
// old one or the new one, never half of each: the new bytes go to a
// temporary file beside it, reach the disk, and are renamed over it.

#include <sys/types.h>

#include <cstddef>

#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

// Bounds on what one read takes into memory: well above any real file of
// the kind, far below what would end the program.
inline constexpr size_t kSettingsFileLimit = size_t{16} << 20;  // proxy.ini, adapters.dat
inline constexpr size_t kListFileLimit = size_t{64} << 20;      // address and host lists
inline constexpr size_t kDataFileLimit = size_t{256} << 20;     // country data and its sources

// The error text of a read refused for its size.
inline constexpr const char* kFileTooLarge = "file too large";

// Reads the whole file with one read where it can. On failure the error
// text says why and data holds what was read before it. Never blocks on a
// file that is not a regular one: that is an error. A file of more than
// `limit` bytes is not read: the error is kFileTooLarge and data is empty.
bool ReadWholeFile(const std::filesystem::path& path, std::string& data, std::string& error,
                   size_t limit = kSettingsFileLimit);

enum class TReadResult { Read, Missing, Failed };
// As ReadWholeFile, telling a file that is not there (no error) from one
// that cannot be read.
TReadResult ReadFileIfPresent(const std::filesystem::path& path, std::string& data,
                              std::string& error, size_t limit = kSettingsFileLimit);

// What the user is told about a failed read: "<path>: file too large", or
// "Cannot read <path>: <error>".
std::string ReadFailureText(const std::filesystem::path& path, const std::string& error);

// The mode for WriteFileAtomically that keeps an existing file's mode and
// gives a new file 0666 less the umask, as an editor would.
inline constexpr mode_t kKeepMode = static_cast<mode_t>(-1);

// Replaces the file atomically: temporary file in the same folder with the
// given mode, fsync, rename, fsync of the folder. A symbolic link at the
// path stays a link: its target is replaced. On failure the old file is
// untouched, the temporary file is gone and error holds the system's reason.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::string& error, mode_t mode = 0644);

}  // namespace vantrel
