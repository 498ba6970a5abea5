// Byte and code-unit dumps for failure messages of the text tests.
#ifndef QUILLMERE_TESTS_TEXT_HEX_H
#define QUILLMERE_TESTS_TEXT_HEX_H

#include <cstdio>
#include <string>
#include <string_view>

namespace quillmere::testing {

/// "E4 BD A0 ", or "(empty)": shows the bytes a comparison of byte texts got wrong.
inline std::string Hex(std::string_view bytes) {
  std::string text;
  for (const unsigned char b : bytes) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%02X ", b);
    text += piece;
  }
  return text.empty() ? "(empty)" : text;
}

/// "4F60 597D ", or "(empty)": the same for UTF-16 code units.
inline std::string Hex(std::u16string_view units) {
  std::string text;
  for (const char16_t u : units) {
    char piece[6];
    std::snprintf(piece, sizeof piece, "%04X ", static_cast<unsigned>(u));
    text += piece;
  }
  return text.empty() ? "(empty)" : text;
}

}  // namespace quillmere::testing

#endif  // QUILLMERE_TESTS_TEXT_HEX_H
