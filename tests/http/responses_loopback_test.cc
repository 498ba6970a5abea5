// The response methods over the real engine on 127.0.0.1: the exact bytes a client receives.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "http/responses.h"
#include "http/server_component.h"

namespace quillmere {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kChunk = 4 * 1024 * 1024;
constexpr auto kWaitLimit = 10s;

// File contents: the byte at position p is 'a' + p % 26, so any piece can be checked alone.
constexpr std::size_t kPatternPeriod = 26;
std::string PatternBlock(std::size_t periods) {
  std::string block(periods * kPatternPeriod, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  return block;
}

// The connection whose request is complete, handed from the engine's thread to the test.
struct CompletedRequests {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<HP_CONNID> ids;
};
CompletedRequests completed;

En_HP_HttpParseResult OnMessageComplete(HP_HttpServer, HP_CONNID connID) {
  std::lock_guard lock(completed.mutex);
  completed.ids.push_back(connID);
  completed.changed.notify_all();
  return HPR_OK;
}

// A blocking loopback client with a receive timeout, so a broken server fails the test instead
// of hanging it.
class Client {
 public:
  explicit Client(USHORT port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }

  bool SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  /// The head up to and including the blank line; the bytes read past it are kept for ReadBody.
  std::string ReadHead() {
    for (;;) {
      const std::size_t end = pending_.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::string head = pending_.substr(0, end + 4);
        pending_.erase(0, end + 4);
        return head;
      }
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return "incomplete head: " + pending_;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  /// Reads `length` body bytes and passes them on in pieces; false when the stream ends early.
  template <typename Piece>
  bool ReadBody(std::int64_t length, Piece piece, std::size_t pieceSize = 256 * 1024) {
    std::int64_t done = 0;
    if (!pending_.empty()) {
      const auto n = std::min<std::int64_t>(length, static_cast<std::int64_t>(pending_.size()));
      piece(pending_.data(), static_cast<std::size_t>(n), done);
      pending_.erase(0, static_cast<std::size_t>(n));
      done = n;
    }
    std::vector<char> buffer(pieceSize);
    while (done < length) {
      const auto want = static_cast<std::size_t>(
          std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buffer.size())));
      const ssize_t n = ::recv(fd_, buffer.data(), want, 0);
      if (n <= 0) return false;
      piece(buffer.data(), static_cast<std::size_t>(n), done);
      done += n;
    }
    return true;
  }

  /// Reads a body of `length` bytes whole.
  std::string ReadBody(std::int64_t length) {
    std::string body;
    ReadBody(length, [&](const char* data, std::size_t n, std::int64_t) { body.append(data, n); });
    return body;
  }

 private:
  int fd_;
  bool connected_ = false;
  std::string pending_;
};

// The Content-Length a head announces, or -1.
std::int64_t ContentLength(const std::string& head) {
  const std::string name = "\r\nContent-Length: ";
  const std::size_t at = head.find(name);
  return at == std::string::npos ? -1 : std::atoll(head.c_str() + at + name.size());
}

// Resident memory of this process in bytes, from /proc/self/status.
std::int64_t ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
  }
  return -1;
}

class ResponsesLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard lock(completed.mutex);
      completed.ids.clear();
    }
    ASSERT_TRUE(component.SetOnMessageComplete(&OnMessageComplete));
    server = component.CreateServer();
    ASSERT_TRUE(IsServerHandle(server));
    ASSERT_TRUE(component.Start(server, "127.0.0.1", 0)) << component.GetLastErrorDesc(server);
    std::string address;
    ASSERT_TRUE(component.GetListenAddress(server, address, port));
    ASSERT_EQ(address, "127.0.0.1");

    char pattern[] = "/tmp/quillmere-http-loop-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory = pattern;
  }

  void TearDown() override {
    client.reset();
    component.Stop(server);
    component.DestroyServer(server);
    component.DestroyListener();
    std::filesystem::remove_all(directory);
  }

  /// Connects, sends one GET and waits until the engine reports it complete; its connection ID.
  HP_CONNID Request() {
    std::size_t before = 0;
    {
      std::lock_guard lock(completed.mutex);
      before = completed.ids.size();
    }
    client.emplace(port);
    EXPECT_TRUE(client->connected());
    EXPECT_TRUE(client->SendAll("GET /file HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    std::unique_lock lock(completed.mutex);
    const bool arrived =
        completed.changed.wait_for(lock, kWaitLimit, [&] { return completed.ids.size() > before; });
    EXPECT_TRUE(arrived) << "the request never completed";
    return arrived ? completed.ids.back() : 0;
  }

  std::string MakeFile(const std::string& name, std::int64_t size) {
    const std::string path = directory + "/" + name;
    std::ofstream out(path, std::ios::binary);
    const std::string block = PatternBlock(4096);
    for (std::int64_t left = size; left > 0;) {
      const auto n = std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size()));
      out.write(block.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    return path;
  }

  HttpServerComponent component;
  HP_HttpServer server = nullptr;
  USHORT port = 0;
  std::string directory;
  std::optional<Client> client;
};

TEST_F(ResponsesLoopback, SendResponseBytes) {
  struct Case {
    USHORT code;
    std::optional<std::string_view> description;
    std::vector<HeaderRecord> headers;
    std::string_view body;
    std::string expected;
    const char* why;
  };
  const Case cases[] = {
      {200,
       std::nullopt,
       {{"Accept", "text/plain, text/html"}},
       "hello",
       "HTTP/1.1 200 OK\r\nAccept: text/plain, text/html\r\nContent-Length: 5\r\n"
       "Connection: keep-alive\r\n\r\nhello",
       "the program's own answer: phrase from the table, one header, the message as body"},
      {418,
       std::nullopt,
       {},
       "",
       "HTTP/1.1 418 ***\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n",
       "a code outside the table"},
      {201,
       "",
       {},
       "",
       "HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n",
       "an empty description goes over as null, so the engine supplies its phrase"},
      {302,
       "Found",
       {{"Location", "/b"}},
       "",
       "HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n",
       "a given description"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const HP_CONNID id = Request();
    ASSERT_TRUE(component.SendResponse(server, id, c.code, c.description, c.headers, c.body));
    const std::string head = client->ReadHead();
    EXPECT_EQ(head + client->ReadBody(ContentLength(head)), c.expected);
  }
}

TEST_F(ResponsesLoopback, SendFileOfAMissingFileIsNotFound) {
  const std::vector<HeaderRecord> headers = {{"X-Trace", "1"}};
  const HP_CONNID id = Request();
  EXPECT_FALSE(component.SendFile(server, id, directory + "/missing", 200, "Fine", headers));
  EXPECT_EQ(client->ReadHead(),
            "HTTP/1.1 404 Not Found\r\nX-Trace: 1\r\nContent-Length: 0\r\n"
            "Connection: keep-alive\r\n\r\n");
  EXPECT_THAT(headers, ::testing::ElementsAre(HeaderRecord{"X-Trace", "1"}));
}

TEST_F(ResponsesLoopback, SendFileAroundTheChunkSize) {
  struct Case {
    std::int64_t size;
    FileStreaming streaming;
    const char* why;
  };
  const Case cases[] = {
      {kChunk - 1, FileStreaming::kWhenLarge, "the largest file the engine sends itself"},
      {kChunk, FileStreaming::kWhenLarge, "the smallest file that is streamed: one chunk"},
      {kChunk + 1, FileStreaming::kWhenLarge, "a chunk and one byte"},
      {0, FileStreaming::kAlways, "an empty file streamed: the head alone"},
      {3, FileStreaming::kAlways, "a small file streamed on request"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string path = MakeFile("file" + std::to_string(c.size), c.size);
    const HP_CONNID id = Request();
    // The client reads while SendFile blocks until everything has left the engine's queue.
    auto received = std::async(std::launch::async, [&] {
      std::string head = client->ReadHead();
      return std::pair(head, client->ReadBody(ContentLength(head)));
    });
    EXPECT_TRUE(component.SendFile(server, id, path, 200, std::nullopt, {}, c.streaming));
    ASSERT_EQ(received.wait_for(kWaitLimit), std::future_status::ready);
    const auto [head, body] = received.get();
    EXPECT_EQ(head, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.size) +
                        "\r\nConnection: keep-alive\r\n\r\n");
    ASSERT_EQ(static_cast<std::int64_t>(body.size()), c.size);
    const std::string pattern = PatternBlock(static_cast<std::size_t>(c.size) / 26 + 1);
    EXPECT_TRUE(body == std::string_view(pattern).substr(0, body.size())) << "file contents";
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasuresMemory = false;  // the sanitizers keep freed memory on hold
#else
constexpr bool kMeasuresMemory = true;
#endif

TEST_F(ResponsesLoopback, SendFileStreamsALargeFileToASlowReaderInBoundedMemory) {
  constexpr std::int64_t kSize = 64 * 1024 * 1024;
  constexpr std::int64_t kAllowedGrowth = 40 * 1024 * 1024;  // a few chunks, far below the file
  const std::string path = MakeFile("large", kSize);
  const HP_CONNID id = Request();

  std::atomic<bool> sending = true;
  std::atomic<std::int64_t> peak = 0;
  const std::int64_t baseline = ResidentBytes();
  std::thread watcher([&] {
    while (sending) {
      peak = std::max(peak.load(), ResidentBytes());
      std::this_thread::sleep_for(2ms);
    }
  });
  auto received = std::async(std::launch::async, [&] {
    std::string head = client->ReadHead();
    // Slow at first, so an unthrottled sender would have queued the whole file by now.
    std::this_thread::sleep_for(300ms);
    const std::string pattern = PatternBlock(256 * 1024 / 26 + 2);
    std::int64_t mismatches = 0;
    std::int64_t sinceNap = 0;
    const bool complete = client->ReadBody(
        ContentLength(head), [&](const char* data, std::size_t n, std::int64_t offset) {
          if (std::memcmp(data, pattern.data() + offset % 26, n) != 0) ++mismatches;
          if ((sinceNap += static_cast<std::int64_t>(n)) >= 4 * 1024 * 1024) {
            sinceNap = 0;
            std::this_thread::sleep_for(5ms);
          }
        });
    return std::tuple(head, complete, mismatches);
  });

  EXPECT_TRUE(component.SendFile(server, id, path, 200));
  ASSERT_EQ(received.wait_for(kWaitLimit), std::future_status::ready);
  sending = false;
  watcher.join();
  const auto [head, complete, mismatches] = received.get();
  EXPECT_EQ(ContentLength(head), kSize);
  EXPECT_TRUE(complete);
  EXPECT_EQ(mismatches, 0);
  if (kMeasuresMemory) {
    EXPECT_LT(peak - baseline, kAllowedGrowth)
        << "resident memory grew from " << baseline << " to " << peak << " bytes";
  }
}

}  // namespace
}  // namespace quillmere
