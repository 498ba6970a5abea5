#include "http/task_pool.h"

#include <cstring>

namespace quillmere {

bool TaskPool::Create() {
  pool_ = Create_HP_ThreadPool();
  return pool_ != nullptr;
}

void TaskPool::Destroy() {
  if (pool_ == nullptr) return;
  Destroy_HP_ThreadPool(pool_);
  pool_ = nullptr;
}

bool TaskPool::Start(DWORD threadCount, DWORD maxQueueSize, En_HP_RejectedPolicy policy,
                     DWORD stackSize) {
  return pool_ != nullptr &&
         HP_ThreadPool_Start(pool_, threadCount, maxQueueSize, policy, stackSize) != FALSE;
}

bool TaskPool::Stop(std::optional<DWORD> maxWait) {
  return pool_ != nullptr && HP_ThreadPool_Stop(pool_, maxWait.value_or(INFINITE)) != FALSE;
}

bool TaskPool::Submit(HP_Fn_TaskProc fn, PVOID arg, std::optional<DWORD> maxWait) {
  return pool_ != nullptr &&
         HP_ThreadPool_Submit(pool_, fn, arg, maxWait.value_or(INFINITE)) != FALSE;
}

bool TaskPool::SubmitTask(HP_Fn_SocketTaskProc fn, PVOID sender, HP_CONNID connID, LPCBYTE buffer,
                          INT bufferLength, En_HP_TaskBufferType bufferType, WPARAM wparam,
                          LPARAM lparam, std::optional<DWORD> maxWait) {
  if (pool_ == nullptr) return false;
  HP_LPTSocketTask task =
      Create_HP_SocketTaskObj(fn, sender, connID, buffer, bufferLength, bufferType, wparam, lparam);
  if (task == nullptr) return false;
  if (HP_ThreadPool_Submit_Task(pool_, task, maxWait.value_or(INFINITE)) != FALSE) return true;
  // Refused: the task is still ours.
  Destroy_HP_SocketTaskObj(task);
  return false;
}

bool TaskPool::CopyTask(const TSocketTask* task, TSocketTask& record) {
  if (task == nullptr) return false;
  std::memcpy(&record, task, sizeof(TSocketTask));
  return true;
}

void TaskPool::DestroyTask(TSocketTask* task) {
  Destroy_HP_SocketTaskObj(task);
}

bool TaskPool::AdjustThreadCount(DWORD threadCount) {
  return pool_ != nullptr && HP_ThreadPool_AdjustThreadCount(pool_, threadCount) != FALSE;
}

bool TaskPool::HasStarted() const {
  return pool_ != nullptr && HP_ThreadPool_HasStarted(pool_) != FALSE;
}

En_HP_ServiceState TaskPool::GetState() const {
  return pool_ != nullptr ? HP_ThreadPool_GetState(pool_) : SS_STOPPED;
}

DWORD TaskPool::GetQueueSize() const {
  return pool_ != nullptr ? HP_ThreadPool_GetQueueSize(pool_) : 0;
}

DWORD TaskPool::GetThreadCount() const {
  return pool_ != nullptr ? HP_ThreadPool_GetThreadCount(pool_) : 0;
}

DWORD TaskPool::GetMaxQueueSize() const {
  return pool_ != nullptr ? HP_ThreadPool_GetMaxQueueSize(pool_) : 0;
}

En_HP_RejectedPolicy TaskPool::GetRejectedPolicy() const {
  return pool_ != nullptr ? HP_ThreadPool_GetRejectedPolicy(pool_) : TRP_CALL_FAIL;
}

}  // namespace quillmere
