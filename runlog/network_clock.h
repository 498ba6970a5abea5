// The current time as a web server states it, so that run-log stamps do not depend on the local
// machine's clock or time zone.
#ifndef QUILLMERE_RUNLOG_NETWORK_CLOCK_H
#define QUILLMERE_RUNLOG_NETWORK_CLOCK_H

#include <optional>
#include <string_view>

#include "runlog/date_time.h"

namespace quillmere {

/// The clock server asked when no URL is given: a public web server over plain HTTP whose
/// answers to HEAD carry a Date header.
inline constexpr std::string_view kDefaultClockUrl = "http://www.baidu.com/";

/// Hours from GMT to the clock's time (Beijing time, no daylight saving).
inline constexpr int kClockUtcOffsetHours = 8;

/// The current time in UTC+8: one HEAD request to `url` (kDefaultClockUrl when omitted) with
/// WebRequest's defaults (15-second phase limits, redirects followed), the bytes after the first
/// exact "Date:" of the response headers up to CR LF, read as a GMT date, plus 8 hours.
/// When no readable date can be had (the request failed, no "Date:", an unreadable date), the
/// local system clock's current time in UTC+8, so a stamp made from it is still the Unix time.
/// Nothing is cached: every call makes its own request and blocks until it is over.
/// Safe from any thread. A Date "Sun, 22 Sep 2019 08:00:00 GMT" gives 2019-09-22 16:00:00.
DateTime NetworkClock(std::optional<std::string_view> url = std::nullopt);

}  // namespace quillmere

#endif  // QUILLMERE_RUNLOG_NETWORK_CLOCK_H
