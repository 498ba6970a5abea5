// One accepted TCP connection of an HTTP server: reading, HTTP parsing through RequestParser,
// the send queue, and closing.
//
// Threads: the connection's events run on its strand (never two at once). The public methods
// marked "any thread" take the connection's mutex and hand strand work over with asio::post.
// A Connection lives as long as its table entry or any pending handler (they capture
// shared_from_this()).
#ifndef QUILLMERE_HPSOCKET_CONNECTION_H
#define QUILLMERE_HPSOCKET_CONNECTION_H

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/http_request.h"
#include "hpsocket/http_response.h"
#include "hpsocket/request_parser.h"

namespace quillmere {

class HttpServer;
struct ServerSettings;

class Connection : public std::enable_shared_from_this<Connection>, private RequestEvents {
 public:
  using Strand = asio::strand<asio::io_context::executor_type>;

  /// A connection on an accepted socket; nothing happens until Open runs on its strand.
  Connection(HttpServer& server, asio::ip::tcp::socket socket, HP_CONNID id,
             const asio::ip::tcp::endpoint& remote);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  HP_CONNID id() const { return id_; }
  Strand& strand() { return strand_; }

  /// Strand: OnAccept, then (HTTP auto-start) the parser and OnHandShake, then reading.
  void Open();

  // ---- any thread; results are 0 or an errno value ----

  /// Queues the non-empty buffers, in order and contiguous (EBADSLT when closed or closing).
  /// When nothing is queued the bytes are written at once from the caller's thread.
  int Send(const WSABUF* buffers, int count);
  /// Builds the response head for the current request, queues head and body together and marks
  /// the request answered (parsing of buffered bytes resumes). EINVAL for bad head texts or a
  /// null body with a positive length.
  int SendResponse(ResponseHead head, const BYTE* body, int length);
  /// Force: closes now, dropping queued data, OnClose(SO_CLOSE, 0). Otherwise shuts down the
  /// write side at once; the close follows when the peer closes. EBADSLT when closed.
  int Disconnect(bool force);
  /// Closes gracefully once the queue has drained (forced after the release delay); any byte
  /// received from now on closes at once. EPERM when not in HTTP mode, EALREADY when released.
  int Release();
  /// Attaches HTTP parsing to a connection accepted with auto-start off and fires OnHandShake
  /// in the caller's thread. EPERM when closed, EALREADY when HTTP already runs.
  int StartHttp();
  /// Stops or resumes reading from the socket.
  int PauseReceive(bool pause);

  bool paused() const { return paused_.load(std::memory_order_relaxed); }
  bool connected() const;
  /// Bytes queued in the engine, not yet handed to the kernel; false when closed.
  bool PendingBytes(int* out) const;
  void set_extra(PVOID extra) { extra_.store(extra, std::memory_order_relaxed); }
  PVOID extra() const { return extra_.load(std::memory_order_relaxed); }
  const asio::ip::tcp::endpoint& remote() const { return remote_; }
  /// The socket's local address; false once closed.
  bool LocalEndpoint(asio::ip::tcp::endpoint* out) const;
  /// Milliseconds since accept, and since data was last received.
  DWORD ConnectPeriod() const;
  DWORD SilencePeriod() const;
  /// The current request; see HttpRequest for when it may be read.
  const HttpRequest& request() const { return request_; }
  /// http-parser errno of the parse error that ended the connection (0 when none).
  int parse_error() const { return parse_error_.load(std::memory_order_relaxed); }

 private:
  enum class Mode : uint8_t { kRaw, kHttp, kUpgraded };

  // Calls an application callback (default result when not installed), marked for the
  // server's stall watcher.
  template <typename Fn, typename... Args>
  En_HP_HandleResult CallHandle(Fn fn, Args... args);
  template <typename Fn, typename... Args>
  int CallParse(Fn fn, Args... args);

  // Reading (strand).
  void DoRead();
  void OnReadable(const asio::error_code& ec);
  void ReadAvailable();
  bool ShouldRead() const;
  void HandleInput(const char* data, size_t size);
  void OnPeerEof();
  void DeliverRaw(const char* data, size_t size);
  void Parse(const char* data, size_t size);
  void Resume();
  void Upgrade(const char* rest, size_t size);
  void ParseError();

  // Writing. Queue: any thread; with kRequest it also marks the current request answered, in
  // the same critical section as the bytes are queued.
  enum class Answers { kNothing, kRequest };
  int Queue(const WSABUF* buffers, int count, Answers answers);
  void AnsweredLocked();  // mutex_ held
  void DoWrite();         // strand
  void OnDrained();

  // Closing (strand).
  void CloseAfterDrain(En_HP_SocketOperation op, int error);
  void Close(En_HP_SocketOperation op, int error);
  void ShutdownWrite();
  void PostClose(En_HP_SocketOperation op, int error);  // any thread, mutex held

  bool HoldingLocked() const { return awaiting_answer_ || drain_hold_; }
  size_t PendingLocked() const { return queued_.size() + sending_.size() - sent_; }

  // RequestEvents (strand, from inside RequestParser::Feed).
  int OnMessageBegin() override;
  int OnRequestLine(const char* method, const char* url) override;
  int OnHeader(const char* name, const char* value) override;
  int OnHeadersComplete() override;
  int OnBody(const char* data, size_t size) override;
  int OnChunkHeader(int size) override;
  int OnChunkComplete() override;
  int OnMessageComplete() override;

  HttpServer& server_;
  const ServerSettings& settings_;
  asio::ip::tcp::socket socket_;
  Strand strand_;
  const HP_CONNID id_;
  const int fd_;
  const asio::ip::tcp::endpoint remote_;
  const std::chrono::steady_clock::time_point connected_at_;
  std::atomic<int64_t> last_receive_ms_;
  std::atomic<PVOID> extra_{nullptr};
  std::atomic<Mode> mode_{Mode::kRaw};
  std::atomic<bool> paused_{false};
  std::atomic<bool> released_{false};
  std::atomic<int> parse_error_{0};

  // Guarded by mutex_: the send queue and the hand-over flags shared with other threads.
  mutable std::mutex mutex_;
  std::string queued_;    // accepted by Send, not yet taken by the strand's writer
  std::string sending_;   // being written by the strand
  size_t sent_ = 0;       // bytes of sending_ already written
  bool writing_ = false;  // the strand's writer owns the write side
  bool open_ = true;      // sends accepted
  bool write_shut_ = false;
  bool awaiting_answer_ = false;  // a complete request waits for its response
  bool drain_hold_ = false;       // parsing waits for the send queue to drain
  bool resume_needed_ = false;    // the strand stopped work that an answer must restart
  bool resume_posted_ = false;

  // Strand only.
  HttpRequest request_;
  RequestParser parser_;
  std::string pending_input_;  // received bytes not yet parsed (one request at a time)
  std::unique_ptr<asio::steady_timer> close_timer_;
  En_HP_SocketOperation close_op_ = SO_CLOSE;
  int close_error_ = 0;
  bool read_armed_ = false;
  bool read_eof_ = false;
  bool closing_ = false;  // a close waits for the queue to drain
  bool closed_ = false;
  bool notify_close_ = false;  // OnAccept accepted it: OnClose is due
};

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_CONNECTION_H
