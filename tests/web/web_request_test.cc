#include "web/web_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/web/recording_server_fixture.h"

namespace quillmere {
namespace {

using ::quillmere::testing::HttpResponse;
using ::quillmere::testing::RecordedRequest;
using ::quillmere::testing::RecordingServer;
using ::quillmere::testing::RefusingPort;
using ::quillmere::testing::Responder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Optional;

constexpr std::string_view kUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string DefaultBlock(std::string_view url) {
  return "Accept: */*\r\nReferer: " + std::string(url) +
         "\r\nAccept-Language: zh-cn\r\nUser-Agent: " + std::string(kUserAgent);
}

// Everything the server saw after Host, as "Name: value" lines.
std::vector<std::string> HeadersAfterHost(const RecordedRequest& request) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : request.headers) {
    if (name != "Host") lines.push_back(name + ": " + value);
  }
  return lines;
}

RecordedRequest OnlyRequest(const RecordingServer& server) {
  std::vector<RecordedRequest> seen = server.Requests();
  EXPECT_EQ(seen.size(), 1u);
  return seen.empty() ? RecordedRequest{} : seen.back();
}

TEST(WebRequest, DefaultHeadersGoOutInOrderAndAreLeftInTheBlock) {
  RecordingServer server;
  const std::string url = server.Url("/clock");
  std::string extraHeaders;
  WebResponse response =
      WebRequest(url, {.method = RequestMethod::kHead, .extraHeaders = &extraHeaders});
  EXPECT_EQ(response.statusCode, 200);
  RecordedRequest seen = OnlyRequest(server);
  EXPECT_EQ(seen.method, "HEAD");
  EXPECT_EQ(seen.target, "/clock");
  EXPECT_THAT(HeadersAfterHost(seen),
              ElementsAre("Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
                          "User-Agent: " + std::string(kUserAgent)))
      << seen.head;
  EXPECT_EQ(extraHeaders, DefaultBlock(url));
}

TEST(WebRequest, EachCallWithoutASharedObjectSendsTheSameBytesOnAConnectionOfItsOwn) {
  // What the network clock sends, byte for byte, every time: nothing of one call (connection,
  // headers, settings) carries over to the next on the same thread.
  RecordingServer server;
  const std::string url = server.Url("/clock");
  const std::string expected = "HEAD /clock HTTP/1.1\r\nHost: " + server.HostPort() + "\r\n" +
                               DefaultBlock(url) + "\r\n\r\n";
  for (int call = 1; call <= 3; ++call) {
    WebResponse response = WebRequest(url, {.method = RequestMethod::kHead});
    EXPECT_EQ(response.statusCode, 200) << "call " << call;
    ASSERT_EQ(server.Requests().size(), static_cast<std::size_t>(call));
    EXPECT_EQ(server.Requests().back().head, expected) << "call " << call;
    EXPECT_EQ(server.Connections(), call);
    // The connection was closed by the client, not left open for later.
    EXPECT_TRUE(server.WaitForClientCloses(call)) << "call " << call;
  }
}

TEST(WebRequest, RepeatedCallGetsItsOwnHeadersAfterAnotherCall) {
  // Each call's headers follow from its own URL, method and header text, also when the call
  // before it on this thread asked with others.
  RecordingServer server;
  const std::string first = server.Url("/first");
  const std::string second = server.Url("/second");
  const std::vector<std::string> firstSent = {"Accept: */*", "Referer: " + first,
                                              "Accept-Language: zh-cn",
                                              "User-Agent: " + std::string(kUserAgent)};
  for (int round = 0; round < 2; ++round) {
    std::string block;
    WebRequest(first, {.method = RequestMethod::kHead, .extraHeaders = &block});
    EXPECT_EQ(HeadersAfterHost(server.Requests().back()), firstSent) << "round " << round;
    EXPECT_EQ(block, DefaultBlock(first)) << "round " << round;

    block = "x-note: 1";
    WebRequest(second, {.method = RequestMethod::kPost, .extraHeaders = &block});
    EXPECT_THAT(HeadersAfterHost(server.Requests().back()),
                ElementsAre("X-Note: 1", "Accept: */*", "Referer: " + second,
                            "Accept-Language: zh-cn", "User-Agent: " + std::string(kUserAgent),
                            "Content-Type: application/x-www-form-urlencoded", "Content-Length: 0"))
        << "round " << round;
    EXPECT_EQ(block, "X-Note: 1\r\n" + DefaultBlock(second) +
                         "\r\nContent-Type: application/x-www-form-urlencoded")
        << "round " << round;

    block = "x-note: 1";
    WebRequest(second, {.method = RequestMethod::kPost,
                        .extraHeaders = &block,
                        .completeHeaders = false,
                        .normalizeHeaders = false});
    EXPECT_THAT(HeadersAfterHost(server.Requests().back()),
                ElementsAre("x-note: 1", "Content-Length: 0"))
        << "round " << round;
    EXPECT_EQ(block, "x-note: 1") << "round " << round;
  }
}

TEST(WebRequest, ManyThreadsAtOnce) {
  RecordingServer server;
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 10;
  std::vector<std::thread> threads;
  std::atomic<int> answered{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string url = server.Url("/thread" + std::to_string(t));
      for (int call = 0; call < kCallsEach; ++call) {
        WebResponse response = WebRequest(url, {.method = RequestMethod::kHead});
        if (response.statusCode == 200) ++answered;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(answered.load(), kThreads * kCallsEach);
  EXPECT_EQ(server.Connections(), kThreads * kCallsEach);
  for (const RecordedRequest& request : server.Requests()) {
    EXPECT_EQ(request.Header("Referer"), server.Url(request.target)) << request.head;
  }
}

TEST(WebRequest, UnnormalisedBlockKeepsItsLeadingLineBreak) {
  RecordingServer server;
  const std::string url = server.Url();
  std::string extraHeaders;
  WebRequest(url, {.extraHeaders = &extraHeaders, .normalizeHeaders = false});
  EXPECT_EQ(extraHeaders, "\r\n" + DefaultBlock(url));
  EXPECT_THAT(HeadersAfterHost(OnlyRequest(server)),
              ElementsAre("Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
                          "User-Agent: " + std::string(kUserAgent)));
}

TEST(WebRequest, HeaderCompletionAndNormalisation) {
  struct Case {
    RequestMethod method;
    std::string extraHeaders;
    bool normalize;
    std::vector<std::string> sent;  // after Host; "<url>" stands for the URL
    const char* why;
  };
  const std::string ua = "User-Agent: " + std::string(kUserAgent);
  const Case cases[] = {
      {RequestMethod::kPost,
       "",
       true,
       {"Accept: */*", "Referer: <url>", "Accept-Language: zh-cn", ua,
        "Content-Type: application/x-www-form-urlencoded", "Content-Length: 0"},
       "POST alone gets the form Content-Type"},
      {RequestMethod::kPost,
       "content-type: text/plain",
       true,
       {"Content-Type: text/plain", "Accept: */*", "Referer: <url>", "Accept-Language: zh-cn", ua,
        "Content-Length: 0"},
       "the caller's Content-Type, in any case, keeps the default out and is renamed"},
      {RequestMethod::kGet,
       "X-Note: see REFERER: here",
       true,
       {"X-Note: see REFERER: here", "Accept: */*", "Accept-Language: zh-cn", ua},
       "the presence test searches values too"},
      {RequestMethod::kGet,
       "x-my-header: 1\r\naccept: text/html",
       true,
       {"X-My-Header: 1", "Accept: text/html", "Referer: <url>", "Accept-Language: zh-cn", ua},
       "names are normalised at every dash; the caller's Accept wins"},
      {RequestMethod::kGet,
       "x-lower: 1",
       false,
       {"x-lower: 1", "Accept: */*", "Referer: <url>", "Accept-Language: zh-cn", ua},
       "without normalising, names go as written"},
      {RequestMethod::kGet,
       "Bad line\r\n: no name\r\nX-Ok: 1",
       false,
       {"X-Ok: 1", "Accept: */*", "Referer: <url>", "Accept-Language: zh-cn", ua},
       "lines without a name are refused by the object and never sent"},
      {static_cast<RequestMethod>(8),
       "Content-Type: a/b",
       true,
       {"Content-Type: a/b", "Accept: */*", "Referer: <url>", "Accept-Language: zh-cn", ua},
       "an out-of-range code is GET, so no form Content-Type"},
  };
  RecordingServer server;
  for (const Case& c : cases) {
    std::string extraHeaders = c.extraHeaders;
    const std::string url = server.Url("/x");
    WebRequest(
        url, {.method = c.method, .extraHeaders = &extraHeaders, .normalizeHeaders = c.normalize});
    std::vector<std::string> expected;
    for (std::string line : c.sent) {
      if (auto at = line.find("<url>"); at != std::string::npos) line.replace(at, 5, url);
      expected.push_back(line);
    }
    RecordedRequest seen = server.Requests().back();
    EXPECT_EQ(HeadersAfterHost(seen), expected) << c.why << "\n" << seen.head;
  }
}

TEST(WebRequest, KeepAliveLineIsSkippedOnlyWhenSpelledExactly) {
  struct Case {
    std::string extraHeaders;
    bool complete;
    bool normalize;
    std::optional<std::string> connectionSent;
    const char* why;
  };
  const Case cases[] = {
      {"Connection: keep-alive", true, true, std::nullopt, "the exact line is skipped"},
      {"Connection: close", true, true, "close", "other values are applied"},
      {"connection: keep-alive", true, true, std::nullopt,
       "normalising renames it, and then it is skipped"},
      {"connection: keep-alive", true, false, "keep-alive",
       "unnormalised, the name differs in case, so it is applied"},
      {"Connection: Keep-Alive", true, true, "Keep-Alive", "the value is compared with case"},
      {"Connection: keep-alive", false, true, "keep-alive",
       "a block without CR LF is applied whole, unchecked"},
  };
  for (const Case& c : cases) {
    RecordingServer server;
    std::string extraHeaders = c.extraHeaders;
    WebRequest(server.Url(), {.extraHeaders = &extraHeaders,
                              .completeHeaders = c.complete,
                              .normalizeHeaders = c.normalize});
    EXPECT_EQ(OnlyRequest(server).Header("Connection"), c.connectionSent) << c.why;
  }
}

TEST(WebRequest, MethodCodes) {
  RecordingServer server;
  const std::pair<int, std::string_view> cases[] = {
      {-1, "GET"},   {0, "GET"},   {1, "POST"}, {2, "HEAD"},  {3, "PUT"},    {4, "OPTIONS"},
      {5, "DELETE"}, {6, "TRACE"}, {8, "GET"},  {100, "GET"}, {-100, "GET"},
  };
  for (const auto& [code, verb] : cases) {
    EXPECT_EQ(VerbOf(static_cast<RequestMethod>(code)), verb) << code;
    WebRequest(server.Url(), {.method = static_cast<RequestMethod>(code)});
    EXPECT_EQ(server.Requests().back().method, verb) << code;
  }
  EXPECT_EQ(VerbOf(RequestMethod::kConnect), "CONNECT");
}

TEST(WebRequest, BytesBodyWinsOverTextBody) {
  RecordingServer server;
  const std::string bytes("\x01\x00\xFF", 3);
  WebRequest(server.Url(),
             {.method = RequestMethod::kPost, .bodyText = "text", .bodyBytes = bytes});
  EXPECT_EQ(server.Requests().back().body, bytes);
  WebRequest(server.Url(), {.method = RequestMethod::kPut, .bodyText = "\xD6\xD0\xCE\xC4"});
  EXPECT_EQ(server.Requests().back().body, "\xD6\xD0\xCE\xC4");
}

TEST(WebRequest, ReadsTheResponse) {
  RecordingServer server([](const RecordedRequest& request) {
    return HttpResponse(request, 500, "X-Why: broken\r\n", "oops");
  });
  WebResponse response = WebRequest(server.Url());
  EXPECT_EQ(response.statusCode, 500);
  EXPECT_EQ(response.body, "oops");
  EXPECT_EQ(response.headers, "X-Why: broken\r\nContent-Length: 4\r\n");
  EXPECT_THAT(response.cookies, IsEmpty());
}

// Answers with the Set-Cookie lines the test gives.
Responder SettingCookies(std::string lines) {
  return [lines](const RecordedRequest& request) { return HttpResponse(request, 200, lines); };
}

TEST(WebRequest, CookiesAbsentAreNeitherSentNorMerged) {
  RecordingServer server(SettingCookies("Set-Cookie: a=1; Path=/\r\n"));
  WebResponse response = WebRequest(server.Url());
  EXPECT_EQ(OnlyRequest(server).Header("Cookie"), std::nullopt);
  EXPECT_EQ(response.cookies, "a=1");
}

TEST(WebRequest, EmptyCookiesAreSentEmptyAndMerged) {
  RecordingServer server(SettingCookies("Set-Cookie: b = 2 ; Path=/\r\n"));
  std::string cookies;
  WebResponse response = WebRequest(server.Url(), {.requestCookies = &cookies});
  EXPECT_THAT(OnlyRequest(server).Header("Cookie"), Optional(std::string()));
  EXPECT_EQ(response.cookies, "b=2");  // the merge removes spaces
  EXPECT_EQ(cookies, "b=2");
}

TEST(WebRequest, CookieMarkerIsRemovedFromTheCallersText) {
  RecordingServer server;
  std::string cookies = "Cookie: a=1";
  WebRequest(server.Url(), {.requestCookies = &cookies, .mergeCookies = false});
  EXPECT_EQ(cookies, " a=1");
  EXPECT_NE(OnlyRequest(server).head.find("\r\nCookie:  a=1\r\n"), std::string::npos)
      << OnlyRequest(server).head;

  cookies = "cookie: a=1; COOKIE:b=2";
  WebResponse response = WebRequest(server.Url(), {.requestCookies = &cookies});
  EXPECT_EQ(cookies, "a=1; b=2");
  EXPECT_EQ(response.cookies, "a=1; b=2");
}

TEST(WebRequest, CollectedCookiesAreMergedIntoTheCallersText) {
  RecordingServer server(SettingCookies(
      "Set-Cookie: b=3; HttpOnly\r\nSet-Cookie: c=4\r\nSet-Cookie: gone=deleted; Path=/\r\n"));
  std::string cookies = "a=1; b=2; gone=x";
  WebResponse response = WebRequest(server.Url(), {.requestCookies = &cookies});
  EXPECT_THAT(OnlyRequest(server).Header("Cookie"), Optional(std::string("a=1; b=2; gone=x")));
  EXPECT_EQ(response.cookies, "b=3; c=4; a=1");
  EXPECT_EQ(cookies, "b=3; c=4; a=1");
}

TEST(WebRequest, CollectsTheFirstPairOfEachSetCookieLine) {
  RecordingServer server(SettingCookies(
      "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\nset-cookie: c=3\r\nX-Set-Cookie: d=4\r\n"));
  std::string cookies = "old=1";
  WebResponse response =
      WebRequest(server.Url(), {.requestCookies = &cookies, .mergeCookies = false});
  EXPECT_EQ(response.cookies, "a=1; b=2");
  EXPECT_EQ(cookies, "old=1");
}

TEST(CollectResponseCookies, Lines) {
  struct Case {
    std::string_view headers;
    std::string_view cookies;
    const char* why;
  };
  const Case cases[] = {
      {"", "", "no headers, no cookies"},
      {"Content-Length: 0\r\n", "", "no Set-Cookie line"},
      {"Set-Cookie: a=1; Path=/\r\n", "a=1", "the part before the first ';'"},
      {"Set-Cookie:  a=1 \r\n", "a=1", "trimmed"},
      {"Set-Cookie: a=1\r\nSet-Cookie: a=2\r\n", "a=1; a=2", "repeats stay, in order"},
      {"SET-COOKIE: a=1\r\n", "", "the name is compared with case"},
      {"Set-Cookie:a=1\r\n", "", "counted only with a space after the colon"},
      {"Set-Cookie : a=1\r\n", "", "a space before the colon changes the name"},
      {"Set-Cookie: ;x\r\n", "", "an empty pair adds nothing but its separator"},
      {"Set-Cookie: a=1; b=2\r\nSet-Cookie: \r\n", "a=1; ",
       "an empty line value still adds its separator"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CollectResponseCookies(c.headers), c.cookies) << c.why;
  }
}

TEST(WebRequest, ProxyCredentials) {
  struct Case {
    std::string_view user;
    std::string_view password;
    int mode;
    bool viaProxy;
    std::optional<std::string> sent;
    const char* why;
  };
  const Case cases[] = {
      {"user", "pa ss", kProxyAuthBasic, true,
       "Basic dXNlcjpwYSBzcw==", "Base64 of user, colon and password"},
      {"\xD3\xC3", "", kProxyAuthBasic, true, "Basic 08M6", "GBK bytes are encoded as they are"},
      {"user", "pw", 2, true, std::nullopt, "other modes send no credentials"},
      {"", "pw", kProxyAuthBasic, true, std::nullopt, "no user, no credentials"},
      {"user", "pw", kProxyAuthBasic, false, std::nullopt, "no proxy, no credentials"},
  };
  for (const Case& c : cases) {
    RecordingServer proxy;
    RecordingServer server;
    const std::string url = c.viaProxy ? "http://quillmere.invalid/p" : server.Url("/p");
    const std::string proxyServer = c.viaProxy ? proxy.HostPort() : "";
    WebResponse response = WebRequest(url, {.proxyServer = proxyServer,
                                            .proxyUser = c.user,
                                            .proxyPassword = c.password,
                                            .proxyAuthMode = c.mode});
    EXPECT_EQ(response.statusCode, 200) << c.why;
    const RecordingServer& reached = c.viaProxy ? proxy : server;
    RecordedRequest seen = OnlyRequest(reached);
    EXPECT_EQ(seen.target, c.viaProxy ? url : "/p") << c.why;
    EXPECT_EQ(seen.Header("Proxy-Authorization"), c.sent) << c.why;
  }
}

TEST(WebRequest, RedirectsFollowedUnlessSwitchedOff) {
  RecordingServer server([](const RecordedRequest& request) {
    if (request.target == "/old") return HttpResponse(request, 301, "Location: /new\r\n");
    return HttpResponse(request, 200, "", "new");
  });
  WebResponse followed = WebRequest(server.Url("/old"));
  EXPECT_EQ(followed.statusCode, 200);
  EXPECT_EQ(followed.body, "new");
  WebResponse stopped = WebRequest(server.Url("/old"), {.noRedirect = true});
  EXPECT_EQ(stopped.statusCode, 301);
  EXPECT_EQ(stopped.headers, "Location: /new\r\nContent-Length: 0\r\n");
}

TEST(WebRequest, UnreachableHostGivesNothing) {
  RefusingPort refusing;
  std::string cookies = "a=1;b=2";
  WebResponse response = WebRequest(refusing.Url(), {.requestCookies = &cookies});
  EXPECT_THAT(response.body, IsEmpty());
  EXPECT_THAT(response.headers, IsEmpty());
  EXPECT_EQ(response.statusCode, 0);
  // Only the merge of the caller's own cookies remains.
  EXPECT_EQ(response.cookies, "a=1; b=2");
  EXPECT_EQ(cookies, "a=1; b=2");
}

TEST(WebRequest, SilentServerGivesUpAfterTheTimeoutGiven) {
  RecordingServer server([](const RecordedRequest&) { return std::nullopt; });
  auto start = std::chrono::steady_clock::now();
  WebResponse response = WebRequest(server.Url(), {.timeoutSeconds = 1});
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(response.statusCode, 0);
  EXPECT_THAT(response.headers, IsEmpty());
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(kDefaultTimeoutSeconds));
}

TEST(WebRequest, SharedRequestKeepsTheSettingsOfEarlierCalls) {
  RecordingServer server([](const RecordedRequest& request) -> std::optional<std::string> {
    if (request.target == "/silent") return std::nullopt;
    if (request.target == "/old") return HttpResponse(request, 302, "Location: /new\r\n");
    return HttpResponse(request, 200, "X-Last: yes\r\n");
  });
  RecordingServer proxy([](const RecordedRequest& request) {
    return HttpResponse(request, 200, "X-Proxy: yes\r\n");
  });
  HttpRequestObject shared;

  WebResponse first = WebRequest(
      server.Url("/old"), {.noRedirect = true, .timeoutSeconds = 1, .sharedRequest = &shared});
  EXPECT_EQ(first.statusCode, 302);
  // The last response stays with the object.
  EXPECT_EQ(shared.Status(), 302);

  // The one-second limit of the first call still holds with the object's own timeouts.
  auto start = std::chrono::steady_clock::now();
  WebResponse silent = WebRequest(
      server.Url("/silent"), {.timeoutSeconds = kKeepObjectTimeouts, .sharedRequest = &shared});
  EXPECT_EQ(silent.statusCode, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // Redirects stay off although this call does not ask for it.
  WebResponse second = WebRequest(server.Url("/old"), {.sharedRequest = &shared});
  EXPECT_EQ(second.statusCode, 302);

  // A proxy once set is used by later calls that name none.
  WebRequest("http://quillmere.invalid/a",
             {.proxyServer = proxy.HostPort(), .sharedRequest = &shared});
  WebResponse viaProxy = WebRequest("http://quillmere.invalid/b", {.sharedRequest = &shared});
  EXPECT_EQ(viaProxy.headers, "X-Proxy: yes\r\nContent-Length: 0\r\n");
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_EQ(proxy.Requests()[1].target, "http://quillmere.invalid/b");
}

TEST(WebRequest, UrlWithLineBreaksSendsNothing) {
  // The URL is also the Referer value; a CR LF in it must not smuggle in a header.
  RecordingServer server;
  std::string extraHeaders;
  WebResponse response =
      WebRequest(server.Url("/\r\nX-Injected: 1"), {.extraHeaders = &extraHeaders});
  EXPECT_EQ(response.statusCode, 0);
  EXPECT_THAT(server.Requests(), IsEmpty());
}

}  // namespace
}  // namespace quillmere
