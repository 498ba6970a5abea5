// HP_ThreadPool_* over quillmere::ThreadPool. A handle is a ThreadPool*; failures set errno
// (read with SYS_GetLastError). A null handle gives FALSE with EINVAL, or a zero result.
#include <cerrno>
#include <new>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/socket_task.h"
#include "hpsocket/thread_pool.h"

namespace {

quillmere::ThreadPool* Pool(HP_ThreadPool handle) {
  return static_cast<quillmere::ThreadPool*>(handle);
}

// TRUE for 0; otherwise errno := error and FALSE.
BOOL Report(int error) {
  if (error == 0) return TRUE;
  errno = error;
  return FALSE;
}

}  // namespace

HP_ThreadPool Create_HP_ThreadPool(void) {
  try {
    return new quillmere::ThreadPool();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

void Destroy_HP_ThreadPool(HP_ThreadPool pThreadPool) {
  delete Pool(pThreadPool);
}

BOOL HP_ThreadPool_Start(HP_ThreadPool pThreadPool, DWORD dwThreadCount, DWORD dwMaxQueueSize,
                         En_HP_RejectedPolicy enRejectedPolicy, DWORD dwStackSize) {
  if (pThreadPool == nullptr) return Report(EINVAL);
  return Report(
      Pool(pThreadPool)->Start(dwThreadCount, dwMaxQueueSize, enRejectedPolicy, dwStackSize));
}

// A Stop that timed out still stops the pool: TRUE with errno ECANCELED.
BOOL HP_ThreadPool_Stop(HP_ThreadPool pThreadPool, DWORD dwMaxWait) {
  if (pThreadPool == nullptr) return Report(EINVAL);
  const int error = Pool(pThreadPool)->Stop(dwMaxWait);
  if (error == ECANCELED) {
    errno = ECANCELED;
    return TRUE;
  }
  return Report(error);
}

BOOL HP_ThreadPool_Submit(HP_ThreadPool pThreadPool, HP_Fn_TaskProc fnTaskProc, PVOID pvArg,
                          DWORD dwMaxWait) {
  if (pThreadPool == nullptr) return Report(EINVAL);
  return Report(Pool(pThreadPool)->Submit({fnTaskProc, pvArg, nullptr}, dwMaxWait));
}

BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pThreadPool, HP_LPTSocketTask pTask, DWORD dwMaxWait) {
  if (pThreadPool == nullptr || pTask == nullptr || pTask->fn == nullptr) return Report(EINVAL);
  return Report(Pool(pThreadPool)->Submit(quillmere::SocketTaskWork(pTask), dwMaxWait));
}

BOOL HP_ThreadPool_AdjustThreadCount(HP_ThreadPool pThreadPool, DWORD dwNewThreadCount) {
  if (pThreadPool == nullptr) return Report(EINVAL);
  return Report(Pool(pThreadPool)->AdjustThreadCount(dwNewThreadCount));
}

BOOL HP_ThreadPool_HasStarted(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr && Pool(pThreadPool)->HasStarted() ? TRUE : FALSE;
}

En_HP_ServiceState HP_ThreadPool_GetState(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr ? Pool(pThreadPool)->GetState() : SS_STOPPED;
}

DWORD HP_ThreadPool_GetQueueSize(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr ? Pool(pThreadPool)->GetQueueSize() : 0;
}

DWORD HP_ThreadPool_GetThreadCount(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr ? Pool(pThreadPool)->GetThreadCount() : 0;
}

DWORD HP_ThreadPool_GetMaxQueueSize(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr ? Pool(pThreadPool)->GetMaxQueueSize() : 0;
}

En_HP_RejectedPolicy HP_ThreadPool_GetRejectedPolicy(HP_ThreadPool pThreadPool) {
  return pThreadPool != nullptr ? Pool(pThreadPool)->GetRejectedPolicy() : TRP_CALL_FAIL;
}

int SYS_GetLastError(void) {
  return errno;
}
