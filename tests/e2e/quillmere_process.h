// The real program for end-to-end tests: a copy of the built quillmere run in a directory of its
// own (so its run log lands there), with its standard output and error captured; a clock server
// in the test process; and a raw HTTP client on loopback.
#ifndef QUILLMERE_TESTS_E2E_QUILLMERE_PROCESS_H
#define QUILLMERE_TESTS_E2E_QUILLMERE_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillmere::e2e {

/// How long any wait of these helpers lasts at most; generous for the sanitizer builds.
inline constexpr std::chrono::seconds kPatience{20};

/// A local stand-in for the clock server: answers every GET and HEAD with 200 and the fixed
/// header "Date: Sun, 22 Sep 2019 08:00:00 GMT" (Unix time kClockUnixTime). Listens on 127.0.0.1
/// at a port the system chooses from construction to destruction.
class ClockServer {
 public:
  static constexpr std::string_view kDate = "Sun, 22 Sep 2019 08:00:00 GMT";
  static constexpr std::string_view kClockUnixTime = "1569139200";

  ClockServer();
  ~ClockServer();
  ClockServer(const ClockServer&) = delete;
  ClockServer& operator=(const ClockServer&) = delete;

  /// "http://127.0.0.1:<port>/".
  std::string Url() const;
  /// HEAD requests answered so far.
  int Requests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// One run of the program: the built executable copied into a new temporary directory and
/// started there with `args`. Standard output is collected line by line (the "\n" removed),
/// standard error as a whole. The destructor kills a run still going and removes the directory.
class QuillmereProcess {
 public:
  explicit QuillmereProcess(std::vector<std::string> args);
  ~QuillmereProcess();
  QuillmereProcess(const QuillmereProcess&) = delete;
  QuillmereProcess& operator=(const QuillmereProcess&) = delete;

  /// Waits for the line "quillmere: listening on <address>:<port>" on standard error and gives
  /// the port; 0 when the program exits or kPatience passes first.
  std::uint16_t WaitUntilListening();

  /// Sends `signal` and waits for the program to end; see Wait.
  int Stop(int signal);
  /// Waits for the program to end (kPatience at most, then it is killed): its exit code, or
  /// 128 + the signal that ended it.
  int Wait();

  /// Waits until at least `count` lines have come on standard output; false after kPatience.
  bool WaitForLines(std::size_t count);
  std::vector<std::string> Lines() const;
  std::string Stderr() const;

  const std::filesystem::path& directory() const { return directory_; }
  pid_t pid() const { return pid_; }
  /// The bytes of 运行日志.txt beside the copy; empty when there is none.
  std::string RunLog() const;
  bool HasRunLog() const;

 private:
  void Collect(int fd, bool lines);

  std::filesystem::path directory_;
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  std::thread stdoutReader_;
  std::thread stderrReader_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::string partialLine_;
  std::string stderr_;
  int openStreams_ = 2;
};

/// One response as read off the wire.
struct Response {
  std::string head;  // status line and headers, up to and including the blank line
  std::string body;
  std::string status() const { return head.substr(0, head.find("\r\n")); }
  /// The whole response as it came.
  std::string raw() const { return head + body; }
};

/// A blocking TCP client connection to 127.0.0.1:`port`; every read gives up after kPatience.
class Connection {
 public:
  explicit Connection(std::uint16_t port);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool connected() const { return fd_ >= 0; }
  /// Writes all of `bytes`.
  bool Send(std::string_view bytes);
  /// Reads one response: the head, then as many body bytes as its Content-Length says (none for
  /// the answer to a HEAD request). Nothing when the connection ends or stalls first.
  std::optional<Response> ReadResponse(bool toHead = false);
  /// Reads exactly `count` bytes; fewer when the connection ends or stalls first.
  std::string Read(std::size_t count);
  /// True when the peer closes the connection (after any bytes still to come, which are
  /// returned in `rest` when given).
  bool WaitForClose(std::string* rest = nullptr);
  /// Closes the connection at once with a reset (RST) rather than an orderly end.
  void Reset();

 private:
  bool Fill();  // reads more into buffered_; false at the end or on a stall

  int fd_ = -1;
  std::string buffered_;
};

}  // namespace quillmere::e2e

#endif  // QUILLMERE_TESTS_E2E_QUILLMERE_PROCESS_H
