// Cutting a piece out of a code page 936 text at markers.
// Searches follow text_rules.h: matches start on character boundaries.
#ifndef QUILLMERE_TEXT_TEXT_SLICE_H
#define QUILLMERE_TEXT_TEXT_SLICE_H

#include <optional>
#include <string>
#include <string_view>

#include "text/text_rules.h"

namespace quillmere {

/// The bytes after the last occurrence of `separator` within the first (start - 1) bytes of
/// `text` (the whole text when `start` is omitted); empty when there is none or when the
/// separator ends the text. An empty separator gives the whole text.
/// TextAfterLast("/a/b/c", "/") == "c"; TextAfterLast("abc", "/") == "".
std::string TextAfterLast(std::string_view text, std::string_view separator,
                          std::optional<int> start = std::nullopt, Case letters = Case::kExact);

/// The bytes between the first `open` at or after `start` (omitted, 0 or less: from 1) and the
/// next `close` after it; empty when either is missing. In both markers the placeholder "#引号"
/// (as GBK bytes) stands for a double quote.
/// TextBetween("Date: x\r\n", "Date:", "\r\n") == " x".
std::string TextBetween(std::string_view text, std::string_view open, std::string_view close,
                        std::optional<int> start = std::nullopt, Case letters = Case::kExact);

}  // namespace quillmere

#endif  // QUILLMERE_TEXT_TEXT_SLICE_H
