#include "text/url_decode.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/text/hex.h"

namespace quillmere {
namespace {

using testing::Hex;

TEST(HexDigitValue, EveryByte) {
  for (int b = 0; b < 256; ++b) {
    const std::string text = {'%', static_cast<char>(b)};
    std::size_t position = 1;
    int expected = -2;
    if (b >= '0' && b <= '9') expected = b - '0';
    if (b >= 'A' && b <= 'F') expected = b - 'A' + 10;
    if (b >= 'a' && b <= 'f') expected = b - 'a' + 10;
    if (b == 0) expected = 0;  // a zero byte ends a text: nothing is there
    EXPECT_EQ(HexDigitValue(text, position), expected) << "byte " << b;
    EXPECT_EQ(position, 2u) << "the position advances by one";
  }
}

TEST(HexDigitValue, PastTheEndIsZero) {
  std::size_t position = 1;
  EXPECT_EQ(HexDigitValue("%", position), 0);
  EXPECT_EQ(position, 2u);
  EXPECT_EQ(HexDigitValue("%", position), 0);
  EXPECT_EQ(position, 3u);
  position = 0;
  EXPECT_EQ(HexDigitValue("", position), 0);
}

TEST(UrlDecode, DecodesRawBytes) {
  struct Row {
    std::string input;
    std::string expected;
    const char* why;
  };
  const Row cases[] = {
      {"abc", "abc", "plain text"},
      {"a+b", "a+b", "'+' is not a blank"},
      {"%41%62", "Ab", "two escapes"},
      {"%4a", "J", "a lower-case digit"},
      {"%4A", "J", "an upper-case digit"},
      {"%e4", "\xE4", "a high byte"},
      {"%E4%B8%AD", "\xE4\xB8\xAD", "raw: UTF-8 stays UTF-8"},
      {"\xE4\xB8\xAD%20", "\xE4\xB8\xAD ", "bytes above 0x7F pass one by one"},
      {"%G1", "\xE1", "invalid first digit: 16 * -2 + 1"},
      {"%1G", "\x0E", "invalid second digit: 16 * 1 - 2"},
      {"%zz", "\xDE", "two invalid digits: -34"},
      {"%%41",
       "\xE4"
       "1",
       "the digits are always consumed, '%' included"},
      {"%00", "", "a decoded zero byte is dropped"},
      {"a%00b", "ab", "and the text goes on after it"},
      {"50%", "50", "a '%' that ends the text"},
      {"a%4", "a\x40", "one digit before the end: 16 * 4 + 0"},
      {"%", "", "a lone '%'"},
      {"%0", "", "'%0' at the end is a zero byte"},
      {"", "", "empty"},
      {std::string("a\0%41", 5), "a", "a literal zero byte ends the text"},
      {std::string("%4\0"
                   "1",
                   4),
       "\x40", "also in the middle of an escape"},
  };
  for (const Row& c : cases) {
    const std::string result = UrlDecode(c.input);
    EXPECT_EQ(result, c.expected) << c.why << ": " << Hex(c.input) << "gave " << Hex(result);
  }
}

TEST(UrlDecode, ConvertsUtf8ToGbk) {
  struct Row {
    std::string input;
    std::string expected;
    const char* why;
  };
  const Row cases[] = {
      {"%E4%B8%AD", "\xD6\xD0", "中"},
      {"%e4%b8%ad", "\xD6\xD0", "lower-case digits"},
      {"hello%20world", "hello world", "ASCII comes back unchanged"},
      {"%E2%82%AC", "\x80", "the euro sign is 0x80"},
      {"%F0%9F%98%80", "?", "an emoji: one ? for the whole character"},
      {"%E4%B8", "?", "a truncated UTF-8 sequence"},
      {"%E4%B8%00%AD", "\xD6\xD0", "a dropped zero does not split the character"},
      {"%ZZ", "?", "a decoded stray byte"},
      {"", "", "empty"},
  };
  for (const Row& c : cases) {
    const std::string result = UrlDecode(c.input, DecodeAs::kUtf8ToGbk);
    EXPECT_EQ(result, c.expected) << c.why << ": " << Hex(c.input) << "gave " << Hex(result);
  }
}

TEST(UrlDecode, EveryShortInputGivesATextWithoutZeroBytes) {
  // All one- and two-byte inputs, in both modes: no zero byte in any result, and a raw result is
  // never longer than its input.
  auto check = [](const std::string& input) {
    const std::string raw = UrlDecode(input);
    ASSERT_EQ(raw.find('\0'), std::string::npos) << Hex(input);
    ASSERT_LE(raw.size(), input.size()) << Hex(input);
    const std::string gbk = UrlDecode(input, DecodeAs::kUtf8ToGbk);
    ASSERT_EQ(gbk.find('\0'), std::string::npos) << Hex(input);
  };
  for (int a = 0; a < 256; ++a) {
    check(std::string(1, static_cast<char>(a)));
    for (int b = 0; b < 256; ++b) check({static_cast<char>(a), static_cast<char>(b)});
  }
}

TEST(UrlDecode, LongInputDecodesWhole) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    input += "%E4%B8%AD/a+b%2F";
    expected += "\xD6\xD0/a+b/";
  }
  EXPECT_EQ(UrlDecode(input, DecodeAs::kUtf8ToGbk), expected);
}

}  // namespace
}  // namespace quillmere
