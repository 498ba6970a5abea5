#include "hpsocket/connection.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <asio/bind_executor.hpp>
#include <asio/post.hpp>

#include <algorithm>

#include "hpsocket/listener.h"
#include "hpsocket/server.h"

namespace quillmere {
namespace {

using Clock = std::chrono::steady_clock;

// While a request waits for its answer, reading goes on into pending_input_ up to this much.
constexpr size_t kMaxBufferedInput = 64 * 1024;
// Parsing of further requests waits while more than this is queued for sending, so a client
// that sends requests but never reads cannot make the queue grow without bound.
constexpr size_t kMaxQueuedBeforeParse = 1024 * 1024;
// Reads per readiness event before the strand lets other handlers run.
constexpr int kReadsPerWake = 8;
// Send buffers gathered into one sendmsg from the caller's thread.
constexpr int kMaxDirectBuffers = 16;
// A drained send buffer larger than this is freed rather than kept for the next send.
constexpr size_t kKeptSendCapacity = 16 * 1024;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

// The worker thread's read buffer: connections hold none while idle.
char* ThreadReadBuffer(size_t size) {
  thread_local std::unique_ptr<char[]> buffer;
  thread_local size_t capacity = 0;
  if (capacity < size) {
    buffer = std::make_unique<char[]>(size);
    capacity = size;
  }
  return buffer.get();
}

void FreeIfLarge(std::string& s) {
  if (s.capacity() > kKeptSendCapacity) std::string().swap(s);
}

}  // namespace

template <typename Fn, typename... Args>
En_HP_HandleResult Connection::CallHandle(Fn fn, Args... args) {
  if (!fn) return HR_IGNORE;
  HttpServer::CallbackScope scope(server_);
  return fn(server_.handle(), id_, args...);
}

template <typename Fn, typename... Args>
int Connection::CallParse(Fn fn, Args... args) {
  if (!fn) return HPR_OK;
  HttpServer::CallbackScope scope(server_);
  return static_cast<int>(fn(server_.handle(), id_, args...));
}

Connection::Connection(HttpServer& server, asio::ip::tcp::socket socket, HP_CONNID id,
                       const asio::ip::tcp::endpoint& remote)
    : server_(server),
      settings_(server.active()),
      socket_(std::move(socket)),
      strand_(asio::make_strand(server.io())),
      id_(id),
      fd_(socket_.native_handle()),
      remote_(remote),
      connected_at_(Clock::now()),
      last_receive_ms_(NowMs()),
      parser_(request_, *this) {}

Connection::~Connection() = default;

// ------------------------------------------------------------------------------- opening --

void Connection::Open() {
  const Listener& l = server_.listener();
  if (CallHandle(l.on_accept, static_cast<UINT_PTR>(fd_)) == HR_ERROR) {
    Close(SO_ACCEPT, ECANCELED);  // rejected: silent, notify_close_ is still false
    return;
  }
  if (settings_.http_auto_start) {
    mode_.store(Mode::kHttp, std::memory_order_release);
    if (CallHandle(l.on_hand_shake) == HR_ERROR) {
      Close(SO_ACCEPT, ECANCELED);
      return;
    }
  }
  notify_close_ = true;
  DoRead();
}

// ------------------------------------------------------------------------------- reading --

bool Connection::ShouldRead() const {
  return !closed_ && !closing_ && !read_eof_ && !paused() &&
         pending_input_.size() < kMaxBufferedInput;
}

void Connection::DoRead() {
  if (!ShouldRead()) return;
  if (!read_armed_) {
    // Armed before reading: bytes that arrive after the reads below wake the next wait, so
    // stopping at a short read never misses data (the reactor is edge-triggered).
    read_armed_ = true;
    socket_.async_wait(
        asio::socket_base::wait_read,
        asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec) {
          self->OnReadable(ec);
        }));
  }
  ReadAvailable();
}

void Connection::OnReadable(const asio::error_code& ec) {
  read_armed_ = false;
  if (closed_) return;
  if (ec) {
    if (ec != asio::error::operation_aborted) Close(SO_RECEIVE, ec.value());
    return;
  }
  DoRead();
}

void Connection::ReadAvailable() {
  const size_t size = settings_.socket_buffer_size;
  char* buffer = ThreadReadBuffer(size);
  for (int i = 0; i < kReadsPerWake; ++i) {
    if (!ShouldRead()) return;
    const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n > 0) {
      if (settings_.mark_silence) last_receive_ms_.store(NowMs(), std::memory_order_relaxed);
      HandleInput(buffer, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < size) return;  // drained; the armed wait covers the rest
      continue;
    }
    if (n == 0) {
      OnPeerEof();
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    Close(SO_RECEIVE, errno);
    return;
  }
  // More may be waiting; continue after other handlers had their turn.
  asio::post(strand_, [self = shared_from_this()] { self->ReadAvailable(); });
}

void Connection::HandleInput(const char* data, size_t size) {
  if (released_.load(std::memory_order_relaxed)) {
    CloseAfterDrain(SO_CLOSE, 0);
    return;
  }
  if (mode_.load(std::memory_order_acquire) != Mode::kHttp) {
    DeliverRaw(data, size);
    return;
  }
  bool resume_now = false;
  {
    std::lock_guard lock(mutex_);
    if (HoldingLocked() || !pending_input_.empty()) {
      pending_input_.append(data, size);
      if (HoldingLocked()) {
        resume_needed_ = true;
        return;
      }
      resume_now = !resume_posted_;
      if (!resume_now) return;
    }
  }
  if (resume_now) {
    Resume();
    return;
  }
  Parse(data, size);
}

void Connection::OnPeerEof() {
  read_eof_ = true;
  if (mode_.load(std::memory_order_acquire) == Mode::kHttp) {
    std::lock_guard lock(mutex_);
    if (!write_shut_ && (HoldingLocked() || !pending_input_.empty())) {
      // A request waits for its answer (a client that half-closed after sending): answer it
      // first, then close.
      resume_needed_ = true;
      return;
    }
  }
  CloseAfterDrain(SO_CLOSE, 0);
}

void Connection::DeliverRaw(const char* data, size_t size) {
  const Listener& l = server_.listener();
  if (CallHandle(l.on_receive, reinterpret_cast<const BYTE*>(data), static_cast<int>(size)) ==
      HR_ERROR) {
    Close(SO_RECEIVE, ECANCELED);
  }
}

void Connection::Parse(const char* data, size_t size) {
  while (size > 0 && !closed_ && !closing_) {
    if (released_.load(std::memory_order_relaxed)) {
      CloseAfterDrain(SO_CLOSE, 0);  // bytes that were waiting count as incoming data
      return;
    }
    const RequestParser::Result r = parser_.Feed(data, size);
    data += r.consumed;
    size -= r.consumed;
    switch (r.outcome) {
      case RequestParser::Outcome::kNeedMore:
        break;
      case RequestParser::Outcome::kError:
        ParseError();
        return;
      case RequestParser::Outcome::kUpgrade:
        Upgrade(data, size);
        return;
      case RequestParser::Outcome::kMessageComplete: {
        std::lock_guard lock(mutex_);
        if (!awaiting_answer_ && PendingLocked() > kMaxQueuedBeforeParse) drain_hold_ = true;
        if (HoldingLocked()) {
          // Not answered yet: the rest waits until it is.
          if (size > 0) {
            pending_input_.assign(data, size);
            resume_needed_ = true;
          }
          return;
        }
        break;  // answered from inside OnMessageComplete: go on at once
      }
    }
  }
}

void Connection::Resume() {
  if (closed_) return;
  {
    std::lock_guard lock(mutex_);
    resume_posted_ = false;
    if (HoldingLocked()) {
      resume_needed_ = true;
      return;
    }
  }
  if (!pending_input_.empty()) {
    const std::string input = std::move(pending_input_);
    pending_input_.clear();
    Parse(input.data(), input.size());
    if (closed_ || closing_) return;
  }
  if (read_eof_) {
    std::unique_lock lock(mutex_);
    if (HoldingLocked() || !pending_input_.empty()) {
      resume_needed_ = true;  // the peer is gone once the waiting request is answered
      return;
    }
    lock.unlock();
    CloseAfterDrain(SO_CLOSE, 0);
    return;
  }
  DoRead();
}

void Connection::Upgrade(const char* rest, size_t size) {
  const Listener& l = server_.listener();
  if (CallParse(l.on_upgrade, request_.upgrade_type()) != HPR_OK) {
    Close(SO_RECEIVE, ECANCELED);
    return;
  }
  request_.ClearTexts();
  mode_.store(Mode::kUpgraded, std::memory_order_release);
  if (size > 0) DeliverRaw(rest, size);
}

void Connection::ParseError() {
  const int code = parser_.error();
  parse_error_.store(code, std::memory_order_relaxed);
  const Listener& l = server_.listener();
  CallParse(l.on_parse_error, code, parser_.error_description());
  CloseAfterDrain(SO_RECEIVE, ECANCELED);
}

// ------------------------------------------------------------------------- parse events --

int Connection::OnMessageBegin() {
  return CallParse(server_.listener().on_message_begin);
}

int Connection::OnRequestLine(const char* method, const char* url) {
  return CallParse(server_.listener().on_request_line, method, url);
}

int Connection::OnHeader(const char* name, const char* value) {
  return CallParse(server_.listener().on_header, name, value);
}

int Connection::OnHeadersComplete() {
  return CallParse(server_.listener().on_headers_complete);
}

int Connection::OnBody(const char* data, size_t size) {
  return CallParse(server_.listener().on_body, reinterpret_cast<const BYTE*>(data),
                   static_cast<int>(size));
}

int Connection::OnChunkHeader(int size) {
  return CallParse(server_.listener().on_chunk_header, size);
}

int Connection::OnChunkComplete() {
  return CallParse(server_.listener().on_chunk_complete);
}

int Connection::OnMessageComplete() {
  if (!request_.upgrade()) {
    // Set before the callback: the application may answer from inside it.
    std::lock_guard lock(mutex_);
    awaiting_answer_ = true;
  }
  return CallParse(server_.listener().on_message_complete);
}

// ------------------------------------------------------------------------------- writing --

int Connection::Send(const WSABUF* buffers, int count) {
  return Queue(buffers, count, Answers::kNothing);
}

int Connection::Queue(const WSABUF* buffers, int count, Answers answers) {
  size_t total = 0;
  for (int i = 0; i < count; ++i) {
    if (buffers[i].len > 0 && !buffers[i].buf) return EINVAL;
    total += buffers[i].len;
  }
  std::lock_guard lock(mutex_);
  if (!open_ || write_shut_) return EBADSLT;
  if (answers == Answers::kRequest) AnsweredLocked();
  if (total == 0) return 0;

  size_t done = 0;
  if (!writing_ && queued_.empty() && !server_.listener().on_send && count <= kMaxDirectBuffers) {
    // Nothing queued: write from this thread, which saves a hand-over to the strand.
    iovec iov[kMaxDirectBuffers];
    int n_iov = 0;
    for (int i = 0; i < count; ++i) {
      if (buffers[i].len > 0) iov[n_iov++] = iovec{buffers[i].buf, buffers[i].len};
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(n_iov);
    const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) done = static_cast<size_t>(n);
    if (done == total) return 0;
    // A short write or EAGAIN queues the rest; an error is met again by the strand's writer,
    // which closes with it.
  }
  size_t skip = done;
  for (int i = 0; i < count; ++i) {
    const size_t len = buffers[i].len;
    if (skip >= len) {
      skip -= len;
      continue;
    }
    queued_.append(buffers[i].buf + skip, len - skip);
    skip = 0;
  }
  if (!writing_) {
    writing_ = true;
    asio::post(strand_, [self = shared_from_this()] { self->DoWrite(); });
  }
  return 0;
}

int Connection::SendResponse(ResponseHead head, const BYTE* body, int length) {
  if (length < 0 || (length > 0 && !body)) return EINVAL;
  thread_local std::string text;
  text.clear();
  head.keep_alive = request_.keep_alive();
  head.body_length = length;
  if (!AppendResponseHead(head, text)) return EINVAL;
  const WSABUF buffers[2] = {
      {static_cast<ULONG>(text.size()), text.data()},
      {static_cast<ULONG>(length), const_cast<char*>(reinterpret_cast<const char*>(body))}};
  const int result = Queue(buffers, length > 0 ? 2 : 1, Answers::kRequest);
  if (text.capacity() > kKeptSendCapacity) std::string().swap(text);
  return result;
}

void Connection::AnsweredLocked() {
  // The request is answered: parsing may go on with what arrived meanwhile. (Marked before the
  // bytes are written: the strand only resumes once this thread has left the mutex.)
  if (!awaiting_answer_) return;
  awaiting_answer_ = false;
  if (resume_needed_ && !resume_posted_ && !drain_hold_) {
    resume_needed_ = false;
    resume_posted_ = true;
    asio::post(strand_, [self = shared_from_this()] { self->Resume(); });
  }
}

void Connection::DoWrite() {
  const Listener& l = server_.listener();
  while (!closed_) {
    const char* data;
    size_t size;
    {
      std::lock_guard lock(mutex_);
      if (sent_ == sending_.size()) {
        sending_.clear();
        sent_ = 0;
        if (queued_.empty()) {
          writing_ = false;
          FreeIfLarge(sending_);
          FreeIfLarge(queued_);
          break;
        }
        sending_.swap(queued_);
      }
      data = sending_.data() + sent_;
      size = sending_.size() - sent_;
    }
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      {
        std::lock_guard lock(mutex_);
        sent_ += static_cast<size_t>(n);
      }
      CallHandle(l.on_send, reinterpret_cast<const BYTE*>(data), static_cast<int>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      socket_.async_wait(
          asio::socket_base::wait_write,
          asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec) {
            if (self->closed_) return;
            if (ec) {
              self->Close(SO_SEND, ec.value());
            } else {
              self->DoWrite();
            }
          }));
      return;
    }
    Close(SO_SEND, n < 0 ? errno : EPIPE);
    return;
  }
  if (!closed_) OnDrained();
}

void Connection::OnDrained() {
  if (closing_) {
    Close(close_op_, close_error_);
    return;
  }
  bool resume = false;
  {
    std::lock_guard lock(mutex_);
    if (drain_hold_) {
      drain_hold_ = false;
      resume = !resume_posted_;
    }
  }
  if (resume) Resume();
}

bool Connection::connected() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool Connection::PendingBytes(int* out) const {
  std::lock_guard lock(mutex_);
  if (!open_) return false;
  const size_t pending = PendingLocked();
  *out = pending > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(pending);
  return true;
}

bool Connection::LocalEndpoint(asio::ip::tcp::endpoint* out) const {
  std::lock_guard lock(mutex_);
  if (!open_) return false;
  asio::ip::tcp::endpoint local;
  socklen_t len = static_cast<socklen_t>(local.capacity());
  if (::getsockname(fd_, local.data(), &len) != 0) return false;
  local.resize(len);
  *out = local;
  return true;
}

DWORD Connection::ConnectPeriod() const {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - connected_at_).count();
  return static_cast<DWORD>(std::min<int64_t>(ms, 0xFFFFFFFF));
}

DWORD Connection::SilencePeriod() const {
  const int64_t ms = NowMs() - last_receive_ms_.load(std::memory_order_relaxed);
  return static_cast<DWORD>(std::clamp<int64_t>(ms, 0, 0xFFFFFFFF));
}

// ---------------------------------------------------------------------- other operations --

int Connection::Disconnect(bool force) {
  std::lock_guard lock(mutex_);
  if (!open_) return EBADSLT;
  if (force) {
    PostClose(SO_CLOSE, 0);
  } else {
    asio::post(strand_, [self = shared_from_this()] { self->ShutdownWrite(); });
  }
  return 0;
}

int Connection::Release() {
  std::lock_guard lock(mutex_);
  if (!open_) return EBADSLT;
  if (mode_.load(std::memory_order_acquire) == Mode::kRaw) return EPERM;  // HTTP never started
  if (released_.exchange(true)) return EALREADY;
  asio::post(strand_, [self = shared_from_this()] { self->CloseAfterDrain(SO_CLOSE, 0); });
  return 0;
}

int Connection::StartHttp() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return EPERM;
    if (mode_.load(std::memory_order_relaxed) != Mode::kRaw) return EALREADY;
    mode_.store(Mode::kHttp, std::memory_order_release);
  }
  if (CallHandle(server_.listener().on_hand_shake) == HR_ERROR) {
    std::lock_guard lock(mutex_);
    if (open_) PostClose(SO_RECEIVE, ECANCELED);
  }
  return 0;
}

int Connection::PauseReceive(bool pause) {
  std::lock_guard lock(mutex_);
  if (!open_) return EBADSLT;
  if (paused_.exchange(pause) && !pause) {
    asio::post(strand_, [self = shared_from_this()] { self->DoRead(); });
  }
  return 0;
}

// ------------------------------------------------------------------------------- closing --

void Connection::PostClose(En_HP_SocketOperation op, int error) {
  asio::post(strand_, [self = shared_from_this(), op, error] { self->Close(op, error); });
}

void Connection::ShutdownWrite() {
  if (closed_) return;
  {
    std::lock_guard lock(mutex_);
    write_shut_ = true;
    queued_.clear();
    sending_.clear();
    sent_ = 0;
    ::shutdown(fd_, SHUT_WR);
  }
  if (read_eof_) Close(SO_CLOSE, 0);
}

void Connection::CloseAfterDrain(En_HP_SocketOperation op, int error) {
  if (closed_ || closing_) return;
  closing_ = true;
  close_op_ = op;
  close_error_ = error;
  {
    std::lock_guard lock(mutex_);
    if (!writing_) {
      // Nothing queued: close now.
    } else {
      close_timer_ = std::make_unique<asio::steady_timer>(
          server_.io(), std::chrono::milliseconds(settings_.release_delay));
      close_timer_->async_wait(
          asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec) {
            if (!ec) self->Close(self->close_op_, self->close_error_);
          }));
      return;
    }
  }
  Close(op, error);
}

void Connection::Close(En_HP_SocketOperation op, int error) {
  if (closed_) return;
  closed_ = true;
  bool unanswered;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    unanswered = awaiting_answer_;
    std::string().swap(queued_);
    std::string().swap(sending_);
    sent_ = 0;
  }
  if (close_timer_) close_timer_->cancel();
  std::string().swap(pending_input_);
  asio::error_code ignored;
  socket_.close(ignored);
  if (notify_close_) {
    CallHandle(server_.listener().on_close, op, error);
  }
  server_.Remove(id_, unanswered ? shared_from_this() : nullptr);
}

}  // namespace quillmere
