#include "app/ScreenLog.h"

#include <algorithm>

namespace vantrel {

TScreenLog::TScreenLog(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

std::vector<std::string> TScreenLog::ScreenLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(std::move(line));
    line.clear();
  }
  if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
  return lines;
}

uint64_t TScreenLog::Add(std::string text, TColor colour) {
  if (entries_.size() >= capacity_) {
    Notify(TScreenLogEvent::Evicting, entries_.front());
    lines_ -= entryLines_.front();
    entries_.pop_front();
    entryLines_.pop_front();
  }
  const size_t lines = ScreenLines(text).size();
  entries_.push_back(TLogEntry{nextId_++, std::move(text), colour});
  entryLines_.push_back(lines);
  lines_ += lines;
  Notify(TScreenLogEvent::Added, entries_.back());
  return entries_.back().id;
}

void TScreenLog::Clear() {
  entries_.clear();
  entryLines_.clear();
  lines_ = 0;
  Notify(TScreenLogEvent::Cleared, TLogEntry{});
}

void TScreenLog::ScrollToEnd() {
  if (!entries_.empty()) Notify(TScreenLogEvent::ScrollToEnd, entries_.back());
}

std::vector<TLogEntry> TScreenLog::EntriesSince(uint64_t id) const {
  auto first = std::find_if(entries_.begin(), entries_.end(),
                            [id](const TLogEntry& e) { return e.id > id; });
  return {first, entries_.end()};
}

std::string TScreenLog::Text() const {
  std::string text;
  for (const TLogEntry& entry : entries_) {
    for (const std::string& line : ScreenLines(entry.text)) {
      text += line;
      text += '\n';
    }
  }
  return text;
}

int TScreenLog::Subscribe(Listener listener) {
  return listeners_.Subscribe(std::move(listener));
}

void TScreenLog::Unsubscribe(int token) {
  listeners_.Unsubscribe(token);
}

TSubscription TScreenLog::Watch(Listener listener) {
  return listeners_.Watch(std::move(listener));
}

void TScreenLog::Notify(TScreenLogEvent event, const TLogEntry& entry) {
  listeners_.Notify(event, entry);
}

}  // namespace vantrel
