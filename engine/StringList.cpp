#include "engine/StringList.h"

#include <stdexcept>

namespace vantrel::engine {

TStringList::TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}

TStringList::TStringList(const TStringList& other) : lines_(other.lines_) {}

TStringList& TStringList::operator=(const TStringList& other) {
  Assign(other);
  return *this;
}

void TStringList::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TStringList::Insert(std::size_t index, std::string line) {
  if (index > lines_.size()) throw std::out_of_range("TStringList::Insert: index out of range");
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
  Changed();
}

void TStringList::Delete(std::size_t index) {
  if (index >= lines_.size()) throw std::out_of_range("TStringList::Delete: index out of range");
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStringList::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  lines_ = source.lines_;
  Changed();
}

void TStringList::Assign(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  Changed();
}

const std::string& TStringList::Text() const {
  if (!textValid_) {
    std::size_t size = 0;
    for (const std::string& line : lines_) size += line.size() + 2;
    text_.clear();
    text_.reserve(size);
    for (const std::string& line : lines_) {
      text_ += line;
      text_ += "\r\n";
    }
    textValid_ = true;
  }
  return text_;
}

void TStringList::SetText(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  Assign(std::move(lines));
}

void TStringList::Changed() {
  textValid_ = false;
  // Copied first: a handler may replace or clear OnChange while it runs.
  if (OnChange) {
    TNotifyEvent handler = OnChange;
    handler(this);
  }
}

}  // namespace vantrel::engine
