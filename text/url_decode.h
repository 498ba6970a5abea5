// Percent-decoding of messages, with the UTF-8 to code page 936 step.
#ifndef QUILLMERE_TEXT_URL_DECODE_H
#define QUILLMERE_TEXT_URL_DECODE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmere {

/// What UrlDecode does with the decoded bytes.
enum class DecodeAs { kRawBytes, kUtf8ToGbk };

/// Advances `position` (1-based) by one and gives the value of the hex digit there: 0-15 for a
/// digit in either case, -2 for any other byte, 0 when the position lies past the end or on a
/// zero byte (where a text ends).
int HexDigitValue(std::string_view text, std::size_t& position);

/// Percent-decodes `text`: "%" and the next two bytes become the byte 16 * d1 + d2 (low eight
/// bits, digits by HexDigitValue, always consumed); a decoded zero byte is dropped; "+" and every
/// other byte are copied. With kUtf8ToGbk the bytes are then read as UTF-8 and written as code
/// page 936 (Utf8ToGbk). A literal zero byte ends the input. Never fails; the result never holds
/// a zero byte. Linear in the input's size.
/// UrlDecode("%E4%B8%AD", DecodeAs::kUtf8ToGbk) == "\xD6\xD0"; UrlDecode("50%") == "50".
std::string UrlDecode(std::string_view text, DecodeAs as = DecodeAs::kRawBytes);

}  // namespace quillmere

#endif  // QUILLMERE_TEXT_URL_DECODE_H
