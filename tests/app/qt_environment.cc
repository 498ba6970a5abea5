#include "tests/app/qt_environment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <memory>

namespace quillmere::testing_support {
namespace {

// The window tests run without a display: Qt draws into memory.
class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { application_.reset(); }

 private:
  char name_[16] = "app_gui_tests";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace quillmere::testing_support
