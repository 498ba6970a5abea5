#include "runlog/date_time.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <ctime>

namespace quillmere {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
// 9999-12-31 23:59:59 as seconds from 1970-01-01 00:00:00.
constexpr std::int64_t kMaxSeconds = 253402300799;

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                         std::chrono::day{day}};
  return sys_days{date}.time_since_epoch().count();
}

unsigned DaysInMonth(int year, unsigned month) {
  const std::chrono::year_month_day_last last{
      std::chrono::year{year}, std::chrono::month_day_last{std::chrono::month{month}}};
  return static_cast<unsigned>(last.day());
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

DateTime DateTime::FromFields(int year, int month, int day, int hour, int minute, int second) {
  year = std::clamp(year, 100, 9999);
  month = std::clamp(month, 1, 12);
  day = std::clamp(day, 1, 31);
  day = std::min(static_cast<unsigned>(day), DaysInMonth(year, static_cast<unsigned>(month)));
  hour = std::clamp(hour, 0, 23);
  minute = std::clamp(minute, 0, 59);
  second = std::clamp(second, 0, 59);
  const std::int64_t dayCount =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return DateTime(dayCount * kSecondsPerDay + hour * kSecondsPerHour + minute * 60 + second);
}

DateTime DateTime::CurrentLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return CurrentUtcPlusHours(0);
  // A leap second (tm_sec 60) is clamped to 59 by FromFields.
  return FromFields(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec);
}

DateTime DateTime::CurrentUtcPlusHours(int hours) {
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const std::int64_t seconds =
      std::clamp<std::int64_t>(now.time_since_epoch().count(), kMinSeconds, kMaxSeconds);
  return DateTime(seconds).AddHours(hours);
}

DateTime DateTime::AddHours(std::int64_t hours) const {
  // Any shift of more hours than the whole range holds ends at one of its ends; limiting it
  // first keeps the multiplication from overflowing.
  constexpr std::int64_t kRangeHours = (kMaxSeconds - kMinSeconds) / kSecondsPerHour + 1;
  hours = std::clamp(hours, -kRangeHours, kRangeHours);
  return DateTime(std::clamp(seconds_ + hours * kSecondsPerHour, kMinSeconds, kMaxSeconds));
}

std::int64_t DateTime::SecondsSince(const DateTime& earlier) const {
  return seconds_ - earlier.seconds_;
}

SystemTime DateTime::Fields() const {
  const std::int64_t dayCount = FloorDiv(seconds_, kSecondsPerDay);
  const std::int64_t secondOfDay = seconds_ - dayCount * kSecondsPerDay;
  const sys_days date{days{dayCount}};
  const std::chrono::year_month_day ymd{date};
  SystemTime fields;
  fields.year = static_cast<std::uint16_t>(static_cast<int>(ymd.year()));
  fields.month = static_cast<std::uint16_t>(static_cast<unsigned>(ymd.month()));
  fields.day = static_cast<std::uint16_t>(static_cast<unsigned>(ymd.day()));
  fields.dayOfWeek = static_cast<std::uint16_t>(std::chrono::weekday{date}.c_encoding());
  fields.hour = static_cast<std::uint16_t>(secondOfDay / kSecondsPerHour);
  fields.minute = static_cast<std::uint16_t>(secondOfDay % kSecondsPerHour / 60);
  fields.second = static_cast<std::uint16_t>(secondOfDay % 60);
  return fields;
}

// ---------------------------------------------------------------------------------------------
// HTTP dates.
//
// The text is read as a sequence of tokens separated by blanks, commas and (inside the date)
// dashes: a month name, numbers for the day and the year, a time h:m[:s[.fraction]], and words
// and zone offsets that are skipped (day names, "GMT", "UTC", "+0800"). This reads the three
// forms of HTTP and the variations that clients and servers write in practice (any letter case,
// the zone missing, full month names, one-digit fields, extra blanks). A text without a day, a
// month and a year, with a number that fits nowhere, or with a character outside these tokens is
// unreadable and leaves every field zero.
namespace {

struct HttpDateFields {
  int year = -1;
  int month = -1;
  int day = -1;
  int hour = -1;
  int minute = -1;
  int second = -1;
};

constexpr std::array<std::string_view, 12> kMonthNames = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

// Numbers longer than this are read as this; every field clamps far below it.
constexpr int kNumberCap = 99999;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The month (1-12) of a word that is at least three letters of a month's English name, any
// case ("Sep", "sept", "SEPTEMBER"); 0 for any other word.
int MonthOfWord(std::string_view word) {
  if (word.size() < 3) return 0;
  for (std::size_t m = 0; m < kMonthNames.size(); ++m) {
    const std::string_view name = kMonthNames[m];
    if (word.size() > name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i) same = LowerAscii(word[i]) == name[i];
    if (same) return static_cast<int>(m) + 1;
  }
  return 0;
}

class HttpDateReader {
 public:
  explicit HttpDateReader(std::string_view text) : text_(text) {}

  // The fields written in the text; nullopt when it is unreadable.
  std::optional<HttpDateFields> Read() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (IsBlank(c) || c == ',') {
        ++pos_;
      } else if (c == '-' || c == '+') {
        if (!ReadSignOrOffset()) return std::nullopt;
      } else if (IsLetter(c)) {
        if (!ReadWord()) return std::nullopt;
      } else if (IsDigit(c)) {
        if (!ReadNumberOrTime()) return std::nullopt;
      } else {
        return std::nullopt;
      }
    }
    if (fields_.day < 0 || fields_.month < 0 || fields_.year < 0) return std::nullopt;
    if (fields_.hour < 0) fields_.hour = fields_.minute = fields_.second = 0;
    return fields_;
  }

 private:
  // Reads a run of digits; `length` is their count. Values beyond kNumberCap read as kNumberCap.
  int ReadDigits(std::size_t& length) {
    int value = 0;
    length = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      value = std::min(value * 10 + (text_[pos_] - '0'), kNumberCap);
      ++pos_;
      ++length;
    }
    return value;
  }

  bool AtChar(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool AtDigit() const { return pos_ < text_.size() && IsDigit(text_[pos_]); }

  // A dash between the parts of a date ("22-Sep-19"), or a zone offset after the time ("+0800",
  // "-0500"), which is skipped: the fields are taken as written.
  bool ReadSignOrOffset() {
    const bool isOffset = text_[pos_] == '+' || fields_.hour >= 0;
    ++pos_;
    if (!isOffset) return true;
    if (!AtDigit()) return false;
    std::size_t length = 0;
    ReadDigits(length);
    if (AtChar(':')) {  // "+08:00"
      ++pos_;
      ReadDigits(length);
    }
    return true;
  }

  // A month name sets the month; any other word (a day name, "GMT", "UTC") is skipped.
  bool ReadWord() {
    const std::size_t begin = pos_;
    while (pos_ < text_.size() && IsLetter(text_[pos_])) ++pos_;
    const int month = MonthOfWord(text_.substr(begin, pos_ - begin));
    if (month == 0) return true;
    if (fields_.month >= 0) return false;
    fields_.month = month;
    return true;
  }

  bool ReadNumberOrTime() {
    std::size_t length = 0;
    const int value = ReadDigits(length);
    if (AtChar(':')) return ReadTime(value, length);
    if (length <= 2 && fields_.day < 0) {
      fields_.day = value;
    } else if (fields_.year < 0) {
      // A two-digit year (the obsolete form) lies in 1970-2069.
      fields_.year = length <= 2 ? (value < 70 ? 2000 + value : 1900 + value) : value;
    } else {
      return false;
    }
    return true;
  }

  // h:m, h:m:s or h:m:s.fraction, each part one or two digits; the fraction is skipped.
  bool ReadTime(int hour, std::size_t hourLength) {
    if (fields_.hour >= 0 || hourLength > 2) return false;
    std::size_t length = 0;
    ++pos_;  // ':'
    const int minute = ReadDigits(length);
    if (length == 0 || length > 2) return false;
    int second = 0;
    if (AtChar(':')) {
      ++pos_;
      second = ReadDigits(length);
      if (length == 0 || length > 2) return false;
      if (AtChar('.')) {
        ++pos_;
        ReadDigits(length);
      }
    }
    fields_.hour = hour;
    fields_.minute = minute;
    fields_.second = second;
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  HttpDateFields fields_;
};

}  // namespace

DateTime ParseHttpDate(std::string_view text) {
  const std::optional<HttpDateFields> fields = HttpDateReader(text).Read();
  if (!fields) return DateTime::FromFields(0, 0, 0, 0, 0, 0);
  return DateTime::FromFields(fields->year, fields->month, fields->day, fields->hour,
                              fields->minute, fields->second);
}

std::string TimestampText(std::optional<DateTime> t, StampDigits digits, StampPadding padding) {
  static const DateTime kReference = DateTime::FromFields(1970, 1, 1, 8, 0, 0);
  constexpr std::size_t kPaddedWidth = 10;

  const DateTime time = t ? *t : DateTime::CurrentLocal();
  // The count is written in full, also beyond the 32-bit range (after 2038-01-19 11:14:07),
  // where a 32-bit count would wrap to a wrong, negative stamp.
  const std::int64_t seconds = time.SecondsSince(kReference);
  std::array<char, 24> buffer{};
  char* end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds).ptr;
  std::string text(buffer.data(), end);
  if (padding == StampPadding::kToTenDigits && text.size() < kPaddedWidth) {
    // Zeros go after a minus sign, so a count before the reference time stays a number.
    const std::size_t signLength = seconds < 0 ? 1 : 0;
    text.insert(signLength, kPaddedWidth - text.size(), '0');
  }
  if (digits == StampDigits::kSecondsOnly) return text;

  // Milliseconds, three digits; every DateTime is a whole second, so this reads "000".
  const unsigned milliseconds = time.Fields().milliseconds;
  text.push_back(static_cast<char>('0' + milliseconds / 100 % 10));
  text.push_back(static_cast<char>('0' + milliseconds / 10 % 10));
  text.push_back(static_cast<char>('0' + milliseconds % 10));
  return text;
}

}  // namespace quillmere
