#include "web/header_cookie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmere {
namespace {

TEST(HeaderName, SplitsAtTheFirstColonAndTrims) {
  struct Row {
    std::string_view line;
    std::string_view name;
    std::string_view value;
    const char* why;
  };
  const Row cases[] = {
      {"Accept : x", "Accept", "x", "blanks around the colon go"},
      {"Host: a:b", "Host", "a:b", "the value keeps further colons"},
      {"no colon here", "", "", "a line without a colon"},
      {"X:\tv", "X", "\tv", "a tab is not trimmed"},
      {"\xA1\xA1Name\xA1\xA1:\xA1\xA1v ", "Name", "v", "full-width spaces are trimmed"},
      {"\xD5:a: b", "\xD5:a", "b", "a colon that is a second byte does not split"},
      {":v", "", "v", "an empty name"},
      {"k:", "k", "", "an empty value"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(HeaderName(c.line), c.name) << c.why;
    EXPECT_EQ(HeaderValue(c.line), c.value) << c.why;
  }
}

TEST(TextBeforeMarker, TakesEverythingInFrontOfTheMarker) {
  struct Row {
    std::string_view text;
    std::string_view marker;
    int start;
    Case letters;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"Set-Cookie: a=1", ": ", 1, Case::kExact, "Set-Cookie", "a header name"},
      {"abc", ": ", 1, Case::kExact, "", "no marker"},
      {"a; b; c", "; ", 3, Case::kExact, "a; b", "from the start position, text from byte 1"},
      {"a; b", "; ", 0, Case::kExact, "a", "a start of 0 counts as 1"},
      {"a; b", "; ", -5, Case::kExact, "a", "a negative start counts as 1"},
      {"xPATHy", "path", 1, Case::kIgnoreAscii, "x", "ASCII case-insensitive"},
      {"xPATHy", "path", 1, Case::kExact, "", "with case"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(TextBeforeMarker(c.text, c.marker, c.start, c.letters), c.expected) << c.why;
  }
}

TEST(CapitalizeFirst, RaisesOnlyAnAsciiLetterAtTheStart) {
  EXPECT_EQ(CapitalizeFirst("abc"), "Abc");
  EXPECT_EQ(CapitalizeFirst("aBC"), "ABC");
  EXPECT_EQ(CapitalizeFirst(""), "");
  EXPECT_EQ(CapitalizeFirst("1a"), "1a");
  EXPECT_EQ(CapitalizeFirst("\xE1\x61"), "\xE1\x61") << "a two-byte character stays";
}

TEST(NormalizeHeaderNames, CapitalizesNamePartsAndDropsLinesWithoutColon) {
  struct Row {
    std::string_view block;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"content-type: text/plain\r\nx-my-header:1\r\nbad line\r\n\r\naccept-LANGUAGE: en",
       "Content-Type: text/plain\r\nX-My-Header:1\r\nAccept-LANGUAGE: en",
       "names raised, other letters kept, bad and empty lines dropped"},
      {"x-: 1", "X-: 1", "a dash that ends the name stays"},
      {"a--b: 1", "A--B: 1", "two dashes in a row"},
      {"-x: 1", "-X: 1", "a dash at the start"},
      {"\r\nhost: h", "Host: h", "no CR LF at the start"},
      {"host: h\r\n", "Host: h", "no CR LF at the end"},
      {"k: value-with-dashes", "K: value-with-dashes", "the value is not touched"},
      {"\xB0-a: 1", "\xB0-a: 1", "a dash that is a second byte does not start a part"},
      {"no colon", "", "nothing left"},
      {"", "", "empty"},
  };
  for (const Row& c : cases) EXPECT_EQ(NormalizeHeaderNames(c.block), c.expected) << c.why;
}

TEST(Base64Encode, Rfc4648Vectors) {
  struct Row {
    std::string bytes;
    std::string_view expected;
  };
  const Row cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"user:pass", "dXNlcjpwYXNz"},
      {std::string("\xFB\xFF\x00", 3), "+/8A"},  // the last two letters of the alphabet
  };
  for (const Row& c : cases) EXPECT_EQ(Base64Encode(c.bytes), c.expected) << c.bytes;
}

TEST(CookieName, TakesTheTrimmedPartBeforeTheFirstEquals) {
  EXPECT_EQ(CookieName("a=1"), "a");
  EXPECT_EQ(CookieName(" a =1=2"), "a");
  EXPECT_EQ(CookieName(" flag "), "flag") << "no equals sign: the whole item";
  EXPECT_EQ(CookieName("=1"), "");
  EXPECT_EQ(CookieName(""), "");
}

TEST(HasCookieNamed, ComparesNamesWithCase) {
  const std::vector<std::string> items = {"a=1", " B =2", "flag"};
  EXPECT_TRUE(HasCookieNamed(items, "a"));
  EXPECT_TRUE(HasCookieNamed(items, "B"));
  EXPECT_TRUE(HasCookieNamed(items, "flag"));
  EXPECT_FALSE(HasCookieNamed(items, "b"));
  EXPECT_FALSE(HasCookieNamed({}, ""));
}

TEST(IndexOfItem, FindsTheFirstEqualItem) {
  const std::vector<std::string> items = {"a", "b", "a", ""};
  EXPECT_EQ(IndexOfItem(items, "a"), 1);
  EXPECT_EQ(IndexOfItem(items, "b"), 2);
  EXPECT_EQ(IndexOfItem(items, ""), 4);
  EXPECT_EQ(IndexOfItem(items, "A"), -1);
  EXPECT_EQ(IndexOfItem({}, "a"), -1);
}

TEST(RemoveDuplicateItems, KeepsTheFirstOfEachPiece) {
  struct Row {
    std::string_view text;
    std::string_view separator;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"a; b; a", "; ", "a; b", "a repeated piece goes"},
      {"b; a; b; a", "; ", "b; a", "first occurrences keep their order"},
      {"", "; ", "", "empty"},
      {"a;;a;", ";", "a;", "an empty piece is kept once; no piece after the final separator"},
      {"A; a", "; ", "A; a", "pieces compare with case"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(RemoveDuplicateItems(c.text, c.separator), c.expected) << c.why;
  }
}

TEST(MergeCookies, NewCookiesWinAndTheResultIsLeftInTheOldText) {
  struct Row {
    std::string oldCookies;
    std::string newCookies;
    std::string_view expected;
    std::string_view newAfter;
    const char* why;
  };
  const Row cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4", "new first, old ones it lacks after"},
      {"a=1", "a=deleted", "", "a=deleted", "a deleted cookie goes, also from the old text"},
      {"a=1", "b=deleted", "a=1", "b=deleted", "deleting a cookie the old text lacks"},
      {"", "x=1; x=1", "x=1", "x=1;x=1", "duplicates in the new text"},
      {"a=1;a=2", "", "a=1", "", "of two old items with one name, the first"},
      {"a=hello world", "", "a=helloworld", "", "spaces inside values are removed"},
      {"A=1", "a=2", "a=2; A=1", "a=2", "names compare with case"},
      {"a=1;", "", "a=1", "", "a final ';' gives no empty item"},
      {"", ";a=1", "; a=1", ";a=1", "an empty item stays, so the result starts with '; '"},
      {"a=1;;b=2", "", "a=1; ; b=2", "", "an inner empty item stays once"},
      {"\xA1\xA1"
       "a=1",
       "", "a=1", "", "full-width spaces are removed too"},
      {"", "", "", "", "empty"},
  };
  for (const Row& c : cases) {
    std::string oldCookies = c.oldCookies;
    std::string newCookies = c.newCookies;
    EXPECT_EQ(MergeCookies(oldCookies, newCookies), c.expected) << c.why;
    EXPECT_EQ(oldCookies, c.expected) << c.why << ": the old text holds the result";
    EXPECT_EQ(newCookies, c.newAfter) << c.why << ": the new text loses its spaces";
  }
}

}  // namespace
}  // namespace quillmere
