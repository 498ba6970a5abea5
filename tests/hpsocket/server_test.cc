// The HTTP server engine on loopback: event order, keep-alive, release, pipelining, upgrades,
// start and stop, connection extra and the exact bytes of responses.
#include <errno.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <thread>

#include "hpsocket/thread_role.h"
#include "tests/hpsocket/server_test_support.h"

namespace quillmere::testing {
namespace {

using Events = std::vector<std::string>;

constexpr std::string_view kGet =
    "GET /path/x?q=1#frag HTTP/1.1\r\nHost: example\r\nX-Two: 2\r\n\r\n";

bool ClosedOnce(const Events& all, HP_CONNID id) {
  const std::string tag = "close " + std::to_string(id) + " ";
  return std::count_if(all.begin(), all.end(),
                       [&](const std::string& e) { return e.rfind(tag, 0) == 0; }) == 1;
}

TEST_F(ServerTest, OneRequestEventsInOrder) {
  Client client(port_);
  ASSERT_TRUE(client.Send(kGet));
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nok");
  client.Close();
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent("close " + std::to_string(id) + " 5 0"));
  EXPECT_EQ(
      recorder().EventsOf(id),
      (Events{"accept", "handshake", "begin", "line GET /path/x?q=1#frag", "header Host: example",
              "header X-Two: 2", "headers", "complete", "close 5 0"}));
}

TEST_F(ServerTest, BodyWithContentLength) {
  Client client(port_);
  ASSERT_TRUE(client.Send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"));
  ASSERT_FALSE(client.ReadResponse().empty());
  const HP_CONNID id = AcceptedId();
  EXPECT_EQ(recorder().EventsOf(id),
            (Events{"accept", "handshake", "begin", "line POST /p", "header Content-Length: 5",
                    "headers", "body hello", "complete"}));
}

TEST_F(ServerTest, ChunkedBodyWithTrailer) {
  Client client(port_);
  ASSERT_TRUE(
      client.Send("POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "3\r\nabc\r\n2\r\nde\r\n0\r\nX-Trailer: t\r\n\r\n"));
  ASSERT_FALSE(client.ReadResponse().empty());
  const HP_CONNID id = AcceptedId();
  EXPECT_EQ(
      recorder().EventsOf(id),
      (Events{"accept", "handshake", "begin", "line POST /c", "header Transfer-Encoding: chunked",
              "headers", "chunk 3", "body abc", "chunk-done", "chunk 2", "body de", "chunk-done",
              "chunk 0", "header X-Trailer: t", "chunk-done", "complete"}));
}

// The request split in two writes at every offset gives the same events (pieces of the body
// may be delivered separately, so bodies are joined before comparing).
TEST_F(ServerTest, RequestSplitAtEveryOffset) {
  const std::string request =
      "POST /split?a=b HTTP/1.1\r\nHost: h\r\nCookie: a=1; b=2\r\nContent-Length: 4\r\n\r\nbody";
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent("handshake " + std::to_string(id)));
  for (size_t cut = 1; cut < request.size(); ++cut) {
    recorder().Clear();
    ASSERT_TRUE(client.Send(request.substr(0, cut)));
    ASSERT_TRUE(client.Send(request.substr(cut)));
    ASSERT_FALSE(client.ReadResponse().empty()) << "cut at " << cut;
    Events events = recorder().EventsOf(id);
    std::string body;
    Events joined;
    for (const std::string& e : events) {
      if (e.rfind("body ", 0) == 0) {
        body += e.substr(5);
      } else {
        if (e == "complete") joined.push_back("body " + body);
        joined.push_back(e);
      }
    }
    EXPECT_EQ(joined,
              (Events{"begin", "line POST /split?a=b", "header Host: h", "header Cookie: a=1; b=2",
                      "header Content-Length: 4", "headers", "body body", "complete"}))
        << "cut at " << cut;
  }
}

TEST_F(ServerTest, KeepAliveServesSeveralRequestsOnOneConnection) {
  Client client(port_);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.Send("GET /k HTTP/1.1\r\n\r\n"));
    EXPECT_NE(client.ReadResponse().find("Connection: keep-alive"), std::string::npos);
  }
  const HP_CONNID id = AcceptedId();
  EXPECT_EQ(HP_Server_GetConnectionCount(server_), 1u);
  EXPECT_TRUE(HP_Server_IsConnected(server_, id));
}

TEST_F(ServerTest, ConnectionCloseThenReleaseClosesAfterTheResponse) {
  Client client(port_);
  ASSERT_TRUE(client.Send("GET /bye HTTP/1.1\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  EXPECT_TRUE(client.WaitClosed());
  const HP_CONNID id = AcceptedId();
  EXPECT_TRUE(recorder().WaitForEvent("close " + std::to_string(id) + " 5 0"));
}

TEST_F(ServerTest, Http10WithoutKeepAliveIsNotKeptAlive) {
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_NE(client.ReadResponse().find("Connection: close"), std::string::npos);
  EXPECT_TRUE(client.WaitClosed());
  Client again(port_);
  ASSERT_TRUE(again.Send("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
  EXPECT_NE(again.ReadResponse().find("Connection: keep-alive"), std::string::npos);
}

TEST_F(ServerTest, ReleaseRefusesTwiceAndUnknownIds) {
  std::atomic<int> second_release{-1};
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    Answer(s, id);
    EXPECT_TRUE(HP_HttpServer_Release(s, id));
    second_release = HP_HttpServer_Release(s, id);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.ReadResponse().empty());
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(second_release, FALSE);
  EXPECT_FALSE(HP_HttpServer_Release(server_, 999999));
  EXPECT_EQ(errno, EBADSLT);
}

// A small answering queue on another thread, as the application's pool does it.
class Answerer {
 public:
  explicit Answerer(HP_HttpServer server) : server_(server), thread_([this] { Run(); }) {}
  ~Answerer() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Submit(HP_CONNID id) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(id);
    }
    cv_.notify_all();
  }
  std::function<void(HP_CONNID)> before_answer;

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const HP_CONNID id = queue_.front();
      queue_.pop_front();
      lock.unlock();
      if (before_answer) before_answer(id);
      // Answer with the request's own path, read from this thread.
      const std::string path = HP_HttpServer_GetUrlField(server_, id, HUF_PATH);
      const bool keep_alive = HP_HttpServer_IsKeepAlive(server_, id);
      Answer(server_, id, path);
      (void)keep_alive;
      lock.lock();
    }
  }
  HP_HttpServer server_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<HP_CONNID> queue_;
  bool done_ = false;
  std::thread thread_;
};

TEST_F(ServerTest, PipelinedRequestsAreAnsweredInOrderFromAnotherThread) {
  Answerer answerer(server_);
  answerer.before_answer = [&](HP_CONNID) {
    // The next request must not begin before this one is answered.
    std::this_thread::yield();
  };
  recorder().on_complete = [&](HP_HttpServer, HP_CONNID id) {
    answerer.Submit(id);
    return HPR_OK;
  };
  Client client(port_);
  std::string batch;
  for (int i = 0; i < 20; ++i) batch += "GET /" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(client.Send(batch));
  for (int i = 0; i < 20; ++i) {
    const std::string response = client.ReadResponse();
    const std::string body = "/" + std::to_string(i);
    ASSERT_EQ(response.substr(response.size() - body.size()), body) << response;
  }
  // Each request began only after the previous one completed.
  const Events events = recorder().EventsOf(AcceptedId());
  int open_requests = 0;
  for (const std::string& e : events) {
    if (e == "begin") ++open_requests;
    if (e == "complete") --open_requests;
    EXPECT_LE(open_requests, 1);
  }
}

TEST_F(ServerTest, UnknownUpgradeHandsRawBytesToOnReceive) {
  std::atomic<bool> upgrade_seen{false};
  recorder().on_upgrade = [&](HP_HttpServer s, HP_CONNID id, En_HP_HttpUpgradeType type) {
    EXPECT_TRUE(HP_HttpServer_IsUpgrade(s, id));
    EXPECT_EQ(HP_HttpServer_GetUpgradeType(s, id), type);
    const HP_THeader headers[] = {{"Upgrade", "foo"}, {"Connection", "Upgrade"}};
    EXPECT_TRUE(HP_HttpServer_SendResponse(s, id, 101, nullptr, headers, 2, nullptr, 0));
    upgrade_seen = true;
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET /chat HTTP/1.1\r\nUpgrade: foo\r\nConnection: Upgrade\r\n\r\nRAW1"));
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: foo\r\nConnection: Upgrade\r\n"
            "Content-Length: 0\r\n\r\n");
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent("receive " + std::to_string(id) + " RAW1"));
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));  // no longer HTTP
  ASSERT_TRUE(recorder().WaitForEvent("receive " + std::to_string(id) + " GET / HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(upgrade_seen);
  EXPECT_EQ(HP_HttpServer_GetUpgradeType(server_, id), HUT_UNKNOWN);
  EXPECT_EQ(HP_HttpServer_GetUrlFieldSet(server_, id), 0) << "texts are cleared after upgrade";
  const Events events = recorder().EventsOf(id);
  EXPECT_EQ(Events(events.begin() + 6, events.begin() + 9),
            (Events{"headers", "complete", "upgrade -1"}));
}

TEST_F(ServerTest, UpgradeTypes) {
  const struct {
    std::string request;
    En_HP_HttpUpgradeType type;
  } cases[] = {
      // CONNECT is a tunnel.
      {"CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n", HUT_HTTP_TUNNEL},
      // The whole value must be "websocket", ignoring case.
      {"GET / HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: upgrade\r\n\r\n", HUT_WEB_SOCKET},
      {"GET / HTTP/1.1\r\nUpgrade: websocket, h2c\r\nConnection: upgrade\r\n\r\n", HUT_UNKNOWN},
  };
  for (const auto& c : cases) {
    recorder().Clear();
    Client client(port_);
    ASSERT_TRUE(client.Send(c.request));
    ASSERT_TRUE(recorder().WaitFor([](const Events& all) {
      return std::any_of(all.begin(), all.end(),
                         [](const std::string& e) { return e.rfind("upgrade ", 0) == 0; });
    })) << c.request;
    const Events events = recorder().Snapshot();
    const auto it = std::find_if(events.begin(), events.end(),
                                 [](const std::string& e) { return e.rfind("upgrade ", 0) == 0; });
    EXPECT_EQ(it->substr(it->rfind(' ') + 1), std::to_string(c.type)) << c.request;
  }
  // An Upgrade header alone is an ordinary request.
  Client plain(port_);
  ASSERT_TRUE(plain.Send("GET / HTTP/1.1\r\nUpgrade: websocket\r\n\r\n"));
  EXPECT_FALSE(plain.ReadResponse().empty());
}

TEST_F(ServerTest, MalformedRequestGivesParseErrorAndClose) {
  Client client(port_);
  ASSERT_TRUE(client.Send("GARBAGE / HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(client.WaitClosed());
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(
      recorder().WaitForEvent("close " + std::to_string(id) + " 4 " + std::to_string(ECANCELED)));
  const Events events = recorder().EventsOf(id);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].rfind("parse-error", 0), 0u) << events[events.size() - 2];
}

TEST_F(ServerTest, StartStopStartWithConnectionsOpen) {
  Client idle(port_);
  Client mid_request(port_);
  ASSERT_TRUE(mid_request.Send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"));
  const HP_CONNID first = AcceptedId(1);
  const HP_CONNID second = AcceptedId(2);
  ASSERT_TRUE(recorder().WaitForEvent("body " + std::to_string(second) + " abc") ||
              recorder().WaitForEvent("body " + std::to_string(first) + " abc"));

  ASSERT_TRUE(HP_Server_Stop(server_));
  EXPECT_EQ(HP_Server_GetState(server_), SS_STOPPED);
  EXPECT_EQ(HP_Server_GetConnectionCount(server_), 0u);
  const Events events = recorder().Snapshot();
  EXPECT_EQ(events.back(), "shutdown");
  EXPECT_TRUE(ClosedOnce(events, first));
  EXPECT_TRUE(ClosedOnce(events, second));
  EXPECT_TRUE(idle.WaitClosed());
  EXPECT_TRUE(mid_request.WaitClosed());
  EXPECT_FALSE(HP_Server_Stop(server_)) << "not started";
  EXPECT_EQ(HP_Server_GetLastError(server_), SE_ILLEGAL_STATE);

  StartServer();
  Client after(port_);
  ASSERT_TRUE(after.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(after.ReadResponse().empty());
  EXPECT_GT(AcceptedId(3), std::max(first, second)) << "ids are never reused";
}

TEST_F(ServerTest, StopIsRefusedOnNetworkAndPoolThreads) {
  std::atomic<int> from_callback{-1};
  std::atomic<int> error{-1};
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    from_callback = HP_Server_Stop(s);
    error = HP_Server_GetLastError(s);
    Answer(s, id);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.ReadResponse().empty());
  EXPECT_EQ(from_callback, FALSE);
  EXPECT_EQ(error, SE_ILLEGAL_STATE);
  EXPECT_EQ(HP_Server_GetState(server_), SS_STARTED);

  int from_pool = -1;
  std::thread pool_thread([&] {
    SetCurrentThreadRole(ThreadRole::kPool);
    from_pool = HP_Server_Stop(server_);
  });
  pool_thread.join();
  EXPECT_EQ(from_pool, FALSE);
  EXPECT_EQ(HP_Server_GetState(server_), SS_STARTED);
}

TEST_F(ServerTest, ConnectionExtraLastsFromAcceptToClose) {
  static int marker = 0;
  std::atomic<int> seen_in_complete{0};
  std::atomic<int> seen_in_close{0};
  recorder().on_accept = [](HP_HttpServer s, HP_CONNID id) {
    HP_Server_SetConnectionExtra(s, id, &marker);
  };
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    PVOID extra = nullptr;
    if (HP_Server_GetConnectionExtra(s, id, &extra) && extra == &marker) ++seen_in_complete;
    Answer(s, id);
    return HPR_OK;
  };
  recorder().on_close = [&](HP_HttpServer s, HP_CONNID id) {
    PVOID extra = nullptr;
    if (HP_Server_GetConnectionExtra(s, id, &extra) && extra == &marker) ++seen_in_close;
    // Sending is over during OnClose; the remote address is still known.
    EXPECT_FALSE(HP_Server_IsConnected(s, id));
    TCHAR address[64];
    int length = sizeof address;
    USHORT port = 0;
    EXPECT_TRUE(HP_Server_GetRemoteAddress(s, id, address, &length, &port));
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.ReadResponse().empty());
  EXPECT_FALSE(client.ReadResponse().empty());
  client.Close();
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent("close " + std::to_string(id) + " 5 0"));
  EXPECT_EQ(seen_in_complete, 2);
  EXPECT_EQ(seen_in_close, 1);
  ASSERT_TRUE(Eventually([&] { return HP_Server_GetConnectionCount(server_) == 0; }));
  PVOID untouched = &marker;
  EXPECT_FALSE(HP_Server_GetConnectionExtra(server_, id, &untouched));
  EXPECT_EQ(untouched, &marker) << "unknown id leaves the output alone";
}

TEST_F(ServerTest, SendResponseWritesExactBytes) {
  struct Case {
    const char* why;
    USHORT status;
    const char* reason;
    std::vector<HP_THeader> headers;
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"caller headers in order, then Content-Length and Connection",
       200,
       nullptr,
       {{"B", "2"}, {"A", "1"}},
       "xyz",
       "HTTP/1.1 200 OK\r\nB: 2\r\nA: 1\r\nContent-Length: 3\r\nConnection: keep-alive\r\n\r\nxyz"},
      {"a given reason is used, an empty body still gets Content-Length: 0",
       404,
       "Gone Away",
       {},
       "",
       "HTTP/1.1 404 Gone Away\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n"},
      {"unknown code: three asterisks",
       418,
       nullptr,
       {},
       "",
       "HTTP/1.1 418 ***\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n"},
      {"an empty reason leaves the trailing blank",
       200,
       "",
       {},
       "",
       "HTTP/1.1 200 \r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n"},
      {"caller's content-length (any case) replaces ours and is not checked",
       200,
       nullptr,
       {{"content-length", "10"}},
       "",
       "HTTP/1.1 200 OK\r\ncontent-length: 10\r\nConnection: keep-alive\r\n\r\n"},
      {"caller's connection header replaces ours; empty names are skipped",
       200,
       nullptr,
       {{"CONNECTION", "close"}, {"", "x"}, {nullptr, "y"}},
       "a",
       "HTTP/1.1 200 OK\r\nCONNECTION: close\r\nContent-Length: 1\r\n\r\na"},
  };
  for (const Case& c : cases) {
    recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
      EXPECT_TRUE(HP_HttpServer_SendResponse(
          s, id, c.status, c.reason, c.headers.data(), static_cast<int>(c.headers.size()),
          reinterpret_cast<const BYTE*>(c.body.data()), static_cast<int>(c.body.size())));
      return HPR_OK;
    };
    Client client(port_);
    ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.ReadResponse(), c.expected) << c.why;
    ASSERT_TRUE(
        recorder().WaitForEvent("handled " + std::to_string(AcceptedId(&c - &cases[0] + 1))));
  }
}

TEST_F(ServerTest, SendResponseRefusesLineBreaksAndNullBody) {
  std::atomic<int> refused{0};
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    const HP_THeader bad_value[] = {{"X", "a\r\nInjected: 1"}};
    const HP_THeader bad_name[] = {{"X\n", "a"}};
    refused += !HP_HttpServer_SendResponse(s, id, 200, nullptr, bad_value, 1, nullptr, 0) &&
               errno == EINVAL;
    refused += !HP_HttpServer_SendResponse(s, id, 200, nullptr, bad_name, 1, nullptr, 0);
    refused += !HP_HttpServer_SendResponse(s, id, 200, "OK\r\n", nullptr, 0, nullptr, 0);
    refused += !HP_HttpServer_SendResponse(s, id, 200, nullptr, nullptr, 0, nullptr, 5);
    refused += !HP_Server_Send(s, id, nullptr, 5);
    Answer(s, id, "fine");
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  const std::string response = client.ReadResponse();
  EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK") << "nothing of the refused ones went out";
  ASSERT_TRUE(recorder().WaitForEvent("handled " + std::to_string(AcceptedId())));
  EXPECT_EQ(refused, 5);
}

TEST_F(ServerTest, LocalVersionIsUsedInTheStatusLine) {
  ASSERT_TRUE(HP_Server_Stop(server_));
  HP_HttpServer_SetLocalVersion(server_, HV_1_0);
  StartServer();
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.ReadResponse().substr(0, 13), "HTTP/1.0 200 ");
}

TEST_F(ServerTest, RequestGetters) {
  struct Seen {
    std::string method, path, query, fragment, host, type, cookie_b, all_cookies, header_a;
    USHORT version = 0, field_set = 0;
    ULONGLONG length = 0;
    DWORD header_count = 0, a_values = 0;
    bool keep_alive = false;
  };
  Seen seen;
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    seen.method = HP_HttpServer_GetMethod(s, id);
    seen.path = HP_HttpServer_GetUrlField(s, id, HUF_PATH);
    seen.query = HP_HttpServer_GetUrlField(s, id, HUF_QUERY);
    seen.fragment = HP_HttpServer_GetUrlField(s, id, HUF_FRAGMENT);
    EXPECT_STREQ(HP_HttpServer_GetUrlField(s, id, HUF_HOST), "");
    EXPECT_EQ(HP_HttpServer_GetUrlField(s, id, HUF_MAX), nullptr);
    seen.field_set = HP_HttpServer_GetUrlFieldSet(s, id);
    seen.host = HP_HttpServer_GetHost(s, id);
    seen.type = HP_HttpServer_GetContentType(s, id);
    EXPECT_EQ(HP_HttpServer_GetContentEncoding(s, id), nullptr);
    seen.version = HP_HttpServer_GetVersion(s, id);
    seen.length = HP_HttpServer_GetContentLength(s, id);
    seen.keep_alive = HP_HttpServer_IsKeepAlive(s, id);
    LPCSTR value = nullptr;
    if (HP_HttpServer_GetCookie(s, id, "b", &value)) seen.cookie_b = value;
    HP_TCookie cookies[8];
    DWORD count = 8;
    if (HP_HttpServer_GetAllCookies(s, id, cookies, &count)) {
      for (DWORD i = 0; i < count; ++i) {
        seen.all_cookies += std::string(cookies[i].name) + "=" + cookies[i].value + ";";
      }
    }
    DWORD headers = 0;
    EXPECT_FALSE(HP_HttpServer_GetAllHeaders(s, id, nullptr, &headers)) << "size query";
    seen.header_count = headers;
    LPCSTR values[1];
    DWORD capacity = 1;
    EXPECT_FALSE(HP_HttpServer_GetHeaders(s, id, "x-a", values, &capacity)) << "too small";
    seen.a_values = capacity;
    if (HP_HttpServer_GetHeader(s, id, "X-A", &value)) seen.header_a = value;
    Answer(s, id);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(
      client.Send("PUT /a/b?x=1&y=2#top HTTP/1.0\r\nhost: h.example\r\nContent-Type: text/plain\r\n"
                  "X-A: 1\r\nx-a: 2\r\nCookie: a=1;  b = two ; =skipped; a=3; c\r\n"
                  "Connection: keep-alive\r\nContent-Length: 3\r\n\r\nabc"));
  ASSERT_FALSE(client.ReadResponse().empty());
  ASSERT_TRUE(recorder().WaitForEvent("handled " + std::to_string(AcceptedId())));
  EXPECT_EQ(seen.method, "PUT");
  EXPECT_EQ(seen.path, "/a/b");
  EXPECT_EQ(seen.query, "x=1&y=2");
  EXPECT_EQ(seen.fragment, "top");
  EXPECT_EQ(seen.field_set, (1 << HUF_PATH) | (1 << HUF_QUERY) | (1 << HUF_FRAGMENT));
  EXPECT_EQ(seen.host, "h.example");
  EXPECT_EQ(seen.type, "text/plain");
  EXPECT_EQ(seen.version, HV_1_0);
  EXPECT_EQ(seen.length, 3u) << "stable after the body was read";
  EXPECT_TRUE(seen.keep_alive);
  EXPECT_EQ(seen.cookie_b, "two");
  EXPECT_EQ(seen.all_cookies, "a=3;b=two;c=;");
  EXPECT_EQ(seen.header_count, 7u);
  EXPECT_EQ(seen.a_values, 2u);
  EXPECT_EQ(seen.header_a, "1");
}

TEST_F(ServerTest, ConnectionQueries) {
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  ASSERT_NE(id, 0u);
  TCHAR address[64];
  int length = sizeof address;
  USHORT port = 0;
  ASSERT_TRUE(HP_Server_GetLocalAddress(server_, id, address, &length, &port));
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(length, 10);
  EXPECT_EQ(port, port_);
  length = 4;
  EXPECT_FALSE(HP_Server_GetRemoteAddress(server_, id, address, &length, &port));
  EXPECT_EQ(length, 16) << "too small: the IPv4 size is reported";

  HP_CONNID ids[4];
  DWORD count = 0;
  EXPECT_FALSE(HP_Server_GetAllConnectionIDs(server_, ids, &count));
  EXPECT_EQ(count, 1u);
  count = 4;
  ASSERT_TRUE(HP_Server_GetAllConnectionIDs(server_, ids, &count));
  EXPECT_EQ(ids[0], id);
  int pending = -1;
  EXPECT_TRUE(HP_Server_GetPendingDataLength(server_, id, &pending));
  EXPECT_EQ(pending, 0);
  DWORD period = 0;
  EXPECT_TRUE(HP_Server_GetConnectPeriod(server_, id, &period));
  EXPECT_TRUE(HP_Server_GetSilencePeriod(server_, id, &period));
  EXPECT_FALSE(HP_Server_IsSecure(server_));

  ASSERT_TRUE(HP_Server_Disconnect(server_, id, TRUE));
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(recorder().WaitForEvent("close " + std::to_string(id) + " 5 0"));
  EXPECT_FALSE(HP_Server_IsConnected(server_, id));
  EXPECT_FALSE(HP_Server_Disconnect(server_, id, TRUE));
}

TEST_F(ServerTest, DisconnectSilenceConnections) {
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  EXPECT_FALSE(HP_Server_DisconnectSilenceConnections(server_, 0xFFFFFFFF, TRUE));
  EXPECT_TRUE(HP_Server_DisconnectSilenceConnections(server_, 60000, TRUE));
  EXPECT_TRUE(HP_Server_IsConnected(server_, id)) << "not silent for a minute";
  EXPECT_TRUE(HP_Server_DisconnectLongConnections(server_, 0, TRUE));
  EXPECT_TRUE(client.WaitClosed());
}

// Sends from several threads at once: each send arrives whole and each thread's sends in order,
// whether written at once from the caller's thread or queued behind another.
TEST_F(ServerTest, ConcurrentSendsStayWholeAndOrdered) {
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  constexpr int kThreads = 4;
  constexpr int kSends = 500;
  const auto message = [](int thread, int i) {
    char text[32];
    std::snprintf(text, sizeof text, "<%d:%04d%s>", thread, i, std::string(i % 7, '.').c_str());
    return std::string(text);
  };
  size_t total = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kSends; ++i) total += message(t, i).size();
  }
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kSends; ++i) {
        const std::string m = message(t, i);
        // Two pieces through SendPackets, so a torn packet would show.
        WSABUF parts[2] = {{1, const_cast<char*>(m.data())},
                           {static_cast<ULONG>(m.size() - 1), const_cast<char*>(m.data() + 1)}};
        ASSERT_TRUE(HP_Server_SendPackets(server_, id, parts, 2));
      }
    });
  }
  const std::string received = client.ReadBytes(total);
  for (auto& t : senders) t.join();
  ASSERT_EQ(received.size(), total);
  int next[kThreads] = {};
  size_t at = 0;
  while (at < received.size()) {
    const size_t end = received.find('>', at);
    ASSERT_NE(end, std::string::npos);
    const std::string m = received.substr(at, end + 1 - at);
    const int thread = m[1] - '0';
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << m;
    ASSERT_EQ(m, message(thread, next[thread])) << "at byte " << at;
    ++next[thread];
    at = end + 1;
  }
}

TEST_F(ServerTest, PauseReceiveHoldsDataBack) {
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(HP_Server_PauseReceive(server_, id, TRUE));
  BOOL paused = FALSE;
  ASSERT_TRUE(HP_Server_IsPauseReceive(server_, id, &paused));
  EXPECT_TRUE(paused);
  ASSERT_TRUE(client.Send("GET /late HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(client.ReadResponse(200ms).empty()) << "nothing is read while paused";
  ASSERT_TRUE(HP_Server_PauseReceive(server_, id, FALSE));
  EXPECT_FALSE(client.ReadResponse().empty());
}

class ManualStartTest : public ServerTest {
 protected:
  ManualStartTest() { start_in_setup_ = false; }
};

TEST_F(ManualStartTest, WithoutAutoStartBytesAreRawUntilStartHttp) {
  HP_HttpServer_SetHttpAutoStart(server_, FALSE);
  StartServer();
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(client.Send("hello"));
  ASSERT_TRUE(recorder().WaitForEvent("receive " + std::to_string(id) + " hello"));
  EXPECT_EQ(recorder().EventsOf(id), (Events{"accept", "receive hello"})) << "no handshake yet";

  ASSERT_TRUE(HP_HttpServer_StartHttp(server_, id));
  EXPECT_FALSE(HP_HttpServer_StartHttp(server_, id));
  EXPECT_EQ(errno, EALREADY);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.ReadResponse().empty());
  const Events events = recorder().EventsOf(id);
  EXPECT_EQ(events[2], "handshake");
  EXPECT_EQ(events[3], "begin");
}

TEST_F(ManualStartTest, StartHttpRefusedWithAutoStart) {
  StartServer();
  Client client(port_);
  const HP_CONNID id = AcceptedId();
  EXPECT_FALSE(HP_HttpServer_StartHttp(server_, id));
  EXPECT_EQ(errno, EPERM);
}

TEST_F(ManualStartTest, BadSettingsAndAddressesFailStart) {
  HP_HttpServer_SetReleaseDelay(server_, 50);
  EXPECT_FALSE(HP_Server_Start(server_, "127.0.0.1", 0));
  EXPECT_EQ(HP_Server_GetLastError(server_), SE_INVALID_PARAM);
  EXPECT_EQ(HP_Server_GetState(server_), SS_STOPPED);
  HP_HttpServer_SetReleaseDelay(server_, 3000);

  EXPECT_FALSE(HP_Server_Start(server_, "localhost", 0)) << "names are not resolved";
  EXPECT_EQ(HP_Server_GetLastError(server_), SE_SOCKET_CREATE);
  EXPECT_TRUE(recorder().WaitForEvent("shutdown")) << "a failed start runs the stop path";
  EXPECT_EQ(HP_Server_GetState(server_), SS_STOPPED);

  StartServer();
  EXPECT_FALSE(HP_Server_Start(server_, "127.0.0.1", 0)) << "already started";
  EXPECT_EQ(HP_Server_GetLastError(server_), SE_ILLEGAL_STATE);

  HP_HttpServer other = Create_HP_HttpServer(listener_);
  EXPECT_FALSE(HP_Server_Start(other, "127.0.0.1", port_)) << "port in use";
  EXPECT_EQ(HP_Server_GetLastError(other), SE_SOCKET_BIND);
  Destroy_HP_HttpServer(other);
}

TEST_F(ManualStartTest, StopInsideStartOrStopCallbacksIsRefused) {
  static std::atomic<int> nested{-1};
  HP_Set_FN_HttpServer_OnPrepareListen(listener_, [](HP_HttpServer s, UINT_PTR) {
    nested = HP_Server_Stop(s);
    return HR_OK;
  });
  HP_Set_FN_HttpServer_OnShutdown(listener_, [](HP_HttpServer s) {
    EXPECT_FALSE(HP_Server_Start(s, "127.0.0.1", 0));
    return HR_OK;
  });
  StartServer();
  EXPECT_EQ(nested, FALSE);
  EXPECT_TRUE(HP_Server_Stop(server_));
  EXPECT_EQ(HP_Server_GetState(server_), SS_STOPPED);
}

TEST_F(ManualStartTest, Ipv6LoopbackAndListenAddress) {
  if (!HP_Server_Start(server_, "::1", 0)) GTEST_SKIP() << "no IPv6 loopback here";
  TCHAR address[64];
  int length = sizeof address;
  USHORT port = 0;
  ASSERT_TRUE(HP_Server_GetListenAddress(server_, address, &length, &port));
  EXPECT_STREQ(address, "::1");
  EXPECT_EQ(length, 4);
  EXPECT_NE(port, 0);
  length = 2;
  EXPECT_FALSE(HP_Server_GetListenAddress(server_, address, &length, &port));
  EXPECT_EQ(length, 46) << "too small: the IPv6 size is reported";
}

TEST_F(ManualStartTest, SettingsAreStoredAndEchoed) {
  HP_Server_SetWorkerThreadCount(server_, 3);
  HP_Server_SetMaxConnectionCount(server_, 7);
  HP_TcpServer_SetSocketBufferSize(server_, 512);
  HP_TcpServer_SetKeepAliveTime(server_, 0);
  HP_Server_SetFreeBufferObjHold(server_, 5);
  HP_Server_SetSendPolicy(server_, SP_DIRECT);
  EXPECT_EQ(HP_Server_GetWorkerThreadCount(server_), 3u);
  EXPECT_EQ(HP_Server_GetMaxConnectionCount(server_), 7u);
  EXPECT_EQ(HP_TcpServer_GetSocketBufferSize(server_), 512u);
  EXPECT_EQ(HP_TcpServer_GetKeepAliveTime(server_), 0u);
  EXPECT_EQ(HP_Server_GetFreeBufferObjHold(server_), 5u);
  EXPECT_EQ(HP_Server_GetSendPolicy(server_), SP_DIRECT);
  EXPECT_EQ(HP_HttpServer_GetReleaseDelay(server_), 3000u);
  EXPECT_TRUE(HP_HttpServer_IsHttpAutoStart(server_));
  EXPECT_EQ(HP_HttpServer_GetLocalVersion(server_), HV_1_1);
  StartServer();
}

TEST_F(ManualStartTest, MaxConnectionCountClosesExtraSocketsSilently) {
  HP_Server_SetMaxConnectionCount(server_, 1);
  StartServer();
  Client first(port_);
  ASSERT_NE(AcceptedId(1), 0u);
  Client second(port_);
  EXPECT_TRUE(second.WaitClosed());
  EXPECT_EQ(HP_Server_GetConnectionCount(server_), 1u);
}

TEST_F(ManualStartTest, SmallSocketBufferLimitsBodyPieces) {
  HP_TcpServer_SetSocketBufferSize(server_, 64);
  StartServer();
  Client client(port_);
  const std::string body(1000, 'b');
  ASSERT_TRUE(client.Send("POST / HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" + body));
  ASSERT_FALSE(client.ReadResponse().empty());
  std::lock_guard lock(recorder().mutex);
  EXPECT_EQ(recorder().body_bytes, 1000u);
  EXPECT_LE(recorder().largest_body_piece, 64);
}

}  // namespace
}  // namespace quillmere::testing
