#include "text/text_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

using ::testing::ElementsAreArray;

TEST(FindText, MatchesStartOnCharacterBoundaries) {
  struct Row {
    std::string_view text;
    std::string_view pattern;
    int start;
    Case letters;
    int expected;
    const char* why;
  };
  const Row cases[] = {
      {"a\xD5\x5C\x5C", "\x5C", 1, Case::kExact, 4, "0x5C at 3 is the second byte of D5 5C"},
      {"\xD5\x41\x41", "A", 1, Case::kExact, 3, "an ASCII trail byte is no letter"},
      {"\xD5\x41\x41", "A", 2, Case::kExact, 3, "a start on a second byte does not make it a lead"},
      {"ab\xD5", "\xD5", 1, Case::kExact, 0, "a lead byte directly before the end ends the search"},
      {"\xD5\xD5\xD5", "\xD5\xD5", 1, Case::kExact, 1, "a pair of lead bytes is one character"},
      {"x\xD5\xD5\xD5", "\xD5\xD5", 1, Case::kExact, 2, "matches at the second character"},
      {"abcabc", "bc", 3, Case::kExact, 5, "start skips the earlier match"},
      {"abc", "c", 0, Case::kExact, 3, "a start of 0 counts as 1"},
      {"abc", "c", -7, Case::kExact, 3, "a negative start counts as 1"},
      {"abc", "c", 4, Case::kExact, 0, "start past the end finds nothing"},
      {"ab", "abc", 1, Case::kExact, 0, "a match must lie wholly inside the text"},
      {"abc", "", 2, Case::kExact, 2, "an empty pattern is found at the start"},
      {"abc", "", 4, Case::kExact, 0, "but not past the end"},
      {"", "", 1, Case::kExact, 0, "nothing in the empty text"},
      {"Hello", "hello", 1, Case::kExact, 0, "exact search keeps case"},
      {"xHeLLo", "hello", 1, Case::kIgnoreAscii, 2, "ASCII letters fold"},
      {"\xE4\xE3", "\xC4\xE3", 1, Case::kIgnoreAscii, 0, "bytes above 0x7F never fold"},
      {"[a]", "{A}", 1, Case::kIgnoreAscii, 0, "only letters fold, not [ and {"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(FindText(c.text, c.pattern, c.start, c.letters), c.expected)
        << c.why << " (start " << c.start << ")";
  }
}

TEST(FindLastText, TakesTheLastBoundaryMatch) {
  EXPECT_EQ(FindLastText("/a/b", "/"), 3);
  EXPECT_EQ(FindLastText("\x5C\x61\xD5\x5C\x62", "\x5C"), 1) << "0x5C at 4 is a second byte";
  EXPECT_EQ(FindLastText("aaa", "aa"), 2) << "the last position a match starts at";
  EXPECT_EQ(FindLastText("aXa", "x", Case::kIgnoreAscii), 2);
  EXPECT_EQ(FindLastText("abc", ""), 1);
  EXPECT_EQ(FindLastText("", "/"), 0);
  EXPECT_EQ(FindLastText("abc", "/"), 0);
}

TEST(ContainsText, FollowsFindText) {
  EXPECT_TRUE(ContainsText("Set-Cookie: a", "set-cookie", Case::kIgnoreAscii));
  EXPECT_FALSE(ContainsText("Set-Cookie: a", "set-cookie"));
  EXPECT_FALSE(ContainsText("\xD5:", ":")) << "the colon is the second byte of a character";
}

TEST(RemoveAllIgnoringCase, RemovesEveryOccurrenceFromTheLeft) {
  struct Row {
    std::string_view text;
    std::string_view pattern;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"Cookie: a=1", "cookie:", " a=1", "case is ignored"},
      {"aAaA", "aa", "", "every occurrence goes"},
      {"aaa", "aa", "a", "no overlap: the scan goes on after a removed match"},
      {"\xD5\x61\x62", "ab", "\xD5\x61\x62", "0x61 is a trail byte, so 'ab' is not there"},
      {"abc", "", "abc", "an empty pattern removes nothing"},
      {"x\xD5", "\xD5", "x\xD5", "a lone lead byte at the end stays"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(RemoveAllIgnoringCase(c.text, c.pattern), c.expected) << c.why;
  }
}

TEST(SplitText, KeepsEmptyPiecesExceptAfterAFinalSeparator) {
  struct Row {
    std::string_view text;
    std::string_view separator;
    std::vector<std::string> expected;
    const char* why;
  };
  const Row cases[] = {
      {";a;;b;", ";", {"", "a", "", "b"}, "leading and inner empty pieces stay, no last piece"},
      {"", ";", {}, "an empty text gives no pieces"},
      {";", ";", {""}, "a lone separator gives one empty piece"},
      {"abc", ";", {"abc"}, "no separator: the whole text"},
      {"a\r\nb\r\n\r\nc", "\r\n", {"a", "b", "", "c"}, "a two-byte separator"},
      {"\xD5;a;b", ";", {"\xD5;a", "b"}, "a separator byte that is a second byte does not split"},
      {"ab", "", {"ab"}, "an empty separator never splits"},
      {"a;B", "b", {"a;B"}, "the separator is compared with case"},
  };
  for (const Row& c : cases) {
    EXPECT_THAT(SplitText(c.text, c.separator), ElementsAreArray(c.expected)) << c.why;
  }
}

TEST(TrimSpaces, RemovesAsciiAndFullWidthSpacesAtBothEnds) {
  struct Row {
    std::string_view text;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"  a b  ", "a b", "inner spaces stay"},
      {"\xA1\xA1 a\xA1\xA1", "a", "full-width spaces, mixed with ASCII ones"},
      {"\ta\t", "\ta\t", "tabs are not spaces here"},
      {"\xB0\xA1\xA1", "\xB0\xA1\xA1", "A1 A1 that straddles a character is no full-width space"},
      {"\xA1\xA1\xA1", "\xA1", "a lone A1 after a full-width space stays"},
      {"   ", "", "only spaces"},
      {"", "", "empty"},
      {"\xD6\xD0 ", "\xD6\xD0", "a two-byte character before a trailing space"},
  };
  for (const Row& c : cases) EXPECT_EQ(TrimSpaces(c.text), c.expected) << c.why;
}

TEST(RemoveAllSpaces, RemovesSpacesWhereverTheyStand) {
  EXPECT_EQ(RemoveAllSpaces(" a \xA1\xA1 b "), "ab");
  EXPECT_EQ(RemoveAllSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1") << "B0 A1 is a character";
  EXPECT_EQ(RemoveAllSpaces("a\tb"), "a\tb");
  EXPECT_EQ(RemoveAllSpaces(""), "");
}

TEST(LeftBytes, CountsInBytes) {
  EXPECT_EQ(LeftBytes("abc", -1), "");
  EXPECT_EQ(LeftBytes("abc", 0), "");
  EXPECT_EQ(LeftBytes("abc", 2), "ab");
  EXPECT_EQ(LeftBytes("abc", 10), "abc");
  EXPECT_EQ(RightBytes("abc", -1), "");
  EXPECT_EQ(RightBytes("abc", 0), "");
  EXPECT_EQ(RightBytes("abc", 2), "bc");
  EXPECT_EQ(RightBytes("abc", 10), "abc");
}

}  // namespace
}  // namespace quillmere
