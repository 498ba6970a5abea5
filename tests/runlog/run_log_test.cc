#include "runlog/run_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runlog/date_time.h"
#include "tests/web/recording_server_fixture.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using ::quillmere::testing::HttpResponse;
using ::quillmere::testing::RecordedRequest;
using ::quillmere::testing::RecordingServer;
using ::quillmere::testing::RefusingPort;

// 2019-09-22 08:00:00 GMT, whose Unix time is 1569139200.
constexpr std::time_t kFirstDate = 1569139200;

std::string HttpDate(std::time_t t) {
  std::tm fields{};
  gmtime_r(&t, &fields);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &fields);
  return text;
}

// A run log in a directory of its own, stamped by a local clock server whose Date moves on one
// second with every request, starting at kFirstDate.
class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quillmere-runlog-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    StartRunLog({.directory = directory_.string(), .clockUrl = clock_.Url()});
  }

  void TearDown() override { fs::remove_all(directory_); }

  fs::path LogPath() const { return directory_ / std::string(kRunLogFileName); }

  std::string LogBytes() const {
    std::ifstream file(LogPath(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  static std::string Stamp(int request) { return std::to_string(kFirstDate + request); }

  std::atomic<int> clockRequests_{0};
  RecordingServer clock_{[this](const RecordedRequest& request) {
    std::time_t now = kFirstDate + clockRequests_.fetch_add(1);
    return HttpResponse(request, 200, "Date: " + HttpDate(now) + "\r\n");
  }};
  fs::path directory_;
};

TEST_F(RunLogTest, FirstAppendCreatesTheFileWithOneLine) {
  AppendRunLog("hello");
  EXPECT_EQ(LogBytes(), Stamp(0) + "=hello\r\n");
  EXPECT_EQ(RunLogPath(), LogPath().string());
  ASSERT_EQ(clock_.Requests().size(), 1u);
  EXPECT_EQ(clock_.Requests()[0].method, "HEAD");
}

TEST_F(RunLogTest, SecondLineFollowsTheFirst) {
  AppendRunLog("one");
  AppendRunLog("two");
  EXPECT_EQ(LogBytes(), Stamp(0) + "=one\r\n" + Stamp(1) + "=two\r\n");
}

TEST_F(RunLogTest, ExistingEmptyFileGetsTheSameBytes) {
  std::ofstream(LogPath()).close();
  AppendRunLog("hello");
  EXPECT_EQ(LogBytes(), Stamp(0) + "=hello\r\n");
}

TEST_F(RunLogTest, ExistingLinesAreKept) {
  std::ofstream(LogPath(), std::ios::binary) << "earlier line without an end";
  AppendRunLog("next");
  EXPECT_EQ(LogBytes(), "earlier line without an end" + Stamp(0) + "=next\r\n");
}

// Another program may create the file while this append waits for the clock; its lines stay.
TEST_F(RunLogTest, FileCreatedDuringTheClockRequestIsKept) {
  clock_.SetResponder([this](const RecordedRequest& request) {
    std::ofstream(LogPath(), std::ios::binary) << "other program\r\n";
    return HttpResponse(request, 200, "Date: " + HttpDate(kFirstDate) + "\r\n");
  });
  AppendRunLog("mine");
  EXPECT_EQ(LogBytes(), "other program\r\n" + Stamp(0) + "=mine\r\n");
}

TEST_F(RunLogTest, MessagesAreWrittenAsGiven) {
  const std::string cases[] = {
      "",                  // just the stamp, "=" and CR LF
      "a\r\nb",            // shows as two lines in the file
      "\xD6\xD0\xCE\xC4",  // GBK bytes, unconverted
      "x=y=",              // separators inside the message stay
      "/%2F\t\x7F",        // nothing is decoded or escaped
  };
  std::string expected;
  int request = 0;
  for (const std::string& message : cases) {
    AppendRunLog(message);
    expected += Stamp(request++) + "=" + message + "\r\n";
  }
  EXPECT_EQ(LogBytes(), expected);
}

TEST_F(RunLogTest, ConcurrentAppendsNeverInterleave) {
  // Long messages, so that a line written in pieces would show.
  constexpr int kThreads = 4;
  constexpr int kAppendsEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string message(3000, static_cast<char>('a' + t));
      for (int i = 0; i < kAppendsEach; ++i) AppendRunLog(message);
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::string bytes = LogBytes();
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "unterminated line";
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kAppendsEach));
  int perThread[kThreads] = {};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The lock covers the clock's request, so the stamps come in the order of the lines.
    std::string prefix = Stamp(static_cast<int>(i)) + "=";
    ASSERT_TRUE(lines[i].starts_with(prefix)) << "line " << i << ": " << lines[i].substr(0, 20);
    std::string message = lines[i].substr(prefix.size());
    ASSERT_EQ(message.size(), 3000u) << "line " << i;
    int t = message[0] - 'a';
    ASSERT_TRUE(t >= 0 && t < kThreads) << "line " << i;
    ASSERT_EQ(message, std::string(3000, message[0])) << "line " << i << " is mixed";
    ++perThread[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread[t], kAppendsEach) << "thread " << t;
}

TEST_F(RunLogTest, DirectoryOfTheSameNameWritesNothing) {
  fs::create_directory(LogPath());
  AppendRunLog("lost");
  EXPECT_TRUE(fs::is_directory(LogPath()));
  EXPECT_TRUE(fs::is_empty(LogPath()));
  EXPECT_EQ(clock_.Requests().size(), 1u);  // the clock is asked before the create fails
}

TEST_F(RunLogTest, FileThatWillNotOpenLosesTheLine) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any file";
  std::ofstream(LogPath(), std::ios::binary) << "kept";
  fs::permissions(LogPath(), fs::perms::none);
  AppendRunLog("lost");
  fs::permissions(LogPath(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(LogBytes(), "kept");
  EXPECT_EQ(clock_.Requests().size(), 1u);  // asked all the same
}

TEST_F(RunLogTest, FifoOfTheSameNameDoesNotBlock) {
  // Opening a FIFO for writing would wait for a reader, with the run log's lock held.
  ASSERT_EQ(mkfifo(LogPath().c_str(), 0600), 0);
  AppendRunLog("lost");
  EXPECT_TRUE(fs::is_fifo(LogPath()));
}

TEST_F(RunLogTest, MissingDirectoryLosesTheLine) {
  StartRunLog({.directory = (directory_ / "missing").string(), .clockUrl = clock_.Url()});
  AppendRunLog("lost");
  EXPECT_FALSE(fs::exists(directory_ / "missing"));
}

TEST_F(RunLogTest, TrailingSeparatorsOfTheDirectoryAreDropped) {
  StartRunLog({.directory = directory_.string() + "//", .clockUrl = clock_.Url()});
  EXPECT_EQ(RunLogPath(), LogPath().string());
  AppendRunLog("x");
  EXPECT_EQ(LogBytes(), Stamp(0) + "=x\r\n");
}

TEST_F(RunLogTest, UnreachableClockStillWritesTheLineWithTheLocalTime) {
  RefusingPort refusing;
  StartRunLog({.directory = directory_.string(), .clockUrl = refusing.Url()});
  std::time_t before = std::time(nullptr);
  AppendRunLog("offline");
  std::time_t after = std::time(nullptr);
  std::string bytes = LogBytes();
  std::size_t equals = bytes.find('=');
  ASSERT_NE(equals, std::string::npos) << bytes;
  EXPECT_EQ(bytes.substr(equals), "=offline\r\n");
  long long stamp = std::stoll(bytes.substr(0, equals));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST(RunLog, DefaultDirectoryIsTheProgramsOwn) {
  std::string program = fs::read_symlink("/proc/self/exe").string();
  std::string expected = program.substr(0, program.rfind('/')) + "/" + std::string(kRunLogFileName);
  StartRunLog();
  EXPECT_EQ(RunLogPath(), expected);
}

}  // namespace
}  // namespace quillmere
