// Taking header lines apart, rewriting header names, Base64 for proxy
// credentials and merging cookie texts. Texts are code page 936; searches and
// splits follow text/text_rules.h. Pure functions, safe on any thread.
#ifndef QUILLMERE_WEB_HEADER_COOKIE_H
#define QUILLMERE_WEB_HEADER_COOKIE_H

#include <string>
#include <string_view>
#include <vector>

#include "text/text_rules.h"

namespace quillmere {

/// The trimmed part of a header line before its first ":"; empty without a colon.
/// HeaderName("Accept : x") == "Accept".
std::string HeaderName(std::string_view line);

/// The trimmed part of a header line after its first ":"; empty without a colon.
/// HeaderValue("Host: a:b") == "a:b".
std::string HeaderValue(std::string_view line);

/// Everything in front of the first `marker` at or after `start` (0 or less counts as 1),
/// always from the first byte of `text`; empty when the marker is not there.
/// TextBeforeMarker("Set-Cookie: a=1", ": ") == "Set-Cookie".
std::string TextBeforeMarker(std::string_view text, std::string_view marker, int start = 1,
                             Case letters = Case::kExact);

/// `text` with its first byte upper-cased when it is an ASCII letter a-z.
std::string CapitalizeFirst(std::string_view text);

/// The header block (lines joined by CR LF) with each name's first letter and every letter after
/// a "-" in it upper-cased; lines without ":" dropped; joined by CR LF without one at either end.
/// "content-type: a\r\nbad" gives "Content-Type: a".
std::string NormalizeHeaderNames(std::string_view block);

/// Standard Base64 (RFC 4648) with "=" padding and no line breaks. "ab" gives "YWI=".
std::string Base64Encode(std::string_view bytes);

/// The trimmed part of a cookie item before its first "="; the whole item trimmed without one.
std::string CookieName(std::string_view item);

/// True when some item of `items` has the cookie name `name` (compared exactly).
bool HasCookieNamed(const std::vector<std::string>& items, std::string_view name);

/// Position (from 1) of the first item equal to `text`, -1 when there is none.
int IndexOfItem(const std::vector<std::string>& items, std::string_view text);

/// `text` split at `separator` with repeated pieces dropped (the first occurrence keeps its
/// place), joined again by `separator`. RemoveDuplicateItems("a; b; a", "; ") == "a; b".
std::string RemoveDuplicateItems(std::string_view text, std::string_view separator);

/// Merges cookie texts: spaces removed from both (in the callers' variables), the new items
/// first, then old items whose names the new ones lack, items ending in "=deleted" left out,
/// joined by "; ", duplicates removed. The result is also left in `oldCookies`.
/// Old "a=1; b=2" and new "b=3; c=4" give "b=3; c=4; a=1".
std::string MergeCookies(std::string& oldCookies, std::string& newCookies);

}  // namespace quillmere

#endif  // QUILLMERE_WEB_HEADER_COOKIE_H
