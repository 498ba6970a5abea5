// Conversions between UTF-8, UTF-16 and code page 936 (GBK), over glibc iconv.
//
// Code pages are numbered as on Windows: 65001 is UTF-8, 936 is GBK and 0, the
// system's ANSI code page, is 936 here; any other number gives an empty result.
// What the converter cannot read or write is replaced, as the Windows converter
// does: each invalid UTF-8 sequence (one maximal subpart at a time) becomes
// U+FFFD in UTF-16 and "?" in code page 936, and each character code page 936
// cannot hold (an emoji, a lone surrogate) becomes one "?". The euro sign is
// the single byte 0x80 in code page 936. No result ever holds a zero byte or
// unit; input ends at its first zero.
// Pure functions, safe on any number of threads (each thread keeps its own
// iconv descriptors).
#ifndef QUILLMERE_TEXT_CODEPAGE_H
#define QUILLMERE_TEXT_CODEPAGE_H

#include <string>
#include <string_view>

namespace quillmere {

inline constexpr unsigned kCodePageAnsi = 0;
inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageUtf8 = 65001;

/// `text`, read in `codePage`, as UTF-16 code units. Utf8 "\xE4\xB8\xAD" gives u"\u4E2D";
/// an unreadable sequence gives U+FFFD (UTF-8) or "?" (code page 936).
std::u16string MultiByteToUtf16(std::string_view text, unsigned codePage = kCodePageUtf8);

/// UTF-16 `units` written in `codePage` (0 means 936). u"\u4E2D" gives "\xD6\xD0"; a lone
/// surrogate gives "?" (code page 936) or U+FFFD (UTF-8).
std::string Utf16ToMultiByte(std::u16string_view units, unsigned codePage = kCodePageAnsi);

/// UTF-8 text as code page 936 text: the same as MultiByteToUtf16 then Utf16ToMultiByte(936),
/// in one pass. "\xE2\x82\xAC" (the euro sign) gives "\x80"; an emoji gives "?".
std::string Utf8ToGbk(std::string_view utf8);

/// Code page 936 text as UTF-8, for the edges that show text (the window, the console).
/// A byte pair that maps to nothing, a lone lead byte and 0xFF each give "?".
std::string GbkToUtf8(std::string_view gbk);

}  // namespace quillmere

#endif  // QUILLMERE_TEXT_CODEPAGE_H
