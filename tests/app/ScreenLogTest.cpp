#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ScreenLog.h"

namespace vantrel {
namespace {

TEST(ScreenLog, CountsScreenLinesOfEachEntry) {
  EXPECT_EQ(TScreenLog::ScreenLines(""), std::vector<std::string>{""});
  EXPECT_EQ(TScreenLog::ScreenLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(TScreenLog::ScreenLines("a\rb\nc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(TScreenLog::ScreenLines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));

  TScreenLog log;
  log.Add("one", clBlack);
  log.Add("two\r\nthree\r\n", clBlue);
  EXPECT_EQ(log.LineCount(), 3u);
  log.Clear();
  EXPECT_EQ(log.LineCount(), 0u);
  EXPECT_EQ(log.EntryCount(), 0u);
}

TEST(ScreenLog, RingDropsTheOldestAndSaysSoFirst) {
  TScreenLog log(3);
  std::vector<std::string> events;
  log.Subscribe([&](TScreenLogEvent event, const TLogEntry& entry) {
    if (event == TScreenLogEvent::Evicting) {
      // The entry is still there while the view hears of it.
      EXPECT_EQ(log.Entries().front().id, entry.id);
      events.push_back("evict " + entry.text);
    } else if (event == TScreenLogEvent::Added) {
      events.push_back("add " + entry.text);
    }
  });
  for (const char* text : {"1", "2", "3", "4\r\n5"}) log.Add(text, clBlack);
  EXPECT_EQ(events, (std::vector<std::string>{"add 1", "add 2", "add 3", "evict 1", "add 4\r\n5"}));
  EXPECT_EQ(log.EntryCount(), 3u);
  EXPECT_EQ(log.LineCount(), 4u);
}

TEST(ScreenLog, SnapshotThenSubscribeMissesNothing) {
  TScreenLog log(4);
  for (int i = 1; i <= 6; ++i) log.Add("line " + std::to_string(i), clBlack);
  // Ids keep counting across evictions and clears.
  const auto snapshot = log.EntriesSince(0);
  ASSERT_EQ(snapshot.size(), 4u);
  EXPECT_EQ(snapshot.front().id, 3u);
  EXPECT_EQ(log.LastId(), 6u);

  std::vector<uint64_t> live;
  log.Subscribe([&](TScreenLogEvent event, const TLogEntry& entry) {
    if (event == TScreenLogEvent::Added) live.push_back(entry.id);
  });
  log.Clear();
  log.Add("after", clGreen);
  EXPECT_EQ(live, (std::vector<uint64_t>{7}));
  ASSERT_EQ(log.EntriesSince(6).size(), 1u);
  EXPECT_EQ(log.EntriesSince(6)[0].colour, clGreen);
}

}  // namespace
}  // namespace vantrel
