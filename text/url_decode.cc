#include "text/url_decode.h"

#include <cstring>

#include "text/codepage.h"

namespace quillmere {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr char kEscape = '%';
// What a byte that is not a hexadecimal digit counts as: its position in the digit table is
// "not found" (-1), one below the first digit.
constexpr int kNotADigit = -2;

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

int HexDigitValue(std::string_view text, std::size_t& position) {
  ++position;
  // Past the end, or at a zero byte (where a text ends), there is nothing: an empty digit, 0.
  if (position == 0 || position > text.size() || text[position - 1] == '\0') return 0;
  const std::size_t index = kHexDigits.find(UpperAscii(text[position - 1]));
  return index == std::string_view::npos ? kNotADigit : static_cast<int>(index);
}

std::string UrlDecode(std::string_view text, DecodeAs as) {
  text = text.substr(0, text.find('\0'));  // a zero byte ends the text
  // Every decoded byte stands for at least one input byte, so the result fits in the input's size.
  std::string decoded(text.size(), '\0');
  char* out = decoded.data();
  std::size_t i = 0;  // offset of the next input byte
  while (i < text.size()) {
    const void* found = std::memchr(text.data() + i, kEscape, text.size() - i);
    const std::size_t escape =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
              : text.size();
    std::memcpy(out, text.data() + i, escape - i);
    out += escape - i;
    if (escape == text.size()) break;

    std::size_t position = escape + 1;  // 1-based position of the "%"
    const int high = HexDigitValue(text, position);
    const int low = HexDigitValue(text, position);
    // Invalid digits give negative sums; the low eight bits are the byte ('%G1' is 0xE1).
    const auto byte = static_cast<char>(static_cast<unsigned>(16 * high + low) & 0xFFu);
    if (byte != '\0') *out++ = byte;  // a decoded zero cannot be held by a text: dropped
    i = position;                     // the 0-based offset just after the last digit consumed
  }
  decoded.resize(static_cast<std::size_t>(out - decoded.data()));
  if (as == DecodeAs::kUtf8ToGbk) return Utf8ToGbk(decoded);
  return decoded;
}

}  // namespace quillmere
