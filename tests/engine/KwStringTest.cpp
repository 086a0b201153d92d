#include "engine/KwString.h"

#include <gtest/gtest.h>

namespace vantrel::engine {
namespace {

TEST(FieldHelpers, FieldCountCountsSeparatorsPlusOne) {
  EXPECT_EQ(FieldCount("", " "), 0);
  EXPECT_EQ(FieldCount("abc", " "), 1);
  EXPECT_EQ(FieldCount("a b c", " "), 3);
  EXPECT_EQ(FieldCount("a  b", " "), 3);  // adjacent separators make an empty field
  EXPECT_EQ(FieldCount(" ", " "), 2);
  EXPECT_EQ(FieldCount("a\r\nb\r\n", "\r\n"), 3);
  EXPECT_EQ(FieldCount("a\r\r\nb", "\r\n"), 2);  // no overlap with a lone CR
  EXPECT_EQ(FieldCount("abc", ""), 1);           // an empty separator never matches
}

TEST(FieldHelpers, GetFieldAtTheEdges) {
  EXPECT_EQ(GetField("CONNECT host:443 HTTP/1.0", 1, " "), "CONNECT");
  EXPECT_EQ(GetField("CONNECT host:443 HTTP/1.0", 2, " "), "host:443");
  EXPECT_EQ(GetField("CONNECT host:443 HTTP/1.0", 3, " "), "HTTP/1.0");
  EXPECT_EQ(GetField("CONNECT host:443 HTTP/1.0", 4, " "), "");
  EXPECT_EQ(GetField("a  b", 2, " "), "");
  EXPECT_EQ(GetField("a  b", 3, " "), "b");
  EXPECT_EQ(GetField("a b ", 3, " "), "");
  EXPECT_EQ(GetField("", 1, " "), "");
  EXPECT_EQ(GetField("abc", 0, " "), "");
  EXPECT_EQ(GetField("abc", -1, " "), "");
  EXPECT_EQ(GetField("x::y", 2, "::"), "y");
  EXPECT_EQ(GetField("abc", 1, ""), "abc");
  EXPECT_EQ(GetField("abc", 2, ""), "");
}

TEST(FieldHelpers, FirstAndLastField) {
  EXPECT_EQ(FirstField("GET / HTTP/1.1", " "), "GET");
  EXPECT_EQ(FirstField("nothing", " "), "nothing");
  EXPECT_EQ(FirstField(" lead", " "), "");
  EXPECT_EQ(FirstField("line\rrest", "\r"), "line");
  EXPECT_EQ(LastField("10.0.0.0/255.0.0.0", "/"), "255.0.0.0");
  EXPECT_EQ(LastField("nothing", "/"), "nothing");
  EXPECT_EQ(LastField("trail/", "/"), "");
  EXPECT_EQ(LastField("", "/"), "");
  // LastField is the field numbered FieldCount.
  for (const char* text : {"a/b/c", "/", "a//", "//b", "x"})
    EXPECT_EQ(LastField(text, "/"), GetField(text, FieldCount(text, "/"), "/")) << text;
}

TEST(FieldHelpers, FieldsAfter) {
  const std::string header = "CONNECT h:1 HTTP/1.0\r\nHost: h\r\n\r\n";
  EXPECT_EQ(FieldsAfter(header, 2, " "), "HTTP/1.0\r\nHost: h\r\n\r\n");
  EXPECT_EQ(FieldsAfter(header, 1, " "), "h:1 HTTP/1.0\r\nHost: h\r\n\r\n");
  EXPECT_EQ(FieldsAfter("a b", 2, " "), "a b");  // fewer separators: whole text
  EXPECT_EQ(FieldsAfter("a b ", 2, " "), "");
  EXPECT_EQ(FieldsAfter("a b", 0, " "), "a b");
  EXPECT_EQ(FieldsAfter("", 1, " "), "");
  EXPECT_EQ(FieldsAfter("a b", 2147483647, " "), "a b");
}

TEST(CharHelpers, LeftRightAndAfter) {
  EXPECT_EQ(LeftChars("abcdef", 2), "ab");
  EXPECT_EQ(LeftChars("ab", 5), "ab");
  EXPECT_EQ(LeftChars("ab", 0), "");
  EXPECT_EQ(RightChars("abcdef", 2), "ef");
  EXPECT_EQ(RightChars("ab", 5), "ab");
  EXPECT_EQ(RightChars("ab", 0), "");
  EXPECT_EQ(CharsAfter("abcdef", 2), "cdef");
  EXPECT_EQ(CharsAfter("abc", 3), "");
  EXPECT_EQ(CharsAfter("abc", 10), "");
  EXPECT_EQ(CharsAfter("abc", 0), "abc");
  EXPECT_EQ(CharsAfter("", 0), "");
  // Byte strings: embedded NULs and high bytes are ordinary characters.
  const std::string bytes(
      "a\0\xff"
      "b",
      4);
  EXPECT_EQ(RightChars(bytes, 3), std::string("\0\xff"
                                              "b",
                                              3));
  EXPECT_EQ(FieldCount(bytes, std::string(1, '\0')), 2);
}

TEST(Base64, Rfc4648Vectors) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, HighBytesAndNoLineBreaks) {
  EXPECT_EQ(Base64Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
  EXPECT_EQ(Base64Encode(std::string("\0\0\0", 3)), "AAAA");
  EXPECT_EQ(Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  const std::string longText(300, 'x');
  const std::string encoded = Base64Encode(longText);
  EXPECT_EQ(encoded.size(), 400u);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::engine
