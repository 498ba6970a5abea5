// Socket tasks (TSocketTask) as thread pool work.
//
// Create_HP_SocketTaskObj and Destroy_HP_SocketTaskObj (declared in HPSocket4C.h) live in
// socket_task.cc. A task object is owned by whoever created it until a submit succeeds; from
// then on the pool owns it and destroys it once its procedure has returned (or, when a Stop that
// timed out discards it, without running it). Buffers follow the task's type: TBT_COPY holds a
// malloc'd copy, TBT_REFER the caller's pointer (never freed here), TBT_ATTACH the caller's
// malloc'd block, released with free().
#ifndef QUILLMERE_HPSOCKET_SOCKET_TASK_H
#define QUILLMERE_HPSOCKET_SOCKET_TASK_H

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/thread_pool.h"

namespace quillmere {

/// Pool work for `task`, which must be non-null with a procedure: runs `task->fn(task)`, then
/// destroys the task with Destroy_HP_SocketTaskObj; a discarded task is only destroyed.
ThreadPool::Task SocketTaskWork(HP_LPTSocketTask task);

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_SOCKET_TASK_H
