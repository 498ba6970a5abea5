#include "text/url_decode.h"

#include <array>

#include "text/codepage.h"

namespace quillmere {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr char kEscape = '%';
// What a byte that is not a hexadecimal digit counts as: its position in the digit table is
// "not found" (-1), one below the first digit.
constexpr int kNotADigit = -2;

constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The digit value of every byte, looked up at once: 0-15 for a digit in either case, kNotADigit
// for any other byte, and 0 for the zero byte, where a text ends (nothing is there).
constexpr std::array<signed char, 256> MakeDigitTable() {
  std::array<signed char, 256> table{};
  for (std::size_t b = 1; b < table.size(); ++b) {
    const std::size_t index = kHexDigits.find(UpperAscii(static_cast<char>(b)));
    table[b] = static_cast<signed char>(index == std::string_view::npos ? kNotADigit
                                                                        : static_cast<int>(index));
  }
  return table;
}

constexpr std::array<signed char, 256> kDigitValue = MakeDigitTable();

// The digit value of the byte at 0-based `offset`; 0 past the end of the text.
int DigitAt(std::string_view text, std::size_t offset) {
  return offset < text.size() ? kDigitValue[static_cast<unsigned char>(text[offset])] : 0;
}

}  // namespace

int HexDigitValue(std::string_view text, std::size_t& position) {
  ++position;
  return position == 0 ? 0 : DigitAt(text, position - 1);
}

std::string UrlDecode(std::string_view text, DecodeAs as) {
  text = text.substr(0, text.find('\0'));  // a zero byte ends the text
  // Every decoded byte stands for at least one input byte, so the result fits in the input's size.
  std::string decoded(text.size(), '\0');
  char* out = decoded.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kEscape) {
      *out++ = text[i];
      continue;
    }
    // The two bytes after "%" are its digits, consumed whatever they are. Invalid digits give
    // negative sums, of which the low eight bits are the byte ('%G1' is 0xE1).
    const int high = DigitAt(text, i + 1);
    const int low = DigitAt(text, i + 2);
    const auto byte = static_cast<char>(static_cast<unsigned>(16 * high + low) & 0xFFu);
    if (byte != '\0') *out++ = byte;  // a decoded zero cannot be held by a text: dropped
    i += 2;
  }
  decoded.resize(static_cast<std::size_t>(out - decoded.data()));
  if (as == DecodeAs::kUtf8ToGbk) return Utf8ToGbk(decoded);
  return decoded;
}

}  // namespace quillmere
