#include "app/output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/console_output.h"
#include "app/output_recorder.h"

namespace quillmere {
namespace {

using namespace std::chrono_literals;

TEST(AppendOutput, WithoutConsumerDropsTheLine) {
  AppendOutput("nobody listens");  // must simply return
  OutputRecorder recorder;
  ScopedOutputConsumer use(recorder);
  AppendOutput("heard");
  EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"heard"});
}

TEST(AppendOutput, EmptyTextIsAnEmptyLine) {
  OutputRecorder recorder;
  ScopedOutputConsumer use(recorder);
  AppendOutput("");
  AppendOutput({});
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"", ""}));
}

// Lines from several threads all arrive, and each thread's lines in the order it appended them.
TEST(AppendOutput, KeepsEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 5000;
  OutputRecorder recorder;
  ScopedOutputConsumer use(recorder);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLinesEach; ++i)
        AppendOutput(std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = recorder.Lines();
  ASSERT_EQ(lines.size(), std::size_t{kThreads} * kLinesEach);
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    const int thread = line[0] - '0';
    ASSERT_EQ(line, std::to_string(thread) + ":" + std::to_string(next[thread])) << "out of order";
    ++next[thread];
  }
}

// A consumer that holds each line until released, to catch an appending thread inside it.
class GateConsumer final : public OutputConsumer {
 public:
  void Append(std::string_view) override {
    entered_.set_value();
    released_.get_future().wait();
  }
  std::promise<void> entered_;
  std::promise<void> released_;
};

// Replacing a consumer waits until appends already inside it are done, so the replaced consumer
// may be destroyed as soon as the call returns.
TEST(SetOutputConsumer, WaitsForAppendsInProgress) {
  GateConsumer gate;
  SetOutputConsumer(&gate);
  std::thread appender([] { AppendOutput("held"); });
  gate.entered_.get_future().wait();

  std::future<void> replaced = std::async(std::launch::async, [] { SetOutputConsumer(nullptr); });
  EXPECT_EQ(replaced.wait_for(50ms), std::future_status::timeout)
      << "replaced while an append was still inside the old consumer";
  gate.released_.set_value();
  replaced.get();
  appender.join();
}

TEST(RemoveOutputConsumer, LeavesAnotherConsumerInstalled) {
  OutputRecorder installed;
  OutputRecorder other;
  SetOutputConsumer(&installed);
  RemoveOutputConsumer(&other);
  AppendOutput("still here");
  RemoveOutputConsumer(&installed);
  AppendOutput("gone");
  EXPECT_EQ(installed.Lines(), std::vector<std::string>{"still here"});
  EXPECT_TRUE(other.Lines().empty());
}

// Everything written to a temporary file, read back whole.
class ConsoleFile : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(file_, nullptr); }
  void TearDown() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  std::string Contents() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
      text.append(buffer, n);
    return text;
  }
  std::FILE* file_ = std::tmpfile();
};

TEST_F(ConsoleFile, WritesEachLineAsUtf8) {
  struct Case {
    std::string_view gbk;
    std::string_view written;
    const char* why;
  } cases[] = {
      {"hello", "hello\n", "ASCII passes unchanged"},
      {"", "\n", "an empty message is an empty line"},
      {"\xC4\xE3\xBA\xC3", "\xE4\xBD\xA0\xE5\xA5\xBD\n", "GBK 你好 becomes UTF-8"},
      {"a\nb", "a?b\n", "a line break inside a message cannot split it into two lines"},
      {"a\r\x1B[2Jb", "a??[2Jb\n", "carriage return and escape cannot steer the terminal"},
      {"\x7F", "?\n", "DEL is a control character too"},
      {"a\tb", "a\tb\n", "a tab is harmless and stays"},
  };
  ConsoleOutput console(file_);
  std::string expected;
  for (const Case& c : cases) {
    console.Append(c.gbk);
    expected += c.written;
  }
  EXPECT_EQ(Contents(), expected);
}

// Long lines from several threads at once: each comes out whole, each thread's in its order.
TEST_F(ConsoleFile, LinesFromThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 500;
  ConsoleOutput console(file_);
  {
    ScopedOutputConsumer use(console);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLinesEach; ++i) {
          AppendOutput(std::to_string(t) + ":" + std::to_string(i) + ":" +
                       std::string(3000, static_cast<char>('a' + t)));
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  std::istringstream lines(Contents());
  std::vector<int> next(kThreads, 0);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const int t = line[0] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 20);
    ASSERT_EQ(line, std::to_string(t) + ":" + std::to_string(next[t]) + ":" +
                        std::string(3000, static_cast<char>('a' + t)));
    ++next[t];
  }
  EXPECT_EQ(count, kThreads * kLinesEach);
}

TEST(OutputRecorder, WaitForLinesTimesOutWhenTooFewArrive) {
  OutputRecorder recorder;
  recorder.Append("one");
  EXPECT_TRUE(recorder.WaitForLines(1, 0ms));
  EXPECT_FALSE(recorder.WaitForLines(2, 10ms));
}

}  // namespace
}  // namespace quillmere
