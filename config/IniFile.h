#pragma once
// proxy.ini as the profile-file functions read and write it, on bytes:
// section and key names ignore case; keys and values are trimmed and one
// pair of matching quotes around a value is removed; the first matching
// section and key win; ";" and "#" start comment lines (there are no inline
// comments); a line without "=" is ignored; integers may be 0x hexadecimal.
// A UTF-8 byte-order mark is skipped, CR LF and LF both end lines, and so
// does CR in a file without any LF; lines have no length limit. A key whose
// value holds a CR elsewhere is refused: it reads as missing. Writing keeps
// every line the program does not own, comments in place, and writes LF
// line ends without a byte-order mark.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

// A value that cannot be written on one line.
class EIniValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line the reader ignores, or reads otherwise than its writer meant.
struct TIniProblem {
  size_t line;  // 1-based
  std::string reason;
};

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::string_view bytes);

  // Values as read; nullopt when the section or key is not there.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& fallback) const;
  // A value that is not a whole number (decimal, or 0x hexadecimal) reads as
  // the default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

  // Replaces the first matching key's line, or adds the key to the end of
  // the first matching section, creating the section at the end of the
  // file when needed. A value with a CR, LF or NUL throws EIniValueError,
  // whose message names the key.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes every section of that name with all its lines, so a hidden
  // duplicate cannot come forward.
  void EraseSection(std::string_view section);
  // Makes the keys of the section exactly these, in place: keys already
  // there keep their line, new ones go to the section's end, every other
  // key line of it goes, and so do hidden duplicates of the section.
  // Comments and blank lines stay where they are.
  void ReplaceKeys(std::string_view section,
                   const std::vector<std::pair<std::string, std::string>>& keys);

  // The file as it is to be written.
  std::string Bytes() const;

  // Lines the reader ignores: no "=", no key, keys before any section,
  // sections and keys hidden behind an earlier one of the same name, an
  // unclosed section header, a NUL or a CR in a value; and CR-only line
  // ends (line 0: the whole file).
  std::vector<TIniProblem> Problems() const;
  // The keys refused for a CR in their value, with their line numbers.
  std::vector<std::pair<std::string, size_t>> RefusedKeys() const;
  // The keys of the section as read (first section of the name), with their
  // line numbers, in file order.
  std::vector<std::pair<std::string, size_t>> Keys(std::string_view section) const;
  // The line number of a key as read, 0 when it is not there.
  size_t LineOf(std::string_view section, std::string_view key) const;

  // The text the writer puts after "=" for a value.
  static std::string Encode(std::string_view value);
  // A value as the reader returns it from the text after "=".
  static std::string Decode(std::string_view text);
  static std::optional<int32_t> ParseInteger(std::string_view text);

 private:
  enum class TKind { Blank, Comment, Section, Key, Other };
  struct TLine {
    std::string text;
    TKind kind = TKind::Other;
    std::string name;   // section or key name, trimmed
    size_t number = 0;  // 1-based line in the file read; 0 for lines added
    bool refused = false;  // a key whose value holds a CR
  };

  static TLine Classify(std::string text, size_t number);
  // Index of the first header of the section, or npos.
  size_t FindSection(std::string_view section) const;
  // End of the section starting at header index: the next header or the end.
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::string_view key) const;

  std::vector<TLine> lines_;
  bool crOnly_ = false;
};

}  // namespace vantrel
