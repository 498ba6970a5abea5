// TaskPool: the engine's thread pool, which runs the request worker off the network threads.
//
// A thin class over the HP_ThreadPool_* functions of hpsocket/HPSocket4C.h. It holds one pool
// handle; its one piece of logic is SubmitTask, which wraps a connection into a socket task and
// destroys the task again when the pool refuses it.
//
// Threads: the handle is written only by Create and Destroy, on the window thread, before the
// server starts and after it is destroyed. SubmitTask and Submit (network threads) and the
// queries only read it; the engine's pool functions are safe from any thread, except that Stop
// must not be called from one of the pool's own threads. CopyTask and DestroyTask touch no state.
//
// Destroying or copying the object releases nothing; a copy names the same pool.
#ifndef QUILLMERE_HTTP_TASK_POOL_H
#define QUILLMERE_HTTP_TASK_POOL_H

#include <optional>

#include "hpsocket/HPSocket4C.h"

namespace quillmere {

class TaskPool {
 public:
  TaskPool() = default;
  TaskPool(const TaskPool&) = default;
  TaskPool& operator=(const TaskPool&) = default;
  ~TaskPool() = default;

  // Without a pool every method but Create does nothing and returns false, 0 or the stated
  // default.

  /// Creates a pool and holds it, replacing (not destroying) one held before. False when the
  /// engine gives none.
  bool Create();
  /// Destroys the pool (the engine stops it first, waiting without limit); then none is held.
  void Destroy();
  /// Starts `threadCount` threads (0: the engine's default) with at most `maxQueueSize` waiting
  /// tasks (0: no limit), `policy` for a full queue and `stackSize` bytes of stack (0: default).
  bool Start(DWORD threadCount, DWORD maxQueueSize, En_HP_RejectedPolicy policy, DWORD stackSize);
  /// Stops the pool; queued tasks still run. Waits at most `maxWait` ms; omitted: INFINITE.
  bool Stop(std::optional<DWORD> maxWait = std::nullopt);
  /// Queues `fn(arg)`. With TRP_WAIT_FOR and a full queue, waits at most `maxWait` ms; omitted:
  /// INFINITE.
  bool Submit(HP_Fn_TaskProc fn, PVOID arg, std::optional<DWORD> maxWait = std::nullopt);
  /// Queues a socket task {fn, sender, connID, buffer, bufferLength, bufferType, wparam, lparam}.
  /// The pool owns the task once accepted and destroys it after `fn` returns; a task the pool
  /// refuses is destroyed here. False when the task cannot be made or is refused.
  /// SubmitTask(RequestWorker, server, connID) queues with no buffer and waits without limit.
  bool SubmitTask(HP_Fn_SocketTaskProc fn, PVOID sender, HP_CONNID connID, LPCBYTE buffer = nullptr,
                  INT bufferLength = 0, En_HP_TaskBufferType bufferType = TBT_COPY,
                  WPARAM wparam = 0, LPARAM lparam = 0,
                  std::optional<DWORD> maxWait = std::nullopt);
  /// Copies the whole task into `record`; false, with `record` untouched, for a null task.
  /// Safe from any thread.
  static bool CopyTask(const TSocketTask* task, TSocketTask& record);
  /// Destroys a task object the caller owns (and its buffer unless TBT_REFER). Null is harmless.
  static void DestroyTask(TSocketTask* task);
  bool AdjustThreadCount(DWORD threadCount);
  bool HasStarted() const;
  /// SS_STOPPED without a pool.
  En_HP_ServiceState GetState() const;
  DWORD GetQueueSize() const;
  DWORD GetThreadCount() const;
  DWORD GetMaxQueueSize() const;
  /// TRP_CALL_FAIL without a pool.
  En_HP_RejectedPolicy GetRejectedPolicy() const;

 private:
  HP_ThreadPool pool_ = nullptr;  // written on the window thread only
};

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_TASK_POOL_H
