#include "tests/e2e/quillmere_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

extern char** environ;

namespace quillmere::e2e {
namespace {

// 运行日志.txt in UTF-8, as the file is named on disk.
constexpr std::string_view kRunLogFileName = "\xE8\xBF\x90\xE8\xA1\x8C\xE6\x97\xA5\xE5\xBF\x97.txt";

constexpr int kPatienceMs =
    static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kPatience).count());

}  // namespace

// ---------------------------------------------------------------------------------- clock --

struct ClockServer::State {
  httplib::Server server;
  std::thread thread;
  int port = -1;
  std::atomic<int> requests{0};
};

ClockServer::ClockServer() : state_(std::make_unique<State>()) {
  state_->server.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
    if (request.method == "HEAD") ++state_->requests;
    response.set_header("Date", std::string(kDate));
  });
  state_->port = state_->server.bind_to_any_port("127.0.0.1");
  if (state_->port < 0) throw std::runtime_error("clock server: cannot bind");
  state_->thread = std::thread([this] { state_->server.listen_after_bind(); });
  // stop() only reaches a server that runs; the library offers nothing to wait on.
  while (!state_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ClockServer::~ClockServer() {
  state_->server.stop();
  state_->thread.join();
}

std::string ClockServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/";
}

int ClockServer::Requests() const {
  return state_->requests.load();
}

// -------------------------------------------------------------------------------- process --

QuillmereProcess::QuillmereProcess(std::vector<std::string> args) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillmere_e2e_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a directory");
  directory_ = pattern;
  // A hard link when the build and the temporary directory share a file system, else a copy:
  // either way the program finds itself (and its run log's place) in the new directory.
  const std::filesystem::path program = directory_ / "quillmere";
  std::error_code linkError;
  std::filesystem::create_hard_link(QUILLMERE_EXECUTABLE, program, linkError);
  if (linkError) std::filesystem::copy_file(QUILLMERE_EXECUTABLE, program);

  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make pipes");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> argvText{program.string()};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    ::close(out[0]);
    ::close(err[0]);
    pid_ = -1;
    throw std::runtime_error("cannot start quillmere");
  }
  stdoutReader_ = std::thread([this, fd = out[0]] { Collect(fd, true); });
  stderrReader_ = std::thread([this, fd = err[0]] { Collect(fd, false); });
}

QuillmereProcess::~QuillmereProcess() {
  if (pid_ > 0 && !exitCode_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (stdoutReader_.joinable()) stdoutReader_.join();
  if (stderrReader_.joinable()) stderrReader_.join();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void QuillmereProcess::Collect(int fd, bool lines) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard lock(mutex_);
    if (!lines) {
      stderr_.append(buffer, static_cast<std::size_t>(n));
    } else {
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
          lines_.push_back(std::move(partialLine_));
          partialLine_.clear();
        } else {
          partialLine_ += buffer[i];
        }
      }
    }
    changed_.notify_all();
  }
  ::close(fd);
  std::lock_guard lock(mutex_);
  --openStreams_;
  changed_.notify_all();
}

std::uint16_t QuillmereProcess::WaitUntilListening() {
  static const std::regex listening("quillmere: listening on [^\\n]*:([0-9]+)\\n");
  std::unique_lock lock(mutex_);
  std::smatch match;
  changed_.wait_for(lock, kPatience, [&] {
    return std::regex_search(stderr_, match, listening) || openStreams_ == 0;
  });
  if (!std::regex_search(stderr_, match, listening)) return 0;
  return static_cast<std::uint16_t>(std::stoi(match[1].str()));
}

int QuillmereProcess::Stop(int signal) {
  if (pid_ > 0 && !exitCode_) ::kill(pid_, signal);
  return Wait();
}

int QuillmereProcess::Wait() {
  if (exitCode_) return *exitCode_;
  {
    // The program's end closes both pipes; a program that hangs is killed.
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kPatience, [&] { return openStreams_ == 0; })) {
      ::kill(pid_, SIGKILL);
    }
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return *exitCode_;
}

bool QuillmereProcess::WaitForLines(std::size_t count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] {
    return lines_.size() >= count || openStreams_ == 0;
  }) && lines_.size() >= count;
}

std::vector<std::string> QuillmereProcess::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string QuillmereProcess::Stderr() const {
  std::lock_guard lock(mutex_);
  return stderr_;
}

std::string QuillmereProcess::RunLog() const {
  std::ifstream file(directory_ / std::string(kRunLogFileName), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

bool QuillmereProcess::HasRunLog() const {
  return std::filesystem::exists(directory_ / std::string(kRunLogFileName));
}

// ----------------------------------------------------------------------------- connection --

Connection::Connection(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::Send(std::string_view bytes) {
  while (fd_ >= 0 && !bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return fd_ >= 0;
}

bool Connection::Fill() {
  if (fd_ < 0) return false;
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, kPatienceMs) <= 0) return false;
  char buffer[8192];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  buffered_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

void Connection::Reset() {
  if (fd_ < 0) return;
  const linger abort{.l_onoff = 1, .l_linger = 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd_);
  fd_ = -1;
}

std::optional<Response> Connection::ReadResponse(bool toHead) {
  std::size_t end;
  while ((end = buffered_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return std::nullopt;
  }
  Response response;
  response.head = buffered_.substr(0, end + 4);
  buffered_.erase(0, end + 4);
  std::size_t length = 0;
  static const std::regex contentLength("\r\nContent-Length: *([0-9]+)\r\n", std::regex::icase);
  std::smatch match;
  if (!toHead && std::regex_search(response.head, match, contentLength)) {
    length = std::stoul(match[1].str());
  }
  response.body = Read(length);
  if (response.body.size() != length) return std::nullopt;
  return response;
}

std::string Connection::Read(std::size_t count) {
  while (buffered_.size() < count && Fill()) {
  }
  std::string bytes = buffered_.substr(0, count);
  buffered_.erase(0, bytes.size());
  return bytes;
}

bool Connection::WaitForClose(std::string* rest) {
  if (fd_ < 0) return true;
  for (;;) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, kPatienceMs) <= 0) return false;
    char buffer[8192];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      buffered_.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (rest) *rest = std::move(buffered_);
    return true;  // the end of the stream, or a reset
  }
}

}  // namespace quillmere::e2e
