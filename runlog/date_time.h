// Dates and times to the second, HTTP dates and Unix-second stamps.
#ifndef QUILLMERE_RUNLOG_DATE_TIME_H
#define QUILLMERE_RUNLOG_DATE_TIME_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

/// Calendar fields of a date and time, in the order of the Windows SYSTEMTIME record.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;  // 0 = Sunday
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

/// A calendar date and time of day to the second, without time zone, from
/// 0100-01-01 00:00:00 to 9999-12-31 23:59:59. A plain value; the default is
/// 0100-01-01 00:00:00.
class DateTime {
 public:
  DateTime() = default;

  /// Builds a value from fields, each first clamped into range: year 100..9999, month 1..12,
  /// day 1..31 and then to the month's length, hour 0..23, minute and second 0..59.
  /// FromFields(2019, 2, 30, 0, 0, 0) is 2019-02-28 00:00:00; all zeros give 0100-01-01.
  static DateTime FromFields(int year, int month, int day, int hour, int minute, int second);

  /// The machine's current local time, in whole seconds.
  static DateTime CurrentLocal();

  /// The current UTC time shifted by `hours` (UTC+8 is Beijing time), in whole seconds.
  static DateTime CurrentUtcPlusHours(int hours);

  /// This time plus `hours` (negative moves back), kept within the value's range.
  DateTime AddHours(std::int64_t hours) const;

  /// Whole seconds from `earlier` to this time (negative when this is before it).
  std::int64_t SecondsSince(const DateTime& earlier) const;

  /// The calendar fields; milliseconds are always 0.
  SystemTime Fields() const;

  friend bool operator==(const DateTime&, const DateTime&) = default;

 private:
  explicit DateTime(std::int64_t secondsSinceYear1970) : seconds_(secondsSinceYear1970) {}

  // Seconds from 1970-01-01 00:00:00 (as calendar fields, no zone) to this time.
  std::int64_t seconds_ = kMinSeconds;
  static constexpr std::int64_t kMinSeconds = -59011459200;  // 0100-01-01 00:00:00
};

/// Reads an HTTP date in any of the three forms (IMF-fixdate "Sun, 22 Sep 2019 08:00:00 GMT",
/// the obsolete RFC 850 form "Sunday, 22-Sep-19 08:00:00 GMT", asctime "Sun Sep 22 08:00:00
/// 2019"), blanks in front skipped, as the fields written (no zone conversion). Lenient like a
/// platform parser: any letter case, full month names, the zone ("GMT", "UTC", "+0800") optional
/// and not applied, a missing time is midnight; a two-digit year is 1970-2069. Fields out of
/// range clamp as in FromFields. An unreadable text (no day, month or year, or a stray
/// character) leaves every field zero, which builds 0100-01-01 00:00:00.
DateTime ParseHttpDate(std::string_view text);

enum class StampDigits { kSecondsAndMilliseconds, kSecondsOnly };
enum class StampPadding { kNone, kToTenDigits };

/// The seconds from 1970-01-01 08:00:00 (the Unix epoch read in UTC+8) to `t` (the current local
/// time when omitted), in decimal; padded with leading zeros to ten digits when asked (after the
/// sign of a time before the epoch: "-000000001"); followed by three millisecond digits ("000")
/// unless seconds only. The count is never cut or wrapped: after 2038-01-19 11:14:07, where a
/// 32-bit count ends, it goes on ("2147483648").
/// TimestampText(2019-09-22 16:00:00, kSecondsOnly) == "1569139200".
std::string TimestampText(std::optional<DateTime> t = std::nullopt,
                          StampDigits digits = StampDigits::kSecondsAndMilliseconds,
                          StampPadding padding = StampPadding::kNone);

}  // namespace quillmere

#endif  // QUILLMERE_RUNLOG_DATE_TIME_H
