#include "runlog/date_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace quillmere {
namespace {

std::string Text(const DateTime& t) {
  const SystemTime f = t.Fields();
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

TEST(DateTime, DefaultIsTheFirstDay) {
  EXPECT_EQ(Text(DateTime()), "0100-01-01 00:00:00");
  EXPECT_EQ(DateTime(), DateTime::FromFields(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(DateTime().Fields().milliseconds, 0);
}

TEST(FromFields, ClampsEachFieldIntoRange) {
  struct Row {
    int year, month, day, hour, minute, second;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {0, 0, 0, 0, 0, 0, "0100-01-01 00:00:00", "all zeros: the lowest value"},
      {2019, 2, 30, 0, 0, 0, "2019-02-28 00:00:00", "February of a common year"},
      {2020, 2, 30, 0, 0, 0, "2020-02-29 00:00:00", "a year divisible by 4"},
      {1900, 2, 29, 0, 0, 0, "1900-02-28 00:00:00", "divisible by 100: not a leap year"},
      {2000, 2, 29, 0, 0, 0, "2000-02-29 00:00:00", "divisible by 400: a leap year"},
      {2019, 4, 31, 0, 0, 0, "2019-04-30 00:00:00", "a 30-day month"},
      {2019, 12, 31, 23, 59, 59, "2019-12-31 23:59:59", "the last second of a year"},
      {2019, 13, 1, 0, 0, 0, "2019-12-01 00:00:00", "month above range"},
      {2019, 1, 32, 0, 0, 0, "2019-01-31 00:00:00", "day above 31"},
      {2019, 1, 1, 24, 60, 60, "2019-01-01 23:59:59", "hour 24, minute and second 60"},
      {2019, 1, 1, -1, -1, -1, "2019-01-01 00:00:00", "negative time fields"},
      {99, 1, 1, 0, 0, 0, "0100-01-01 00:00:00", "year below 100"},
      {10000, 12, 31, 0, 0, 0, "9999-12-31 00:00:00", "year above 9999"},
      {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0, 0, 0, 0,
       "0100-12-01 00:00:00", "extreme values"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(Text(DateTime::FromFields(c.year, c.month, c.day, c.hour, c.minute, c.second)),
              c.expected)
        << c.why;
  }
}

TEST(Fields, DayOfWeek) {
  EXPECT_EQ(DateTime::FromFields(2019, 9, 22, 8, 0, 0).Fields().dayOfWeek, 0) << "a Sunday";
  EXPECT_EQ(DateTime::FromFields(1970, 1, 1, 0, 0, 0).Fields().dayOfWeek, 4) << "a Thursday";
  EXPECT_EQ(DateTime::FromFields(2000, 2, 29, 0, 0, 0).Fields().dayOfWeek, 2) << "a Tuesday";
  EXPECT_EQ(DateTime::FromFields(1969, 12, 31, 23, 59, 59).Fields().dayOfWeek, 3)
      << "before 1970: the day is not rounded toward zero";
}

TEST(AddHours, CrossesDaysMonthsAndYears) {
  struct Row {
    DateTime from;
    std::int64_t hours;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {DateTime::FromFields(2019, 9, 22, 8, 0, 0), 8, "2019-09-22 16:00:00", "GMT to UTC+8"},
      {DateTime::FromFields(2019, 12, 31, 20, 0, 0), 8, "2020-01-01 04:00:00", "into a new year"},
      {DateTime::FromFields(2020, 2, 28, 20, 0, 0), 8, "2020-02-29 04:00:00", "into a leap day"},
      {DateTime::FromFields(2019, 2, 28, 20, 0, 0), 8, "2019-03-01 04:00:00", "no leap day"},
      {DateTime::FromFields(2020, 3, 1, 2, 0, 0), -8, "2020-02-29 18:00:00", "backwards"},
      {DateTime::FromFields(9999, 12, 31, 20, 0, 0), 8, "9999-12-31 23:59:59", "kept in range"},
      {DateTime::FromFields(100, 1, 1, 4, 0, 0), -8, "0100-01-01 00:00:00", "kept in range"},
      {DateTime(), std::numeric_limits<std::int64_t>::max(), "9999-12-31 23:59:59", "no overflow"},
      {DateTime(), std::numeric_limits<std::int64_t>::min(), "0100-01-01 00:00:00", "no overflow"},
  };
  for (const Row& c : cases) EXPECT_EQ(Text(c.from.AddHours(c.hours)), c.expected) << c.why;
}

TEST(SecondsSince, CountsWholeSeconds) {
  const DateTime a = DateTime::FromFields(2020, 2, 28, 0, 0, 0);
  const DateTime b = DateTime::FromFields(2020, 3, 1, 0, 0, 1);
  EXPECT_EQ(b.SecondsSince(a), 2 * 86400 + 1) << "across a leap day";
  EXPECT_EQ(a.SecondsSince(b), -(2 * 86400 + 1));
  EXPECT_EQ(a.SecondsSince(a), 0);
  EXPECT_EQ(DateTime::FromFields(9999, 12, 31, 23, 59, 59).SecondsSince(DateTime()), 312413759999)
      << "the whole range";
}

TEST(CurrentUtcPlusHours, ShiftsTheCurrentTime) {
  const DateTime utc = DateTime::CurrentUtcPlusHours(0);
  const DateTime beijing = DateTime::CurrentUtcPlusHours(8);
  EXPECT_NEAR(static_cast<double>(beijing.SecondsSince(utc)), 8 * 3600.0, 2.0);
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_NEAR(static_cast<double>(utc.SecondsSince(DateTime::FromFields(1970, 1, 1, 0, 0, 0))),
              static_cast<double>(now), 2.0);
}

// Sets the process's time zone for one test and restores it afterwards.
class CurrentLocal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) saved_ = zone;
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(CurrentLocal, FollowsTheLocalZone) {
  Use("CST-8");  // POSIX form of UTC+8, needs no zone files
  EXPECT_NEAR(
      static_cast<double>(DateTime::CurrentLocal().SecondsSince(DateTime::CurrentUtcPlusHours(8))),
      0.0, 2.0);
  Use("EST+5");
  EXPECT_NEAR(
      static_cast<double>(DateTime::CurrentLocal().SecondsSince(DateTime::CurrentUtcPlusHours(-5))),
      0.0, 2.0);
}

TEST(ParseHttpDate, ReadsTheThreeFormsAndCommonVariations) {
  struct Row {
    std::string_view text;
    std::string_view expected;
    const char* why;
  };
  const Row cases[] = {
      {"Sun, 22 Sep 2019 08:00:00 GMT", "2019-09-22 08:00:00", "IMF-fixdate"},
      {" Sun, 22 Sep 2019 08:00:00 GMT", "2019-09-22 08:00:00", "the blank a header leaves"},
      {"Sunday, 22-Sep-19 08:00:00 GMT", "2019-09-22 08:00:00", "obsolete RFC 850 form"},
      {"Sun Sep 22 08:00:00 2019", "2019-09-22 08:00:00", "asctime"},
      {"Sun Sep  2 08:00:00 2019", "2019-09-02 08:00:00", "asctime with a padded day"},
      {"Thursday, 01-Jan-70 00:00:00 GMT", "1970-01-01 00:00:00", "two-digit year 70 is 1970"},
      {"Monday, 01-Jan-69 00:00:00 GMT", "2069-01-01 00:00:00", "two-digit year 69 is 2069"},
      {"\t  sun, 22 SEP 2019 08:00:00 gmt \r\n", "2019-09-22 08:00:00", "case and blanks"},
      {"Sun, 22 Sep 2019 08:00:00 UTC", "2019-09-22 08:00:00", "UTC for GMT"},
      {"Sun, 22 Sep 2019 08:00:00", "2019-09-22 08:00:00", "no zone"},
      {"Sun, 22 Sep 2019 08:00:00 +0800", "2019-09-22 08:00:00", "an offset is not applied"},
      {"Sun, 22 Sep 2019 08:00:00 -05:00", "2019-09-22 08:00:00", "nor a negative one"},
      {"22 September 2019 08:00", "2019-09-22 08:00:00", "full month, no seconds"},
      {"Sun, 22 Sep 2019 08:00:00.250 GMT", "2019-09-22 08:00:00", "a fraction is dropped"},
      {"Sun, 22 Sep 2019", "2019-09-22 00:00:00", "no time: midnight"},
      {"Sun, 29 Feb 2019 25:61:61 GMT", "2019-02-28 23:59:59", "fields clamp"},
      {"Fri, 31 Dec 9999 23:59:59 GMT", "9999-12-31 23:59:59", "the last second"},
      {"Tue, 19 Jan 2038 03:14:08 GMT", "2038-01-19 03:14:08", "past 32-bit Unix time"},
  };
  for (const Row& c : cases) EXPECT_EQ(Text(ParseHttpDate(c.text)), c.expected) << c.why;
}

TEST(ParseHttpDate, UnreadableTextGivesTheFirstDay) {
  const std::string_view cases[] = {
      "",
      "   ",
      "garbage",
      "Sun, 22 Sep",                         // no year
      "22 2019 08:00:00",                    // no month
      "Sun, Sep 2019 08:00:00 GMT",          // no day
      "2019-09-22T08:00:00Z",                // ISO 8601 is not an HTTP date
      "22/09/2019 08:00:00",                 // slashes
      "Sun, 22 Sep 2019 08:00:00 GMT;",      // a stray character
      "Sun, 22 Sep Oct 2019",                // two months
      "Sun, 22 Sep 2019 08:00:00 09:00:00",  // two times
      "Sun, 22 Sep 2019 123:00:00",          // a three-digit hour
      "Sun, 22 Sep 2019 08:",                // a broken time
      "\xD6\xD0 22 Sep 2019",                // bytes above 0x7F
  };
  for (const std::string_view text : cases) {
    EXPECT_EQ(ParseHttpDate(text), DateTime()) << "'" << text << "'";
  }
}

TEST(TimestampText, WritesSecondsSinceTheEpochInUtcPlus8) {
  const DateTime reference = DateTime::FromFields(1970, 1, 1, 8, 0, 0);
  const DateTime limit = DateTime::FromFields(2038, 1, 19, 11, 14, 7);
  struct Row {
    DateTime t;
    StampDigits digits;
    StampPadding padding;
    std::string_view expected;
    const char* why;
  };
  using enum StampDigits;
  using enum StampPadding;
  const Row cases[] = {
      {reference, kSecondsOnly, kNone, "0", "the reference time"},
      {reference, kSecondsOnly, kToTenDigits, "0000000000", "padded to ten digits"},
      {reference, kSecondsAndMilliseconds, kNone, "0000", "with the milliseconds"},
      {reference, kSecondsAndMilliseconds, kToTenDigits, "0000000000000", "both"},
      {ParseHttpDate(" Sun, 22 Sep 2019 08:00:00 GMT").AddHours(8), kSecondsOnly, kNone,
       "1569139200", "a Date header, shifted to UTC+8, gives its Unix time"},
      {DateTime::FromFields(2019, 9, 22, 16, 0, 0), kSecondsAndMilliseconds, kNone, "1569139200000",
       "seconds and milliseconds"},
      {limit, kSecondsOnly, kNone, "2147483647", "the largest 32-bit count"},
      {limit.AddHours(1), kSecondsOnly, kNone, "2147487247", "beyond it: no wrap to negative"},
      {DateTime::FromFields(9999, 12, 31, 23, 59, 59), kSecondsOnly, kNone, "253402271999",
       "the last second: all digits, not cut to ten"},
      {DateTime::FromFields(1970, 1, 1, 7, 59, 59), kSecondsOnly, kNone, "-1", "before"},
      {DateTime::FromFields(1970, 1, 1, 7, 59, 59), kSecondsOnly, kToTenDigits, "-000000001",
       "zeros go after the sign"},
  };
  for (const Row& c : cases) {
    EXPECT_EQ(TimestampText(c.t, c.digits, c.padding), c.expected) << c.why;
  }
}

TEST(TimestampText, OmittedTimeIsTheCurrentLocalTime) {
  const std::string before = TimestampText(DateTime::CurrentLocal(), StampDigits::kSecondsOnly);
  const std::string now = TimestampText(std::nullopt, StampDigits::kSecondsOnly);
  EXPECT_NEAR(std::stod(now), std::stod(before), 2.0);
  const std::string withMillis = TimestampText();
  ASSERT_GE(withMillis.size(), 4u);
  EXPECT_EQ(withMillis.substr(withMillis.size() - 3), "000");
}

}  // namespace
}  // namespace quillmere
