// Test support for the HTTP server engine: a loopback client with timeouts, and a fixture that
// runs a server on 127.0.0.1 (port chosen by the OS) whose callbacks record every event.
#ifndef QUILLMERE_TESTS_HPSOCKET_SERVER_TEST_SUPPORT_H
#define QUILLMERE_TESTS_HPSOCKET_SERVER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "hpsocket/HPSocket4C.h"

namespace quillmere::testing {

using namespace std::chrono_literals;

/// A blocking TCP client on 127.0.0.1 whose reads give up after a timeout.
class Client {
 public:
  explicit Client(USHORT port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return fd_ >= 0; }
  /// Writes all of `bytes`; false on error.
  bool Send(std::string_view bytes);
  /// Reads one response (head and Content-Length body) and returns it whole; "" on timeout
  /// or close before it was complete.
  std::string ReadResponse(std::chrono::milliseconds timeout = 5s);
  /// Reads exactly `n` bytes (fewer on timeout or close).
  std::string ReadBytes(size_t n, std::chrono::milliseconds timeout = 5s);
  /// True when the server closed the connection (EOF or reset) within the timeout; bytes
  /// that still arrive are appended to `rest`.
  bool WaitClosed(std::chrono::milliseconds timeout = 5s, std::string* rest = nullptr);
  /// Shuts down the write side (the server sees EOF).
  void ShutdownWrite();
  /// Closes with a reset instead of a FIN.
  void Reset();
  void Close();
  int fd() const { return fd_; }

 private:
  // Appends what arrives within the deadline to buffer_; false on close, error or timeout.
  bool Fill(std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  std::string buffer_;  // received, not yet returned
};

/// What the recording callbacks saw. One global instance per test (the callbacks are plain
/// function pointers); every member is guarded by `mutex`.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;  // e.g. "begin 3", "line 3 GET /x", "close 3 5 0"
  /// Runs in OnMessageComplete; the default answers "ok" at once and releases when not
  /// keep-alive.
  std::function<En_HP_HttpParseResult(HP_HttpServer, HP_CONNID)> on_complete;
  std::function<En_HP_HttpParseResult(HP_HttpServer, HP_CONNID)> on_headers_complete;
  /// Decides OnBody's result from the piece's length; HPR_OK when unset.
  std::function<En_HP_HttpParseResult(HP_HttpServer, HP_CONNID, int)> on_body;
  std::function<En_HP_HttpParseResult(HP_HttpServer, HP_CONNID, En_HP_HttpUpgradeType)> on_upgrade;
  std::function<En_HP_HandleResult(HP_HttpServer, HP_CONNID, const BYTE*, int)> on_receive;
  std::function<void(HP_HttpServer, HP_CONNID)> on_accept;
  std::function<void(HP_HttpServer, HP_CONNID)> on_close;
  bool record_body = true;  // "body" events; off for large bodies
  size_t body_bytes = 0;
  int largest_body_piece = 0;

  void Add(std::string event);
  /// Waits until `done(events)` holds; false after the timeout.
  bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& done,
               std::chrono::milliseconds timeout = 5s);
  /// Waits until an event equal to `event` was recorded.
  bool WaitForEvent(const std::string& event, std::chrono::milliseconds timeout = 5s);
  /// Events of one connection, without the connection id ("begin", "line GET /x", …).
  std::vector<std::string> EventsOf(HP_CONNID id);
  std::vector<std::string> Snapshot();
  void Clear();
};

/// Polls `condition` until it holds (for state the engine reports without an event, such as
/// the table entry that goes just after OnClose); false after the timeout.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

/// Answers a request the way most tests want: 200, body `body`, release when not keep-alive.
void Answer(HP_HttpServer server, HP_CONNID id, std::string_view body = "ok");

/// A started server with every callback installed and recording into `recorder()`.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// Creates the server without starting it (for tests that change settings first).
  void Create();
  /// Starts on 127.0.0.1 port 0 and reads the port back.
  void StartServer();
  Recorder& recorder() { return *recorder_; }
  /// The id of the n-th accepted connection (1-based), waiting for it.
  HP_CONNID AcceptedId(size_t n = 1);

  HP_HttpServerListener listener_ = nullptr;
  HP_HttpServer server_ = nullptr;
  USHORT port_ = 0;
  bool start_in_setup_ = true;

 private:
  std::unique_ptr<Recorder> recorder_;
};

}  // namespace quillmere::testing

#endif  // QUILLMERE_TESTS_HPSOCKET_SERVER_TEST_SUPPORT_H
