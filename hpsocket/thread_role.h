// What kind of engine thread the calling thread is. Blocking stop calls consult it so that a
// thread never waits for itself: a server's Stop refuses to run on a network thread and on a
// thread pool worker, the pool's Stop refuses to run on a pool worker.
#ifndef QUILLMERE_HPSOCKET_THREAD_ROLE_H
#define QUILLMERE_HPSOCKET_THREAD_ROLE_H

namespace quillmere {

/// The role of a thread; a thread that never sets one is kOther (e.g. the window thread).
enum class ThreadRole {
  kOther,    ///< Not an engine thread.
  kNetwork,  ///< A server's worker thread (runs connection events).
  kPool,     ///< A thread pool worker (runs tasks).
};

namespace thread_role_detail {
inline thread_local ThreadRole current_role = ThreadRole::kOther;
}  // namespace thread_role_detail

/// The calling thread's role. Safe from any thread (thread-local).
inline ThreadRole CurrentThreadRole() {
  return thread_role_detail::current_role;
}

/// Sets the calling thread's role; each engine thread calls it once when it starts.
/// Example: the pool's worker loop begins with SetCurrentThreadRole(ThreadRole::kPool).
inline void SetCurrentThreadRole(ThreadRole role) {
  thread_role_detail::current_role = role;
}

/// True on a thread that a blocking Stop must not wait on (network or pool worker).
inline bool IsEngineWorkerThread() {
  return CurrentThreadRole() != ThreadRole::kOther;
}

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_THREAD_ROLE_H
