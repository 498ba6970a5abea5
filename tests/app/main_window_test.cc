#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "app/output_list.h"

namespace quillmere {
namespace {

// A window whose start and stop are fakes that record the buttons as they stand during the call.
class MainWindowTest : public testing::Test {
 protected:
  struct Call {
    ServiceState state;
    bool startEnabled;
    bool stopEnabled;
    bool operator==(const Call&) const = default;
  };

  void SetUp() override {
    window_ = std::make_unique<MainWindow>(ServiceControl{
        .start =
            [this] {
              starts_.push_back(Now());
              return startSucceeds_;
            },
        .stop =
            [this] {
              stops_.push_back(Now());
              return false;  // ignored by the window
            },
        .teardown = [this] { ++teardowns_; },
    });
    start_ = window_->findChild<QPushButton*>(QStringLiteral("按钮_启动"));
    stop_ = window_->findChild<QPushButton*>(QStringLiteral("按钮_停止"));
    ASSERT_NE(start_, nullptr);
    ASSERT_NE(stop_, nullptr);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  // The window goes first: its teardown still reports to this fixture.
  void TearDown() override { window_.reset(); }

  Call Now() const { return {window_->serviceState(), start_->isEnabled(), stop_->isEnabled()}; }

  std::unique_ptr<MainWindow> window_;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  bool startSucceeds_ = true;
  std::vector<Call> starts_;
  std::vector<Call> stops_;
  int teardowns_ = 0;
};

TEST_F(MainWindowTest, MatchesTheLayoutTable) {
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("QuillmereV1.0  Beta"));
  EXPECT_EQ(window_->geometry(), QRect(50, 50, 359, 192));
  EXPECT_EQ(window_->minimumSize(), QSize(359, 192)) << "the window cannot be resized";
  EXPECT_EQ(window_->maximumSize(), QSize(359, 192)) << "the window cannot be resized";

  struct Control {
    QString name;
    const char* kind;
    QRect geometry;
    QString text;
  };
  const Control controls[] = {
      {QStringLiteral("列表框_输出"), "quillmere::OutputList", QRect(8, 8, 336, 104), {}},
      {QStringLiteral("标签3"), "QLabel", QRect(8, 128, 24, 24), QStringLiteral("IP:")},
      {QStringLiteral("标签4"), "QLabel", QRect(34, 128, 96, 24), {}},
      {QStringLiteral("按钮_启动"), "QPushButton", QRect(152, 119, 80, 34), QStringLiteral("启动")},
      {QStringLiteral("按钮_停止"), "QPushButton", QRect(259, 119, 80, 34), QStringLiteral("停止")},
  };
  for (const Control& c : controls) {
    SCOPED_TRACE(c.name.toStdString());
    const auto* widget = window_->findChild<QWidget*>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), c.kind);
    EXPECT_EQ(widget->geometry(), c.geometry);
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
      EXPECT_EQ(label->text(), c.text);
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), c.text);
    }
  }
  EXPECT_EQ(window_->outputList(), window_->findChild<OutputList*>(QStringLiteral("列表框_输出")));
}

TEST_F(MainWindowTest, LocalAddressGoesIntoLabel4) {
  window_->SetLocalAddress("192.168.1.5");
  EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("标签4"))->text(),
            QStringLiteral("192.168.1.5"));
  window_->SetLocalAddress("");
  EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("标签4"))->text(), QString());
}

// Start is enabled exactly in state 5, stop exactly in state 1; any other value disables both.
TEST_F(MainWindowTest, ButtonsFollowTheServiceState) {
  EXPECT_EQ(Now(), (Call{kServiceStarting, false, false})) << "before start-up has finished";
  const Call table[] = {
      {kServiceStarting, false, false},
      {kServiceStarted, false, true},
      {kServiceStopping, false, false},
      {kServiceStopped, true, false},
      {2, false, false},
      {-1, false, false},
  };
  for (const Call& row : table) {
    window_->SetServiceState(row.state);
    EXPECT_EQ(Now(), row) << "state " << row.state;
  }
}

// Start, stop and start again through the real buttons: each call sees both buttons disabled
// while it runs (states 0 and 4), and only the other button is enabled afterwards.
TEST_F(MainWindowTest, StartStopAndStartAgain) {
  window_->SetServiceState(kServiceStopped);
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_EQ(Now(), (Call{kServiceStarted, false, true}));
  QTest::mouseClick(stop_, Qt::LeftButton);
  EXPECT_EQ(Now(), (Call{kServiceStopped, true, false}));
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_EQ(Now(), (Call{kServiceStarted, false, true}));

  const Call starting{kServiceStarting, false, false};
  const Call stopping{kServiceStopping, false, false};
  EXPECT_EQ(starts_, (std::vector<Call>{starting, starting}));
  EXPECT_EQ(stops_, (std::vector<Call>{stopping}));
}

// A failed start (port in use) returns to stopped with start enabled, and can be tried again.
TEST_F(MainWindowTest, FailedStartReturnsToStopped) {
  window_->SetServiceState(kServiceStopped);
  startSucceeds_ = false;
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_EQ(Now(), (Call{kServiceStopped, true, false}));
  startSucceeds_ = true;
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_EQ(Now(), (Call{kServiceStarted, false, true}));
  EXPECT_EQ(starts_.size(), 2u);
}

TEST_F(MainWindowTest, DisabledButtonsDoNothing) {
  window_->SetServiceState(kServiceStopped);
  QTest::mouseClick(stop_, Qt::LeftButton);
  window_->SetServiceState(kServiceStarted);
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_TRUE(starts_.empty());
  EXPECT_TRUE(stops_.empty());
}

TEST_F(MainWindowTest, MissingActionsCountAsFailedStartAndPlainStop) {
  MainWindow window(ServiceControl{});
  window.SetServiceState(kServiceStopped);
  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮_启动")), Qt::LeftButton);
  EXPECT_EQ(window.serviceState(), kServiceStopped);
  window.SetServiceState(kServiceStarted);
  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮_停止")), Qt::LeftButton);
  EXPECT_EQ(window.serviceState(), kServiceStopped);
}

// Closing the window while the service runs tears it down, with no separate stop, exactly once;
// afterwards the buttons stay disabled, since the service is gone.
TEST_F(MainWindowTest, ClosingRunsTheTeardownOnce) {
  window_->SetServiceState(kServiceStopped);
  QTest::mouseClick(start_, Qt::LeftButton);
  EXPECT_TRUE(window_->close());
  EXPECT_EQ(teardowns_, 1);
  EXPECT_TRUE(stops_.empty());
  EXPECT_FALSE(start_->isEnabled());
  EXPECT_FALSE(stop_->isEnabled());
  window_.reset();
  EXPECT_EQ(teardowns_, 1);
}

TEST_F(MainWindowTest, DestroyingWithoutClosingRunsTheTeardown) {
  window_.reset();
  EXPECT_EQ(teardowns_, 1);
}

}  // namespace
}  // namespace quillmere
