#include "runlog/network_clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/web/recording_server_fixture.h"

namespace quillmere {
namespace {

using ::quillmere::testing::HttpResponse;
using ::quillmere::testing::RecordedRequest;
using ::quillmere::testing::RecordingServer;
using ::quillmere::testing::RefusingPort;

// A clock server whose every answer carries `headerLines`.
RecordingServer ClockServer(std::string headerLines) {
  return RecordingServer([headerLines](const RecordedRequest& request) {
    return HttpResponse(request, 200, headerLines);
  });
}

std::string Text(const DateTime& t) {
  SystemTime f = t.Fields();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

TEST(NetworkClock, ServerDatePlusEightHours) {
  struct Case {
    std::string headerLines;
    std::string_view expected;
    const char* why;
  };
  const Case cases[] = {
      {"Date: Sun, 22 Sep 2019 08:00:00 GMT\r\n", "2019-09-22 16:00:00", "GMT moved to UTC+8"},
      {"Date: Tue, 31 Dec 2019 20:30:00 GMT\r\n", "2020-01-01 04:30:00",
       "late in the GMT day is the next day"},
      {"Server: x\r\nDate: Sat, 29 Feb 2020 23:59:59 GMT\r\n", "2020-03-01 07:59:59",
       "a leap day rolls over; the Date need not come first"},
      {"X-Date: Tue, 31 Dec 2019 20:30:00 GMT\r\nDate: Sun, 22 Sep 2019 08:00:00 GMT\r\n",
       "2020-01-01 04:30:00", "the first \"Date:\" bytes win, here inside X-Date"},
  };
  for (const Case& c : cases) {
    RecordingServer server = ClockServer(c.headerLines);
    EXPECT_EQ(Text(NetworkClock(server.Url())), c.expected) << c.why;
  }
}

TEST(NetworkClock, OneFreshHeadRequestPerCall) {
  RecordingServer server = ClockServer("Date: Sun, 22 Sep 2019 08:00:00 GMT\r\n");
  NetworkClock(server.Url());
  NetworkClock(server.Url());
  std::vector<RecordedRequest> seen = server.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(server.Connections(), 2);
  // Both connections are closed: none is kept for the next call.
  EXPECT_TRUE(server.WaitForClientCloses(2));
  EXPECT_EQ(seen[0].head, seen[1].head);
  for (const RecordedRequest& request : seen) {
    EXPECT_EQ(request.method, "HEAD");
    EXPECT_EQ(request.target, "/");
    EXPECT_THAT(request.Header("Referer"), ::testing::Optional(server.Url()));
    EXPECT_TRUE(request.body.empty());
  }
}

TEST(NetworkClock, FollowsRedirectsToTheDate) {
  RecordingServer server([](const RecordedRequest& request) {
    if (request.target == "/") return HttpResponse(request, 302, "Location: /home\r\n");
    return HttpResponse(request, 200, "Date: Sun, 22 Sep 2019 08:00:00 GMT\r\n");
  });
  EXPECT_EQ(Text(NetworkClock(server.Url())), "2019-09-22 16:00:00");
}

TEST(NetworkClock, WithoutAReadableDateTheLocalClockStandsIn) {
  struct Case {
    std::string headerLines;
    const char* why;
  };
  const Case cases[] = {
      {"Server: x\r\n", "no Date header"},
      {"date: Sun, 22 Sep 2019 08:00:00 GMT\r\n", "the search is case-sensitive"},
      {"Date: tomorrow\r\n", "an unreadable date"},
      {"Date: \r\n", "an empty date"},
  };
  for (const Case& c : cases) {
    RecordingServer server = ClockServer(c.headerLines);
    DateTime before = DateTime::CurrentUtcPlusHours(kClockUtcOffsetHours);
    DateTime clock = NetworkClock(server.Url());
    DateTime after = DateTime::CurrentUtcPlusHours(kClockUtcOffsetHours);
    EXPECT_GE(clock.SecondsSince(before), 0) << c.why << ": " << Text(clock);
    EXPECT_GE(after.SecondsSince(clock), 0) << c.why << ": " << Text(clock);
  }
}

TEST(NetworkClock, UnreachableServerGivesTheLocalClock) {
  RefusingPort refusing;
  DateTime before = DateTime::CurrentUtcPlusHours(kClockUtcOffsetHours);
  DateTime clock = NetworkClock(refusing.Url());
  DateTime after = DateTime::CurrentUtcPlusHours(kClockUtcOffsetHours);
  EXPECT_GE(clock.SecondsSince(before), 0) << Text(clock);
  EXPECT_GE(after.SecondsSince(clock), 0) << Text(clock);
  // The empty URL is a given URL too, and fails the same way.
  EXPECT_GE(NetworkClock("").SecondsSince(before), 0);
}

}  // namespace
}  // namespace quillmere
