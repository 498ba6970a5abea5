// Whatever a client sends ends in a parse error or a close: oversized headers, large bodies,
// half-closed and reset sockets, clients that stop reading, bytes after the last request,
// random garbage. Other connections keep being served and nothing is left behind.
#include <errno.h>
#include <http_parser.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "hpsocket/server.h"
#include "tests/hpsocket/server_test_support.h"

namespace quillmere::testing {
namespace {

using Events = std::vector<std::string>;

std::string CloseEvent(HP_CONNID id, int op, int error) {
  return "close " + std::to_string(id) + " " + std::to_string(op) + " " + std::to_string(error);
}

bool HasPrefix(const Events& events, const std::string& prefix) {
  return std::any_of(events.begin(), events.end(),
                     [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

TEST_F(ServerTest, HeadersOver80KiBAreAParseError) {
  Client client(port_);
  client.Send("GET / HTTP/1.1\r\nX-Big: " + std::string(100 * 1024, 'a') + "\r\n\r\n");
  EXPECT_TRUE(client.WaitClosed());
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(id, SO_RECEIVE, ECANCELED)));
  const Events events = recorder().EventsOf(id);
  EXPECT_TRUE(HasPrefix(events, "parse-error " + std::to_string(HPE_HEADER_OVERFLOW)));
  EXPECT_FALSE(HasPrefix(events, "complete"));
}

TEST_F(ServerTest, LargeBodyIsStreamedInPieces) {
  {
    std::lock_guard lock(recorder().mutex);
    recorder().record_body = false;
  }
  constexpr size_t kSize = 8 * 1024 * 1024;
  Client client(port_);
  ASSERT_TRUE(
      client.Send("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n"));
  const std::string piece(64 * 1024, 'z');
  for (size_t sent = 0; sent < kSize; sent += piece.size()) ASSERT_TRUE(client.Send(piece));
  EXPECT_FALSE(client.ReadResponse().empty());
  std::lock_guard lock(recorder().mutex);
  EXPECT_EQ(recorder().body_bytes, kSize);
  EXPECT_LE(recorder().largest_body_piece, 4096) << "one socket read at most";
}

TEST_F(ServerTest, HalfClosedClientGetsItsAnswerThenTheClose) {
  std::atomic<HP_CONNID> waiting{0};
  recorder().on_complete = [&](HP_HttpServer, HP_CONNID id) {
    waiting = id;  // answered later from the test thread
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET /late HTTP/1.1\r\n\r\n"));
  client.ShutdownWrite();
  ASSERT_TRUE(Eventually([&] { return waiting != 0; }));
  Answer(server_, waiting, "late");
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: keep-alive\r\n\r\nlate");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(recorder().WaitForEvent(CloseEvent(waiting, SO_CLOSE, 0)));
}

TEST_F(ServerTest, ResetInTheMiddleOfARequest) {
  Client client(port_);
  ASSERT_TRUE(client.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\npartial"));
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent("body " + std::to_string(id) + " partial"));
  client.Reset();
  ASSERT_TRUE(recorder().WaitFor(
      [&](const Events& all) { return HasPrefix(all, "close " + std::to_string(id) + " "); }));
  EXPECT_FALSE(HasPrefix(recorder().EventsOf(id), "complete"));
  EXPECT_TRUE(Eventually([&] { return HP_Server_GetConnectionCount(server_) == 0; }));
}

// The application still holds the request when the client goes away; its late calls fail
// cleanly and reading the request meanwhile is safe.
TEST_F(ServerTest, ResetWhileTheAnswerIsPending) {
  std::atomic<HP_CONNID> waiting{0};
  recorder().on_complete = [&](HP_HttpServer, HP_CONNID id) {
    waiting = id;
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET /gone HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(Eventually([&] { return waiting != 0; }));
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      if (const char* path = HP_HttpServer_GetUrlField(server_, waiting, HUF_PATH)) {
        EXPECT_STREQ(path, "/gone");
      }
      HP_HttpServer_IsKeepAlive(server_, waiting);
    }
  });
  client.Reset();
  ASSERT_TRUE(recorder().WaitFor(
      [&](const Events& all) { return HasPrefix(all, "close " + std::to_string(waiting) + " "); }));
  stop = true;
  reader.join();
  ASSERT_TRUE(Eventually([&] { return HP_Server_GetConnectionCount(server_) == 0; }));
  EXPECT_FALSE(HP_HttpServer_SendResponse(server_, waiting, 200, nullptr, nullptr, 0, nullptr, 0));
  EXPECT_EQ(errno, EBADSLT);
  EXPECT_FALSE(HP_HttpServer_Release(server_, waiting));
}

TEST_F(ServerTest, ClientThatStopsReadingDoesNotStallOthers) {
  const std::string big(1024 * 1024, 'r');
  std::atomic<bool> big_answers{true};
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    Answer(s, id, big_answers ? std::string_view(big) : std::string_view("ok"));
    return HPR_OK;
  };
  Client greedy(port_);
  const HP_CONNID id = AcceptedId();
  std::string batch;
  for (int i = 0; i < 200; ++i) batch += "GET / HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(greedy.Send(batch));
  // The engine stops parsing once more than a megabyte waits in its queue.
  int pending = 0;
  ASSERT_TRUE(Eventually([&] {
    return HP_Server_GetPendingDataLength(server_, id, &pending) && pending > 1024 * 1024;
  }));

  big_answers = false;  // small answers for the others
  Client other(port_);
  ASSERT_TRUE(other.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(other.ReadResponse().empty());
  ASSERT_TRUE(recorder().WaitForEvent("handled " + std::to_string(AcceptedId(2))));

  ASSERT_TRUE(HP_Server_GetPendingDataLength(server_, id, &pending));
  EXPECT_LE(pending, 3 * 1024 * 1024) << "the queue stays bounded";
  size_t completed = 0;
  for (const std::string& e : recorder().EventsOf(id)) completed += e == "complete";
  EXPECT_LT(completed, 200u) << "parsing waits for the queue to drain";

  greedy.Reset();
  ASSERT_TRUE(recorder().WaitFor(
      [&](const Events& all) { return HasPrefix(all, "close " + std::to_string(id) + " "); }));
}

TEST_F(ServerTest, BytesAfterARequestThatIsNotKeptAlive) {
  recorder().on_complete = [](HP_HttpServer s, HP_CONNID id) {
    // Answer without releasing: the engine itself refuses what follows.
    HP_HttpServer_SendResponse(s, id, 200, nullptr, nullptr, 0,
                               reinterpret_cast<const BYTE*>("done"), 4);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\nConnection: close\r\n\r\nXYZ"));
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\ndone")
      << "the answer goes out before the close";
  EXPECT_TRUE(client.WaitClosed());
  const HP_CONNID id = AcceptedId();
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(id, SO_RECEIVE, ECANCELED)));
  EXPECT_TRUE(
      HasPrefix(recorder().EventsOf(id), "parse-error " + std::to_string(HPE_CLOSED_CONNECTION)));
}

TEST_F(ServerTest, ReleaseForcesTheCloseWhenTheQueueDoesNotDrain) {
  ASSERT_TRUE(HP_Server_Stop(server_));
  HP_HttpServer_SetReleaseDelay(server_, 100);
  StartServer();
  const std::string huge(32 * 1024 * 1024, 'h');
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    Answer(s, id, huge);
    HP_HttpServer_Release(s, id);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  const HP_CONNID id = AcceptedId();
  // The client reads nothing, so the queue cannot drain; the release delay ends it.
  ASSERT_TRUE(recorder().WaitFor(
      [&](const Events& all) { return HasPrefix(all, "close " + std::to_string(id) + " "); }));
  EXPECT_TRUE(client.WaitClosed());
}

TEST_F(ServerTest, IncomingDataOnAReleasedConnectionClosesIt) {
  recorder().on_complete = [](HP_HttpServer s, HP_CONNID id) {
    // Released although keep-alive; the answer is written before anything else happens.
    Answer(s, id, "x");
    HP_HttpServer_Release(s, id);
    return HPR_OK;
  };
  Client client(port_);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\nGET /more HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(client.ReadResponse().empty());
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(AcceptedId(), SO_CLOSE, 0)));
  const Events events = recorder().EventsOf(AcceptedId());
  EXPECT_EQ(std::count(events.begin(), events.end(), "complete"), 1)
      << "the waiting request is not parsed after the release";
}

TEST_F(ServerTest, CallbackResultsThatStopParsing) {
  // HPR_ERROR from OnHeadersComplete or OnBody is a parse error; OnUpgrade refusing closes
  // silently.
  recorder().on_headers_complete = [](HP_HttpServer s, HP_CONNID id) {
    LPCSTR value = nullptr;
    return HP_HttpServer_GetHeader(s, id, "X-Fail", &value) ? HPR_ERROR : HPR_OK;
  };
  recorder().on_upgrade = [](HP_HttpServer, HP_CONNID, En_HP_HttpUpgradeType) { return HPR_ERROR; };
  Client failing(port_);
  ASSERT_TRUE(failing.Send("GET / HTTP/1.1\r\nX-Fail: 1\r\n\r\n"));
  EXPECT_TRUE(failing.WaitClosed());
  const HP_CONNID first = AcceptedId(1);
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(first, SO_RECEIVE, ECANCELED)));
  EXPECT_TRUE(HasPrefix(recorder().EventsOf(first),
                        "parse-error " + std::to_string(HPE_CB_headers_complete)));

  Client upgrading(port_);
  ASSERT_TRUE(upgrading.Send("CONNECT h:1 HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(upgrading.WaitClosed());
  const HP_CONNID second = AcceptedId(2);
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(second, SO_RECEIVE, ECANCELED)));
  EXPECT_FALSE(HasPrefix(recorder().EventsOf(second), "parse-error"));

  recorder().on_body = [](HP_HttpServer, HP_CONNID, int) { return HPR_ERROR; };
  Client refusedBody(port_);
  ASSERT_TRUE(refusedBody.Send("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"));
  EXPECT_TRUE(refusedBody.WaitClosed());
  const HP_CONNID third = AcceptedId(3);
  ASSERT_TRUE(recorder().WaitForEvent(CloseEvent(third, SO_RECEIVE, ECANCELED)));
  EXPECT_TRUE(HasPrefix(recorder().EventsOf(third), "parse-error " + std::to_string(HPE_CB_body)));
  EXPECT_FALSE(HasPrefix(recorder().EventsOf(third), "complete")) << "the request never completes";
}

TEST_F(ServerTest, RandomGarbageNeverHurtsTheServer) {
  std::mt19937 random(12345);
  const std::string prefixes[] = {"", "GET / HTTP/1.1\r\n",
                                  "POST / HTTP/1.1\r\nContent-Length: 3\r\n",
                                  "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"};
  for (int i = 0; i < 200; ++i) {
    std::string junk = prefixes[i % 4];
    const size_t length = random() % 300;
    for (size_t j = 0; j < length; ++j) junk += static_cast<char>(random() % 256);
    Client client(port_);
    client.Send(junk);
    if (i % 3 == 0) {
      client.Reset();
    } else {
      client.Close();
    }
  }
  EXPECT_TRUE(Eventually([&] { return HP_Server_GetConnectionCount(server_) == 0; }));
  Client fine(port_);
  ASSERT_TRUE(fine.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(fine.ReadResponse().empty());
}

TEST_F(ServerTest, BlockingCallbackDoesNotStallOtherConnections) {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  recorder().on_complete = [&](HP_HttpServer s, HP_CONNID id) {
    if (std::string(HP_HttpServer_GetUrlField(s, id, HUF_PATH)) == "/block") {
      std::unique_lock lock(mutex);
      cv.wait(lock, [&] { return release; });
    }
    Answer(s, id);
    return HPR_OK;
  };
  // An idle server's watcher sleeps until a callback starts; the blocking one must wake it.
  std::this_thread::sleep_for(5 * kStallCheck);
  Client blocking(port_);
  ASSERT_TRUE(blocking.Send("GET /block HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(recorder().WaitForEvent("complete " + std::to_string(AcceptedId(1))));
  for (int i = 0; i < 3; ++i) {
    Client other(port_);
    ASSERT_TRUE(other.Send("GET /free HTTP/1.1\r\n\r\n"));
    EXPECT_FALSE(other.ReadResponse().empty()) << "served while another callback blocks";
  }
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  EXPECT_FALSE(blocking.ReadResponse().empty());
  ASSERT_TRUE(recorder().WaitForEvent("handled " + std::to_string(AcceptedId(1))));
}

TEST_F(ServerTest, RejectedAcceptGivesNoFurtherEvents) {
  ASSERT_TRUE(HP_Server_Stop(server_));
  static std::atomic<int> accepts{0};
  accepts = 0;
  HP_Set_FN_HttpServer_OnAccept(listener_, [](HP_HttpServer, HP_CONNID, UINT_PTR) {
    ++accepts;
    return HR_ERROR;
  });
  StartServer();
  Client client(port_);
  client.Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(Eventually([&] { return HP_Server_GetConnectionCount(server_) == 0; }));
  EXPECT_EQ(accepts, 1);
  const Events events = recorder().Snapshot();
  EXPECT_FALSE(HasPrefix(events, "close ")) << "no OnClose for a rejected connection";
  EXPECT_FALSE(HasPrefix(events, "begin "));
}

}  // namespace
}  // namespace quillmere::testing
