// A small HTTP/1.1 server on 127.0.0.1 for tests: it records every request exactly as it came
// (method, target, headers in their order, body, the raw head) and answers with canned bytes.
//
// Written on plain sockets rather than cpp-httplib because cpp-httplib keeps request headers in a
// sorted map, which loses the order a client sent them in; here the bytes are kept.
#ifndef QUILLMERE_TESTS_WEB_RECORDING_SERVER_FIXTURE_H
#define QUILLMERE_TESTS_WEB_RECORDING_SERVER_FIXTURE_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::testing {

/// One request as the server read it.
struct RecordedRequest {
  std::string method;
  std::string target;  // as written in the request line: a path, or a full URL for a proxy
  std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
  std::string body;
  std::string head;  // the raw bytes up to and including the blank line

  /// The value of the first header named `name` (ASCII case-insensitive), if any.
  std::optional<std::string> Header(std::string_view name) const;
  /// The names of all headers, in order.
  std::vector<std::string> HeaderNames() const;
};

/// A whole response: status line, `headerLines` (each ending in CR LF), Content-Length of `body`
/// (unless `headerLines` has one), blank line, and the body (left out for HEAD requests).
std::string HttpResponse(const RecordedRequest& request, int status, std::string_view headerLines,
                         std::string_view body = {});

/// Answers a request with raw response bytes, or std::nullopt to never answer it (the connection
/// is held open, silent, until the client gives up or the server stops).
using Responder = std::function<std::optional<std::string>(const RecordedRequest&)>;

/// Listens on 127.0.0.1 at a port the system chooses, from construction until destruction. Each
/// connection gets its own thread and may carry several requests (keep-alive); a response that
/// says "Connection: close" ends it. Safe from any thread.
class RecordingServer {
 public:
  /// The default responder answers 200 with an empty body.
  explicit RecordingServer(Responder responder = {});
  ~RecordingServer();
  RecordingServer(const RecordingServer&) = delete;
  RecordingServer& operator=(const RecordingServer&) = delete;

  int port() const { return port_; }
  /// "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view path = "/") const;
  /// "127.0.0.1:<port>", for use as a proxy server.
  std::string HostPort() const;

  void SetResponder(Responder responder);
  /// Every request recorded so far, in the order they were read.
  std::vector<RecordedRequest> Requests() const;
  /// The number of connections accepted so far.
  int Connections() const;
  /// Waits until the client has closed at least `count` connections (the server read their end),
  /// or `limit` has passed; true when it has.
  bool WaitForClientCloses(int count,
                           std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

 private:
  void AcceptLoop();
  // Answers the requests of one connection; true when it ended because the client closed it.
  bool Serve(int fd);
  bool WaitReadable(int fd);

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};  // a pipe; writing to it wakes every poll when stopping
  int port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mutex_;  // guards everything below
  Responder responder_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> connectionThreads_;
  std::vector<int> connectionFds_;
  int connections_ = 0;
  int clientCloses_ = 0;
  mutable std::condition_variable clientClosed_;  // signalled when clientCloses_ grows
};

/// A port on 127.0.0.1 that refuses connections: bound, never listening, for as long as this
/// object lives, so nothing else can take it meanwhile.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  int port() const { return port_; }
  std::string Url(std::string_view path = "/") const;

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace quillmere::testing

#endif  // QUILLMERE_TESTS_WEB_RECORDING_SERVER_FIXTURE_H
