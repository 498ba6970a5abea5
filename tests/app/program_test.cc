// The window bound to the real HTTP service: its buttons start and stop the engine's server on
// loopback, and closing it tears the service down.
#include "app/program.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <string>

#include "app/output_list.h"
#include "http/http_service.h"
#include "runlog/run_log.h"
#include "tests/app/qt_environment.h"

namespace quillmere {
namespace {

using testing_support::ProcessEventsUntil;

// Nothing listens on port 1: the run log's clock falls back to the local clock at once.
constexpr const char* kNoClock = "http://127.0.0.1:1/";

// A TCP socket listening on 127.0.0.1 at a port the system chose, closed on destruction.
class BusyPort {
 public:
  BusyPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd_, 1) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~BusyPort() { ::close(fd_); }
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Sends `request` on a new connection to 127.0.0.1:`port` and reads until the peer closes or
// `expectedEnd` has arrived (5 seconds at most). Empty when the connection is refused.
std::string Exchange(std::uint16_t port, const std::string& request,
                     const std::string& expectedEnd) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string received;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    while (!received.ends_with(expectedEnd)) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, 5000) <= 0) break;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return received;
}

std::string Post(std::uint16_t port, const std::string& body) {
  return Exchange(port,
                  "POST / HTTP/1.1\r\nHost: t\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body,
                  "\r\n\r\n" + body);
}

class ProgramWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "program_window_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }

  void TearDown() override {
    window_.reset();
    program_.reset();
    StartRunLog();
    std::filesystem::remove_all(directory_);
  }

  // The program and its window on 127.0.0.1:`port`, started up as the real program does it.
  void Open(std::uint16_t port) {
    Options options;
    options.port = port;
    options.bindAddress = "127.0.0.1";
    options.clockUrl = kNoClock;
    program_ = std::make_unique<Program>(options);
    window_ = std::make_unique<MainWindow>(program_->WindowControl());
    StartUpWithWindow(*program_, *window_);
    StartRunLog({.directory = directory_, .clockUrl = kNoClock});  // not beside the test binary
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    start_ = window_->findChild<QPushButton*>(QStringLiteral("按钮_启动"));
    stop_ = window_->findChild<QPushButton*>(QStringLiteral("按钮_停止"));
    ASSERT_NE(start_, nullptr);
    ASSERT_NE(stop_, nullptr);
  }

  // The port the started server listens on; 0 when it is not listening.
  static std::uint16_t ListeningPort() {
    std::string address;
    USHORT port = 0;
    return ProgramHttpService().GetListenAddress(address, port) ? port : 0;
  }

  std::string directory_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<MainWindow> window_;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
};

TEST_F(ProgramWindowTest, StartsUpStoppedWithTheServerMadeButNotListening) {
  Open(0);
  EXPECT_EQ(window_->serviceState(), kServiceStopped);
  EXPECT_TRUE(start_->isEnabled());
  EXPECT_FALSE(stop_->isEnabled());
  EXPECT_TRUE(IsServerHandle(ProgramHttpService().ServerHandle()));
  EXPECT_EQ(ListeningPort(), 0);
}

TEST_F(ProgramWindowTest, StartOnABusyPortGoesBackToStoppedAndShowsNothing) {
  BusyPort busy;
  ASSERT_NE(busy.port(), 0);
  Open(busy.port());
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_EQ(window_->serviceState(), kServiceStopped);
  EXPECT_TRUE(start_->isEnabled()) << "the start can be tried again";
  EXPECT_FALSE(stop_->isEnabled());
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->outputList()->count(), 0);
}

TEST_F(ProgramWindowTest, StartStopAndStartAgainServeOnTheSameServer) {
  Open(0);
  const HP_HttpServer server = ProgramHttpService().ServerHandle();

  QTest::mouseClick(start_, Qt::LeftButton);
  ASSERT_EQ(window_->serviceState(), kServiceStarted);
  EXPECT_FALSE(start_->isEnabled());
  EXPECT_TRUE(stop_->isEnabled());
  std::uint16_t port = ListeningPort();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(Post(port, "first").ends_with("\r\n\r\nfirst"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return window_->outputList()->count() == 1; }));
  EXPECT_EQ(window_->outputList()->item(0)->text(), QStringLiteral("first"));

  QTest::mouseClick(stop_, Qt::LeftButton);
  EXPECT_EQ(window_->serviceState(), kServiceStopped);
  EXPECT_TRUE(start_->isEnabled());
  EXPECT_FALSE(stop_->isEnabled());
  EXPECT_EQ(ListeningPort(), 0);
  EXPECT_EQ(Post(port, "nobody listens"), "");

  QTest::mouseClick(start_, Qt::LeftButton);
  ASSERT_EQ(window_->serviceState(), kServiceStarted);
  EXPECT_EQ(ProgramHttpService().ServerHandle(), server) << "no new server object";
  port = ListeningPort();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(Post(port, "second").ends_with("\r\n\r\nsecond"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return window_->outputList()->count() == 2; }));
  EXPECT_EQ(window_->outputList()->item(1)->text(), QStringLiteral("second"));
}

TEST_F(ProgramWindowTest, ClosingTheWindowWhileServingTearsTheServiceDown) {
  Open(0);
  QTest::mouseClick(start_, Qt::LeftButton);
  ASSERT_EQ(window_->serviceState(), kServiceStarted);
  const std::uint16_t port = ListeningPort();
  window_->close();
  EXPECT_EQ(ProgramHttpService().ServerHandle(), nullptr);
  EXPECT_FALSE(start_->isEnabled());
  EXPECT_FALSE(stop_->isEnabled());
  EXPECT_EQ(Post(port, "too late"), "");
}

}  // namespace
}  // namespace quillmere
