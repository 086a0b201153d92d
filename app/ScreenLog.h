#pragma once
// The screen log's content: a bounded ring of coloured entries with
// monotonic ids. A view takes a snapshot, then subscribes for what follows;
// it hears of an eviction before the entry goes, so it never shows a ghost.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "model/Notifier.h"

namespace vantrel {

struct TColor {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const TColor&) const = default;
};

inline constexpr TColor clBlack{0, 0, 0};
inline constexpr TColor clGreen{0, 128, 0};  // data from a client
inline constexpr TColor clBlue{0, 0, 255};   // data from a server or next hop

struct TLogEntry {
  uint64_t id = 0;
  std::string text;  // one or more screen lines
  TColor colour;
};

enum class TScreenLogEvent {
  Added,        // entry: the new one
  Evicting,     // entry: the oldest, about to be dropped for room
  Cleared,      // entry: unused
  ScrollToEnd,  // a request to show the last line
};

class TScreenLog {
 public:
  using Listener = std::function<void(TScreenLogEvent event, const TLogEntry& entry)>;

  explicit TScreenLog(size_t capacity = kDefaultCapacity);

  uint64_t Add(std::string text, TColor colour);
  void Clear();
  void ScrollToEnd();

  // Lines as the screen shows them; an entry may hold several.
  size_t LineCount() const { return lines_; }
  size_t EntryCount() const { return entries_.size(); }
  const std::deque<TLogEntry>& Entries() const { return entries_; }
  // Entries newer than the given id (0: all).
  std::vector<TLogEntry> EntriesSince(uint64_t id) const;
  uint64_t LastId() const { return nextId_ - 1; }
  // Every screen line, each ended by a line feed, bytes as held: what
  // "Save Log As..." writes.
  std::string Text() const;

  int Subscribe(Listener listener);
  void Unsubscribe(int token);
  [[nodiscard]] TSubscription Watch(Listener listener);

  // A text cut into screen lines at CR LF, CR or LF; a final break does not
  // open another line.
  static std::vector<std::string> ScreenLines(const std::string& text);

  // Message lines alone never meet the data-line limit, so the ring bounds
  // them; it sits well above that limit.
  static constexpr size_t kDefaultCapacity = 20000;

 private:
  void Notify(TScreenLogEvent event, const TLogEntry& entry);

  size_t capacity_;
  std::deque<TLogEntry> entries_;
  std::deque<size_t> entryLines_;
  size_t lines_ = 0;
  uint64_t nextId_ = 1;
  TListenerList<TScreenLogEvent, const TLogEntry&> listeners_;
};

}  // namespace vantrel
