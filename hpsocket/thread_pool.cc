#include "hpsocket/thread_pool.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "hpsocket/thread_role.h"

namespace quillmere {
namespace {

constexpr DWORD kMaxDefaultThreadCount = 500;

// A parked worker sleeps on a futex word of its own, so a waker can pick exactly the worker it
// wants (the most recently parked) and wake it after leaving the pool's mutex. (std::atomic's
// wait spins and yields before it sleeps, which only costs here.)

// Sleeps while `word` holds `expected`; may return early (a stale or spurious wake-up).
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr,
          nullptr, 0);
}

// Wakes the thread sleeping in FutexWait on `word`, if any.
void FutexWake(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}

// The pool whose worker the calling thread is, or null. Set once when a worker starts.
thread_local const void* t_worker_of = nullptr;

bool IsUnlimited(DWORD wait_ms) {
  return wait_ms == 0 || wait_ms == INFINITE;
}

bool IsValidPolicy(En_HP_RejectedPolicy policy) {
  return policy == TRP_CALL_FAIL || policy == TRP_WAIT_FOR || policy == TRP_CALLER_RUN;
}

void RunAndRelease(const ThreadPool::Task& task) {
  task.run(task.arg);
  if (task.release != nullptr) task.release(task.arg);
}

// Thread attributes for workers: detached, with `stack_size` bytes of stack (0: the default),
// rounded up to whole pages. Owns the pthread_attr_t.
class WorkerAttributes {
 public:
  WorkerAttributes() {
    pthread_attr_init(&attr_);
    pthread_attr_setdetachstate(&attr_, PTHREAD_CREATE_DETACHED);
  }
  ~WorkerAttributes() { pthread_attr_destroy(&attr_); }
  WorkerAttributes(const WorkerAttributes&) = delete;
  WorkerAttributes& operator=(const WorkerAttributes&) = delete;

  // 0, or EINVAL when the system refuses the size (below its minimum).
  int SetStackSize(DWORD stack_size) {
    if (stack_size == 0) return 0;
    const long page = sysconf(_SC_PAGESIZE);
    size_t size = stack_size;
    if (page > 0) size = (size + page - 1) / page * page;
    return pthread_attr_setstacksize(&attr_, size) == 0 ? 0 : EINVAL;
  }
  const pthread_attr_t* get() const { return &attr_; }

 private:
  pthread_attr_t attr_;
};

}  // namespace

std::optional<DWORD> ResolveThreadCount(DWORD requested, unsigned cpus) {
  constexpr int64_t kMax = std::numeric_limits<int>::max();
  const int64_t n = static_cast<int32_t>(requested);
  const int64_t count = n > 0    ? n
                        : n == 0 ? std::min<int64_t>(2 * int64_t{cpus} + 2, kMaxDefaultThreadCount)
                                 : int64_t{cpus} * -n;
  if (count < 1 || count > kMax) return std::nullopt;
  return static_cast<DWORD>(count);
}

unsigned ProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// Everything a run needs, shared by the ThreadPool object, its workers and any submitter waiting
// for room; the last of them to let go frees it. Every field is guarded by `mutex`.
//
// Wake-ups: idle workers park in a stack and the most recently parked one is woken first, so a
// light load keeps reusing one warm thread while the surplus ones stay asleep. A task is queued
// without waking anybody when a worker is already on its way to the queue; a worker that takes
// a task and leaves others queued wakes the next one. So every queued task has a worker heading
// for it while any worker is idle (tasks still run side by side, and a task may wait for
// another one to run), but a burst of submissions costs one wake-up instead of one per task.
struct ThreadPool::Shared {
  // Where one worker sleeps while parked. Shared with the waker, which wakes it after leaving
  // `mutex` (so the worker does not run into a held lock) and may do so after the worker has
  // already moved on (a harmless stale wake-up).
  struct Parking {
    std::atomic<uint32_t> woken{0};  // 0 while listed in `parked`; 1 once a waker took it off
    bool heading = false;            // woken for a queued task (counted in `waking`); `mutex`

    void Wait() {
      while (woken.load(std::memory_order_acquire) == 0) FutexWait(woken, 0);
    }
    void Wake() { FutexWake(woken); }
  };
  using ParkingPtr = std::shared_ptr<Parking>;

  std::mutex mutex;
  std::condition_variable room;    // waiting submitters: a full queue gave up a task, or the run
                                   // is ending
  std::condition_variable exited;  // Stop: the last worker of the run exited
  std::condition_variable ended;   // a second Stop: the run ended

  En_HP_ServiceState state = SS_STOPPED;
  // Counts finished runs. Workers and waiting submitters remember the run they belong to and
  // leave as soon as it has ended, so a run abandoned by a timed-out Stop never touches the next.
  uint64_t run = 0;
  std::deque<Task> queue;
  DWORD max_queue = 0;
  En_HP_RejectedPolicy policy = TRP_CALL_FAIL;
  DWORD stack_size = 0;
  DWORD wanted = 0;                // workers the run should have
  DWORD live = 0;                  // workers of the run that have not exited yet
  std::vector<ParkingPtr> parked;  // idle workers, the most recently parked last
  DWORD waking = 0;                // workers woken for a queued task that have not arrived yet

  bool HasRoom() const { return max_queue == 0 || queue.size() < max_queue; }

  // When tasks wait, no worker is on its way to them and a worker is parked: takes the most
  // recently parked one off the stack and returns it; the caller calls Wake() on it after
  // leaving `mutex`. Caller holds `mutex`. Every change that can leave a queued task without a
  // worker heading for it ends with this call.
  [[nodiscard]] ParkingPtr AttendLocked() {
    if (queue.empty() || waking > 0 || parked.empty()) return nullptr;
    ParkingPtr place = std::move(parked.back());
    parked.pop_back();
    place->heading = true;
    ++waking;
    place->woken.store(1, std::memory_order_release);
    return place;
  }

  // Wakes every parked worker, so each looks at the run again (it ended, or the wanted count
  // fell). Caller holds `mutex`.
  void CallAllLocked() {
    for (const ParkingPtr& place : parked) {
      place->woken.store(1, std::memory_order_release);
      place->Wake();
    }
    parked.clear();
  }

  // Queues `task`; returns the worker to wake, if any (see AttendLocked).
  [[nodiscard]] ParkingPtr Enqueue(const Task& task) {
    queue.push_back(task);
    return AttendLocked();
  }

  // Pops the first task; `next` receives the worker to wake for the tasks behind it, if any.
  Task TakeLocked(ParkingPtr& next) {
    const bool was_full = !HasRoom();
    const Task task = queue.front();
    queue.pop_front();
    if (was_full) room.notify_one();
    next = AttendLocked();
    return task;
  }

  // Starts `count` more workers for the current run. Caller holds `mutex`. 0, or the error of
  // the first worker that could not be started; `live` counts the ones that did start.
  int AddWorkers(const std::shared_ptr<Shared>& self, DWORD count);

  // Closes the run: STOPPED with the settings reset. Caller holds `mutex`.
  void EndRun() {
    ++run;
    state = SS_STOPPED;
    wanted = 0;
    live = 0;
    max_queue = 0;
    policy = TRP_CALL_FAIL;
    CallAllLocked();
    room.notify_all();
    ended.notify_all();
  }

  // A worker's life: take tasks while there are any; leave when the run has ended, or when the
  // queue is empty and the run has more workers than it wants; otherwise park until woken.
  void Work(uint64_t my_run) {
    const auto place = std::make_shared<Parking>();
    std::unique_lock lock(mutex);
    for (;;) {
      if (run != my_run) {
        // Woken for a task of the next run, this worker hands the duty on before it leaves.
        const ParkingPtr next = AttendLocked();
        lock.unlock();
        if (next) next->Wake();
        return;
      }
      if (!queue.empty()) {
        ParkingPtr next;
        const Task task = TakeLocked(next);
        lock.unlock();
        if (next) next->Wake();
        RunAndRelease(task);
        lock.lock();
        continue;
      }
      if (live > wanted) {
        if (--live == 0) exited.notify_all();
        return;
      }
      place->woken.store(0, std::memory_order_relaxed);
      place->heading = false;
      parked.push_back(place);
      lock.unlock();
      place->Wait();
      lock.lock();
      if (place->heading) --waking;
    }
  }

  static int Submit(const std::shared_ptr<Shared>& self, Task task, DWORD max_wait_ms);
  static int Stop(std::shared_ptr<Shared> self, DWORD max_wait_ms);

  // What a new worker thread receives: its own reference to the state and the run it serves.
  struct WorkerStart {
    std::shared_ptr<Shared> shared;
    uint64_t run;
  };
  static void* WorkerMain(void* arg) {
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(arg));
    t_worker_of = start->shared.get();
    SetCurrentThreadRole(ThreadRole::kPool);
    start->shared->Work(start->run);
    return nullptr;
  }
};

int ThreadPool::Shared::AddWorkers(const std::shared_ptr<Shared>& self, DWORD count) {
  WorkerAttributes attributes;
  if (int error = attributes.SetStackSize(stack_size)) return error;
  for (DWORD i = 0; i < count; ++i) {
    auto* start = new WorkerStart{self, run};
    pthread_t thread;
    if (int error = pthread_create(&thread, attributes.get(), &WorkerMain, start)) {
      delete start;
      return error;
    }
    ++live;
  }
  return 0;
}

int ThreadPool::Shared::Submit(const std::shared_ptr<Shared>& self, Task task, DWORD max_wait_ms) {
  if (task.run == nullptr) return EINVAL;
  Shared& s = *self;
  std::unique_lock lock(s.mutex);
  if (s.state != SS_STARTED) return EPERM;
  if (s.HasRoom()) {
    const ParkingPtr worker = s.Enqueue(task);
    lock.unlock();
    if (worker) worker->Wake();
    return 0;
  }
  switch (s.policy) {
    case TRP_CALLER_RUN:
      lock.unlock();
      RunAndRelease(task);
      return 0;
    case TRP_WAIT_FOR: {
      // Keeps the state alive while waiting, even if the pool is destroyed meanwhile.
      const std::shared_ptr<Shared> keep = self;
      const uint64_t my_run = s.run;
      const auto settled = [&] { return s.run != my_run || s.state != SS_STARTED || s.HasRoom(); };
      if (IsUnlimited(max_wait_ms)) {
        s.room.wait(lock, settled);
      } else if (!s.room.wait_for(lock, std::chrono::milliseconds(max_wait_ms), settled)) {
        return EXFULL;
      }
      if (s.run != my_run || s.state != SS_STARTED) return EPERM;
      const ParkingPtr worker = s.Enqueue(task);
      lock.unlock();
      if (worker) worker->Wake();
      return 0;
    }
    case TRP_CALL_FAIL:
      break;
  }
  return EXFULL;
}

int ThreadPool::Shared::Stop(std::shared_ptr<Shared> self, DWORD max_wait_ms) {
  if (t_worker_of == self.get()) return EPERM;
  Shared& s = *self;
  std::unique_lock lock(s.mutex);
  if (s.state == SS_STOPPING) {
    const uint64_t other_run = s.run;
    s.ended.wait(lock, [&] { return s.run != other_run; });
    return EPERM;
  }
  if (s.state != SS_STARTED) return EPERM;

  s.state = SS_STOPPING;
  s.wanted = 0;
  s.CallAllLocked();
  s.room.notify_all();
  const auto all_exited = [&] { return s.live == 0; };
  bool timed_out = false;
  if (IsUnlimited(max_wait_ms)) {
    s.exited.wait(lock, all_exited);
  } else {
    timed_out = !s.exited.wait_for(lock, std::chrono::milliseconds(max_wait_ms), all_exited);
  }
  std::deque<Task> discarded;
  if (timed_out) {
    discarded.swap(s.queue);
  }
  s.EndRun();
  lock.unlock();

  for (const Task& task : discarded) {
    if (task.release != nullptr) task.release(task.arg);
  }
  return timed_out ? ECANCELED : 0;
}

ThreadPool::ThreadPool() : shared_(std::make_shared<Shared>()) {}

ThreadPool::~ThreadPool() {
  if (!IsOwnThread()) {
    Stop(INFINITE);
    return;
  }
  // A task of this pool is destroying it: the workers drain the queue and exit by themselves,
  // and the last one frees the shared state.
  std::lock_guard lock(shared_->mutex);
  if (shared_->state == SS_STARTED) {
    shared_->state = SS_STOPPING;
    shared_->wanted = 0;
    shared_->CallAllLocked();
    shared_->room.notify_all();
  }
}

int ThreadPool::Start(DWORD thread_count, DWORD max_queue_size, En_HP_RejectedPolicy policy,
                      DWORD stack_size) {
  Shared& s = *shared_;
  std::lock_guard lock(s.mutex);
  if (s.state != SS_STOPPED) return EPERM;
  const std::optional<DWORD> count = ResolveThreadCount(thread_count, ProcessorCount());
  if (!count || !IsValidPolicy(policy)) return EINVAL;
  if (int error = WorkerAttributes().SetStackSize(stack_size)) return error;

  s.state = SS_STARTING;
  s.max_queue = max_queue_size;
  s.policy = policy;
  s.stack_size = stack_size;
  s.wanted = *count;
  // The new workers wait for `mutex` until the run is STARTED.
  if (int error = s.AddWorkers(shared_, *count)) {
    s.EndRun();  // the workers started so far see the run has ended and exit
    return error;
  }
  s.state = SS_STARTED;
  return 0;
}

int ThreadPool::Stop(DWORD max_wait_ms) {
  return Shared::Stop(shared_, max_wait_ms);
}

int ThreadPool::Submit(Task task, DWORD max_wait_ms) {
  return Shared::Submit(shared_, task, max_wait_ms);
}

int ThreadPool::AdjustThreadCount(DWORD thread_count) {
  Shared& s = *shared_;
  std::lock_guard lock(s.mutex);
  if (s.state != SS_STARTED) return EPERM;
  const std::optional<DWORD> count = ResolveThreadCount(thread_count, ProcessorCount());
  if (!count) return EINVAL;
  // Surplus workers from an earlier shrink that are still busy count towards the new number.
  const DWORD missing = *count > s.live ? *count - s.live : 0;
  const DWORD before = s.wanted;
  s.wanted = *count;
  if (int error = s.AddWorkers(shared_, missing)) {
    s.wanted = s.live;
    return error;
  }
  if (s.wanted < before) s.CallAllLocked();  // idle surplus workers leave now
  return 0;
}

bool ThreadPool::HasStarted() const {
  const En_HP_ServiceState state = GetState();
  return state == SS_STARTING || state == SS_STARTED;
}

En_HP_ServiceState ThreadPool::GetState() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->state;
}

DWORD ThreadPool::GetQueueSize() const {
  std::lock_guard lock(shared_->mutex);
  return static_cast<DWORD>(
      std::min<size_t>(shared_->queue.size(), std::numeric_limits<DWORD>::max()));
}

DWORD ThreadPool::GetThreadCount() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->wanted;
}

DWORD ThreadPool::GetLiveThreadCount() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->live;
}

DWORD ThreadPool::GetMaxQueueSize() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->max_queue;
}

En_HP_RejectedPolicy ThreadPool::GetRejectedPolicy() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->policy;
}

bool ThreadPool::IsOwnThread() const {
  return t_worker_of == shared_.get();
}

}  // namespace quillmere
