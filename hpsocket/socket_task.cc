#include "hpsocket/socket_task.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quillmere {
namespace {

void RunSocketTask(void* arg) {
  auto* task = static_cast<HP_LPTSocketTask>(arg);
  task->fn(task);
}

void DestroySocketTask(void* arg) {
  Destroy_HP_SocketTaskObj(static_cast<HP_LPTSocketTask>(arg));
}

}  // namespace

ThreadPool::Task SocketTaskWork(HP_LPTSocketTask task) {
  return {&RunSocketTask, task, &DestroySocketTask};
}

}  // namespace quillmere

// A task without data (null buffer) gets a null buffer and length 0 whatever length was passed,
// so no reader is told of bytes that are not there. A TBT_COPY of 0 bytes allocates nothing.
// Null with errno EINVAL for a negative length or an unknown buffer type, ENOMEM when memory
// runs out; a TBT_ATTACH buffer then stays the caller's.
HP_LPTSocketTask Create_HP_SocketTaskObj(HP_Fn_SocketTaskProc fnTaskProc, PVOID pSender,
                                         HP_CONNID dwConnID, LPCBYTE pBuffer, INT iBuffLen,
                                         En_HP_TaskBufferType enBuffType, WPARAM wParam,
                                         LPARAM lParam) {
  if (iBuffLen < 0 ||
      (enBuffType != TBT_COPY && enBuffType != TBT_REFER && enBuffType != TBT_ATTACH)) {
    errno = EINVAL;
    return nullptr;
  }
  auto* task = new (std::nothrow)
      TSocketTask{fnTaskProc, pSender, dwConnID, nullptr, 0, enBuffType, wParam, lParam};
  if (task == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (pBuffer == nullptr || (enBuffType == TBT_COPY && iBuffLen == 0)) return task;
  if (enBuffType == TBT_COPY) {
    void* copy = std::malloc(static_cast<size_t>(iBuffLen));
    if (copy == nullptr) {
      delete task;
      errno = ENOMEM;
      return nullptr;
    }
    std::memcpy(copy, pBuffer, static_cast<size_t>(iBuffLen));
    task->buf = static_cast<LPCBYTE>(copy);
  } else {
    task->buf = pBuffer;
  }
  task->bufLen = iBuffLen;
  return task;
}

void Destroy_HP_SocketTaskObj(HP_LPTSocketTask pTask) {
  if (pTask == nullptr) return;
  if (pTask->bufType != TBT_REFER) std::free(const_cast<BYTE*>(pTask->buf));
  delete pTask;
}
