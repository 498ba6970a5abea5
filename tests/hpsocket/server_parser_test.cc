// RequestParser and AppendResponseHead on plain strings: the parse events of whole and split
// input, pipelined requests, limits, and the bytes of a response head.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hpsocket/http_response.h"
#include "hpsocket/request_parser.h"

namespace quillmere {
namespace {

// Records events as text; answers every request at once (as an application would).
class Recording : public RequestEvents {
 public:
  std::vector<std::string> events;
  int OnMessageBegin() override { return Add("begin"); }
  int OnRequestLine(const char* method, const char* url) override {
    return Add(std::string("line ") + method + " " + url);
  }
  int OnHeader(const char* name, const char* value) override {
    return Add(std::string("header ") + name + ": " + value);
  }
  int OnHeadersComplete() override { return Add("headers"); }
  int OnBody(const char* data, size_t size) override {
    // Body pieces are joined so that split input compares equal.
    if (!events.empty() && events.back().rfind("body ", 0) == 0) {
      events.back().append(data, size);
      return 0;
    }
    return Add("body " + std::string(data, size));
  }
  int OnChunkHeader(int size) override { return Add("chunk " + std::to_string(size)); }
  int OnChunkComplete() override { return Add("chunk-done"); }
  int OnMessageComplete() override { return Add("complete"); }

 private:
  int Add(std::string e) {
    events.push_back(std::move(e));
    return 0;
  }
};

// Feeds `pieces` one after another, continuing after each complete request; returns the
// events plus "error <n>" or "upgrade" when parsing stopped that way.
std::vector<std::string> FeedAll(const std::vector<std::string>& pieces) {
  HttpRequest request;
  Recording events;
  RequestParser parser(request, events);
  for (const std::string& piece : pieces) {
    size_t at = 0;
    while (at < piece.size()) {
      const auto r = parser.Feed(piece.data() + at, piece.size() - at);
      at += r.consumed;
      if (r.outcome == RequestParser::Outcome::kError) {
        events.events.push_back("error " + std::to_string(parser.error()));
        return events.events;
      }
      if (r.outcome == RequestParser::Outcome::kUpgrade) {
        events.events.push_back("upgrade");
        return events.events;
      }
    }
  }
  return events.events;
}

TEST(RequestParser, SplitAtEveryOffsetGivesTheSameEvents) {
  const std::string samples[] = {
      // A body by Content-Length.
      "POST /a?b=c HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello",
      // Chunked with a trailer.
      "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\nT: 1\r\n\r\n",
      // Two pipelined requests.
      "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\nA: b\r\n\r\n",
      // A header value split over the folding rules is kept as sent.
      "GET / HTTP/1.0\r\nConnection: keep-alive\r\nEmpty:\r\n\r\n",
  };
  for (const std::string& sample : samples) {
    const auto whole = FeedAll({sample});
    ASSERT_FALSE(whole.empty());
    ASSERT_EQ(whole.back(), "complete") << sample;
    for (size_t cut = 1; cut < sample.size(); ++cut) {
      EXPECT_EQ(FeedAll({sample.substr(0, cut), sample.substr(cut)}), whole)
          << "cut at " << cut << " of " << sample;
    }
    // One byte at a time.
    std::vector<std::string> bytes;
    for (char c : sample) bytes.emplace_back(1, c);
    EXPECT_EQ(FeedAll(bytes), whole) << sample;
  }
}

TEST(RequestParser, StopsAfterEachRequest) {
  HttpRequest request;
  Recording events;
  RequestParser parser(request, events);
  const std::string two = "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n";
  auto r = parser.Feed(two.data(), two.size());
  EXPECT_EQ(r.outcome, RequestParser::Outcome::kMessageComplete);
  EXPECT_EQ(r.consumed, two.size() / 2);
  EXPECT_STREQ(request.url_field(HUF_PATH), "/1") << "the first request stays readable";
  r = parser.Feed(two.data() + r.consumed, two.size() - r.consumed);
  EXPECT_EQ(r.outcome, RequestParser::Outcome::kMessageComplete);
  EXPECT_STREQ(request.url_field(HUF_PATH), "/2");
}

TEST(RequestParser, ErrorsAndLimits) {
  const struct {
    const char* why;
    std::vector<std::string> input;
    std::string last;
  } cases[] = {
      {"unknown method",
       {"BREW / HTTP/1.1\r\n\r\n"},
       "error " + std::to_string(HPE_INVALID_METHOD)},
      {"bytes after a request that is not keep-alive",
       {"GET / HTTP/1.1\r\nConnection: close\r\n\r\nGET / HTTP/1.1\r\n\r\n"},
       "error " + std::to_string(HPE_CLOSED_CONNECTION)},
      {"line ends after it are tolerated", {"GET / HTTP/1.0\r\n\r\n\r\n\r\n"}, "complete"},
      {"headers over 80 KiB",
       {"GET / HTTP/1.1\r\nX: " + std::string(81 * 1024, 'a') + "\r\n\r\n"},
       "error " + std::to_string(HPE_HEADER_OVERFLOW)},
      {"headers just under 80 KiB",
       {"GET / HTTP/1.1\r\nX: " + std::string(79 * 1024, 'a') + "\r\n\r\n"},
       "complete"},
      {"a CONNECT target that is not host:port",
       {"CONNECT /path HTTP/1.1\r\n\r\n"},
       "error " + std::to_string(HPE_INVALID_URL)},
      {"an upgrade ends HTTP", {"CONNECT h:1 HTTP/1.1\r\n\r\nraw"}, "upgrade"},
  };
  for (const auto& c : cases) {
    const auto events = FeedAll(c.input);
    ASSERT_FALSE(events.empty()) << c.why;
    EXPECT_EQ(events.back(), c.last) << c.why;
  }
}

TEST(RequestParser, DecisionsAtHeadersComplete) {
  HttpRequest request;
  Recording events;
  RequestParser parser(request, events);
  const std::string text =
      "POST /x HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nab";
  parser.Feed(text.data(), text.size());
  EXPECT_TRUE(request.keep_alive());
  EXPECT_EQ(request.version(), HV_1_0);
  EXPECT_EQ(request.content_length(), 2u);
  EXPECT_STREQ(request.method(), "POST");
  EXPECT_FALSE(request.upgrade());
}

TEST(AppendResponseHead, Examples) {
  const HP_THeader te[] = {{"Transfer-Encoding", "chunked"}};
  const struct {
    const char* why;
    ResponseHead head;
    std::string expected;
  } cases[] = {
      {"defaults",
       {HV_1_1, 200, nullptr, nullptr, 0, 5, true},
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\n"},
      {"HTTP/1.0 and close",
       {HV_1_0, 302, nullptr, nullptr, 0, 0, false},
       "HTTP/1.0 302 Move temporarily\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
      {"Transfer-Encoding suppresses Content-Length",
       {HV_1_1, 200, "OK", te, 1, 9, true},
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_TRUE(AppendResponseHead(c.head, out)) << c.why;
    EXPECT_EQ(out, c.expected) << c.why;
  }
  std::string out = "kept";
  ResponseHead bad;
  bad.reason = "OK\n";
  EXPECT_FALSE(AppendResponseHead(bad, out));
  EXPECT_EQ(out, "kept") << "nothing appended on refusal";
}

TEST(StandardReasonPhrase, TableAndUnknownCodes) {
  EXPECT_EQ(StandardReasonPhrase(200), "OK");
  EXPECT_EQ(StandardReasonPhrase(306), "Switch Proxy");
  EXPECT_EQ(StandardReasonPhrase(600), "Unparseable Response Headers");
  for (int code : {0, 103, 418, 599, 999}) EXPECT_EQ(StandardReasonPhrase(code), "***") << code;
}

}  // namespace
}  // namespace quillmere
