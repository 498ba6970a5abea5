#include "text/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

namespace quillmere {
namespace {

// Conversion policy, applied wherever iconv stops before the end of its input:
// - E2BIG (output full): the output buffer grows and the conversion goes on.
// - EILSEQ (a sequence that cannot be read, or a character the target cannot hold) and EINVAL
//   (an incomplete sequence at the end of the input): the converter here looks at the bytes
//   itself and writes what the Windows converter writes, then skips them and goes on:
//   - an invalid UTF-8 sequence, one maximal subpart at a time (a lead byte with the
//     continuation bytes that could still complete it, or a single stray byte), becomes U+FFFD
//     in UTF-16 and UTF-8 and "?" in code page 936;
//   - a character code page 936 cannot hold becomes one "?" (a surrogate pair is one character);
//   - a lone surrogate becomes "?" in code page 936 and U+FFFD in UTF-8;
//   - in code page 936 input, a lead byte with a trail byte that maps to nothing becomes one "?"
//     for the pair; a lead byte without a trail byte, or the byte 0xFF, becomes "?" alone;
//   - the euro sign is 0x80 in code page 936 (a single byte), in both directions.
//   Any other errno is handled like EILSEQ.
// - A descriptor that cannot be opened (missing gconv modules): UTF-8 and UTF-16 still convert
//   into each other (the substitutions above read and write them), and every character outside
//   ASCII that needs code page 936 becomes "?".
// Input ends at its first zero byte or unit, so no result ever holds a zero.

constexpr const char* kNameUtf8 = "UTF-8";
constexpr const char* kNameGbk = "CP936";
constexpr const char* kNameUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

constexpr char kQuestionMark = '?';
constexpr char kGbkEuro = '\x80';
constexpr char32_t kEuroSign = U'\u20AC';
constexpr char32_t kReplacementCharacter = U'\uFFFD';

// Owns one iconv descriptor: move-only, closed when the owner goes. Used by one thread only.
class IconvDescriptor {
 public:
  IconvDescriptor() = default;
  IconvDescriptor(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvDescriptor() { Close(); }
  IconvDescriptor(IconvDescriptor&& other) noexcept : cd_(std::exchange(other.cd_, Invalid())) {}
  IconvDescriptor& operator=(IconvDescriptor&& other) noexcept {
    if (this != &other) {
      Close();
      cd_ = std::exchange(other.cd_, Invalid());
    }
    return *this;
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;

  bool valid() const { return cd_ != Invalid(); }
  iconv_t get() const { return cd_; }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  void Close() {
    if (valid()) iconv_close(cd_);
    cd_ = Invalid();
  }

  iconv_t cd_ = Invalid();
};

enum class Route : std::size_t {
  kUtf8ToUtf16,
  kGbkToUtf16,
  kUtf16ToGbk,
  kUtf16ToUtf8,
  kUtf8ToGbk,
  kGbkToUtf8,
  kCount
};

struct RouteNames {
  const char* to;
  const char* from;
};

constexpr std::array<RouteNames, static_cast<std::size_t>(Route::kCount)> kRouteNames = {{
    {kNameUtf16, kNameUtf8},
    {kNameUtf16, kNameGbk},
    {kNameGbk, kNameUtf16},
    {kNameUtf8, kNameUtf16},
    {kNameGbk, kNameUtf8},
    {kNameUtf8, kNameGbk},
}};

// This thread's descriptor for `route`, opened on first use; nullopt when iconv cannot open it
// (retried on the next call).
std::optional<iconv_t> DescriptorFor(Route route) {
  thread_local std::array<IconvDescriptor, static_cast<std::size_t>(Route::kCount)> descriptors;
  IconvDescriptor& descriptor = descriptors[static_cast<std::size_t>(route)];
  if (!descriptor.valid()) {
    const RouteNames& names = kRouteNames[static_cast<std::size_t>(route)];
    descriptor = IconvDescriptor(names.to, names.from);
    if (!descriptor.valid()) return std::nullopt;
  }
  return descriptor.get();
}

// A growing output byte buffer written through a cursor, so that no byte is appended singly to
// a std::string.
class Output {
 public:
  explicit Output(std::size_t expected) : bytes_(expected, '\0') {}

  char* cursor() { return bytes_.data() + used_; }
  std::size_t room() const { return bytes_.size() - used_; }
  void Advance(char* newCursor) { used_ = static_cast<std::size_t>(newCursor - bytes_.data()); }

  void Reserve(std::size_t needed) {
    if (room() < needed) bytes_.resize(std::max(bytes_.size() * 2, used_ + needed));
  }
  void Grow() { Reserve(room() + 16); }
  void Put(std::string_view piece) {
    Reserve(piece.size());
    std::memcpy(cursor(), piece.data(), piece.size());
    used_ += piece.size();
  }
  void PutByte(char byte) { Put(std::string_view(&byte, 1)); }

  std::string TakeBytes() && {
    bytes_.resize(used_);
    return std::move(bytes_);
  }
  std::u16string TakeUnits() && {
    std::u16string units(used_ / 2, u'\0');
    std::memcpy(units.data(), bytes_.data(), units.size() * 2);
    return units;
  }

 private:
  std::string bytes_;
  std::size_t used_ = 0;
};

// Writing single characters in each target.
void PutUtf16(Output& out, char32_t c) {
  std::array<char16_t, 2> units{};
  std::size_t count = 1;
  if (c >= 0x10000) {
    units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<char16_t>(c);
  }
  out.Put(std::string_view(reinterpret_cast<const char*>(units.data()), count * 2));
}

void PutUtf8(Output& out, char32_t c) {
  std::array<char, 4> bytes{};
  std::size_t count = 0;
  if (c < 0x80) {
    bytes[count++] = static_cast<char>(c);
  } else if (c < 0x800) {
    bytes[count++] = static_cast<char>(0xC0 | c >> 6);
    bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    bytes[count++] = static_cast<char>(0xE0 | c >> 12);
    bytes[count++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    bytes[count++] = static_cast<char>(0xF0 | c >> 18);
    bytes[count++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    bytes[count++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.Put(std::string_view(bytes.data(), count));
}

enum class Target { kUtf16, kUtf8, kGbk };

// A character that `target` cannot hold, or stands for something unreadable, written as the
// Windows converter writes it.
void PutReplacement(Output& out, Target target) {
  if (target == Target::kGbk) {
    out.PutByte(kQuestionMark);
  } else if (target == Target::kUtf16) {
    PutUtf16(out, kReplacementCharacter);
  } else {
    PutUtf8(out, kReplacementCharacter);
  }
}

// A readable character that iconv refused to write: the euro sign goes to 0x80 in code page
// 936 and everything else it cannot hold to "?"; UTF targets hold every character.
void PutCharacter(Output& out, Target target, char32_t c) {
  if (target == Target::kGbk) {
    out.PutByte(c < 0x80 ? static_cast<char>(c) : c == kEuroSign ? kGbkEuro : kQuestionMark);
  } else if (target == Target::kUtf16) {
    PutUtf16(out, c);
  } else {
    PutUtf8(out, c);
  }
}

// The UTF-8 sequence at the start of `bytes` (not empty): its character, or, when it is invalid,
// the length of its maximal subpart (the longest start of a well-formed sequence, at least 1).
struct Utf8Sequence {
  std::size_t length;
  std::optional<char32_t> character;
};

Utf8Sequence ReadUtf8(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return {1, lead};
  std::size_t continuations = 0;
  char32_t c = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuations = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {1, std::nullopt};
  }
  for (std::size_t i = 1; i <= continuations; ++i) {
    if (i >= bytes.size()) return {i, std::nullopt};
    const auto next = static_cast<unsigned char>(bytes[i]);
    if (next < low || next > high) return {i, std::nullopt};
    low = 0x80;
    high = 0xBF;
    c = c << 6 | (next & 0x3F);
  }
  return {continuations + 1, c};
}

bool IsGbkLead(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}
bool IsGbkTrail(unsigned char b) {
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Substitutions for each source encoding at the place where iconv stopped; each returns how
// many input bytes it stood for (at least 1).
std::size_t SubstituteUtf8(std::string_view rest, Output& out, Target target) {
  const Utf8Sequence sequence = ReadUtf8(rest);
  if (sequence.character) {
    PutCharacter(out, target, *sequence.character);
  } else {
    PutReplacement(out, target);
  }
  return sequence.length;
}

std::size_t SubstituteGbk(std::string_view rest, Output& out, Target target) {
  const auto lead = static_cast<unsigned char>(rest[0]);
  if (lead < 0x80) {
    PutCharacter(out, target, lead);
    return 1;
  }
  if (rest[0] == kGbkEuro) {
    PutCharacter(out, target, kEuroSign);
    return 1;
  }
  PutCharacter(out, target, static_cast<char32_t>(kQuestionMark));
  return IsGbkLead(lead) && rest.size() >= 2 && IsGbkTrail(static_cast<unsigned char>(rest[1])) ? 2
                                                                                                : 1;
}

char16_t UnitAt(std::string_view bytes, std::size_t index) {
  char16_t unit;
  std::memcpy(&unit, bytes.data() + index * 2, 2);
  return unit;
}

std::size_t SubstituteUtf16(std::string_view rest, Output& out, Target target) {
  if (rest.size() < 2) return rest.size();  // half a unit cannot occur: units are whole
  const char16_t unit = UnitAt(rest, 0);
  const bool high = unit >= 0xD800 && unit <= 0xDBFF;
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (high && rest.size() >= 4) {
    const char16_t next = UnitAt(rest, 1);
    if (next >= 0xDC00 && next <= 0xDFFF) {
      PutCharacter(out, target, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      return 4;
    }
  }
  if (high || low) {
    PutReplacement(out, target);
  } else {
    PutCharacter(out, target, unit);
  }
  return 2;
}

using Substitute = std::size_t (*)(std::string_view rest, Output& out, Target target);

// Converts one run of input with iconv, substituting by the policy above where it stops.
// `expansion` is the most output bytes one input byte can need.
void ConvertRun(Route route, std::string_view in, Output& out, Target target, Substitute substitute,
                std::size_t expansion) {
  const std::optional<iconv_t> cd = DescriptorFor(route);
  if (!cd) {
    // No converter: the substitutions read and write ASCII, UTF-8 and UTF-16 themselves and
    // write "?" for everything else.
    while (!in.empty()) {
      const std::size_t skipped = substitute(in, out, target);
      in.remove_prefix(skipped);
    }
    return;
  }
  iconv(*cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char* inPtr = const_cast<char*>(in.data());      // iconv does not write through it
  std::size_t inLeft = in.size();
  while (inLeft > 0) {
    out.Reserve(inLeft * expansion);
    char* outPtr = out.cursor();
    std::size_t outLeft = out.room();
    const std::size_t result = iconv(*cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    out.Advance(outPtr);
    if (result != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) {
      out.Grow();
      continue;
    }
    const std::size_t skipped = substitute(std::string_view(inPtr, inLeft), out, target);
    inPtr += skipped;
    inLeft -= skipped;
  }
  for (;;) {  // flush any shift state (none for these encodings, but harmless)
    char* outPtr = out.cursor();
    std::size_t outLeft = out.room();
    const std::size_t result = iconv(*cd, nullptr, nullptr, &outPtr, &outLeft);
    out.Advance(outPtr);
    if (result != static_cast<std::size_t>(-1) || errno != E2BIG) break;
    out.Grow();
  }
}

// Length of the ASCII run at the start of `bytes`, eight bytes at a time.
std::size_t AsciiPrefix(std::string_view bytes) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    if ((word & kHighBits) != 0) break;
  }
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

// ASCII runs shorter than this stay inside the run handed to iconv: a call costs more than
// converting a few ASCII bytes inside it.
constexpr std::size_t kAsciiRunWorthCopying = 32;

// Length of the run for iconv at the start of `bytes`: it ends where a long ASCII run begins.
// In code page 936 a lead byte takes the byte after it along, even an ASCII one, since that may
// be its trail byte.
std::size_t IconvRunPrefix(std::string_view bytes, bool pairs) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
      i += pairs && IsGbkLead(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
      continue;
    }
    const std::size_t ascii = AsciiPrefix(bytes.substr(i, kAsciiRunWorthCopying));
    if (ascii == kAsciiRunWorthCopying) break;
    i += ascii;
  }
  return std::min(i, bytes.size());
}

std::string_view UpToZero(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

std::u16string_view UpToZero(std::u16string_view units) {
  return units.substr(0, units.find(u'\0'));
}

// Byte text to byte text (UTF-8 or code page 936 source), ASCII runs copied as they are.
std::string ConvertBytes(std::string_view text, Route route, Target target, bool gbkSource,
                         std::size_t expansion) {
  text = UpToZero(text);
  Output out(text.size());
  const Substitute substitute = gbkSource ? SubstituteGbk : SubstituteUtf8;
  while (!text.empty()) {
    const std::size_t ascii = AsciiPrefix(text);
    out.Put(text.substr(0, ascii));
    text.remove_prefix(ascii);
    const std::size_t other = IconvRunPrefix(text, gbkSource);
    if (other == 0) continue;
    ConvertRun(route, text.substr(0, other), out, target, substitute, expansion);
    text.remove_prefix(other);
  }
  return std::move(out).TakeBytes();
}

// Byte text to UTF-16.
std::u16string BytesToUtf16(std::string_view text, Route route, bool gbkSource) {
  text = UpToZero(text);
  Output out(text.size() * 2);
  const Substitute substitute = gbkSource ? SubstituteGbk : SubstituteUtf8;
  while (!text.empty()) {
    const std::size_t ascii = AsciiPrefix(text);
    for (const char c : text.substr(0, ascii)) PutUtf16(out, static_cast<unsigned char>(c));
    text.remove_prefix(ascii);
    const std::size_t other = IconvRunPrefix(text, gbkSource);
    if (other == 0) continue;
    ConvertRun(route, text.substr(0, other), out, Target::kUtf16, substitute, 2);
    text.remove_prefix(other);
  }
  return std::move(out).TakeUnits();
}

// UTF-16 to byte text.
std::string Utf16ToBytes(std::u16string_view units, Route route, Target target,
                         std::size_t expansionPerUnit) {
  units = UpToZero(units);
  Output out(units.size() * expansionPerUnit / 2 + 8);
  while (!units.empty()) {
    std::size_t ascii = 0;
    while (ascii < units.size() && units[ascii] < 0x80) ++ascii;
    out.Reserve(ascii);
    char* cursor = out.cursor();
    for (std::size_t i = 0; i < ascii; ++i) cursor[i] = static_cast<char>(units[i]);
    out.Advance(cursor + ascii);
    units.remove_prefix(ascii);
    std::size_t other = 0;
    while (other < units.size() && units[other] >= 0x80) ++other;
    if (other == 0) continue;
    const std::string_view bytes(reinterpret_cast<const char*>(units.data()), other * 2);
    ConvertRun(route, bytes, out, target, SubstituteUtf16, (expansionPerUnit + 1) / 2);
    units.remove_prefix(other);
  }
  return std::move(out).TakeBytes();
}

bool IsGbkCodePage(unsigned codePage) {
  return codePage == kCodePageGbk || codePage == kCodePageAnsi;
}

}  // namespace

std::u16string MultiByteToUtf16(std::string_view text, unsigned codePage) {
  if (codePage == kCodePageUtf8) return BytesToUtf16(text, Route::kUtf8ToUtf16, false);
  if (IsGbkCodePage(codePage)) return BytesToUtf16(text, Route::kGbkToUtf16, true);
  return {};
}

std::string Utf16ToMultiByte(std::u16string_view units, unsigned codePage) {
  if (codePage == kCodePageUtf8) return Utf16ToBytes(units, Route::kUtf16ToUtf8, Target::kUtf8, 3);
  if (IsGbkCodePage(codePage)) return Utf16ToBytes(units, Route::kUtf16ToGbk, Target::kGbk, 2);
  return {};
}

std::string Utf8ToGbk(std::string_view utf8) {
  // One step instead of two through UTF-16; the result is the same character for character.
  return ConvertBytes(utf8, Route::kUtf8ToGbk, Target::kGbk, false, 1);
}

std::string GbkToUtf8(std::string_view gbk) {
  return ConvertBytes(gbk, Route::kGbkToUtf8, Target::kUtf8, true, 3);
}

}  // namespace quillmere
