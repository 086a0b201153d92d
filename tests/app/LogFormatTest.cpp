#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LogFormat.h"

namespace vantrel {
namespace {

std::string Bytes(size_t count, char first = 'A') {
  std::string data;
  for (size_t i = 0; i < count; ++i) data += static_cast<char>(first + i % 26);
  return data;
}

TEST(HexDump, EmptyDataGivesEmptyText) {
  EXPECT_EQ(HexDump(""), "");
}

TEST(HexDump, OneByteIsPaddedSoTheTextColumnLinesUp) {
  EXPECT_EQ(HexDump("A"), "0000 41 " + std::string(45, ' ') + "A\r\n");
}

TEST(HexDump, FullLineHasTheDashAfterTheEighthByte) {
  const std::string dump = HexDump(Bytes(16));
  EXPECT_EQ(dump, "0000 41 42 43 44 45 46 47 48-49 4A 4B 4C 4D 4E 4F 50 ABCDEFGHIJKLMNOP\r\n");
  EXPECT_EQ(dump.size(), 71u);
}

TEST(HexDump, SeventeenBytesStartASecondLineAtOffset0010) {
  const std::string dump = HexDump(Bytes(17));
  ASSERT_EQ(dump.size(), 71u + 5 + 48 + 1 + 2);
  EXPECT_EQ(dump.substr(71), "0010 51 " + std::string(45, ' ') + "Q\r\n");
}

TEST(HexDump, ShortLastLineKeepsTheTextColumn) {
  std::string data = Bytes(16);
  data += std::string("\x01\xff\x7f\r\x1f ", 6);
  const std::string dump = HexDump(data);
  const size_t second = dump.find("\r\n") + 2;
  ASSERT_EQ(second, 71u);
  const std::string line2 = dump.substr(second);
  EXPECT_EQ(line2.substr(0, 5), "0010 ");
  EXPECT_EQ(line2.substr(5, 48), "01 FF 7F 0D 1F 20 " + std::string(30, ' '));
  // Control bytes (DEL too) show as '.', others (a blank too) as they are.
  EXPECT_EQ(line2.substr(53), std::string(".\xff... ", 6) + "\r\n");
  EXPECT_EQ(dump.substr(53, 16), "ABCDEFGHIJKLMNOP");
}

TEST(HexDump, OffsetWrapsAfterFFFF) {
  const std::string dump = HexDump(std::string(0x10010, 'x'));
  EXPECT_EQ(dump.substr(0xFFFu * 71, 5), "FFF0 ");
  EXPECT_EQ(dump.substr(0x1000u * 71, 5), "0000 ");
}

TEST(DataLines, EachLineIsALogLineWithItsControlBytesEscaped) {
  struct Case {
    std::string data;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"GET / HTTP/1.0\r\nHost: a\r\n\r\n", {"GET / HTTP/1.0", "Host: a", ""}},
      {"no end", {"no end"}},
      {"bare\nLF\n", {"bare", "LF"}},
      {std::string("\x00\x1f\x20\x7f\xe9\t\r", 7), {"\\x00\\x1F \\x7F\xe9\t\\x0D"}},
      {"a\r\rb\r\n", {"a\\x0D\\x0Db"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(DataLines(c.data), c.lines) << c.data;
  EXPECT_EQ(EscapeControlBytes("\x1b]0;x\x07"), "\\x1B]0;x\\x07");
}

TEST(Timestamp, FormatsLocalTimeWithFixedWidths) {
  EXPECT_EQ(FormatTimestamp({2025, 3, 7, 9, 5, 1}), "2025/03/07 09:05:01");
  EXPECT_EQ(FormatTimestamp({2024, 12, 31, 23, 59, 59}), "2024/12/31 23:59:59");
  EXPECT_EQ(LogFileName({2025, 3, 7, 9, 5, 1}), "20250307.log");
}

}  // namespace
}  // namespace vantrel
