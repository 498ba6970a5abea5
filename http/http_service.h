// HttpService: the program-wide objects of the HTTP service and the sequences that prepare, run
// and release them.
//
// The engine's callbacks carry no user data, so the event handlers (http/handlers.h) and the
// request worker (http/request_worker.h) reach these objects through ProgramHttpService(): the one
// server component, the one task pool and ServerHandle, the handle of the one server object. The
// object is constant-initialised, so it exists before main and before any thread; it is destroyed
// after main returns, and its destruction calls nothing in the engine (TearDown has released
// every engine object by then).
//
// Threads: SetUp, Start, Stop and TearDown belong to the main thread (the window thread, or main
// in headless mode) and never overlap. ServerHandle and RecordLock are safe from any thread; the
// component and the pool are used from the network and pool threads as their headers allow.
#ifndef QUILLMERE_HTTP_HTTP_SERVICE_H
#define QUILLMERE_HTTP_HTTP_SERVICE_H

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "hpsocket/HPSocket4C.h"
#include "http/server_component.h"
#include "http/task_pool.h"

namespace quillmere {

class HttpService {
 public:
  constexpr HttpService() = default;
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  /// Prepares the service, in this order: creates the server on a new listener and keeps its
  /// handle as ServerHandle; creates the task pool and starts it with the engine's default
  /// thread count, no queue limit and TRP_WAIT_FOR; installs the event handlers. Results are not
  /// examined: a server that cannot be made leaves ServerHandle null or kNoListenerServer, and
  /// Start then fails. Main thread only, once before each TearDown.
  void SetUp();

  /// Starts the server on `address` (numeric; empty: every IPv4 address) and `port` (0: the
  /// system chooses). True when it listens; on failure errno tells why (EADDRINUSE for a busy
  /// port). Main thread only; blocks while the engine starts.
  bool Start(std::string_view address, USHORT port);

  /// Stops the server, closing every connection; the pool keeps running. Main thread only;
  /// blocks until the engine's threads are done.
  bool Stop();

  /// Where the started server listens, e.g. "127.0.0.1" and 41234; false when it does not.
  /// Safe from any thread.
  bool GetListenAddress(std::string& address, USHORT& port);

  /// Releases the service, in this order: stops the task pool, waiting without limit for its
  /// queued and running tasks, so that no request worker uses the server after it is gone; destroys
  /// the server (which stops it and closes its connections); clears ServerHandle; destroys the
  /// pool and the listener. Calls nothing when SetUp has not run since the last TearDown. Main
  /// thread only.
  void TearDown();

  /// The one server component. Its listener is written by SetUp and TearDown only.
  HttpServerComponent& component() { return component_; }
  /// The one task pool. Its handle is written by SetUp and TearDown only.
  TaskPool& pool() { return pool_; }

  /// ServerHandle: the server made by SetUp; null before SetUp and after TearDown. Safe from
  /// any thread.
  HP_HttpServer ServerHandle() const { return serverHandle_.load(std::memory_order_acquire); }

  /// The lock that guards one connection's body record between the request worker, which takes
  /// the body out of it, and the close handler, which frees it. Safe from any thread.
  std::mutex& RecordLock(HP_CONNID connID) { return recordLocks_[connID % recordLocks_.size()]; }

 private:
  HttpServerComponent component_;
  TaskPool pool_;
  std::atomic<HP_HttpServer> serverHandle_{nullptr};  // written on the main thread
  bool setUp_ = false;                                // main thread only
  // Connections share these by their ID, so a long copy out of one record seldom holds up
  // another connection.
  std::array<std::mutex, 16> recordLocks_{};
};

/// The program's one HTTP service, reached by the event handlers and the request worker.
/// Safe from any thread.
HttpService& ProgramHttpService();

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_HTTP_SERVICE_H
