#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/text/hex.h"

namespace quillmere {
namespace {

using testing::Hex;

constexpr std::string_view kEuroUtf8 = "\xE2\x82\xAC";
constexpr std::string_view kEuroGbk = "\x80";
constexpr std::string_view kEmojiUtf8 = "\xF0\x9F\x98\x80";  // U+1F600, outside code page 936
constexpr std::string_view kZhongUtf8 = "\xE4\xB8\xAD";      // 中
constexpr std::string_view kZhongGbk = "\xD6\xD0";

TEST(MultiByteToUtf16, ReadsUtf8AndReplacesEachMaximalSubpart) {
  struct Row {
    std::string input;
    std::u16string expected;
    const char* why;
  };
  const Row cases[] = {
      {"abc", u"abc", "ASCII"},
      {std::string(kZhongUtf8), u"\u4E2D", "a three-byte character"},
      {std::string(kEmojiUtf8), u"\U0001F600", "a surrogate pair"},
      {"\xE4\xB8", u"\uFFFD", "a truncated sequence at the end is one subpart"},
      {"\xE4\xB8"
       "A",
       u"\uFFFDA", "a truncated sequence before ASCII"},
      {"\xC0\x80", u"\uFFFD\uFFFD", "an overlong zero: two stray bytes, never a zero unit"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "an encoded surrogate"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", "beyond U+10FFFF"},
      {"\xF0\x9F\x98", u"\uFFFD", "a truncated four-byte sequence"},
      {"\x80\xBF", u"\uFFFD\uFFFD", "stray continuation bytes"},
      {"\xFF", u"\uFFFD", "a byte that never occurs in UTF-8"},
      {std::string("a\0b", 3), u"a", "a zero byte ends the text"},
      {"", u"", "empty"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(MultiByteToUtf16(c.input), c.expected)
        << c.why << ": " << Hex(c.input) << "gave " << Hex(MultiByteToUtf16(c.input));
  }
}

TEST(MultiByteToUtf16, ReadsCodePage936) {
  struct Row {
    std::string input;
    std::u16string expected;
    const char* why;
  };
  const Row cases[] = {
      {std::string(kZhongGbk), u"\u4E2D", "a two-byte character"},
      {"\x80", u"\u20AC", "0x80 is the euro sign, as on Windows"},
      {"\xA1\xA1", u"\u3000", "the full-width space"},
      {"\x81\x20", u"? ", "a lead byte without a trail byte; the blank survives"},
      {"\x81", u"?", "a lead byte at the end"},
      {"\xFF", u"?", "0xFF maps to nothing"},
      {std::string("\xD6\xD0\0\xD6\xD0", 5), u"\u4E2D", "a zero byte ends the text"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(MultiByteToUtf16(c.input, kCodePageGbk), c.expected) << c.why << ": " << Hex(c.input);
    EXPECT_EQ(MultiByteToUtf16(c.input, kCodePageAnsi), c.expected) << "code page 0 is 936";
  }
  EXPECT_EQ(MultiByteToUtf16("abc", 1252), u"") << "a code page we do not have";
}

TEST(Utf16ToMultiByte, WritesCodePage936AndUtf8) {
  struct Row {
    std::u16string input;
    std::string gbk;
    std::string utf8;
    const char* why;
  };
  const Row cases[] = {
      {u"\u4E2D", std::string(kZhongGbk), std::string(kZhongUtf8), "a CJK character"},
      {u"\u20AC", std::string(kEuroGbk), std::string(kEuroUtf8), "the euro sign is 0x80"},
      {u"\U0001F600", "?", std::string(kEmojiUtf8), "one ? for the whole surrogate pair"},
      {u"a\xD800"
       u"b",
       "a?b",
       "a\xEF\xBF\xBD"
       "b",
       "a lone high surrogate"},
      {u"a\xDC00", "a?", "a\xEF\xBF\xBD", "a lone low surrogate"},
      {u"\xD800", "?", "\xEF\xBF\xBD", "a high surrogate at the end"},
      {u"\u00E9\u0101", "\xA8\xA6\xA8\xA1", "\xC3\xA9\xC4\x81", "Latin letters of code page 936"},
      {u"\u0E01", "?", "\xE0\xB8\x81", "Thai is not in code page 936"},
      {std::u16string(u"a\0b", 3), "a", "a", "a zero unit ends the text"},
      {u"", "", "", "empty"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(Utf16ToMultiByte(c.input), c.gbk) << c.why << ": " << Hex(c.input);
    EXPECT_EQ(Utf16ToMultiByte(c.input, kCodePageGbk), c.gbk) << c.why;
    EXPECT_EQ(Utf16ToMultiByte(c.input, kCodePageUtf8), c.utf8) << c.why;
  }
}

TEST(Utf8ToGbk, ConvertsAndSubstitutesLikeWindows) {
  struct Row {
    std::string input;
    std::string expected;
    const char* why;
  };
  const Row cases[] = {
      {"plain ASCII ~!@#", "plain ASCII ~!@#", "ASCII passes unchanged"},
      {std::string(kZhongUtf8), std::string(kZhongGbk), "中"},
      {std::string(kEuroUtf8), "\x80", "the euro sign becomes the single byte 0x80"},
      {"a" + std::string(kEmojiUtf8) + "b", "a?b", "a character outside 936: one ?"},
      {"\xE4\xB8", "?", "a truncated sequence: one ?"},
      {"\xE4\xB8\xE4\xB8\xAD", "?\xD6\xD0", "a truncated sequence before a whole one"},
      {"\xED\xA0\x80", "???", "an encoded surrogate: three subparts"},
      {"\xC0\xAF", "??", "an overlong slash never becomes '/'"},
      {"\xEF\xBF\xBD", "?", "U+FFFD itself is not in 936"},
      {"\xC2\xB7", "\xA1\xA4", "the middle dot as Windows maps it"},
      {std::string("\xE4\xB8\xAD\0\xE4\xB8\xAD", 7), std::string(kZhongGbk), "zero ends it"},
      {"", "", "empty"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(Utf8ToGbk(c.input), c.expected)
        << c.why << ": " << Hex(c.input) << "gave " << Hex(Utf8ToGbk(c.input));
  }
}

TEST(Utf8ToGbk, EqualsTheTwoStepConversionForEveryShortInput) {
  // Utf8ToGbk is one pass; it must give what UTF-16 and back gives, for every one- and two-byte
  // input and for the three- and four-byte cases that touch the edges of UTF-8.
  std::vector<std::string> inputs;
  for (int a = 1; a < 256; ++a) {
    inputs.emplace_back(1, static_cast<char>(a));
    for (int b = 1; b < 256; ++b) inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
  }
  for (const char* edge : {"\xE0\xA0\x80", "\xE0\x9F\xBF", "\xED\x9F\xBF", "\xED\xA0\x80",
                           "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x8F\xBF\xBF",
                           "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xE2\x82\xAC\xE2\x82"}) {
    inputs.emplace_back(edge);
  }
  for (const std::string& input : inputs) {
    const std::string twoStep = Utf16ToMultiByte(MultiByteToUtf16(input), kCodePageGbk);
    ASSERT_EQ(Utf8ToGbk(input), twoStep) << Hex(input);
  }
}

TEST(GbkToUtf8, RoundTripsEveryMappedCharacter) {
  // Every two-byte sequence of code page 936 that maps to a character comes back unchanged, and
  // so does the single byte 0x80 (the euro sign).
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string gbk = {static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = GbkToUtf8(gbk);
      ASSERT_FALSE(utf8.empty()) << Hex(gbk);
      if (utf8 == "?") continue;  // a code point of 936 with no character
      ++mapped;
      ASSERT_EQ(Utf8ToGbk(utf8), gbk) << Hex(gbk) << "-> " << Hex(utf8);
    }
  }
  EXPECT_GT(mapped, 21000) << "GBK holds well over 21000 characters";
  EXPECT_EQ(GbkToUtf8(kEuroGbk), kEuroUtf8);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(kEuroGbk)), kEuroGbk);
}

TEST(GbkToUtf8, ReplacesWhatMapsToNothing) {
  EXPECT_EQ(GbkToUtf8("ab\xD6\xD0"
                      "c"),
            "ab\xE4\xB8\xAD"
            "c");
  EXPECT_EQ(GbkToUtf8("\x81\x20x"), "? x") << "a lead byte does not swallow a blank";
  EXPECT_EQ(GbkToUtf8("\xFF"), "?");
  EXPECT_EQ(GbkToUtf8("x\xD6"), "x?") << "a lead byte at the end";
  EXPECT_EQ(GbkToUtf8(std::string("a\0b", 3)), "a");
}

TEST(Utf8ToGbk, LongMixedTextConvertsWhole) {
  // Runs of ASCII, of CJK and of invalid bytes, many times over: the buffers grow and the
  // pieces stay in order.
  const std::string unit = std::string("ab ") + std::string(kZhongUtf8) + std::string(kEuroUtf8) +
                           "\xE4\xB8" + std::string(kEmojiUtf8) + "z";
  const std::string expectedUnit = std::string("ab ") + std::string(kZhongGbk) + "\x80" + "??z";
  std::string input;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    input += unit;
    expected += expectedUnit;
  }
  EXPECT_EQ(Utf8ToGbk(input), expected);
  EXPECT_EQ(GbkToUtf8(std::string(20000, '\x80')).size(), 60000u) << "0x80 grows to 3 bytes";
}

TEST(Utf8ToGbk, ConvertsOnManyThreadsAtOnce) {
  // Each thread keeps its own converters; results must not mix.
  const std::string input = "x" + std::string(kZhongUtf8) + std::string(kEmojiUtf8);
  const std::string expected = "x" + std::string(kZhongGbk) + "?";
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (Utf8ToGbk(input) != expected) ++failures[t];
        if (GbkToUtf8(expected) != "x" + std::string(kZhongUtf8) + "?") ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace quillmere
