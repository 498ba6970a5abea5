#include "hpsocket/server.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <asio/bind_executor.hpp>
#include <asio/post.hpp>

#include <algorithm>
#include <future>
#include <system_error>

#include "hpsocket/connection.h"
#include "hpsocket/thread_role.h"

namespace quillmere {
namespace {

using Clock = std::chrono::steady_clock;

// Process-wide, so ids are never reused, not even by another server or after Stop and Start.
std::atomic<HP_CONNID> next_connection_id{1};

// How long a connection closed with an unanswered request stays allocated (see Remove).
constexpr auto kRetireTime = std::chrono::seconds(10);

// TCP keep-alive probes sent before a silent peer is declared dead.
constexpr int kKeepAliveProbes = 5;

constexpr DWORD kMaxWorkerThreads = 500;

// The server whose Start or Stop the calling thread is inside (it runs OnPrepareListen and
// OnShutdown): a nested Start or Stop from those callbacks is refused instead of deadlocking.
thread_local const HttpServer* lifecycle_caller = nullptr;

struct LifecycleScope {
  explicit LifecycleScope(const HttpServer* server) { lifecycle_caller = server; }
  ~LifecycleScope() { lifecycle_caller = nullptr; }
};
constexpr DWORD kMaxConnections = 1000000;

void ApplyKeepAlive(int fd, DWORD time_ms, DWORD interval_ms) {
  const int on = time_ms > 0 ? 1 : 0;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  if (!on) return;
  const int idle = static_cast<int>(std::max<DWORD>(time_ms / 1000, 1));
  const int interval = static_cast<int>(std::max<DWORD>(interval_ms / 1000, 1));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
}

}  // namespace

DWORD ServerSettings::DefaultWorkerThreads() {
  const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
  return std::min<DWORD>(2 * cpus + 2, kMaxWorkerThreads);
}

bool ServerSettings::Valid() const {
  const auto keep_alive_ok = [](DWORD ms) { return ms == 0 || ms >= 1000; };
  return worker_threads >= 1 && worker_threads <= kMaxWorkerThreads && max_connections >= 1 &&
         max_connections <= kMaxConnections && socket_buffer_size >= 8 &&
         socket_buffer_size <= 64 * 1024 * 1024 && keep_alive_ok(keep_alive_time) &&
         keep_alive_ok(keep_alive_interval) && listen_queue >= 1 && release_delay >= 100 &&
         release_delay <= 60000 && (local_version == HV_1_0 || local_version == HV_1_1);
}

HttpServer::HttpServer(const Listener& listener)
    : listener_(listener),
      io_(/*concurrency_hint=*/1),
      acceptor_(io_),
      accept_strand_(asio::make_strand(io_)),
      accept_retry_(io_) {}

HttpServer::~HttpServer() {
  if (state_.load() != SS_STOPPED) {
    std::lock_guard life(lifecycle_mutex_);
    if (state_.load() == SS_STARTED) StopRunning();
  }
  std::lock_guard lock(table_mutex_);
  retired_.clear();
}

ServerSettings HttpServer::settings() const {
  std::lock_guard lock(settings_mutex_);
  return settings_;
}

// -------------------------------------------------------------------------- start, stop --

bool HttpServer::Fail(En_HP_SocketError error, int err) {
  last_error_.store(error);
  errno = err;
  return false;
}

bool HttpServer::Start(const char* address, USHORT port) {
  if (lifecycle_caller == this) return Fail(SE_ILLEGAL_STATE, EPERM);
  std::lock_guard life(lifecycle_mutex_);
  LifecycleScope scope(this);
  const ServerSettings wanted = settings();
  if (!wanted.Valid()) return Fail(SE_INVALID_PARAM, EINVAL);
  if (state_.load() != SS_STOPPED) return Fail(SE_ILLEGAL_STATE, EPERM);
  state_.store(SS_STARTING);
  active_ = wanted;

  const auto fail = [&](En_HP_SocketError error, int err) {
    StopRunning();
    return Fail(error, err);
  };

  asio::error_code ec;
  const std::string_view text = (address && *address) ? address : "0.0.0.0";
  const asio::ip::address ip = asio::ip::make_address(text, ec);
  if (ec) return fail(SE_SOCKET_CREATE, EADDRNOTAVAIL);
  const asio::ip::tcp::endpoint endpoint(ip, port);

  if (acceptor_.open(endpoint.protocol(), ec); ec) return fail(SE_SOCKET_CREATE, ec.value());
  acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
  acceptor_.set_option(asio::ip::tcp::no_delay(true), ec);
  ApplyKeepAlive(acceptor_.native_handle(), active_.keep_alive_time, active_.keep_alive_interval);
  if (acceptor_.bind(endpoint, ec); ec) return fail(SE_SOCKET_BIND, ec.value());
  if (FireHandle(listener_.on_prepare_listen, handle(),
                 static_cast<UINT_PTR>(acceptor_.native_handle())) == HR_ERROR) {
    return fail(SE_SOCKET_PREPARE, ECANCELED);
  }
  if (acceptor_.listen(static_cast<int>(std::min<DWORD>(active_.listen_queue, 0x7FFFFFFF)), ec);
      ec) {
    return fail(SE_SOCKET_LISTEN, ec.value());
  }
  listen_endpoint_ = acceptor_.local_endpoint(ec);

  work_.emplace(io_.get_executor());
  try {
    for (DWORD i = 0; i < active_.worker_threads; ++i) {
      workers_.emplace_back([this] {
        SetCurrentThreadRole(ThreadRole::kNetwork);
        io_.run();
      });
    }
  } catch (const std::system_error& e) {
    return fail(SE_WORKER_THREAD_CREATE, e.code().value());
  }
  try {
    watcher_stop_ = false;
    watcher_ = std::thread([this] { WatchForStalls(); });
  } catch (const std::system_error& e) {
    return fail(SE_WORKER_THREAD_CREATE, e.code().value());
  }
  asio::post(accept_strand_, [this] { DoAccept(); });
  state_.store(SS_STARTED);
  last_error_.store(SE_OK);
  return true;
}

bool HttpServer::Stop() {
  // On a network or pool thread, or inside this server's own Start or Stop, it would wait on
  // itself.
  if (IsEngineWorkerThread() || lifecycle_caller == this) return Fail(SE_ILLEGAL_STATE, EPERM);
  std::lock_guard life(lifecycle_mutex_);
  LifecycleScope scope(this);
  if (state_.load() != SS_STARTED) return Fail(SE_ILLEGAL_STATE, EPERM);
  StopRunning();
  last_error_.store(SE_OK);
  return true;
}

void HttpServer::StopRunning() {
  state_.store(SS_STOPPING);
  CloseAcceptor();
  {
    std::unique_lock lock(table_mutex_);
    for (auto& [id, connection] : table_) connection->Disconnect(/*force=*/true);
    table_empty_.wait(lock, [this] { return table_.empty(); });
  }
  work_.reset();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  if (watcher_.joinable()) {
    {
      std::lock_guard lock(watcher_mutex_);
      watcher_stop_ = true;
    }
    watcher_wake_.notify_all();
    watcher_.join();
  }
  io_.restart();
  {
    std::lock_guard lock(table_mutex_);
    retired_.clear();
  }
  FireHandle(listener_.on_shutdown, handle());
  state_.store(SS_STOPPED);
}

void HttpServer::CloseAcceptor() {
  const auto close = [this] {
    asio::error_code ignored;
    accept_retry_.cancel();
    acceptor_.close(ignored);
  };
  if (workers_.empty()) {
    close();  // nothing runs yet (a Start that failed early)
    return;
  }
  std::promise<void> done;
  asio::post(accept_strand_, [&] {
    close();
    done.set_value();
  });
  done.get_future().wait();
}

void HttpServer::WatchForStalls() {
  uint64_t seen = callbacks_started_.load();
  std::unique_lock lock(watcher_mutex_);
  while (!watcher_wake_.wait_for(lock, kStallCheck, [this] { return watcher_stop_; })) {
    const uint64_t now = callbacks_started_.load();
    if (now == seen && in_callbacks_.load() > 0) {
      // Someone sits in a callback and nothing else ran since the last look: wake a worker
      // (posted work from outside wakes an idle one), which then serves the waiting events.
      asio::post(io_, [] {});
    } else if (now == seen) {
      // Nothing ran for a whole period and nothing runs: sleep until a callback starts. The
      // count is read again after parking, so a callback that started meanwhile is not missed.
      watcher_parked_.store(true);
      if (callbacks_started_.load() == now) {
        watcher_wake_.wait(lock, [this] { return watcher_stop_ || !watcher_parked_.load(); });
      }
      watcher_parked_.store(false);
    }
    seen = callbacks_started_.load();
  }
}

// Network thread, from the first callback after the watcher parked.
void HttpServer::WakeWatcher() {
  {
    std::lock_guard lock(watcher_mutex_);
    if (!watcher_parked_.exchange(false)) return;  // another callback woke it already
  }
  watcher_wake_.notify_one();
}

// ------------------------------------------------------------------------------ accepting --

void HttpServer::DoAccept() {
  if (!acceptor_.is_open()) return;
  acceptor_.async_accept(
      io_, asio::bind_executor(accept_strand_,
                               [this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
                                 OnAccepted(ec, std::move(socket));
                               }));
}

void HttpServer::OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket) {
  if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
  if (ec) {
    // Out of descriptors or memory: try again a little later instead of spinning.
    accept_retry_.expires_after(std::chrono::milliseconds(50));
    accept_retry_.async_wait(asio::bind_executor(accept_strand_, [this](const asio::error_code& e) {
      if (!e) DoAccept();
    }));
    return;
  }
  if (state_.load() == SS_STARTED) Admit(std::move(socket));
  DoAccept();
}

void HttpServer::Admit(asio::ip::tcp::socket socket) {
  asio::error_code ec;
  const asio::ip::tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) return;  // already gone
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(table_mutex_);
    if (table_.size() >= active_.max_connections) return;  // full: closed without events
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    const HP_CONNID id = next_connection_id.fetch_add(1);
    connection = std::make_shared<Connection>(*this, std::move(socket), id, remote);
    table_.emplace(id, connection);
  }
  asio::post(connection->strand(), [connection] { connection->Open(); });
}

void HttpServer::Remove(HP_CONNID id, std::shared_ptr<Connection> retire) {
  std::shared_ptr<Connection> last_reference;  // released after the lock
  std::lock_guard lock(table_mutex_);
  if (auto it = table_.find(id); it != table_.end()) {
    last_reference = std::move(it->second);
    table_.erase(it);
  }
  const auto now = Clock::now();
  while (!retired_.empty() && now - retired_.front().first > kRetireTime) retired_.pop_front();
  if (retire) retired_.emplace_back(now, std::move(retire));
  if (table_.empty()) table_empty_.notify_all();
}

// ------------------------------------------------------------------------------- queries --

std::shared_ptr<Connection> HttpServer::Find(HP_CONNID id) const {
  std::lock_guard lock(table_mutex_);
  auto it = table_.find(id);
  return it == table_.end() ? nullptr : it->second;
}

DWORD HttpServer::ConnectionCount() const {
  std::lock_guard lock(table_mutex_);
  return static_cast<DWORD>(table_.size());
}

DWORD HttpServer::ConnectionIds(HP_CONNID* ids, DWORD capacity) const {
  std::lock_guard lock(table_mutex_);
  const DWORD total = static_cast<DWORD>(table_.size());
  if (ids && total <= capacity) {
    DWORD i = 0;
    for (const auto& entry : table_) ids[i++] = entry.first;
  }
  return total;
}

bool HttpServer::DisconnectOlder(DWORD ms, bool force, bool by_silence) {
  if (ms > kMaxDisconnectPeriod) return false;
  if (by_silence && !active_.mark_silence) return false;
  std::vector<std::shared_ptr<Connection>> all;
  {
    std::lock_guard lock(table_mutex_);
    all.reserve(table_.size());
    for (const auto& entry : table_) all.push_back(entry.second);
  }
  for (const auto& c : all) {
    const DWORD period = by_silence ? c->SilencePeriod() : c->ConnectPeriod();
    if (period >= ms) c->Disconnect(force);
  }
  return true;
}

bool HttpServer::ListenEndpoint(asio::ip::tcp::endpoint* out) const {
  if (state_.load() != SS_STARTED) return false;
  *out = listen_endpoint_;
  return true;
}

}  // namespace quillmere
