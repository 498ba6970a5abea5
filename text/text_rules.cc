#include "text/text_rules.h"

#include <climits>
#include <cstring>

namespace quillmere {
namespace {

constexpr char kSpace = ' ';
constexpr char kFullWidthSpaceByte = '\xA1';  // a full-width space is this byte twice

bool IsLeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when `pattern` lies at byte offset `i` of `text`.
bool MatchesAt(std::string_view text, std::size_t i, std::string_view pattern, Case letters) {
  if (pattern.size() > text.size() - i) return false;
  if (letters == Case::kExact)
    return std::memcmp(text.data() + i, pattern.data(), pattern.size()) == 0;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    if (FoldAscii(text[i + k]) != FoldAscii(pattern[k])) return false;
  }
  return true;
}

// Length in bytes of the character at offset `i`: 2 for a lead byte, else 1. A lead byte that is
// the last byte of the text gives 0, which ends every walk: it starts no character.
std::size_t CharLength(std::string_view text, std::size_t i) {
  if (!IsLeadByte(text[i])) return 1;
  return i + 1 < text.size() ? 2 : 0;
}

// Length of the space at offset `i` (ASCII or full-width), 0 when there is none.
std::size_t SpaceLength(std::string_view text, std::size_t i) {
  if (text[i] == kSpace) return 1;
  if (text[i] == kFullWidthSpaceByte && i + 1 < text.size() && text[i + 1] == kFullWidthSpaceByte)
    return 2;
  return 0;
}

int ToPosition(std::size_t offset) {
  return offset < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(offset) + 1 : INT_MAX;
}

}  // namespace

int FindText(std::string_view text, std::string_view pattern, int start, Case letters) {
  if (start < 1) start = 1;
  const std::size_t from = static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return 0;
  if (pattern.empty()) return start;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t step = CharLength(text, i);
    if (step == 0) break;
    if (i >= from && MatchesAt(text, i, pattern, letters)) return ToPosition(i);
    i += step;
  }
  return 0;
}

int FindLastText(std::string_view text, std::string_view pattern, Case letters) {
  if (text.empty()) return 0;
  if (pattern.empty()) return 1;
  std::size_t last = 0;
  bool found = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t step = CharLength(text, i);
    if (step == 0) break;
    if (MatchesAt(text, i, pattern, letters)) {
      last = i;
      found = true;
    }
    i += step;
  }
  return found ? ToPosition(last) : 0;
}

bool ContainsText(std::string_view text, std::string_view pattern, Case letters) {
  return FindText(text, pattern, 1, letters) != 0;
}

std::string RemoveAllIgnoringCase(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t step = CharLength(text, i);
    if (step == 0) break;
    if (MatchesAt(text, i, pattern, Case::kIgnoreAscii)) {
      i += pattern.size();
      continue;
    }
    result.append(text.substr(i, step));
    i += step;
  }
  result.append(text.substr(i));  // a lead byte left alone at the end
  return result;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t pieceStart = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t step = CharLength(text, i);
    if (step == 0) break;
    if (MatchesAt(text, i, separator, Case::kExact)) {
      pieces.emplace_back(text.substr(pieceStart, i - pieceStart));
      i += separator.size();
      pieceStart = i;
      continue;
    }
    i += step;
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

std::string TrimSpaces(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t space = SpaceLength(text, begin);
    if (space == 0) break;
    begin += space;
  }
  // Walk forward so that a full-width space is only recognised on a character boundary.
  std::size_t end = begin;
  for (std::size_t i = begin; i < text.size();) {
    const std::size_t space = SpaceLength(text, i);
    if (space != 0) {
      i += space;
      continue;
    }
    const std::size_t step = CharLength(text, i);
    i += step == 0 ? 1 : step;
    end = i;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string RemoveAllSpaces(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t space = SpaceLength(text, i);
    if (space != 0) {
      i += space;
      continue;
    }
    std::size_t step = CharLength(text, i);
    if (step == 0) step = 1;
    result.append(text.substr(i, step));
    i += step;
  }
  return result;
}

std::string_view LeftBytes(std::string_view text, int n) {
  if (n <= 0) return {};
  return text.substr(0, static_cast<std::size_t>(n));
}

std::string_view RightBytes(std::string_view text, int n) {
  if (n <= 0) return {};
  const auto count = static_cast<std::size_t>(n);
  return count >= text.size() ? text : text.substr(text.size() - count);
}

}  // namespace quillmere
