// The engine's thread pool: worker threads taking tasks from one FIFO queue (HP_ThreadPool_*).
//
// A run begins with Start and ends with Stop; Start may be called again after Stop. In between,
// Submit queues tasks (or applies the rejected policy when the queue is full) and
// AdjustThreadCount grows or shrinks the set of workers.
//
// Threads: every method is safe from any thread, the pool's own workers included, with one
// exception: Stop on a worker of this pool refuses (EPERM), because it would wait for itself.
// Workers are detached threads that share the pool's state by reference count, so a Stop that
// gives up waiting leaves the busy ones to finish their task and exit on their own, and
// destroying the pool never frees state that a worker or a waiting submitter still uses.
// Workers mark themselves ThreadRole::kPool (hpsocket/thread_role.h), so a server's Stop can
// refuse to wait on them too.
// Results are 0 or an errno value: EPERM for a call in the wrong state, EINVAL for a bad
// argument, EXFULL for a full queue, ECANCELED for a Stop that timed out.
#ifndef QUILLMERE_HPSOCKET_THREAD_POOL_H
#define QUILLMERE_HPSOCKET_THREAD_POOL_H

#include <cstddef>
#include <memory>
#include <optional>

#include "hpsocket/HPSocket4C.h"

namespace quillmere {

/// The worker count that `requested` stands for on `cpus` processors: n > 0 as given; 0 gives
/// min(2 x cpus + 2, 500); a negative number cast to DWORD, (DWORD)-n, gives cpus x n. Empty when
/// the count does not fit in an int. ResolveThreadCount(0, 4) == 10,
/// ResolveThreadCount((DWORD)-2, 4) == 8, ResolveThreadCount((DWORD)INT_MIN, 2) is empty.
std::optional<DWORD> ResolveThreadCount(DWORD requested, unsigned cpus);

/// Processors this process may run on (at least 1).
unsigned ProcessorCount();

class ThreadPool {
 public:
  /// One unit of work. `run(arg)` is called once, on a worker (or in the submitter under
  /// TRP_CALLER_RUN). `release(arg)`, when set, is called after `run` returns, or instead of
  /// `run` when a Stop that timed out discards the task: a queued task is released exactly once.
  struct Task {
    void (*run)(void* arg) = nullptr;
    void* arg = nullptr;
    void (*release)(void* arg) = nullptr;
  };

  /// A stopped pool.
  ThreadPool();
  /// Stops with an unlimited wait when running. On a worker of this pool, which cannot wait for
  /// itself, it refuses new tasks and leaves the workers to run the queue empty and exit.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  /// Starts a run with `thread_count` workers (counted as by ResolveThreadCount), at most
  /// `max_queue_size` waiting tasks (0: no limit), `policy` for a full queue and `stack_size`
  /// bytes of stack per worker (0: the system default). 0 on success; EPERM unless stopped;
  /// EINVAL for a bad count, policy or stack size; the thread-creation error when a worker cannot
  /// be started (the pool is then stopped again). Safe from any thread.
  int Start(DWORD thread_count, DWORD max_queue_size, En_HP_RejectedPolicy policy,
            DWORD stack_size);

  /// Ends the run: refuses new tasks, lets the workers run every task still queued, then waits up
  /// to `max_wait_ms` (0 or INFINITE: no limit) for all workers to exit. 0 when they did.
  /// ECANCELED when the wait timed out: the tasks still queued are released without running and
  /// the busy workers finish their task and exit on their own; the pool is stopped either way and
  /// settings go back to no queue limit and TRP_CALL_FAIL. EPERM when not started, on a worker of
  /// this pool, or when another Stop is under way (after waiting for it to finish).
  /// Safe from any thread but this pool's workers.
  int Stop(DWORD max_wait_ms);

  /// Queues `task` (first in, first out) and sees that an idle worker, if any, comes for it: 0.
  /// When the queue is full, TRP_CALL_FAIL gives EXFULL; TRP_WAIT_FOR waits for room up to
  /// `max_wait_ms` (0 or INFINITE: no limit), then EXFULL, or EPERM if the run ends meanwhile;
  /// TRP_CALLER_RUN runs and releases the task in the caller: 0. EPERM when not started (stopping
  /// included), EINVAL without `task.run`. On failure the task stays the caller's: `release` is not
  /// called. Safe from any thread.
  int Submit(Task task, DWORD max_wait_ms);

  /// Sets the wanted number of workers (counted as by Start): growing starts threads now,
  /// shrinking lets surplus workers exit when they next find the queue empty. 0 on success;
  /// EPERM when not started; EINVAL for a bad count; the thread-creation error when a new worker
  /// cannot be started (the ones started so far stay and are counted). Safe from any thread.
  int AdjustThreadCount(DWORD thread_count);

  /// True while starting or started. Safe from any thread.
  bool HasStarted() const;
  /// SS_STARTING, SS_STARTED, SS_STOPPING or SS_STOPPED. Safe from any thread.
  En_HP_ServiceState GetState() const;
  /// Tasks waiting in the queue (not the running ones). Safe from any thread.
  DWORD GetQueueSize() const;
  /// The wanted number of workers of this run; 0 when stopped. Safe from any thread.
  DWORD GetThreadCount() const;
  /// Workers of this run that have not exited yet: after a shrink, surplus workers still busy
  /// are counted until they find the queue empty. Safe from any thread.
  DWORD GetLiveThreadCount() const;
  /// The queue limit of this run (0: no limit). Safe from any thread.
  DWORD GetMaxQueueSize() const;
  /// The rejected policy of this run. Safe from any thread.
  En_HP_RejectedPolicy GetRejectedPolicy() const;
  /// True when the calling thread is one of this pool's workers. Safe from any thread.
  bool IsOwnThread() const;

 private:
  struct Shared;  // the state the pool shares with its workers; guarded by its own mutex
  std::shared_ptr<Shared> shared_;
};

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_THREAD_POOL_H
