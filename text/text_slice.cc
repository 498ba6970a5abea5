#include "text/text_slice.h"

#include <algorithm>
#include <cstdint>

namespace quillmere {
namespace {

constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";  // #引号
constexpr std::string_view kQuote = "\"";

// `marker` with every quote placeholder replaced by a double quote, left to right, no overlap.
std::string ExpandQuotePlaceholder(std::string_view marker) {
  std::string result;
  int from = 1;
  for (int found; (found = FindText(marker, kQuotePlaceholder, from)) != 0;
       from = found + static_cast<int>(kQuotePlaceholder.size())) {
    result.append(marker.substr(from - 1, found - from));
    result.append(kQuote);
  }
  if (static_cast<std::size_t>(from) <= marker.size()) result.append(marker.substr(from - 1));
  return result;
}

}  // namespace

std::string TextAfterLast(std::string_view text, std::string_view separator,
                          std::optional<int> start, Case letters) {
  const std::int64_t limit =
      start ? static_cast<std::int64_t>(*start) - 1 : static_cast<std::int64_t>(text.size());
  if (limit <= 0 || text.empty()) return {};
  const std::string_view range =
      text.substr(0, std::min<std::uint64_t>(static_cast<std::uint64_t>(limit), text.size()));
  const int last = FindLastText(range, separator, letters);
  if (last == 0) return {};
  return std::string(text.substr(static_cast<std::size_t>(last) - 1 + separator.size()));
}

std::string TextBetween(std::string_view text, std::string_view open, std::string_view close,
                        std::optional<int> start, Case letters) {
  const std::string openMarker = ExpandQuotePlaceholder(open);
  const std::string closeMarker = ExpandQuotePlaceholder(close);
  const int opened = FindText(text, openMarker, start.value_or(1), letters);
  if (opened == 0) return {};
  const std::size_t contentStart = static_cast<std::size_t>(opened) - 1 + openMarker.size();
  if (contentStart >= text.size()) return {};
  const int closed = FindText(text, closeMarker, static_cast<int>(contentStart) + 1, letters);
  if (closed == 0) return {};
  return std::string(
      text.substr(contentStart, static_cast<std::size_t>(closed) - 1 - contentStart));
}

}  // namespace quillmere
