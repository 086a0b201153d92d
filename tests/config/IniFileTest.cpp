// The INI reader and writer on files written by hand: the profile-file
// rules existing files rely on, and values that must come back as written.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/DecryptText.h"
#include "config/IniFile.h"

namespace vantrel {
namespace {

using namespace std::string_literals;

TEST(IniFileTest, ReadsTextAsTheProfileFunctionsDo) {
  struct Case {
    std::string file;
    const char* section;
    const char* key;
    std::string expected;  // "<default>" when the key reads as missing
  };
  const Case cases[] = {
      {"[config]\nproxyport=8080\n", "CONFIG", "ProxyPort", "8080"},
      {"[A]\n  Key \t=  value  \n", "a", "KEY", "value"},
      {"[ A ]\nk=v\n", "A", "k", "v"},
      {"[A]\nk=\"  padded  \"\n", "A", "k", "  padded  "},
      {"[A]\nk='x'\n", "A", "k", "x"},
      {"[A]\nk=\"x'\n", "A", "k", "\"x'"},
      {"[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\""},
      {"[A]\nProxyUserName=\"\"\n", "A", "ProxyUserName", ""},
      {"[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "1"},
      {"[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "j", "<default>"},
      {"[A]\nk=1\nK=2\n", "A", "k", "1"},
      {"[A]\n;k=1\n  #k=2\nk=3\n", "A", "k", "3"},
      {"[A]\nProxyPort=8080 ; x\n", "A", "ProxyPort", "8080 ; x"},
      {"[A]\nk\n", "A", "k", "<default>"},
      {"[A]\nk=\n", "A", "k", ""},
      {"[A]\nk=a=b\n", "A", "k", "a=b"},
      {"k=outside\n[A]\n", "A", "k", "<default>"},
      {"\xEF\xBB\xBF[A]\r\nk=v\r\nj=w\r\n", "A", "k", "v"},
      {"[A]\r\nk=v\r\nj=w", "A", "j", "w"},
      {"[A]\nk=ab\0cd\nj=2\n"s, "A", "k", "ab"},
      {"[A]\nk=ab\0cd\nj=2\n"s, "A", "j", "2"},
      {"[A]\nk=" + std::string(1 << 20, 'v') + "\n", "A", "k", std::string(1 << 20, 'v')},
      {"[A]\nk=1\n", "B", "k", "<default>"},
  };
  for (const Case& c : cases) {
    const TIniFile ini(c.file);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected)
        << c.file.substr(0, 60) << " " << c.section << "/" << c.key;
  }
}

TEST(IniFileTest, ReadsIntegersAndBooleans) {
  struct Case {
    const char* value;
    int32_t expected;  // with the default 1080
  };
  const Case cases[] = {
      {"8080", 8080},
      {" 8080 ", 8080},
      {"0x1F", 31},
      {"0X10", 16},
      {"010", 10},
      {"-5", -5},
      {"0x", 1080},
      {"0xG", 1080},
      {"12abc", 1080},
      {"", 1080},
      {"8080 ; x", 1080},
      {"\"42\"", 42},
      {"0x7FFFFFFF", 2147483647},
      {"0x80000000", 1080},
      {"99999999999", 1080},
  };
  for (const Case& c : cases) {
    const TIniFile ini(std::string("[A]\nk=") + c.value + "\n");
    EXPECT_EQ(ini.ReadInteger("A", "k", 1080), c.expected) << c.value;
  }
  const TIniFile ini("[A]\nzero=0\nodd=7\nbad=yes\n");
  EXPECT_FALSE(ini.ReadBool("A", "zero", true));
  EXPECT_TRUE(ini.ReadBool("A", "odd", false));
  EXPECT_TRUE(ini.ReadBool("A", "bad", true));
  EXPECT_FALSE(ini.ReadBool("A", "bad", false));
  EXPECT_TRUE(ini.ReadBool("A", "missing", true));
}

// Values whose bytes the reader would change come back through quotes; all
// others are written byte for byte, so existing files keep their meaning.
TEST(IniFileTest, EveryValueWithoutLineBreaksSurvivesARoundTrip) {
  const std::vector<std::string> values = {
      "plain",
      "",
      " lead",
      "trail ",
      "\ttab",
      "\"q\"",
      "'q'",
      "\"",
      "'",
      "\"q'",
      "a\"b",
      "\"\"",
      "x ; y",
      "# not",
      "[x]",
      "k=v",
      "Прокси",
      "\xFF\xFE",
      std::string(80, 'z'),
      DecryptText("!abc"),
      DecryptText("ab#"),
      DecryptText("&ab'"),
  };
  auto key = [](size_t i) {
    std::string name = "k";
    name += std::to_string(i);
    return name;
  };
  TIniFile ini;
  for (size_t i = 0; i < values.size(); ++i) ini.WriteString("S", key(i), values[i]);
  const TIniFile read(ini.Bytes());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(read.ReadString("S", key(i), "<default>"), values[i]) << i;
  }
  EXPECT_EQ(TIniFile::Encode("plain value"), "plain value");
  EXPECT_EQ(TIniFile::Encode("x ; y"), "x ; y");
  EXPECT_EQ(TIniFile::Encode(" lead"), "\" lead\"");
}

TEST(IniFileTest, RefusesLineBreaksAndNulInsteadOfInjectingKeys) {
  for (const std::string& value : {"a\nProxyName9=x"s, "a\r[CONFIG]"s, "a\0b"s}) {
    TIniFile ini("[S]\nk=old\n");
    EXPECT_THROW(ini.WriteString("S", "k", value), EIniValueError);
    EXPECT_EQ(ini.Bytes(), "[S]\nk=old\n");
  }
}

TEST(IniFileTest, WritingKeepsForeignLinesAndErasesEveryDuplicateSection) {
  TIniFile ini(
      "\xEF\xBB\xBF; my notes\r\n[CONFIG]\r\n# keep me\r\nProxyPort=1\r\nMine=x\r\n\r\n"
      "[PROXY]\r\nProxyName1=a\r\n[Other]\r\nz=1\r\n[proxy]\r\nProxyName1=hidden\r\n");
  ini.WriteInteger("CONFIG", "proxyport", 8080);
  ini.WriteString("CONFIG", "New", "n");
  ini.EraseSection("PROXY");
  ini.WriteString("PROXY", "ProxyName1", "b");
  ini.WriteBool("Tunnel", "TunnelEnabled1", true);
  EXPECT_EQ(ini.Bytes(),
            "; my notes\n[CONFIG]\n# keep me\nproxyport=8080\nMine=x\nNew=n\n\n[Other]\nz=1\n"
            "[PROXY]\nProxyName1=b\n[Tunnel]\nTunnelEnabled1=1\n");
  // Nothing that a save writes reads differently at the next save.
  EXPECT_EQ(TIniFile("; x\r\r\n[A]\r\r\n").Bytes(), "; x\n[A]\n");
  EXPECT_EQ(TIniFile("\xEF\xBB\xBF\xEF\xBB\xBF; x\n").Bytes(), "; x\n");
}

TEST(IniFileTest, ProblemsNameEveryLineTheReaderIgnores) {
  const TIniFile ini(
      "stray=1\n"         // 1: before any section
      "[A]\n"             // 2
      "k=1\n"             // 3
      "no equals sign\n"  // 4
      "=value\n"          // 5
      "K=2\n"             // 6: hidden by line 3
      "; comment\n"       // 7
      "\n"                // 8
      "[a]\n"             // 9: hidden by line 2
      "j=1\n"             // 10: inside the hidden section, not named again
      "[B\n"              // 11
      "n=x\0y\n"s);       // 12
  std::vector<size_t> lines;
  for (const TIniProblem& problem : ini.Problems()) lines.push_back(problem.line);
  EXPECT_EQ(lines, (std::vector<size_t>{1, 4, 5, 6, 9, 11, 12}));
}

TEST(DecryptTextTest, ScramblesByPositionAndUndoesItself) {
  EXPECT_EQ(DecryptText("abcd"),
            "\x60\x60\x60"
            "d");
  EXPECT_EQ(DecryptText(DecryptText("abcd")), "abcd");
  EXPECT_EQ(DecryptText("abc"), "\x60\x60\x60");
  EXPECT_EQ(DecryptText(""), "");
  // A TAB at the third position becomes a line break: the writer must see it.
  EXPECT_EQ(DecryptText("ab\t"), "\x60\x60\n");
}

}  // namespace
}  // namespace vantrel
