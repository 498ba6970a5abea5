#include "web/header_cookie.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_set>

namespace quillmere {
namespace {

constexpr std::string_view kColon = ":";
constexpr std::string_view kEquals = "=";
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kNameSeparator = "-";
constexpr std::string_view kCookieSeparator = ";";
constexpr std::string_view kCookieJoiner = "; ";
constexpr std::string_view kDeletedSuffix = "=deleted";
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

int Length(std::string_view text) {
  return static_cast<int>(text.size());
}

// `name` with its first byte and every byte directly after a "-" upper-cased when they are
// ASCII letters a-z. A "-" counts only where a character starts (never as a second byte).
std::string CapitalizeNameParts(std::string_view name) {
  std::string result(name);
  bool partStart = true;
  for (std::size_t i = 0; i < result.size();) {
    if (partStart) result[i] = UpperAscii(result[i]);
    partStart = result[i] == kNameSeparator[0];
    i += static_cast<unsigned char>(result[i]) >= 0x80 ? 2 : 1;
  }
  return result;
}

}  // namespace

std::string HeaderName(std::string_view line) {
  const int colon = FindText(line, kColon);
  if (colon == 0) return {};
  return TrimSpaces(LeftBytes(line, colon - 1));
}

std::string HeaderValue(std::string_view line) {
  const int colon = FindText(line, kColon);
  if (colon == 0) return {};
  return TrimSpaces(RightBytes(line, Length(line) - colon));
}

std::string TextBeforeMarker(std::string_view text, std::string_view marker, int start,
                             Case letters) {
  const int found = FindText(text, marker, start < 1 ? 1 : start, letters);
  if (found == 0) return {};
  return std::string(LeftBytes(text, found - 1));
}

std::string CapitalizeFirst(std::string_view text) {
  std::string result(text);
  if (!result.empty()) result[0] = UpperAscii(result[0]);
  return result;
}

std::string NormalizeHeaderNames(std::string_view block) {
  std::string result;
  for (const std::string& line : SplitText(block, kLineBreak)) {
    const int colon = FindText(line, kColon);
    if (colon == 0) continue;
    std::string rewritten = CapitalizeNameParts(LeftBytes(line, colon - 1));
    rewritten.append(std::string_view(line).substr(static_cast<std::size_t>(colon) - 1));
    if (!result.empty()) result.append(kLineBreak);
    result.append(rewritten);
  }
  return result;
}

std::string Base64Encode(std::string_view bytes) {
  std::string result;
  result.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
    result.push_back(kBase64Alphabet[group >> 18 & 0x3F]);
    result.push_back(kBase64Alphabet[group >> 12 & 0x3F]);
    result.push_back(kBase64Alphabet[group >> 6 & 0x3F]);
    result.push_back(kBase64Alphabet[group & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    result.push_back(kBase64Alphabet[group >> 18 & 0x3F]);
    result.push_back(kBase64Alphabet[group >> 12 & 0x3F]);
    result.push_back(rest == 2 ? kBase64Alphabet[group >> 6 & 0x3F] : '=');
    result.push_back('=');
  }
  return result;
}

std::string CookieName(std::string_view item) {
  const int equals = FindText(item, kEquals);
  if (equals == 0) return TrimSpaces(item);
  return TrimSpaces(LeftBytes(item, equals - 1));
}

bool HasCookieNamed(const std::vector<std::string>& items, std::string_view name) {
  for (const std::string& item : items) {
    if (CookieName(item) == name) return true;
  }
  return false;
}

int IndexOfItem(const std::vector<std::string>& items, std::string_view text) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i) + 1;
  }
  return -1;
}

std::string RemoveDuplicateItems(std::string_view text, std::string_view separator) {
  const std::vector<std::string> pieces = SplitText(text, separator);
  std::unordered_set<std::string_view> seen;
  std::string result;
  result.reserve(text.size() + separator.size());
  for (const std::string& piece : pieces) {
    if (!seen.insert(piece).second) continue;
    result.append(piece);
    result.append(separator);
  }
  result.resize(result.size() - std::min(result.size(), separator.size()));
  return result;
}

std::string MergeCookies(std::string& oldCookies, std::string& newCookies) {
  oldCookies = RemoveAllSpaces(oldCookies);
  newCookies = RemoveAllSpaces(newCookies);

  std::vector<std::string> items = SplitText(newCookies, kCookieSeparator);
  for (std::string& old : SplitText(oldCookies, kCookieSeparator)) {
    if (!HasCookieNamed(items, CookieName(old))) items.push_back(std::move(old));
  }

  std::string joined;
  for (const std::string& item : items) {
    if (RightBytes(item, Length(kDeletedSuffix)) == kDeletedSuffix) continue;
    joined.append(item);
    joined.append(kCookieJoiner);
  }
  joined.resize(joined.size() - std::min(joined.size(), kCookieJoiner.size()));

  oldCookies = RemoveDuplicateItems(joined, kCookieJoiner);
  return oldCookies;
}

}  // namespace quillmere
