#include "runlog/network_clock.h"

#include <string>

#include "text/text_slice.h"
#include "web/web_request.h"

namespace quillmere {

DateTime NetworkClock(std::optional<std::string_view> url) {
  WebResponse response =
      WebRequest(url.value_or(kDefaultClockUrl), {.method = RequestMethod::kHead});
  const std::string dateText = TextBetween(response.headers, "Date:", "\r\n");
  const DateTime serverTime = ParseHttpDate(dateText);
  // An unreadable date leaves every field zero, which is the earliest value (year 100). A stamp
  // from that would be meaningless, so the local clock stands in.
  if (serverTime == DateTime()) return DateTime::CurrentUtcPlusHours(kClockUtcOffsetHours);
  return serverTime.AddHours(kClockUtcOffsetHours);
}

}  // namespace quillmere
