// The program with its window (on Qt's offscreen platform): SIGINT and SIGTERM close the window,
// and closing it runs the teardown, so the program ends with 0 as when the user closes it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/e2e/quillmere_process.h"

namespace quillmere::e2e {
namespace {

// Nothing listens on port 1: the run log's clock, were it asked, would fall back at once.
constexpr const char* kNoClock = "http://127.0.0.1:1/";

// True once `pid` blocks `signal`: the program has reached the point where the signal closes its
// window instead of killing it. False when the process is gone or 10 seconds pass.
bool WaitUntilBlocked(pid_t pid, int signal) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    if (!status) return false;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) != 0) continue;
      const unsigned long long blocked = std::stoull(line.substr(7), nullptr, 16);
      if (blocked & (1ULL << (signal - 1))) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class Window : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
};

TEST_P(Window, StopSignalClosesTheWindowCleanly) {
  QuillmereProcess program({"--bind", "127.0.0.1", "--port", "0", "--clock-url", kNoClock});
  ASSERT_TRUE(WaitUntilBlocked(program.pid(), GetParam())) << program.Stderr();
  EXPECT_EQ(program.Stop(GetParam()), 0) << program.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Signals, Window, ::testing::Values(SIGTERM, SIGINT), [](const auto& info) {
  return info.param == SIGTERM ? "Sigterm" : "Sigint";
});

}  // namespace
}  // namespace quillmere::e2e
