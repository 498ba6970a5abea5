#include "text/text_slice.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

// "#引号" in code page 936.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

TEST(TextAfterLast, TakesWhatFollowsTheLastSeparator) {
  struct Row {
    std::string_view text;
    std::string_view separator;
    std::optional<int> start;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"/abc", "/", {}, "abc", "the message of a GET path"},
      {"/a/b/c", "/", {}, "c", "the last of several"},
      {"/", "/", {}, "", "a separator that ends the text"},
      {"abc", "/", {}, "", "no separator"},
      {"a--b", "--", {}, "b", "a two-byte separator"},
      {"\x5C\x61\xD5\x5C\x62", "\x5C", {}, "\x61\xD5\x5C\x62", "0x5C at 4 is a second byte"},
      {"aaa", "aa", {}, "", "overlapping matches: the last starts at 2"},
      {"", "/", {}, "", "empty text"},
      {"abc", "", {}, "abc", "an empty separator is found at 1"},
      {"/a/b/c", "/", 5, "b/c", "only the first start - 1 bytes are searched"},
      {"/a/b/c", "/", 4, "b/c", "a match must lie inside those bytes"},
      {"/a/b/c", "/", 100, "c", "a start past the end searches everything"},
      {"/a/b/c", "/", 1, "", "a start of 1 searches nothing"},
      {"/a/b/c", "/", -3, "", "a negative start searches nothing"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(TextAfterLast(c.text, c.separator, c.start), c.expected) << c.why;
  }
  EXPECT_EQ(TextAfterLast("aXbxc", "X", std::nullopt, Case::kIgnoreAscii), "c");
}

TEST(TextBetween, TakesTheTextBetweenFirstOpenAndNextClose) {
  const std::string quote(kQuotePlaceholder);
  struct Row {
    std::string text;
    std::string open;
    std::string close;
    std::optional<int> start;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"Date: Sun, 22 Sep 2019 08:00:00 GMT\r\nServer: x\r\n",
       "Date:",
       "\r\n",
       {},
       " Sun, 22 Sep 2019 08:00:00 GMT",
       "the Date header, its leading blank kept"},
      {"Server: x\r\nDate: Sun", "Date:", "\r\n", {}, "", "a last line without CR LF"},
      {"a=\r\n", "a=", "\r\n", {}, "", "the close follows the open at once"},
      {"", "a", "b", {}, "", "empty text"},
      {"x=1; x=2;", "x=", ";", {}, "1", "the first open"},
      {"x=1; x=2;", "x=", ";", 2, "2", "a start after the first open"},
      {"x=1; x=2;", "x=", ";", 0, "1", "a start of 0 counts as 1"},
      {"ab", "b", "", {}, "", "an open that ends the text leaves nothing to close"},
      {"a=\"x\";", "a=" + quote, quote, {}, "x", "the placeholder stands for a double quote"},
      {"k=\"x\"\"", quote + "x" + quote, "\"", {}, "", "placeholders on both sides of a letter"},
      {"#\xD2\xFD\xBA\xC5", "#", quote, {}, "", "a placeholder in the text itself is no quote"},
      {"\xD5<a>", "<", ">", {}, "", "'<' is the second byte of D5 3C"},
      {"\xD5<<a>", "<", ">", {}, "a", "the next '<' starts a character"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(TextBetween(c.text, c.open, c.close, c.start), c.expected) << c.why;
  }
  EXPECT_EQ(TextBetween("DATE: x\r\n", "date:", "\r\n", std::nullopt, Case::kIgnoreAscii), " x");
  EXPECT_EQ(TextBetween("DATE: x\r\n", "date:", "\r\n"), "");
}

}  // namespace
}  // namespace quillmere
