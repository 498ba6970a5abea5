#include "hpsocket/thread_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/thread_role.h"

namespace quillmere {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Long enough that only a fault ends a wait by its limit.
constexpr auto kPatience = std::chrono::seconds(10);

// A count that threads raise and wait on. Raise notifies while holding the lock, so a waiter may
// destroy the counter as soon as its wait returns.
class Counter {
 public:
  void Raise() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  // True once the count reaches `n`; false after kPatience.
  bool WaitFor(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return count_ >= n; });
  }
  int value() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Holds one worker busy: Run signals `running`, waits for `gate`, then signals `finished`.
struct Blocker {
  Counter running;
  Counter gate;
  Counter finished;
  std::thread::id thread;

  static void Run(PVOID arg) {
    auto* self = static_cast<Blocker*>(arg);
    self->thread = std::this_thread::get_id();
    self->running.Raise();
    self->gate.WaitFor(1);
    self->finished.Raise();
  }
  void Open() { gate.Raise(); }
};

// Submits `blocker` and returns once a worker is running it.
void Occupy(HP_ThreadPool pool, Blocker& blocker) {
  ASSERT_TRUE(HP_ThreadPool_Submit(pool, &Blocker::Run, &blocker, INFINITE));
  ASSERT_TRUE(blocker.running.WaitFor(1));
}

void RaiseCounter(PVOID arg) {
  static_cast<Counter*>(arg)->Raise();
}

// Waits (bounded) until `pool` reaches `state`; used where no event announces the change.
bool AwaitState(HP_ThreadPool pool, En_HP_ServiceState state) {
  const auto deadline = steady_clock::now() + kPatience;
  while (HP_ThreadPool_GetState(pool) != state) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

struct PoolDeleter {
  void operator()(void* pool) const { Destroy_HP_ThreadPool(pool); }
};
using PoolPtr = std::unique_ptr<void, PoolDeleter>;

PoolPtr NewPool() {
  return PoolPtr(Create_HP_ThreadPool());
}

// A malloc'd copy of `text`, for TBT_ATTACH buffers.
BYTE* MallocCopy(const std::string& text) {
  auto* bytes = static_cast<BYTE*>(std::malloc(text.size()));
  std::memcpy(bytes, text.data(), text.size());
  return bytes;
}

// What a socket task procedure saw; the task's wparam points at one of these.
struct TaskLog {
  Counter ran;
  std::mutex mutex;
  std::string data;
  std::thread::id thread;

  static void Run(TSocketTask* task) {
    auto* log = reinterpret_cast<TaskLog*>(task->wparam);
    {
      std::lock_guard lock(log->mutex);
      log->data.assign(reinterpret_cast<const char*>(task->buf), task->bufLen);
      log->thread = std::this_thread::get_id();
    }
    log->ran.Raise();
  }
};

HP_LPTSocketTask NewLoggedTask(TaskLog& log, const BYTE* buf, int len, En_HP_TaskBufferType type) {
  return Create_HP_SocketTaskObj(&TaskLog::Run, nullptr, 7, buf, len, type,
                                 reinterpret_cast<WPARAM>(&log), 0);
}

TEST(ResolveThreadCount, Table) {
  struct Row {
    DWORD requested;
    unsigned cpus;
    std::optional<DWORD> expected;
    const char* why;
  } rows[] = {
      {5, 4, 5, "a positive count is taken as given"},
      {0, 4, 10, "0 means 2 x CPUs + 2"},
      {0, 1, 4, "the default on one processor"},
      {0, 300, 500, "the default is capped at 500"},
      {static_cast<DWORD>(-2), 4, 8, "a negative count multiplies the CPUs"},
      {static_cast<DWORD>(-1), 3, 3, "-1 is one per CPU"},
      {static_cast<DWORD>(INT_MAX), 2, INT_MAX, "the largest positive count"},
      {static_cast<DWORD>(INT_MIN), 2, std::nullopt, "CPUs x 2^31 does not fit"},
      {static_cast<DWORD>(-(1 << 30)), 2, std::nullopt, "2^31 does not fit in an int"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ResolveThreadCount(row.requested, row.cpus), row.expected)
        << "requested " << static_cast<int32_t>(row.requested) << " on " << row.cpus
        << " cpus: " << row.why;
  }
}

TEST(HP_ThreadPool_Start, ThreadCountZeroAndNegativeFollowTheProcessors) {
  PoolPtr pool = NewPool();
  const DWORD cpus = ProcessorCount();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 0, 0, TRP_CALL_FAIL, 0));
  EXPECT_EQ(HP_ThreadPool_GetThreadCount(pool.get()), std::min<DWORD>(2 * cpus + 2, 500));
  ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), static_cast<DWORD>(-1), 0, TRP_CALL_FAIL, 0));
  EXPECT_EQ(HP_ThreadPool_GetThreadCount(pool.get()), cpus);
}

TEST(HP_ThreadPool_Start, ReportsSettingsAndState) {
  PoolPtr pool = NewPool();
  EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STOPPED);
  EXPECT_FALSE(HP_ThreadPool_HasStarted(pool.get()));
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 3, 7, TRP_WAIT_FOR, 1 << 20));
  EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STARTED);
  EXPECT_TRUE(HP_ThreadPool_HasStarted(pool.get()));
  EXPECT_EQ(HP_ThreadPool_GetThreadCount(pool.get()), 3u);
  EXPECT_EQ(HP_ThreadPool_GetMaxQueueSize(pool.get()), 7u);
  EXPECT_EQ(HP_ThreadPool_GetRejectedPolicy(pool.get()), TRP_WAIT_FOR);
  EXPECT_EQ(HP_ThreadPool_GetQueueSize(pool.get()), 0u);
}

TEST(HP_ThreadPool_Start, RefusesBadCallsWithTheirErrno) {
  PoolPtr pool = NewPool();
  struct Row {
    DWORD threads;
    int policy;
    DWORD stack;
    const char* why;
  } rows[] = {
      {1, 3, 0, "unknown rejected policy"},
      {1, -1, 0, "negative rejected policy"},
      {1, TRP_CALL_FAIL, 1, "a stack below the system minimum"},
      {static_cast<DWORD>(INT_MIN), TRP_CALL_FAIL, 0, "a thread count that overflows"},
  };
  for (const Row& row : rows) {
    errno = 0;
    EXPECT_FALSE(HP_ThreadPool_Start(pool.get(), row.threads, 0,
                                     static_cast<En_HP_RejectedPolicy>(row.policy), row.stack))
        << row.why;
    EXPECT_EQ(SYS_GetLastError(), EINVAL) << row.why;
    EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STOPPED) << row.why;
  }

  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  EXPECT_FALSE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0)) << "already started";
  EXPECT_EQ(SYS_GetLastError(), EPERM);

  EXPECT_FALSE(HP_ThreadPool_Start(nullptr, 1, 0, TRP_CALL_FAIL, 0));
  EXPECT_EQ(SYS_GetLastError(), EINVAL);
}

TEST(HP_ThreadPool_Submit, FailsWhenNotStarted) {
  PoolPtr pool = NewPool();
  Counter ran;
  TaskLog log;
  for (int round = 0; round < 2; ++round) {  // never started, then started and stopped
    SCOPED_TRACE(round == 0 ? "never started" : "stopped");
    errno = 0;
    EXPECT_FALSE(HP_ThreadPool_Submit(pool.get(), &RaiseCounter, &ran, INFINITE));
    EXPECT_EQ(SYS_GetLastError(), EPERM);
    HP_LPTSocketTask task = NewLoggedTask(log, nullptr, 0, TBT_COPY);
    errno = 0;
    EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool.get(), task, INFINITE));
    EXPECT_EQ(SYS_GetLastError(), EPERM);
    Destroy_HP_SocketTaskObj(task);  // refused, so still ours

    errno = 0;
    EXPECT_FALSE(HP_ThreadPool_Stop(pool.get(), INFINITE));
    EXPECT_EQ(SYS_GetLastError(), EPERM);
    errno = 0;
    EXPECT_FALSE(HP_ThreadPool_AdjustThreadCount(pool.get(), 2));
    EXPECT_EQ(SYS_GetLastError(), EPERM);

    ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
    ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
  }
  EXPECT_EQ(ran.value(), 0);
}

TEST(HP_ThreadPool_Submit, RefusesMissingProcedures) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit(pool.get(), nullptr, nullptr, INFINITE));
  EXPECT_EQ(SYS_GetLastError(), EINVAL);
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool.get(), nullptr, INFINITE));
  EXPECT_EQ(SYS_GetLastError(), EINVAL);
  HP_LPTSocketTask task = Create_HP_SocketTaskObj(nullptr, nullptr, 1, nullptr, 0, TBT_COPY, 0, 0);
  ASSERT_NE(task, nullptr);
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool.get(), task, INFINITE));
  EXPECT_EQ(SYS_GetLastError(), EINVAL);
  Destroy_HP_SocketTaskObj(task);
}

TEST(HP_ThreadPool_Submit, RunsTasksInOrderOnPoolThreads) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  Blocker blocker;
  Occupy(pool.get(), blocker);

  struct Entry {
    std::vector<int>* order;
    int number;
    ThreadRole role;
  };
  std::vector<int> order;  // written by the one worker only
  std::vector<Entry> entries;
  for (int i = 0; i < 20; ++i) entries.push_back({&order, i, ThreadRole::kOther});
  for (Entry& entry : entries) {
    ASSERT_TRUE(HP_ThreadPool_Submit(
        pool.get(),
        [](PVOID arg) {
          auto* entry = static_cast<Entry*>(arg);
          entry->order->push_back(entry->number);
          entry->role = CurrentThreadRole();
        },
        &entry, INFINITE));
  }
  EXPECT_EQ(HP_ThreadPool_GetQueueSize(pool.get()), entries.size());
  blocker.Open();
  ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));

  std::vector<int> expected(entries.size());
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
  EXPECT_EQ(order, expected);
  for (const Entry& entry : entries) EXPECT_EQ(entry.role, ThreadRole::kPool) << entry.number;
  EXPECT_EQ(CurrentThreadRole(), ThreadRole::kOther);
}

// One worker busy and a one-place queue filled: the next submit meets a full queue.
class FullQueue : public ::testing::Test {
 protected:
  void Fill(En_HP_RejectedPolicy policy) {
    ASSERT_TRUE(HP_ThreadPool_Start(pool_.get(), 1, 1, policy, 0));
    Occupy(pool_.get(), blocker_);
    ASSERT_TRUE(HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &queued_, INFINITE));
    ASSERT_EQ(HP_ThreadPool_GetQueueSize(pool_.get()), 1u);
  }
  void TearDown() override {
    blocker_.Open();
    HP_ThreadPool_Stop(pool_.get(), INFINITE);
  }

  PoolPtr pool_ = NewPool();
  Blocker blocker_;
  Counter queued_;
};

TEST_F(FullQueue, CallFailRefusesWithExfull) {
  Fill(TRP_CALL_FAIL);
  Counter extra;
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &extra, INFINITE));
  EXPECT_EQ(SYS_GetLastError(), EXFULL);

  TaskLog log;
  HP_LPTSocketTask task = NewLoggedTask(log, MallocCopy("attached"), 8, TBT_ATTACH);
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit_Task(pool_.get(), task, INFINITE));
  EXPECT_EQ(SYS_GetLastError(), EXFULL);
  Destroy_HP_SocketTaskObj(task);  // refused, so still ours (frees the attached buffer)

  blocker_.Open();
  ASSERT_TRUE(HP_ThreadPool_Stop(pool_.get(), INFINITE));
  EXPECT_EQ(queued_.value(), 1);
  EXPECT_EQ(extra.value(), 0);
}

// Run with 0 and INFINITE, which both mean "no limit".
class FullQueueWaitForever : public FullQueue, public ::testing::WithParamInterface<DWORD> {};

TEST_P(FullQueueWaitForever, SucceedsOnceRoomAppears) {
  Fill(TRP_WAIT_FOR);
  Counter extra;
  auto submitted = std::async(std::launch::async, [&] {
    return HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &extra, GetParam());
  });
  EXPECT_EQ(submitted.wait_for(milliseconds(20)), std::future_status::timeout)
      << "must wait while the queue is full";
  blocker_.Open();  // the worker takes the queued task, which makes room
  EXPECT_TRUE(submitted.get());
  EXPECT_TRUE(extra.WaitFor(1));
}

INSTANTIATE_TEST_SUITE_P(NoLimit, FullQueueWaitForever, ::testing::Values(DWORD{0}, INFINITE));

TEST_F(FullQueue, WaitForGivesUpAfterMaxWait) {
  Fill(TRP_WAIT_FOR);
  Counter extra;
  const auto start = steady_clock::now();
  errno = 0;
  EXPECT_FALSE(HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &extra, 50));
  EXPECT_EQ(SYS_GetLastError(), EXFULL);
  EXPECT_GE(steady_clock::now() - start, milliseconds(50));
  EXPECT_EQ(HP_ThreadPool_GetQueueSize(pool_.get()), 1u);
}

TEST_F(FullQueue, WaitForFailsWhenThePoolStops) {
  Fill(TRP_WAIT_FOR);
  Counter extra;
  auto submitted = std::async(std::launch::async, [&] {
    const BOOL ok = HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &extra, INFINITE);
    return std::make_pair(ok, SYS_GetLastError());
  });
  auto stopped = std::async(std::launch::async, [&] { return HP_ThreadPool_Stop(pool_.get(), 0); });
  // Stop waits for the busy worker, but the waiting submitter gives up at once.
  const auto [ok, error] = submitted.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, EPERM);
  blocker_.Open();
  EXPECT_TRUE(stopped.get());
  EXPECT_EQ(queued_.value(), 1) << "the queued task still ran";
  EXPECT_EQ(extra.value(), 0);
}

TEST_F(FullQueue, CallerRunRunsInTheCallerAndDestroysTheTask) {
  Fill(TRP_CALLER_RUN);
  TaskLog log;
  // An attached buffer that nobody else frees: a leak here shows under AddressSanitizer.
  HP_LPTSocketTask task = NewLoggedTask(log, MallocCopy("by the caller"), 13, TBT_ATTACH);
  ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool_.get(), task, INFINITE));
  EXPECT_EQ(log.ran.value(), 1) << "ran before Submit_Task returned";
  EXPECT_EQ(log.thread, std::this_thread::get_id());
  EXPECT_EQ(log.data, "by the caller");

  Counter extra;
  ASSERT_TRUE(HP_ThreadPool_Submit(pool_.get(), &RaiseCounter, &extra, INFINITE));
  EXPECT_EQ(extra.value(), 1);
  EXPECT_EQ(HP_ThreadPool_GetQueueSize(pool_.get()), 1u);
}

TEST(HP_ThreadPool_Stop, QueuedTasksStillRunAndNewOnesAreRefused) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  Blocker blocker;
  Occupy(pool.get(), blocker);
  Counter queued;
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(HP_ThreadPool_Submit(pool.get(), &RaiseCounter, &queued, 0));

  struct Late {
    HP_ThreadPool pool;
    BOOL ok = TRUE;
    int error = 0;
  } late{pool.get()};
  std::thread opener([&] {
    EXPECT_TRUE(AwaitState(pool.get(), SS_STOPPING));
    // While stopping, new tasks are refused, from outside and from a running task alike.
    EXPECT_FALSE(HP_ThreadPool_Submit(pool.get(), &RaiseCounter, &queued, 0));
    EXPECT_EQ(SYS_GetLastError(), EPERM);
    EXPECT_FALSE(HP_ThreadPool_HasStarted(pool.get()));
    blocker.Open();
  });
  ASSERT_TRUE(HP_ThreadPool_Submit(
      pool.get(),
      [](PVOID arg) {
        auto* late = static_cast<Late*>(arg);
        late->ok = HP_ThreadPool_Submit(late->pool, &RaiseCounter, nullptr, 0);
        late->error = SYS_GetLastError();
      },
      &late, 0));

  errno = 0;
  EXPECT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
  EXPECT_NE(SYS_GetLastError(), ECANCELED);
  opener.join();
  EXPECT_EQ(queued.value(), 5);
  EXPECT_FALSE(late.ok);
  EXPECT_EQ(late.error, EPERM);
  EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STOPPED);
}

TEST(HP_ThreadPool_Stop, TimeoutDestroysQueuedTasksWithoutRunning) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  Blocker blocker;
  Occupy(pool.get(), blocker);
  // Attached buffers belong to the tasks: if a discarded task were not destroyed, its buffer
  // would show as a leak under AddressSanitizer.
  TaskLog log;
  for (int i = 0; i < 3; ++i) {
    HP_LPTSocketTask task = NewLoggedTask(log, MallocCopy("discarded"), 9, TBT_ATTACH);
    ASSERT_TRUE(HP_ThreadPool_Submit_Task(pool.get(), task, INFINITE));
  }

  const auto start = steady_clock::now();
  errno = 0;
  EXPECT_TRUE(HP_ThreadPool_Stop(pool.get(), 30));
  EXPECT_EQ(SYS_GetLastError(), ECANCELED);
  EXPECT_GE(steady_clock::now() - start, milliseconds(30));
  EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STOPPED);
  EXPECT_EQ(HP_ThreadPool_GetQueueSize(pool.get()), 0u);
  EXPECT_EQ(HP_ThreadPool_GetThreadCount(pool.get()), 0u);

  blocker.Open();  // the detached worker finishes its task and leaves
  EXPECT_TRUE(blocker.finished.WaitFor(1));
  EXPECT_EQ(log.ran.value(), 0);
}

TEST(ThreadPool, TimedOutStopReleasesEachQueuedTaskOnce) {
  struct Tally {
    Counter runs;
    Counter releases;
  };
  auto count_run = [](void* arg) { static_cast<Tally*>(arg)->runs.Raise(); };
  auto count_release = [](void* arg) { static_cast<Tally*>(arg)->releases.Raise(); };

  ThreadPool pool;
  ASSERT_EQ(pool.Start(1, 0, TRP_CALL_FAIL, 0), 0);
  Blocker blocker;
  ASSERT_EQ(pool.Submit({&Blocker::Run, &blocker, nullptr}, 0), 0);
  ASSERT_TRUE(blocker.running.WaitFor(1));
  Tally queued;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(pool.Submit({count_run, &queued, count_release}, 0), 0);

  EXPECT_EQ(pool.Stop(20), ECANCELED);
  EXPECT_EQ(queued.runs.value(), 0);
  EXPECT_EQ(queued.releases.value(), 4);

  // The straggler never takes work from the next run: it stays blocked while the new run's
  // worker runs a task.
  ASSERT_EQ(pool.Start(1, 0, TRP_CALL_FAIL, 0), 0);
  Tally next;
  ASSERT_EQ(pool.Submit({count_run, &next, count_release}, 0), 0);
  EXPECT_TRUE(next.releases.WaitFor(1));
  EXPECT_EQ(next.runs.value(), 1);
  EXPECT_EQ(blocker.finished.value(), 0);
  blocker.Open();
  EXPECT_TRUE(blocker.finished.WaitFor(1));
  EXPECT_EQ(pool.Stop(INFINITE), 0);
  EXPECT_EQ(queued.releases.value(), 4);
}

// Workers park between tasks and a submit wakes one only when none is already on its way. Each
// submit here comes as the previous task's worker is about to park: a wake-up lost in that
// window leaves a task queued with every worker asleep, and the wait below runs out.
TEST(ThreadPool, EverySubmitReachesAWorkerAsTheLastOneParks) {
  for (DWORD workers : {1u, 2u}) {
    ThreadPool pool;
    ASSERT_EQ(pool.Start(workers, 0, TRP_CALL_FAIL, 0), 0);
    Counter done;
    constexpr int kTasks = 2000;
    for (int i = 1; i <= kTasks; ++i) {
      ASSERT_EQ(pool.Submit({&RaiseCounter, &done, nullptr}, 0), 0);
      if (!done.WaitFor(i)) {
        ADD_FAILURE() << "task " << i << " on " << workers << " workers never ran";
        break;
      }
    }
    // Bounded: a worker that missed its wake-up would never exit.
    EXPECT_EQ(pool.Stop(1000), 0);
  }
}

// A burst wakes one worker; each worker that takes a task and leaves others queued wakes the
// next. Tasks that can only finish together therefore still get a worker each, burst after
// burst.
TEST(ThreadPool, BurstOfTasksThatWaitForEachOtherGetsAWorkerEach) {
  constexpr int kWorkers = 4;
  ThreadPool pool;
  ASSERT_EQ(pool.Start(kWorkers, 0, TRP_CALL_FAIL, 0), 0);
  for (int round = 0; round < 100; ++round) {
    std::latch together(kWorkers);
    Counter done;
    struct Meet {
      std::latch* together;
      Counter* done;
    } meet{&together, &done};
    for (int i = 0; i < kWorkers; ++i) {
      ASSERT_EQ(pool.Submit({[](void* arg) {
                               auto* meet = static_cast<Meet*>(arg);
                               meet->together->arrive_and_wait();
                               meet->done->Raise();
                             },
                             &meet, nullptr},
                            0),
                0);
    }
    ASSERT_TRUE(done.WaitFor(kWorkers)) << "round " << round;
  }
  EXPECT_EQ(pool.Stop(INFINITE), 0);
}

// One task at a time keeps going to the most recently parked worker, so the other threads of a
// large pool stay asleep. At most two take turns (the one finishing a task and the one woken
// meanwhile); a third is allowed for a worker that was slow to park after the warm-up.
TEST(ThreadPool, OneTaskAtATimeKeepsReusingTheLastWorkers) {
  constexpr int kWorkers = 8;
  ThreadPool pool;
  ASSERT_EQ(pool.Start(kWorkers, 0, TRP_CALL_FAIL, 0), 0);
  struct Seen {
    Counter done;
    std::mutex mutex;
    std::vector<std::thread::id> threads;  // guarded by mutex
  } seen;
  const auto note = [](void* arg) {
    auto* seen = static_cast<Seen*>(arg);
    {
      std::lock_guard lock(seen->mutex);
      seen->threads.push_back(std::this_thread::get_id());
    }
    seen->done.Raise();
  };
  constexpr int kTasks = 2000;
  for (int i = 1; i <= kTasks; ++i) {
    ASSERT_EQ(pool.Submit({note, &seen, nullptr}, 0), 0);
    ASSERT_TRUE(seen.done.WaitFor(i));
  }
  EXPECT_EQ(pool.Stop(INFINITE), 0);

  std::vector<std::thread::id> later(seen.threads.begin() + kTasks / 2, seen.threads.end());
  std::sort(later.begin(), later.end());
  later.erase(std::unique(later.begin(), later.end()), later.end());
  EXPECT_LE(later.size(), 3u) << "tasks run one at a time went to " << later.size() << " of "
                              << kWorkers << " workers";
}

TEST(HP_ThreadPool_Stop, RefusedOnThePoolsOwnThread) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 2, 0, TRP_CALL_FAIL, 0));
  struct Attempt {
    HP_ThreadPool pool = nullptr;
    BOOL ok = TRUE;
    int error = 0;
    Counter done;
  } attempt;
  attempt.pool = pool.get();
  ASSERT_TRUE(HP_ThreadPool_Submit(
      pool.get(),
      [](PVOID arg) {
        auto* attempt = static_cast<Attempt*>(arg);
        attempt->ok = HP_ThreadPool_Stop(attempt->pool, INFINITE);
        attempt->error = SYS_GetLastError();
        attempt->done.Raise();
      },
      &attempt, 0));
  ASSERT_TRUE(attempt.done.WaitFor(1));
  EXPECT_FALSE(attempt.ok);
  EXPECT_EQ(attempt.error, EPERM);
  EXPECT_TRUE(HP_ThreadPool_HasStarted(pool.get()));
  EXPECT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
}

TEST(HP_ThreadPool_Stop, StartsAgainWithFreshSettings) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 2, 5, TRP_CALLER_RUN, 0));
  ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
  EXPECT_EQ(HP_ThreadPool_GetMaxQueueSize(pool.get()), 0u);
  EXPECT_EQ(HP_ThreadPool_GetRejectedPolicy(pool.get()), TRP_CALL_FAIL);
  EXPECT_EQ(HP_ThreadPool_GetThreadCount(pool.get()), 0u);

  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 3, 0, TRP_WAIT_FOR, 0));
    Counter ran;
    for (int i = 0; i < 10; ++i)
      ASSERT_TRUE(HP_ThreadPool_Submit(pool.get(), &RaiseCounter, &ran, 0));
    EXPECT_TRUE(ran.WaitFor(10));
    ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
    EXPECT_EQ(HP_ThreadPool_GetState(pool.get()), SS_STOPPED);
  }
}

TEST(HP_ThreadPool_AdjustThreadCount, GrowsNowAndShrinksAsWorkersFallIdle) {
  ThreadPool pool;
  ASSERT_EQ(pool.Start(1, 0, TRP_CALL_FAIL, 0), 0);
  ASSERT_EQ(pool.AdjustThreadCount(3), 0);
  EXPECT_EQ(pool.GetThreadCount(), 3u);
  EXPECT_EQ(pool.GetLiveThreadCount(), 3u);

  // Three tasks that each wait for the other two can only finish on three threads at once.
  std::latch together(3);
  Counter done;
  struct Meet {
    std::latch* together;
    Counter* done;
  } meet{&together, &done};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(pool.Submit({[](void* arg) {
                             auto* meet = static_cast<Meet*>(arg);
                             meet->together->arrive_and_wait();
                             meet->done->Raise();
                           },
                           &meet, nullptr},
                          0),
              0);
  }
  ASSERT_TRUE(done.WaitFor(3));

  // Shrinking while all three are busy: the wanted count falls at once, the surplus workers
  // leave when they find the queue empty.
  Blocker blockers[3];
  for (Blocker& blocker : blockers) {
    ASSERT_EQ(pool.Submit({&Blocker::Run, &blocker, nullptr}, 0), 0);
  }
  for (Blocker& blocker : blockers) ASSERT_TRUE(blocker.running.WaitFor(1));
  ASSERT_EQ(pool.AdjustThreadCount(1), 0);
  EXPECT_EQ(pool.GetThreadCount(), 1u);
  EXPECT_EQ(pool.GetLiveThreadCount(), 3u);
  for (Blocker& blocker : blockers) blocker.Open();
  const auto deadline = steady_clock::now() + kPatience;
  while (pool.GetLiveThreadCount() > 1 && steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(pool.GetLiveThreadCount(), 1u);

  // The one left still works; growing again counts it.
  Counter after;
  ASSERT_EQ(
      pool.Submit({[](void* arg) { static_cast<Counter*>(arg)->Raise(); }, &after, nullptr}, 0), 0);
  EXPECT_TRUE(after.WaitFor(1));
  ASSERT_EQ(pool.AdjustThreadCount(2), 0);
  EXPECT_EQ(pool.GetLiveThreadCount(), 2u);

  EXPECT_EQ(pool.AdjustThreadCount(static_cast<DWORD>(INT_MIN)), EINVAL);
  EXPECT_EQ(pool.GetThreadCount(), 2u);
  EXPECT_EQ(pool.Stop(INFINITE), 0);
  EXPECT_EQ(pool.GetLiveThreadCount(), 0u);
}

TEST(Create_HP_SocketTaskObj, BufferTypes) {
  const std::string text = "payload";
  const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
  const int len = static_cast<int>(text.size());

  // TBT_COPY: a copy of its own, unchanged when the caller's bytes change.
  std::string source = text;
  auto* src = reinterpret_cast<const BYTE*>(source.data());
  HP_LPTSocketTask copy = Create_HP_SocketTaskObj(nullptr, nullptr, 1, src, len, TBT_COPY, 0, 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->buf, src);
  source.assign(source.size(), 'x');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy->buf), copy->bufLen), text);
  Destroy_HP_SocketTaskObj(copy);

  // TBT_REFER: the caller's pointer; destroying the task must not free it (a stray free of a
  // std::string's bytes shows under AddressSanitizer).
  HP_LPTSocketTask refer =
      Create_HP_SocketTaskObj(nullptr, nullptr, 1, bytes, len, TBT_REFER, 0, 0);
  ASSERT_NE(refer, nullptr);
  EXPECT_EQ(refer->buf, bytes);
  EXPECT_EQ(refer->bufLen, len);
  Destroy_HP_SocketTaskObj(refer);

  // TBT_ATTACH: the caller's malloc'd block, freed with the task.
  BYTE* attached = MallocCopy(text);
  HP_LPTSocketTask attach =
      Create_HP_SocketTaskObj(nullptr, nullptr, 1, attached, len, TBT_ATTACH, 0, 0);
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(attach->buf, attached);
  Destroy_HP_SocketTaskObj(attach);

  Destroy_HP_SocketTaskObj(nullptr);  // harmless
}

TEST(Create_HP_SocketTaskObj, FieldsInOrder) {
  auto fn = [](TSocketTask*) {};
  int sender = 0;
  HP_LPTSocketTask task =
      Create_HP_SocketTaskObj(fn, &sender, 42, nullptr, 0, TBT_REFER, WPARAM{7}, LPARAM{-8});
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->fn, static_cast<HP_Fn_SocketTaskProc>(fn));
  EXPECT_EQ(task->sender, &sender);
  EXPECT_EQ(task->connID, 42u);
  EXPECT_EQ(task->buf, nullptr);
  EXPECT_EQ(task->bufLen, 0);
  EXPECT_EQ(task->bufType, TBT_REFER);
  EXPECT_EQ(task->wparam, 7u);
  EXPECT_EQ(task->lparam, -8);
  Destroy_HP_SocketTaskObj(task);

  // Field order and width as the C layout requires.
  EXPECT_EQ(offsetof(TSocketTask, fn), 0u);
  EXPECT_LT(offsetof(TSocketTask, sender), offsetof(TSocketTask, connID));
  EXPECT_LT(offsetof(TSocketTask, connID), offsetof(TSocketTask, buf));
  EXPECT_LT(offsetof(TSocketTask, buf), offsetof(TSocketTask, bufLen));
  EXPECT_LT(offsetof(TSocketTask, bufLen), offsetof(TSocketTask, bufType));
  EXPECT_LT(offsetof(TSocketTask, bufType), offsetof(TSocketTask, wparam));
  EXPECT_LT(offsetof(TSocketTask, wparam), offsetof(TSocketTask, lparam));
}

TEST(Create_HP_SocketTaskObj, OddBuffers) {
  const BYTE byte = 'a';
  struct Row {
    const BYTE* buf;
    int len;
    int type;
    bool created;
    const char* why;
  } rows[] = {
      {nullptr, 5, TBT_COPY, true, "no data: the length is dropped, not trusted"},
      {nullptr, 5, TBT_REFER, true, "no data by reference"},
      {nullptr, 5, TBT_ATTACH, true, "nothing to attach"},
      {&byte, 0, TBT_COPY, true, "copying nothing allocates nothing"},
      {&byte, -1, TBT_COPY, false, "a negative length"},
      {&byte, 1, 3, false, "an unknown buffer type could not be freed correctly"},
  };
  for (const Row& row : rows) {
    errno = 0;
    HP_LPTSocketTask task = Create_HP_SocketTaskObj(
        nullptr, nullptr, 1, row.buf, row.len, static_cast<En_HP_TaskBufferType>(row.type), 0, 0);
    EXPECT_EQ(task != nullptr, row.created) << row.why;
    if (task == nullptr) {
      EXPECT_EQ(SYS_GetLastError(), EINVAL) << row.why;
      continue;
    }
    EXPECT_EQ(task->buf, nullptr) << row.why;
    EXPECT_EQ(task->bufLen, 0) << row.why;
    Destroy_HP_SocketTaskObj(task);
  }
}

TEST(HP_ThreadPool_Submit_Task, PoolDestroysTheTaskAfterItRuns) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 2, 0, TRP_CALL_FAIL, 0));
  const std::string referred = "referred";  // stays ours: the pool must not free it
  TaskLog copy_log, refer_log, attach_log;
  ASSERT_TRUE(HP_ThreadPool_Submit_Task(
      pool.get(), NewLoggedTask(copy_log, reinterpret_cast<const BYTE*>("copied"), 6, TBT_COPY),
      INFINITE));
  ASSERT_TRUE(HP_ThreadPool_Submit_Task(
      pool.get(),
      NewLoggedTask(refer_log, reinterpret_cast<const BYTE*>(referred.data()), 8, TBT_REFER),
      INFINITE));
  ASSERT_TRUE(HP_ThreadPool_Submit_Task(
      pool.get(), NewLoggedTask(attach_log, MallocCopy("attached"), 8, TBT_ATTACH), INFINITE));
  ASSERT_TRUE(HP_ThreadPool_Stop(pool.get(), INFINITE));
  // Leaks or stray frees of the three buffers show under AddressSanitizer.
  EXPECT_EQ(copy_log.data, "copied");
  EXPECT_EQ(refer_log.data, "referred");
  EXPECT_EQ(attach_log.data, "attached");
  EXPECT_EQ(referred, "referred");
}

TEST(Destroy_HP_ThreadPool, StopsARunningPoolAfterItsQueue) {
  PoolPtr pool = NewPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool.get(), 1, 0, TRP_CALL_FAIL, 0));
  Blocker blocker;
  Occupy(pool.get(), blocker);
  Counter queued;
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(HP_ThreadPool_Submit(pool.get(), &RaiseCounter, &queued, 0));
  blocker.Open();
  pool.reset();
  EXPECT_EQ(queued.value(), 5);
  Destroy_HP_ThreadPool(nullptr);  // harmless
}

TEST(Destroy_HP_ThreadPool, FromItsOwnTaskLetsTheQueueFinish) {
  HP_ThreadPool pool = Create_HP_ThreadPool();
  ASSERT_TRUE(HP_ThreadPool_Start(pool, 1, 0, TRP_CALL_FAIL, 0));
  Blocker blocker;
  Occupy(pool, blocker);
  ASSERT_TRUE(HP_ThreadPool_Submit(
      pool, [](PVOID arg) { Destroy_HP_ThreadPool(arg); }, pool, 0));
  Counter after;
  ASSERT_TRUE(HP_ThreadPool_Submit(pool, &RaiseCounter, &after, 0));
  blocker.Open();
  // The worker cannot wait for itself; it runs the rest of the queue, then leaves, and the last
  // worker frees what is left (a leak shows under AddressSanitizer).
  EXPECT_TRUE(after.WaitFor(1));
}

TEST(SYS_GetLastError, IsErrno) {
  errno = EXFULL;
  EXPECT_EQ(SYS_GetLastError(), EXFULL);
  errno = 0;
  EXPECT_EQ(SYS_GetLastError(), 0);
}

}  // namespace
}  // namespace quillmere
