#include "web/http_request_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
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
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Optional;

// Answers "/redirect/N" with a 302 to "/redirect/N-1", "/redirect/0" with 200 "done", "/loop"
// with a 302 to itself, "/" with 200 "ok" and an X-Final header.
std::optional<std::string> Redirecting(const RecordedRequest& request) {
  if (request.target == "/loop") return HttpResponse(request, 302, "Location: /loop\r\n");
  if (request.target.starts_with("/redirect/")) {
    int left = std::stoi(request.target.substr(10));
    if (left == 0) return HttpResponse(request, 200, "X-Final: 1\r\n", "done");
    return HttpResponse(request, 302,
                        "Location: /redirect/" + std::to_string(left - 1) + "\r\nX-Hop: 1\r\n",
                        "moved");
  }
  return HttpResponse(request, 200, "X-Final: 1\r\n", "ok");
}

TEST(HttpRequestObject, SendsOnlyTheHeadersSetInTheirOrder) {
  RecordingServer server;
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url("/a?b=1")));
  ASSERT_TRUE(request.SetRequestHeader("X-One", "1"));
  ASSERT_TRUE(request.SetRequestHeader("Referer", "http://r/"));
  ASSERT_TRUE(request.SetRequestHeader("X-Empty", ""));
  ASSERT_TRUE(request.Send()) << request.LastError();

  std::vector<RecordedRequest> seen = server.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[0].target, "/a?b=1");
  // libcurl's own Accept (and any User-Agent) stay out: the request holds Host and what was set.
  EXPECT_THAT(seen[0].HeaderNames(), ElementsAre("Host", "X-One", "Referer", "X-Empty"))
      << seen[0].head;
  EXPECT_THAT(seen[0].Header("X-Empty"), Optional(std::string()));
  EXPECT_EQ(request.Status(), 200);
}

TEST(HttpRequestObject, HeaderSetAgainTakesTheNewValueInItsFirstPlace) {
  RecordingServer server;
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  request.SetRequestHeader("Cookie", "a=1");
  request.SetRequestHeader("X-Two", "2");
  request.SetRequestHeader("cookie", "b=2");
  ASSERT_TRUE(request.Send());
  std::vector<RecordedRequest> seen = server.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_THAT(seen[0].headers,
              ElementsAre(std::pair<std::string, std::string>("Host", server.HostPort()),
                          std::pair<std::string, std::string>("Cookie", "b=2"),
                          std::pair<std::string, std::string>("X-Two", "2")));
}

TEST(HttpRequestObject, RefusesHeadersThatCouldNotBeSentSafely) {
  struct Case {
    std::string_view name;
    std::string_view value;
    const char* why;
  };
  const Case cases[] = {
      {"", "x", "an empty name would make a line that starts with a colon"},
      {"A:B", "x", "a colon inside the name shifts the value"},
      {"A B", "x", "a space inside the name is not a header name"},
      {"A\r\nB", "x", "CR LF in the name would start another header"},
      {"A", "x\r\nInjected: 1", "CR LF in the value would inject a header"},
      {"A", "x\nInjected: 1", "a bare LF ends a line for many servers"},
      {std::string_view("A\0B", 3), "x", "a zero byte cuts the name short"},
  };
  RecordingServer server;
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  for (const Case& c : cases) {
    EXPECT_FALSE(request.SetRequestHeader(c.name, c.value)) << c.why;
  }
  ASSERT_TRUE(request.Send());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_THAT(server.Requests()[0].HeaderNames(), ElementsAre("Host"));
}

TEST(HttpRequestObject, HeaderBeforeOpenIsRefused) {
  HttpRequestObject request;
  EXPECT_FALSE(request.SetRequestHeader("A", "1"));
  EXPECT_FALSE(request.Send());
  EXPECT_EQ(request.Status(), 0);
}

TEST(HttpRequestObject, BadVerbIsRefused) {
  RecordingServer server;
  HttpRequestObject request;
  for (std::string_view verb : {"", "GE T", "GET\r\n"}) {
    EXPECT_FALSE(request.Open(verb, server.Url())) << "verb '" << verb << "'";
    EXPECT_FALSE(request.Send());
  }
  EXPECT_THAT(server.Requests(), IsEmpty());
}

TEST(HttpRequestObject, VerbsAndBodies) {
  struct Case {
    std::string_view verb;
    std::string_view body;
    std::optional<std::string> contentLength;  // what the server should see
    std::string_view bodySeen;
    const char* why;
  };
  const std::string gbkWithZero("\xD6\xD0\x00\r\n\xCE\xC4", 7);
  const Case cases[] = {
      {"GET", "", std::nullopt, "", "a plain GET carries no body"},
      {"POST", gbkWithZero, "7", gbkWithZero, "the bytes go as they are, zero byte and CR LF"},
      {"POST", "", "0", "", "an empty POST still says its length"},
      {"PUT", "", "0", "", "so does an empty PUT"},
      {"PUT", "x", "1", "x", "PUT sends its body"},
      {"DELETE", "", std::nullopt, "", "DELETE without a body"},
      {"OPTIONS", "", std::nullopt, "", "OPTIONS without a body"},
      {"GET", "q", "1", "q", "a body given to GET is sent"},
      {"HEAD", "ignored", std::nullopt, "", "HEAD never carries a body"},
  };
  RecordingServer server;
  for (const Case& c : cases) {
    HttpRequestObject request;
    ASSERT_TRUE(request.Open(c.verb, server.Url()));
    ASSERT_TRUE(request.Send(c.body)) << c.verb << ": " << request.LastError();
    RecordedRequest seen = server.Requests().back();
    EXPECT_EQ(seen.method, c.verb) << c.why;
    EXPECT_EQ(seen.Header("Content-Length"), c.contentLength) << c.why;
    EXPECT_EQ(seen.body, c.bodySeen) << c.why;
    // libcurl would add "Content-Type: application/x-www-form-urlencoded" and an Expect header.
    EXPECT_EQ(seen.Header("Content-Type"), std::nullopt) << c.why;
    EXPECT_EQ(seen.Header("Expect"), std::nullopt) << c.why;
  }
}

TEST(HttpRequestObject, ReadsStatusHeadersAndBody) {
  RecordingServer server([](const RecordedRequest& request) {
    return HttpResponse(request, 404, "X-A: 1\r\nSet-Cookie: s=1; Path=/\r\n", "missing");
  });
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  ASSERT_TRUE(request.Send());  // an error status is an ordinary answer
  EXPECT_EQ(request.Status(), 404);
  EXPECT_EQ(request.ResponseBody(), "missing");
  EXPECT_EQ(request.GetAllResponseHeaders(),
            "X-A: 1\r\nSet-Cookie: s=1; Path=/\r\nContent-Length: 7\r\n");
}

TEST(HttpRequestObject, FollowsRedirectsAndKeepsTheFinalResponseOnly) {
  RecordingServer server(Redirecting);
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url("/redirect/3")));
  ASSERT_TRUE(request.Send()) << request.LastError();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(request.ResponseBody(), "done");
  EXPECT_EQ(request.GetAllResponseHeaders(), "X-Final: 1\r\nContent-Length: 4\r\n");
  EXPECT_EQ(server.Requests().size(), 4u);
}

TEST(HttpRequestObject, RedirectsOffGivesTheRedirectItself) {
  RecordingServer server(Redirecting);
  HttpRequestObject request;
  ASSERT_TRUE(request.SetOption(kOptionEnableRedirects, 0));
  ASSERT_TRUE(request.Open("GET", server.Url("/redirect/3")));
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(request.Status(), 302);
  EXPECT_EQ(request.ResponseBody(), "moved");
  EXPECT_EQ(request.GetAllResponseHeaders(),
            "Location: /redirect/2\r\nX-Hop: 1\r\nContent-Length: 5\r\n");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpRequestObject, EndlessRedirectsFailAfterTheLimit) {
  RecordingServer server(Redirecting);
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url("/loop")));
  EXPECT_FALSE(request.Send());
  EXPECT_EQ(request.Status(), 0);
  EXPECT_THAT(request.ResponseBody(), IsEmpty());
  EXPECT_THAT(request.GetAllResponseHeaders(), IsEmpty());
  EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(kMaxRedirects + 1));
}

TEST(HttpRequestObject, SettingsOutliveOpenAndTheConnectionIsReused) {
  RecordingServer server(Redirecting);
  HttpRequestObject request;
  ASSERT_TRUE(request.SetOption(kOptionEnableRedirects, 0));
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(request.Open("GET", server.Url("/redirect/1")));
    ASSERT_TRUE(request.Send()) << request.LastError();
    EXPECT_EQ(request.Status(), 302) << "round " << round;
  }
  EXPECT_EQ(server.Connections(), 1);
  ASSERT_TRUE(request.SetOption(kOptionEnableRedirects, 1));
  ASSERT_TRUE(request.Open("GET", server.Url("/redirect/1")));
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(request.Status(), 200);
}

TEST(HttpRequestObject, ClosedAfterEachUsesANewConnectionForEveryRequestAndRedirect) {
  RecordingServer server(Redirecting);
  HttpRequestObject request(ConnectionUse::kClosedAfterEach);
  ASSERT_TRUE(request.SetOption(kOptionEnableRedirects, 0));
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(request.Open("GET", server.Url("/redirect/1")));
    ASSERT_TRUE(request.Send()) << request.LastError();
    EXPECT_EQ(request.Status(), 302) << "round " << round;
    // Closed as soon as the response is in, while the object lives on.
    EXPECT_TRUE(server.WaitForClientCloses(round)) << "round " << round;
  }
  ASSERT_TRUE(request.SetOption(kOptionEnableRedirects, 1));
  ASSERT_TRUE(request.Open("GET", server.Url("/redirect/2")));
  ASSERT_TRUE(request.Send()) << request.LastError();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_EQ(request.ResponseBody(), "done");
  // The three hops of the last request took three connections.
  EXPECT_EQ(server.Connections(), 5);
  EXPECT_TRUE(server.WaitForClientCloses(5));
}

TEST(HttpRequestObject, ClosedAfterEachObjectsStartAfresh) {
  // The second object takes over the first one's libcurl handle; none of the first one's
  // settings, headers or connections may come with it.
  RecordingServer proxy;
  RecordingServer server(Redirecting);
  {
    HttpRequestObject first(ConnectionUse::kClosedAfterEach);
    ASSERT_TRUE(first.SetProxy(kProxySettingProxy, proxy.HostPort()));
    ASSERT_TRUE(first.SetOption(kOptionEnableRedirects, 0));
    ASSERT_TRUE(first.Open("POST", server.Url("/old")));
    ASSERT_TRUE(first.SetRequestHeader("X-Old", "1"));
    ASSERT_TRUE(first.Send("body")) << first.LastError();
  }
  HttpRequestObject second(ConnectionUse::kClosedAfterEach);
  ASSERT_TRUE(second.Open("HEAD", server.Url("/redirect/1")));
  ASSERT_TRUE(second.Send()) << second.LastError();
  EXPECT_EQ(second.Status(), 200);  // redirects followed again
  EXPECT_EQ(proxy.Requests().size(), 1u);
  std::vector<RecordedRequest> seen = server.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].head, "HEAD /redirect/1 HTTP/1.1\r\nHost: " + server.HostPort() + "\r\n\r\n");
  EXPECT_EQ(seen[1].head, "HEAD /redirect/0 HTTP/1.1\r\nHost: " + server.HostPort() + "\r\n\r\n");
}

TEST(HttpRequestObject, ClosedAfterEachObjectMayEndOnAnotherThread) {
  // An object made on one thread and destroyed on another leaves its handle to the second
  // thread; both threads go on making requests.
  RecordingServer server;
  auto made = std::make_unique<HttpRequestObject>(ConnectionUse::kClosedAfterEach);
  ASSERT_TRUE(made->Open("GET", server.Url("/1")));
  ASSERT_TRUE(made->Send()) << made->LastError();
  std::thread other([&] {
    made.reset();
    for (int i = 0; i < 2; ++i) {
      HttpRequestObject next(ConnectionUse::kClosedAfterEach);
      EXPECT_TRUE(next.Open("GET", server.Url("/2")));
      EXPECT_TRUE(next.Send()) << next.LastError();
    }
  });
  other.join();
  HttpRequestObject again(ConnectionUse::kClosedAfterEach);
  ASSERT_TRUE(again.Open("GET", server.Url("/3")));
  ASSERT_TRUE(again.Send()) << again.LastError();
  EXPECT_EQ(server.Connections(), 4);
  EXPECT_TRUE(server.WaitForClientCloses(4));
}

TEST(HttpRequestObject, ClosedAfterEachRecoversFromAFailedRequest) {
  RefusingPort refusing;
  RecordingServer silent([](const RecordedRequest&) { return std::nullopt; });
  RecordingServer server;
  for (const std::string& dead : {refusing.Url(), silent.Url()}) {
    HttpRequestObject failing(ConnectionUse::kClosedAfterEach);
    ASSERT_TRUE(failing.SetTimeouts(1000, 1000, 1000, 1000));
    ASSERT_TRUE(failing.Open("GET", dead));
    EXPECT_FALSE(failing.Send()) << dead;
  }
  HttpRequestObject request(ConnectionUse::kClosedAfterEach);
  ASSERT_TRUE(request.Open("GET", server.Url()));
  ASSERT_TRUE(request.Send()) << request.LastError();
  EXPECT_EQ(request.Status(), 200);
  EXPECT_TRUE(silent.WaitForClientCloses(1));
}

TEST(HttpRequestObject, OpenForgetsTheHeadersAndTheResponseOfTheLastRequest) {
  RecordingServer server(Redirecting);
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  request.SetRequestHeader("X-Old", "1");
  ASSERT_TRUE(request.Send());
  ASSERT_EQ(request.Status(), 200);
  ASSERT_TRUE(request.Open("GET", server.Url()));
  EXPECT_EQ(request.Status(), 0);
  EXPECT_THAT(request.ResponseBody(), IsEmpty());
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(server.Requests().back().Header("X-Old"), std::nullopt);
}

TEST(HttpRequestObject, UnreachablePortYieldsNothing) {
  RefusingPort refusing;
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", refusing.Url()));
  EXPECT_FALSE(request.Send());
  EXPECT_EQ(request.Status(), 0);
  EXPECT_THAT(request.ResponseBody(), IsEmpty());
  EXPECT_THAT(request.GetAllResponseHeaders(), IsEmpty());
  EXPECT_THAT(request.LastError(), ::testing::Not(IsEmpty()));
}

TEST(HttpRequestObject, SilentServerTimesOutAfterTheReceiveLimit) {
  RecordingServer server([](const RecordedRequest&) { return std::nullopt; });
  HttpRequestObject request;
  ASSERT_TRUE(request.SetTimeouts(1000, 1000, 1000, 1000));
  ASSERT_TRUE(request.Open("GET", server.Url()));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request.Send());
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(request.Status(), 0);
  EXPECT_THAT(request.GetAllResponseHeaders(), IsEmpty());
  // It waited for the limit set, not for the 30-second default.
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(HttpRequestObject, ProxyGetsTheWholeUrlAndTheProxyCredentials) {
  RecordingServer proxy(
      [](const RecordedRequest& request) { return HttpResponse(request, 200, "", "via proxy"); });
  HttpRequestObject request;
  ASSERT_TRUE(request.SetProxy(kProxySettingProxy, proxy.HostPort()));
  ASSERT_TRUE(request.Open("GET", "http://quillmere.invalid/x"));
  ASSERT_TRUE(request.SetRequestHeader("Proxy-Authorization", "Basic dTpw"));
  ASSERT_TRUE(request.SetRequestHeader("X-For-Server", "1"));
  ASSERT_TRUE(request.Send()) << request.LastError();
  EXPECT_EQ(request.ResponseBody(), "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  RecordedRequest seen = proxy.Requests()[0];
  EXPECT_EQ(seen.target, "http://quillmere.invalid/x");
  EXPECT_THAT(seen.Header("Proxy-Authorization"), Optional(std::string("Basic dTpw")));
  EXPECT_THAT(seen.Header("X-For-Server"), Optional(std::string("1")));
}

TEST(HttpRequestObject, ProxyCredentialsGoToTheTunnelRequestOnly) {
  // For https the proxy is asked to CONNECT; the credentials belong in that request, and the
  // headers meant for the server do not. The refusal ends the exchange.
  RecordingServer proxy([](const RecordedRequest& request) {
    return HttpResponse(request, 403, "Connection: close\r\n");
  });
  HttpRequestObject request;
  ASSERT_TRUE(request.SetProxy(kProxySettingProxy, proxy.HostPort()));
  ASSERT_TRUE(request.Open("GET", "https://quillmere.invalid/x"));
  request.SetRequestHeader("Proxy-Authorization", "Basic dTpw");
  request.SetRequestHeader("Cookie", "secret=1");
  EXPECT_FALSE(request.Send());
  EXPECT_EQ(request.Status(), 0);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  RecordedRequest seen = proxy.Requests()[0];
  EXPECT_EQ(seen.method, "CONNECT");
  EXPECT_THAT(seen.Header("Proxy-Authorization"), Optional(std::string("Basic dTpw")));
  EXPECT_EQ(seen.Header("Cookie"), std::nullopt);
}

TEST(HttpRequestObject, ProxyCredentialsNeverReachAServerDirectly) {
  RecordingServer server;
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  request.SetRequestHeader("Proxy-Authorization", "Basic dTpw");
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(server.Requests().back().Header("Proxy-Authorization"), std::nullopt);
}

TEST(HttpRequestObject, ProxySettingIsKeptUntilChanged) {
  RecordingServer proxy;
  RecordingServer server;
  HttpRequestObject request;
  ASSERT_TRUE(request.SetProxy(kProxySettingProxy, proxy.HostPort()));
  ASSERT_TRUE(request.Open("GET", server.Url("/1")));
  ASSERT_TRUE(request.Send());
  ASSERT_TRUE(request.Open("GET", server.Url("/2")));
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(proxy.Requests().size(), 2u);
  ASSERT_TRUE(request.SetProxy(kProxySettingDirect, ""));
  ASSERT_TRUE(request.Open("GET", server.Url("/3")));
  ASSERT_TRUE(request.Send());
  EXPECT_EQ(proxy.Requests().size(), 2u);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].target, "/3");
  EXPECT_FALSE(request.SetProxy(7, "x"));
}

TEST(HttpRequestObject, EnvironmentProxyIsNotUsed) {
  RefusingPort deadProxy;
  RecordingServer server;
  ASSERT_EQ(setenv("http_proxy", deadProxy.Url().c_str(), 1), 0);
  ASSERT_EQ(setenv("HTTP_PROXY", deadProxy.Url().c_str(), 1), 0);
  ASSERT_EQ(setenv("no_proxy", "", 1), 0);
  HttpRequestObject request;
  ASSERT_TRUE(request.Open("GET", server.Url()));
  bool sent = request.Send();
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  unsetenv("no_proxy");
  EXPECT_TRUE(sent) << request.LastError();
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpRequestObject, OnlyHttpAndHttpsAreFetched) {
  HttpRequestObject request;
  for (std::string_view url : {"file:///etc/hostname", "ftp://127.0.0.1/", "not a url", ""}) {
    ASSERT_TRUE(request.Open("GET", url));
    EXPECT_FALSE(request.Send()) << url;
    EXPECT_THAT(request.ResponseBody(), IsEmpty()) << url;
    EXPECT_EQ(request.Status(), 0) << url;
  }
}

TEST(HttpRequestObject, UnknownOptionIsRefused) {
  HttpRequestObject request;
  EXPECT_FALSE(request.SetOption(5, 0));
  EXPECT_TRUE(request.SetOption(kOptionSslErrorIgnoreFlags, kIgnoreAllCertificateErrors));
}

}  // namespace
}  // namespace quillmere
