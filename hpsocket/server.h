// An HTTP server object (HP_HttpServer): settings, Start and Stop, the listening socket, the
// worker threads and the table of live connections.
//
// Threads: one asio::io_context run by the worker threads; each connection has its own strand,
// the acceptor another. Start and Stop are called from application threads (Stop refuses on a
// network or pool thread); everything else here is safe from any thread.
//
// Wake-ups: the io_context is told to expect one thread (concurrency hint 1), so a worker that
// finished an event goes straight back to the next one instead of waking a sleeping worker for
// every event; on a busy server one worker does the network work without a thread switch per
// request. The other workers are woken by work posted from outside (sends and answers from
// application threads) and by the stall watcher: when an application callback has kept a
// worker for longer than kStallCheck with no other callback running meanwhile, the watcher
// wakes another worker, which takes over the waiting events. So a callback that blocks delays
// the other connections by about kStallCheck, not until it returns.
#ifndef QUILLMERE_HPSOCKET_SERVER_H
#define QUILLMERE_HPSOCKET_SERVER_H

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/listener.h"

namespace quillmere {

class Connection;

/// The settings of a server. Setters store them; Start checks them and the run uses the copy
/// taken at Start, so a change while started applies from the next Start.
struct ServerSettings {
  DWORD worker_threads = DefaultWorkerThreads();
  DWORD max_connections = 10000;
  DWORD socket_buffer_size =
      4096;                       ///< Bytes per read: each OnReceive/OnBody piece is at most this.
  DWORD keep_alive_time = 60000;  ///< ms of idle before TCP keep-alive probes; 0 = off.
  DWORD keep_alive_interval = 20000;
  DWORD listen_queue = 4096;  ///< SOMAXCONN on current Linux.
  DWORD accept_socket_count = 300;
  bool mark_silence = true;
  En_HP_SendPolicy send_policy = SP_PACK;
  En_HP_OnSendSyncPolicy on_send_sync_policy = OSSP_NONE;
  DWORD free_socket_obj_lock_time = 30000;
  DWORD free_socket_obj_pool = 600;
  DWORD free_buffer_obj_pool = 1200;
  DWORD free_socket_obj_hold = 600;
  DWORD free_buffer_obj_hold = 1200;
  // HTTP
  DWORD release_delay = 3000;  ///< ms, 100..60000.
  bool http_auto_start = true;
  En_HP_HttpVersion local_version = HV_1_1;

  /// min(2 x CPUs + 2, 500).
  static DWORD DefaultWorkerThreads();
  /// True when every value is in its valid range.
  bool Valid() const;
};

/// How often the stall watcher looks for a worker held up in an application callback.
inline constexpr std::chrono::milliseconds kStallCheck{10};

/// Largest period accepted by the "disconnect older than" calls (ms).
inline constexpr DWORD kMaxDisconnectPeriod = 0x7FFFFFFF / 2;

class HttpServer {
 public:
  /// A stopped server calling `listener`'s callbacks; the listener must outlive it.
  explicit HttpServer(const Listener& listener);
  /// Stops (blocking, with all the stop events) when started.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// The handle callbacks receive as their sender.
  HP_HttpServer handle() { return this; }
  const Listener& listener() const { return listener_; }
  /// The settings of the current run (valid while started).
  const ServerSettings& active() const { return active_; }
  asio::io_context& io() { return io_; }

  /// Application threads. Binds `address` (numeric IPv4/IPv6, null or "" = 0.0.0.0) and
  /// `port` (0 = the OS chooses), starts the workers and accepts. False with last_error() set
  /// (and errno) on failure; a failure after binding began runs the stop path (OnShutdown).
  bool Start(const char* address, USHORT port);
  /// Application threads, blocking: closes the listener and every connection (OnClose each),
  /// joins the workers and fires OnShutdown in the caller. False (SE_ILLEGAL_STATE, EPERM) when
  /// not started or when called on a network or pool thread.
  bool Stop();

  En_HP_ServiceState state() const { return state_.load(); }
  En_HP_SocketError last_error() const { return last_error_.load(); }
  /// Any thread: a copy of the stored settings, and replacing them.
  ServerSettings settings() const;
  template <typename Fn>
  void UpdateSettings(Fn&& change) {
    std::lock_guard lock(settings_mutex_);
    change(settings_);
  }

  /// The live connection with that id (also while its OnClose runs), or null.
  std::shared_ptr<Connection> Find(HP_CONNID id) const;
  DWORD ConnectionCount() const;
  /// Copies up to `capacity` ids; returns the number of connections.
  DWORD ConnectionIds(HP_CONNID* ids, DWORD capacity) const;
  /// Disconnects every connection whose connect (or silence) period is at least `ms`.
  bool DisconnectOlder(DWORD ms, bool force, bool by_silence);
  /// The bound address while started.
  bool ListenEndpoint(asio::ip::tcp::endpoint* out) const;

  /// Brackets a call into the application on a network thread, for the stall watcher.
  class CallbackScope {
   public:
    explicit CallbackScope(HttpServer& server) : server_(server) {
      server_.in_callbacks_.fetch_add(1, std::memory_order_seq_cst);
      server_.callbacks_started_.fetch_add(1, std::memory_order_seq_cst);
      // Pairs with the watcher's park: either it sees this callback start or this sees it parked.
      if (server_.watcher_parked_.load(std::memory_order_seq_cst)) server_.WakeWatcher();
    }
    ~CallbackScope() { server_.in_callbacks_.fetch_sub(1, std::memory_order_relaxed); }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    HttpServer& server_;
  };

  /// Connection strand, after OnClose: drops the table entry. A connection whose request was
  /// still unanswered is kept alive a few seconds longer, because an application thread may be
  /// reading its request right now.
  void Remove(HP_CONNID id, std::shared_ptr<Connection> retire);

 private:
  bool Fail(En_HP_SocketError error, int err);
  void StopRunning();
  void DoAccept();
  void OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket);
  void Admit(asio::ip::tcp::socket socket);
  void CloseAcceptor();
  void WatchForStalls();
  void WakeWatcher();

  const Listener& listener_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::strand<asio::io_context::executor_type> accept_strand_;
  asio::steady_timer accept_retry_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  std::vector<std::thread> workers_;

  // Stall watcher: runs while started.
  std::thread watcher_;
  std::mutex watcher_mutex_;
  std::condition_variable watcher_wake_;
  bool watcher_stop_ = false;  // guarded by watcher_mutex_
  std::atomic<int> in_callbacks_{0};
  std::atomic<uint64_t> callbacks_started_{0};
  // True while the watcher sleeps without a timeout because nothing has run for a whole period;
  // the next callback to start wakes it. An idle server so costs no wake-ups at all.
  std::atomic<bool> watcher_parked_{false};

  mutable std::mutex settings_mutex_;
  ServerSettings settings_;
  ServerSettings active_;  // written by Start before any connection exists

  std::mutex lifecycle_mutex_;  // serialises Start and Stop
  std::atomic<En_HP_ServiceState> state_{SS_STOPPED};
  std::atomic<En_HP_SocketError> last_error_{SE_OK};
  asio::ip::tcp::endpoint
      listen_endpoint_;  // guarded by lifecycle_mutex_ writes; read while started

  mutable std::mutex table_mutex_;
  std::condition_variable table_empty_;
  std::unordered_map<HP_CONNID, std::shared_ptr<Connection>> table_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::shared_ptr<Connection>>>
      retired_;
};

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_SERVER_H
