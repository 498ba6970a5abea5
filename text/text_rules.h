// Searching, splitting and trimming code page 936 texts.
//
// A text is a byte string in code page 936: a byte of 0x80 or above starts a
// two-byte character, so a match never begins on the second byte of one; a
// lead byte that is the last byte of the text starts no character (no match
// begins there, and it ends every search).
// Positions count from 1; 0 means "not found". Lengths are in bytes.
// All functions are pure and safe on any number of threads.
#ifndef QUILLMERE_TEXT_TEXT_RULES_H
#define QUILLMERE_TEXT_TEXT_RULES_H

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

/// How letters compare in a search: exactly, or with ASCII A-Z and a-z folded.
enum class Case { kExact, kIgnoreAscii };

/// Position of the first occurrence of `pattern` that starts at or after `start` (a start of 0 or
/// less counts as 1) on a character boundary and lies wholly inside `text`; 0 when there is none.
/// An empty pattern is found at `start` when that lies inside the text.
/// FindText("a\xD5\x5C\x5C", "\x5C") == 4: the 0x5C at 3 is the second byte of a character.
int FindText(std::string_view text, std::string_view pattern, int start = 1,
             Case letters = Case::kExact);

/// Position of the last occurrence of `pattern` in `text` under FindText's rules; 0 when there is
/// none. An empty pattern is found at 1 in a text that is not empty. One pass over the text.
/// FindLastText("/a/b", "/") == 3.
int FindLastText(std::string_view text, std::string_view pattern, Case letters = Case::kExact);

/// True when `pattern` occurs in `text` under FindText's rules.
bool ContainsText(std::string_view text, std::string_view pattern, Case letters = Case::kExact);

/// `text` with every occurrence of `pattern` removed, scanning from the left without overlaps,
/// ASCII case-insensitively. RemoveAllIgnoringCase("Cookie: a=1", "cookie:") == " a=1".
std::string RemoveAllIgnoringCase(std::string_view text, std::string_view pattern);

/// The pieces of `text` between occurrences of `separator` (compared exactly). A separator at the
/// start gives an empty first piece, two adjacent ones an empty piece between them; no piece
/// follows a separator that ends the text; an empty text gives no pieces; an empty separator
/// never splits.
/// SplitText(";a;;b;", ";") == {"", "a", "", "b"}.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);

/// `text` without ASCII spaces (0x20) and full-width spaces (0xA1 0xA1) at either end.
/// Tabs and every other character stay.
std::string TrimSpaces(std::string_view text);

/// `text` with every ASCII space and every full-width space removed, wherever it stands.
std::string RemoveAllSpaces(std::string_view text);

/// The first `n` bytes of `text`: empty for n <= 0, the whole text when n exceeds its length.
std::string_view LeftBytes(std::string_view text, int n);

/// The last `n` bytes of `text`: empty for n <= 0, the whole text when n exceeds its length.
std::string_view RightBytes(std::string_view text, int n);

}  // namespace quillmere

#endif  // QUILLMERE_TEXT_TEXT_RULES_H
