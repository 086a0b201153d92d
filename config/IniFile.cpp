#include "config/IniFile.h"

#include <algorithm>
#include <set>

#include "config/ConfigText.h"
#include "model/TextNumbers.h"

namespace vantrel {

namespace {

constexpr std::string_view kSpace = " \t\r\n\v\f";
constexpr size_t npos = std::string::npos;

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string LowerName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = Lower(c);
  return lower;
}

bool IsSpace(char c) {
  return kSpace.find(c) != std::string_view::npos;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

}  // namespace

TIniFile::TIniFile(std::string_view bytes) {
  // Editors add a byte-order mark; one that was saved twice is no text either.
  while (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // Old editors end lines with CR alone; read as LF, such a file would be
  // one line and every setting but the first lost.
  const char lineEnd = LineEnd(bytes);
  crOnly_ = lineEnd == '\r';
  size_t number = 0;
  while (!bytes.empty()) {
    const size_t end = bytes.find(lineEnd);
    std::string_view line = bytes.substr(0, end);
    // CR LF, and CR CR LF from a file converted twice: the writer's LF
    // must not leave a line that reads differently next time.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(Classify(std::string(line), ++number));
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
}

TIniFile::TLine TIniFile::Classify(std::string text, size_t number) {
  TLine line;
  line.number = number;
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty()) {
    line.kind = TKind::Blank;
  } else if (trimmed.front() == ';' || trimmed.front() == '#') {
    line.kind = TKind::Comment;
  } else if (trimmed.front() == '[') {
    line.kind = TKind::Section;
    const size_t close = trimmed.find(']');
    line.name = Trim(trimmed.substr(1, close == npos ? npos : close - 1));
  } else if (const size_t equals = trimmed.find('='); equals != npos) {
    line.name = Trim(trimmed.substr(0, equals));
    line.kind = line.name.empty() ? TKind::Other : TKind::Key;
    // No save could write such a value back, so it is not taken at all.
    line.refused = line.kind == TKind::Key && trimmed.find('\r') != npos;
  }
  line.text = std::move(text);
  return line;
}

size_t TIniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == TKind::Section && SameName(lines_[i].name, section)) return i;
  }
  return npos;
}

size_t TIniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != TKind::Section) ++i;
  return i;
}

size_t TIniFile::FindKey(size_t header, std::string_view key) const {
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == TKind::Key && SameName(lines_[i].name, key)) return i;
  }
  return npos;
}

std::string TIniFile::Decode(std::string_view text) {
  // The platform's functions hand out C strings: a NUL ends the value.
  text = text.substr(0, text.find('\0'));
  text = Trim(text);
  if (text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

std::string TIniFile::Encode(std::string_view value) {
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw EIniValueError("a value cannot hold a line break or a NUL byte");
  }
  // Only what the reader would change is quoted; everything else is written
  // byte for byte, as it always was.
  const bool quote =
      !value.empty() &&
      (IsSpace(value.front()) || IsSpace(value.back()) ||
       (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()));
  if (!quote) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted += '"';
  quoted += value;
  quoted += '"';
  return quoted;
}

std::optional<int32_t> TIniFile::ParseInteger(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint32_t value = 0;
    for (char c : text.substr(2)) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (Lower(c) >= 'a' && Lower(c) <= 'f') {
        digit = Lower(c) - 'a' + 10;
      } else {
        return std::nullopt;
      }
      value = value * 16 + static_cast<uint32_t>(digit);
      if (value > 0x7FFFFFFF) return std::nullopt;
    }
    return static_cast<int32_t>(value);
  }
  return ParseInt32(std::string(text));
}

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  const size_t at = FindKey(header, key);
  if (at == npos || lines_[at].refused) return std::nullopt;
  const std::string& text = lines_[at].text;
  return Decode(std::string_view(text).substr(text.find('=') + 1));
}

size_t TIniFile::LineOf(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  const size_t at = header == npos ? npos : FindKey(header, key);
  return at == npos ? 0 : lines_[at].number;
}

std::vector<std::pair<std::string, size_t>> TIniFile::Keys(std::string_view section) const {
  std::vector<std::pair<std::string, size_t>> keys;
  const size_t header = FindSection(section);
  if (header == npos) return keys;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == TKind::Key) keys.emplace_back(lines_[i].name, lines_[i].number);
  }
  return keys;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const {
  return Find(section, key).value_or(fallback);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t fallback) const {
  const auto text = Find(section, key);
  if (!text) return fallback;
  return ParseInteger(*text).value_or(fallback);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  TLine line;
  line.kind = TKind::Key;
  line.name = std::string(key);
  line.text = key;
  line.text += '=';
  try {
    line.text += Encode(value);
  } catch (const EIniValueError&) {
    throw EIniValueError("the value of " + std::string(key) +
                         " cannot hold a line break or a NUL byte");
  }
  size_t header = FindSection(section);
  if (header == npos) {
    TLine head;
    head.kind = TKind::Section;
    head.name = std::string(section);
    head.text = '[';
    head.text += section;
    head.text += ']';
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(line));
    return;
  }
  if (const size_t at = FindKey(header, key); at != npos) {
    line.number = lines_[at].number;
    lines_[at] = std::move(line);
    return;
  }
  // Behind the section's last line that is not blank, so blank lines keep
  // separating it from the next section.
  size_t insert = SectionEnd(header);
  while (insert > header + 1 && lines_[insert - 1].kind == TKind::Blank) --insert;
  lines_.insert(lines_.begin() + static_cast<ptrdiff_t>(insert), std::move(line));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  for (size_t header = FindSection(section); header != npos; header = FindSection(section)) {
    lines_.erase(lines_.begin() + static_cast<ptrdiff_t>(header),
                 lines_.begin() + static_cast<ptrdiff_t>(SectionEnd(header)));
  }
}

void TIniFile::ReplaceKeys(std::string_view section,
                           const std::vector<std::pair<std::string, std::string>>& keys) {
  const size_t header = FindSection(section);
  if (header == npos && keys.empty()) return;
  if (header != npos) {
    // Hidden duplicates behind the first section go, as the erase did.
    for (size_t next = SectionEnd(header); next < lines_.size();) {
      if (lines_[next].kind == TKind::Section && SameName(lines_[next].name, section)) {
        lines_.erase(lines_.begin() + static_cast<ptrdiff_t>(next),
                     lines_.begin() + static_cast<ptrdiff_t>(SectionEnd(next)));
      } else {
        ++next;
      }
    }
  }
  std::set<std::string> wanted;
  for (const auto& [key, value] : keys) {
    WriteString(section, key, value);
    wanted.insert(LowerName(key));
  }
  const size_t first = FindSection(section);
  std::set<std::string> seen;
  for (size_t i = first + 1; i < SectionEnd(first);) {
    const bool drop =
        lines_[i].kind == TKind::Key && (!wanted.count(LowerName(lines_[i].name)) ||
                                         !seen.insert(LowerName(lines_[i].name)).second);
    if (drop) {
      lines_.erase(lines_.begin() + static_cast<ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

std::vector<std::pair<std::string, size_t>> TIniFile::RefusedKeys() const {
  std::vector<std::pair<std::string, size_t>> refused;
  for (const TLine& line : lines_) {
    if (line.refused) refused.emplace_back(line.name, line.number);
  }
  return refused;
}

std::string TIniFile::Bytes() const {
  std::string bytes;
  for (const TLine& line : lines_) {
    bytes += line.text;
    bytes += '\n';
  }
  return bytes;
}

std::vector<TIniProblem> TIniFile::Problems() const {
  std::vector<TIniProblem> problems;
  std::set<std::string> sections;  // lower-case names seen
  std::set<std::string> keys;      // keys of the current section
  bool inSection = false;
  bool hidden = false;  // inside a section that an earlier one hides
  if (crOnly_) problems.push_back({0, "the lines end with CR only; they are read as lines"});
  for (const TLine& line : lines_) {
    auto report = [&](std::string reason) { problems.push_back({line.number, std::move(reason)}); };
    switch (line.kind) {
      case TKind::Blank:
      case TKind::Comment: break;
      case TKind::Section:
        inSection = true;
        keys.clear();
        hidden = !sections.insert(LowerName(line.name)).second;
        if (Trim(line.text).find(']') == npos) report("section header without ']'");
        if (hidden) {
          report("section [" + line.name +
                 "] ignored: an earlier section of that name is read instead");
        }
        break;
      case TKind::Key:
        if (!inSection) {
          report("ignored: the key " + line.name + " stands before any section");
        } else if (!hidden && !keys.insert(LowerName(line.name)).second) {
          report("ignored: an earlier " + line.name + " in the same section is read instead");
        } else if (!hidden && line.refused) {
          report("the value of " + line.name + " holds a CR; " + line.name + " is ignored");
        } else if (!hidden && line.text.find('\0') != npos) {
          report("the value of " + line.name + " holds a NUL byte and is read up to it");
        }
        break;
      case TKind::Other:
        report(Trim(line.text).front() == '=' ? "ignored: no key before '='"
                                              : "ignored: no '=' in the line");
        break;
    }
  }
  return problems;
}

}  // namespace vantrel
