#include "app/output_list.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "tests/app/qt_environment.h"

namespace quillmere {
namespace {

using namespace std::chrono_literals;
using testing_support::ProcessEventsUntil;

// Counts the queued calls that wake the list, to see that a batch costs one event.
class WakeCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++wakes;
    return false;
  }
  int wakes = 0;
};

// The program's window with its list installed as the output, shown on the offscreen screen.
class OutputListTest : public testing::Test {
 protected:
  void SetUp() override {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    list_->InstallAsOutput();
    list_->installEventFilter(&wakeCounter_);
  }

  // Appends `lines` the way the server does, from another thread, and waits until they show.
  void AppendFromAnotherThread(const std::vector<std::string>& lines) {
    std::thread([&] {
      for (const std::string& line : lines) AppendOutput(line);
    }).join();
    list_->Drain();
  }

  std::vector<std::string> Items() const {
    std::vector<std::string> items;
    for (int i = 0; i < list_->count(); ++i) items.push_back(list_->item(i)->text().toStdString());
    return items;
  }

  bool NewestIsVisible() const {
    if (list_->count() == 0) return true;
    const QRect newest = list_->visualItemRect(list_->item(list_->count() - 1));
    return list_->viewport()->rect().contains(newest);
  }

  static std::vector<std::string> Numbered(std::string_view prefix, int from, int to) {
    std::vector<std::string> lines;
    for (int i = from; i < to; ++i) lines.push_back(std::string(prefix) + std::to_string(i));
    return lines;
  }

  MainWindow window_{ServiceControl{}};
  OutputList* list_ = window_.outputList();
  WakeCounter wakeCounter_;
};

// Lines appended from a server thread reach the list through one queued wake-up, in order.
TEST_F(OutputListTest, LinesFromAnotherThreadArriveInOrder) {
  std::thread([] {
    AppendOutput("first");
    AppendOutput("second");
  }).join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return list_->count() == 2; }));
  EXPECT_EQ(Items(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(wakeCounter_.wakes, 1);
}

TEST_F(OutputListTest, LinesRightAfterAnUpdateFollowWithinTheUpdateInterval) {
  AppendFromAnotherThread({"first"});  // an update just happened
  QElapsedTimer timer;
  timer.start();
  std::thread([] {
    AppendOutput("second");
    AppendOutput("third");
  }).join();
  // The second update waits for the interval to pass, and then shows both.
  ASSERT_TRUE(ProcessEventsUntil([&] { return list_->count() == 3; }));
  EXPECT_GE(timer.elapsed(), OutputList::kDrainIntervalMs - 1);
  EXPECT_EQ(Items(), (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(OutputListTest, ShowsGbkAsUnicodeAndEmptyLines) {
  AppendFromAnotherThread({"\xC4\xE3\xBA\xC3", ""});  // 你好, then an empty line
  ASSERT_EQ(list_->count(), 2);
  EXPECT_EQ(list_->item(0)->text(), QStringLiteral("你好"));
  EXPECT_EQ(list_->item(1)->text(), QString());
  EXPECT_TRUE(NewestIsVisible()) << "an empty line still scrolls to the bottom";
}

// The cap exactly at its edge: 100 items take one more; 101 items clear first.
TEST_F(OutputListTest, CapKeeps101AndClearsBeyond) {
  AppendFromAnotherThread(Numbered("a", 0, 100));
  ASSERT_EQ(list_->count(), 100);
  AppendFromAnotherThread({"the 101st"});
  ASSERT_EQ(list_->count(), 101);
  EXPECT_EQ(list_->item(100)->text(), QStringLiteral("the 101st"));
  EXPECT_TRUE(NewestIsVisible());
  AppendFromAnotherThread({"after the clear"});
  EXPECT_EQ(Items(), std::vector<std::string>{"after the clear"});
}

// A batch shows exactly what appending its lines one at a time would: 50 items plus 200 queued
// lines clear twice and leave the last 48.
TEST_F(OutputListTest, BatchEqualsOneAtATime) {
  AppendFromAnotherThread(Numbered("old", 0, 50));
  AppendFromAnotherThread(Numbered("new", 0, 200));
  EXPECT_EQ(Items(), Numbered("new", 152, 200));
  EXPECT_TRUE(NewestIsVisible());
}

TEST_F(OutputListTest, NewestLineIsVisibleAfterEveryAppend) {
  for (int i = 0; i < 130; ++i) {
    AppendFromAnotherThread({"line " + std::to_string(i)});
    ASSERT_TRUE(NewestIsVisible()) << "after line " << i;
  }
  EXPECT_GT(list_->verticalScrollBar()->maximum(), 0) << "the list should have needed scrolling";
}

// Typing C or c into the list clears it; every other key, or C with Ctrl or Alt, does not.
TEST_F(OutputListTest, TypingCClearsAndOtherKeysDoNot) {
  struct Key {
    Qt::Key key;
    char text;
    Qt::KeyboardModifiers modifiers;
    bool clears;
    const char* why;
  } keys[] = {
      {Qt::Key_C, 'c', Qt::NoModifier, true, "lower-case c"},
      {Qt::Key_C, 'C', Qt::ShiftModifier, true, "upper-case C"},
      {Qt::Key_X, 'x', Qt::NoModifier, false, "another letter"},
      {Qt::Key_Delete, 0, Qt::NoModifier, false, "Delete is not a character"},
      {Qt::Key_Up, 0, Qt::NoModifier, false, "moving through the list"},
      {Qt::Key_C, 'c', Qt::ControlModifier, false, "Ctrl+C copies, it types no C"},
      {Qt::Key_C, 'c', Qt::AltModifier, false, "Alt+C types no C"},
  };
  for (const Key& k : keys) {
    SCOPED_TRACE(k.why);
    list_->ClearOutput();
    AppendFromAnotherThread({"one", "two", "three"});
    ASSERT_EQ(list_->count(), 3);
    const QString text = k.text != 0 ? QString(QChar(k.text)) : QString();
    QKeyEvent press(QEvent::KeyPress, k.key, k.modifiers, text);
    QCoreApplication::sendEvent(list_, &press);
    EXPECT_EQ(list_->count(), k.clears ? 0 : 3);
  }
}

// With the real keyboard path: QTest types into the list as a user would.
TEST_F(OutputListTest, TypedCThenNextAppendStartsANewList) {
  AppendFromAnotherThread({"one", "two"});
  QTest::keyClick(list_, 'C');
  EXPECT_EQ(list_->count(), 0);
  AppendFromAnotherThread({"three"});
  EXPECT_EQ(Items(), std::vector<std::string>{"three"});
  QTest::keyClick(list_, 'c');
  EXPECT_EQ(list_->count(), 0);
}

// Lines queued but not yet shown when the user clears must not appear after the clear.
TEST_F(OutputListTest, ClearDropsLinesNotYetShown) {
  AppendFromAnotherThread({"shown"});
  std::thread([] { AppendOutput("queued before the clear"); }).join();
  QTest::keyClick(list_, 'c');
  QCoreApplication::processEvents();  // the pending wake-up finds nothing
  EXPECT_EQ(list_->count(), 0);
  AppendFromAnotherThread({"after"});
  EXPECT_EQ(Items(), std::vector<std::string>{"after"});
}

// While the window thread is blocked (here inside the start action, as in a slow server start),
// a server thread appends a flood without waiting for it; once the window thread is free again
// the list shows what one-at-a-time appends would have left, after a single wake-up.
TEST(OutputListWhileBlocked, ProducerNeverWaitsForTheWindowThread) {
  constexpr int kLines = 10000;
  std::promise<void> producerDone;
  std::future<void> producerFinished = producerDone.get_future();
  std::thread producer;
  bool producerWasFree = false;
  MainWindow window(ServiceControl{.start = [&] {
    producer = std::thread([&] {
      for (int i = 0; i < kLines; ++i) AppendOutput("line " + std::to_string(i));
      producerDone.set_value();
    });
    // The window thread waits here; a producer that needed it would never finish.
    producerWasFree = producerFinished.wait_for(10s) == std::future_status::ready;
    return true;
  }});
  window.outputList()->InstallAsOutput();
  WakeCounter wakeCounter;
  window.outputList()->installEventFilter(&wakeCounter);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.SetServiceState(kServiceStopped);

  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮_启动")), Qt::LeftButton);
  EXPECT_TRUE(producerWasFree) << "AppendOutput waited for the blocked window thread";
  // Serve the window thread until the producer is done, so that even a producer that does wait
  // for it gets to finish and the test reports instead of hanging.
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return producerFinished.wait_for(0s) == std::future_status::ready; }, 30s));
  producer.join();

  OutputList* list = window.outputList();
  ASSERT_TRUE(ProcessEventsUntil([&] { return list->count() > 0; }));
  // 10000 lines into an empty list: clears at lines 101, 202, ..., 9999 leave the last one.
  std::vector<std::string> expected;
  for (int i = 0; i < kLines; ++i) {
    if (expected.size() > kOutputListCap) expected.clear();
    expected.push_back("line " + std::to_string(i));
  }
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  EXPECT_EQ(items, expected);
  EXPECT_EQ(wakeCounter.wakes, 1) << "one queued wake-up per batch, not one per line";
}

}  // namespace
}  // namespace quillmere
