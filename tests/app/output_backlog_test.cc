#include "app/output_backlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {
namespace {

// The list as the window shows it when every line is appended on its own.
void AppendOneByOne(std::vector<std::string>& list, const std::string& line) {
  if (list.size() > kOutputListCap) list.clear();
  list.push_back(line);
}

std::vector<std::string> Numbered(std::string_view prefix, std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) lines.push_back(std::string(prefix) + std::to_string(i));
  return lines;
}

// Every start count around the cap against every queued count over three clear cycles: the
// plan must leave the count and the clear exactly as one append at a time would.
TEST(PlanAppends, MatchesAppendingOneAtATime) {
  for (std::size_t start = 0; start <= 105; ++start) {
    for (std::uint64_t queued = 0; queued <= 320; ++queued) {
      std::size_t count = start;
      bool cleared = false;
      for (std::uint64_t i = 0; i < queued; ++i) {
        if (count > kOutputListCap) {
          count = 0;
          cleared = true;
        }
        ++count;
      }
      const AppendPlan plan = PlanAppends(start, queued);
      ASSERT_EQ(plan.clearFirst, cleared) << "start " << start << ", queued " << queued;
      ASSERT_EQ(cleared ? plan.add : start + plan.add, count)
          << "start " << start << ", queued " << queued;
    }
  }
}

struct CoalesceCase {
  std::size_t start;   // items in the list before the batch
  std::size_t queued;  // lines in the batch
  bool clears;         // the list is cleared on the way
  std::size_t final;   // items afterwards
  const char* why;
};

const CoalesceCase kCoalesceCases[] = {
    {0, 0, false, 0, "nothing queued leaves an empty list alone"},
    {50, 0, false, 50, "nothing queued leaves a full list alone"},
    {0, 1, false, 1, "one line into an empty list"},
    {100, 1, false, 101, "100 items: the append is allowed to make 101"},
    {101, 1, true, 1, "101 items: the append clears first and leaves only itself"},
    {150, 1, true, 1, "a list already over the cap clears with the first line"},
    {50, 51, false, 101, "fills the list exactly to 101"},
    {50, 52, true, 1, "the 52nd line finds 101 items and clears"},
    {50, 200, true, 48, "a batch that clears twice keeps what follows the last clear"},
    {0, 202, true, 101, "the last clear leaves a full 101"},
    {0, 203, true, 1, "one line more starts over again"},
    {0, 100000, true, 10, "a flood keeps only the newest lines"},
};

// A batch taken from the backlog and applied by its plan gives the same list, item for item, as
// appending its lines one at a time, and the backlog never holds more than 101 lines.
TEST(OutputBacklog, BatchEqualsAppendingOneAtATime) {
  for (const CoalesceCase& c : kCoalesceCases) {
    SCOPED_TRACE(testing::Message()
                 << "start " << c.start << ", queued " << c.queued << ": " << c.why);
    const std::vector<std::string> before = Numbered("old", c.start);
    const std::vector<std::string> lines = Numbered("new", c.queued);

    std::vector<std::string> expected = before;
    for (const std::string& line : lines) AppendOneByOne(expected, line);

    OutputBacklog backlog;
    for (const std::string& line : lines) backlog.Append(line);
    OutputBatch batch = backlog.Take();
    EXPECT_EQ(batch.appended, c.queued);
    EXPECT_LE(batch.lines.size(), kOutputListMaxItems);

    std::vector<std::string> list = before;
    const AppendPlan plan = PlanAppends(list.size(), batch.appended);
    ASSERT_LE(plan.add, batch.lines.size());
    if (plan.clearFirst) list.clear();
    list.insert(list.end(), batch.lines.end() - static_cast<std::ptrdiff_t>(plan.add),
                batch.lines.end());

    EXPECT_EQ(plan.clearFirst, c.clears);
    EXPECT_EQ(list.size(), c.final);
    EXPECT_EQ(list, expected);
  }
}

// Batches taken one after another, each applied to the list left by the previous one, end as
// one-at-a-time appends do: the list's count carries the cap across batches.
TEST(OutputBacklog, SuccessiveBatchesCarryTheCount) {
  OutputBacklog backlog;
  std::vector<std::string> list;
  std::vector<std::string> expected;
  std::size_t next = 0;
  for (std::size_t size : {7, 93, 1, 0, 150, 101, 3, 260}) {
    for (std::size_t i = 0; i < size; ++i) {
      const std::string line = std::to_string(next++);
      backlog.Append(line);
      AppendOneByOne(expected, line);
    }
    OutputBatch batch = backlog.Take();
    const AppendPlan plan = PlanAppends(list.size(), batch.appended);
    if (plan.clearFirst) list.clear();
    list.insert(list.end(), batch.lines.end() - static_cast<std::ptrdiff_t>(plan.add),
                batch.lines.end());
    ASSERT_EQ(list, expected) << "after a batch of " << size;
  }
}

TEST(OutputBacklog, EmptyLineIsALine) {
  OutputBacklog backlog;
  backlog.Append("");
  const OutputBatch batch = backlog.Take();
  EXPECT_EQ(batch.appended, 1u);
  ASSERT_EQ(batch.lines.size(), 1u);
  EXPECT_EQ(batch.lines.front(), "");
}

// The taker is woken by the first line of a batch only; taking the batch re-arms the wake-up.
TEST(OutputBacklog, WakesOncePerBatch) {
  int wakes = 0;
  OutputBacklog backlog([&] { ++wakes; });
  backlog.Append("a");
  backlog.Append("b");
  backlog.Append("c");
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(backlog.Take().appended, 3u);
  EXPECT_EQ(backlog.Take().appended, 0u);  // an empty take does not wake anyone
  EXPECT_EQ(wakes, 1);
  backlog.Append("d");
  backlog.Append("e");
  EXPECT_EQ(wakes, 2);
}

// Several producers and a taker that takes only when woken: every line is counted (a lost
// wake-up would leave lines behind and time out), and each producer's kept lines stay in order.
TEST(OutputBacklog, ConcurrentProducersKeepOrderAndLoseNoWakeUp) {
  constexpr int kProducers = 4;
  constexpr int kLinesEach = 20000;
  std::mutex mutex;
  std::condition_variable changed;
  bool woken = false;
  bool finished = false;
  OutputBacklog backlog([&] {
    {
      std::lock_guard lock(mutex);
      woken = true;
    }
    changed.notify_all();
  });

  std::uint64_t taken = 0;
  std::vector<int> lastSeen(kProducers, -1);
  bool ordered = true;
  std::thread taker([&] {
    std::unique_lock lock(mutex);
    while (true) {
      changed.wait(lock, [&] { return woken || finished; });
      if (finished) return;
      woken = false;
      lock.unlock();
      const OutputBatch batch = backlog.Take();
      for (const std::string& line : batch.lines) {
        const int producer = line[0] - '0';
        const int number = std::stoi(line.substr(2));
        if (number <= lastSeen[producer]) ordered = false;
        lastSeen[producer] = number;
      }
      lock.lock();
      taken += batch.appended;
      changed.notify_all();
    }
  });

  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&backlog, p] {
      for (int i = 0; i < kLinesEach; ++i)
        backlog.Append(std::to_string(p) + ":" + std::to_string(i));
    });
  }
  for (std::thread& producer : producers) producer.join();

  std::unique_lock lock(mutex);
  const bool allTaken = changed.wait_for(lock, std::chrono::seconds(10), [&] {
    return taken == std::uint64_t{kProducers} * kLinesEach;
  });
  finished = true;
  lock.unlock();
  changed.notify_all();
  taker.join();
  EXPECT_TRUE(allTaken) << "taken " << taken << " lines";
  EXPECT_TRUE(ordered);
}

}  // namespace
}  // namespace quillmere
