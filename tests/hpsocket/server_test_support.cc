#include "tests/hpsocket/server_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quillmere::testing {
namespace {

Recorder* g_recorder = nullptr;

std::string Id(HP_CONNID id) {
  return std::to_string(id);
}

En_HP_HandleResult OnPrepareListen(HP_HttpServer, UINT_PTR) {
  g_recorder->Add("prepare");
  return HR_OK;
}
En_HP_HandleResult OnAccept(HP_HttpServer s, HP_CONNID id, UINT_PTR) {
  g_recorder->Add("accept " + Id(id));
  if (g_recorder->on_accept) g_recorder->on_accept(s, id);
  return HR_OK;
}
En_HP_HandleResult OnHandShake(HP_HttpServer, HP_CONNID id) {
  g_recorder->Add("handshake " + Id(id));
  return HR_OK;
}
En_HP_HandleResult OnReceive(HP_HttpServer s, HP_CONNID id, const BYTE* data, int length) {
  g_recorder->Add("receive " + Id(id) + " " +
                  std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  return g_recorder->on_receive ? g_recorder->on_receive(s, id, data, length) : HR_OK;
}
En_HP_HandleResult OnClose(HP_HttpServer s, HP_CONNID id, En_HP_SocketOperation op, int error) {
  if (g_recorder->on_close) g_recorder->on_close(s, id);
  g_recorder->Add("close " + Id(id) + " " + std::to_string(op) + " " + std::to_string(error));
  return HR_OK;
}
En_HP_HandleResult OnShutdown(HP_HttpServer) {
  g_recorder->Add("shutdown");
  return HR_OK;
}
En_HP_HttpParseResult OnMessageBegin(HP_HttpServer, HP_CONNID id) {
  g_recorder->Add("begin " + Id(id));
  return HPR_OK;
}
En_HP_HttpParseResult OnRequestLine(HP_HttpServer, HP_CONNID id, LPCSTR method, LPCSTR url) {
  g_recorder->Add("line " + Id(id) + " " + method + " " + url);
  return HPR_OK;
}
En_HP_HttpParseResult OnHeader(HP_HttpServer, HP_CONNID id, LPCSTR name, LPCSTR value) {
  g_recorder->Add("header " + Id(id) + " " + name + ": " + value);
  return HPR_OK;
}
En_HP_HttpParseResult OnHeadersComplete(HP_HttpServer s, HP_CONNID id) {
  g_recorder->Add("headers " + Id(id));
  return g_recorder->on_headers_complete ? g_recorder->on_headers_complete(s, id) : HPR_OK;
}
En_HP_HttpParseResult OnBody(HP_HttpServer s, HP_CONNID id, const BYTE* data, int length) {
  std::unique_lock lock(g_recorder->mutex);
  g_recorder->body_bytes += static_cast<size_t>(length);
  g_recorder->largest_body_piece = std::max(g_recorder->largest_body_piece, length);
  const bool record = g_recorder->record_body;
  lock.unlock();
  if (record) {
    g_recorder->Add("body " + Id(id) + " " +
                    std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  }
  return g_recorder->on_body ? g_recorder->on_body(s, id, length) : HPR_OK;
}
En_HP_HttpParseResult OnChunkHeader(HP_HttpServer, HP_CONNID id, int length) {
  g_recorder->Add("chunk " + Id(id) + " " + std::to_string(length));
  return HPR_OK;
}
En_HP_HttpParseResult OnChunkComplete(HP_HttpServer, HP_CONNID id) {
  g_recorder->Add("chunk-done " + Id(id));
  return HPR_OK;
}
En_HP_HttpParseResult OnMessageComplete(HP_HttpServer s, HP_CONNID id) {
  g_recorder->Add("complete " + Id(id));
  if (g_recorder->on_complete) {
    const En_HP_HttpParseResult result = g_recorder->on_complete(s, id);
    // Lets a test wait until the callback is done with the test's data (the client may have
    // its answer earlier, and the socket is no synchronisation the race detector knows).
    g_recorder->Add("handled " + Id(id));
    return result;
  }
  if (!HP_HttpServer_IsUpgrade(s, id)) Answer(s, id);
  return HPR_OK;
}
En_HP_HttpParseResult OnUpgrade(HP_HttpServer s, HP_CONNID id, En_HP_HttpUpgradeType type) {
  g_recorder->Add("upgrade " + Id(id) + " " + std::to_string(type));
  return g_recorder->on_upgrade ? g_recorder->on_upgrade(s, id, type) : HPR_OK;
}
En_HP_HttpParseResult OnParseError(HP_HttpServer, HP_CONNID id, int code, LPCSTR desc) {
  g_recorder->Add("parse-error " + Id(id) + " " + std::to_string(code) + " " + desc);
  return HPR_OK;
}

}  // namespace

// ------------------------------------------------------------------------------ Client --

Client::Client(USHORT port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Client::~Client() {
  Close();
}

void Client::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Client::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool Client::Fill(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[65536];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::string Client::ReadResponse(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t end = buffer_.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t length = 0;
      const std::string head = buffer_.substr(0, end);
      if (size_t at = head.find("Content-Length: "); at != std::string::npos) {
        length = std::strtoull(head.c_str() + at + 16, nullptr, 10);
      }
      if (buffer_.size() >= end + 4 + length) {
        std::string response = buffer_.substr(0, end + 4 + length);
        buffer_.erase(0, end + 4 + length);
        return response;
      }
    }
    if (!Fill(deadline)) return "";
  }
}

std::string Client::ReadBytes(size_t n, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (buffer_.size() < n && Fill(deadline)) {
  }
  std::string out = buffer_.substr(0, std::min(n, buffer_.size()));
  buffer_.erase(0, out.size());
  return out;
}

bool Client::WaitClosed(std::chrono::milliseconds timeout, std::string* rest) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      if (rest) *rest = buffer_;
      return true;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

void Client::ShutdownWrite() {
  ::shutdown(fd_, SHUT_WR);
}

void Client::Reset() {
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

// ---------------------------------------------------------------------------- Recorder --

void Recorder::Add(std::string event) {
  {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
  }
  changed.notify_all();
}

bool Recorder::WaitFor(const std::function<bool(const std::vector<std::string>&)>& done,
                       std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, timeout, [&] { return done(events); });
}

bool Recorder::WaitForEvent(const std::string& event, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&](const std::vector<std::string>& all) {
        return std::find(all.begin(), all.end(), event) != all.end();
      },
      timeout);
}

std::vector<std::string> Recorder::EventsOf(HP_CONNID id) {
  const std::string tag = " " + std::to_string(id);
  std::vector<std::string> out;
  std::lock_guard lock(mutex);
  for (const std::string& e : events) {
    const size_t space = e.find(' ');
    if (space == std::string::npos) continue;
    const std::string rest = e.substr(space);
    if (rest == tag) {
      out.push_back(e.substr(0, space));
    } else if (rest.compare(0, tag.size() + 1, tag + " ") == 0) {
      out.push_back(e.substr(0, space) + rest.substr(tag.size()));
    }
  }
  return out;
}

std::vector<std::string> Recorder::Snapshot() {
  std::lock_guard lock(mutex);
  return events;
}

void Recorder::Clear() {
  std::lock_guard lock(mutex);
  events.clear();
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void Answer(HP_HttpServer server, HP_CONNID id, std::string_view body) {
  HP_HttpServer_SendResponse(server, id, 200, nullptr, nullptr, 0,
                             reinterpret_cast<const BYTE*>(body.data()),
                             static_cast<int>(body.size()));
  if (!HP_HttpServer_IsKeepAlive(server, id)) HP_HttpServer_Release(server, id);
}

// -------------------------------------------------------------------------- ServerTest --

void ServerTest::SetUp() {
  recorder_ = std::make_unique<Recorder>();
  g_recorder = recorder_.get();
  listener_ = Create_HP_HttpServerListener();
  HP_Set_FN_HttpServer_OnPrepareListen(listener_, OnPrepareListen);
  HP_Set_FN_HttpServer_OnAccept(listener_, OnAccept);
  HP_Set_FN_HttpServer_OnHandShake(listener_, OnHandShake);
  HP_Set_FN_HttpServer_OnReceive(listener_, OnReceive);
  HP_Set_FN_HttpServer_OnClose(listener_, OnClose);
  HP_Set_FN_HttpServer_OnShutdown(listener_, OnShutdown);
  HP_Set_FN_HttpServer_OnMessageBegin(listener_, OnMessageBegin);
  HP_Set_FN_HttpServer_OnRequestLine(listener_, OnRequestLine);
  HP_Set_FN_HttpServer_OnHeader(listener_, OnHeader);
  HP_Set_FN_HttpServer_OnHeadersComplete(listener_, OnHeadersComplete);
  HP_Set_FN_HttpServer_OnBody(listener_, OnBody);
  HP_Set_FN_HttpServer_OnChunkHeader(listener_, OnChunkHeader);
  HP_Set_FN_HttpServer_OnChunkComplete(listener_, OnChunkComplete);
  HP_Set_FN_HttpServer_OnMessageComplete(listener_, OnMessageComplete);
  HP_Set_FN_HttpServer_OnUpgrade(listener_, OnUpgrade);
  HP_Set_FN_HttpServer_OnParseError(listener_, OnParseError);
  Create();
  if (start_in_setup_) StartServer();
}

void ServerTest::Create() {
  if (!server_) server_ = Create_HP_HttpServer(listener_);
}

void ServerTest::StartServer() {
  ASSERT_TRUE(HP_Server_Start(server_, "127.0.0.1", 0)) << HP_Server_GetLastErrorDesc(server_);
  TCHAR address[64];
  int length = sizeof address;
  ASSERT_TRUE(HP_Server_GetListenAddress(server_, address, &length, &port_));
  ASSERT_NE(port_, 0);
}

void ServerTest::TearDown() {
  if (HP_Server_GetState(server_) == SS_STARTED) {
    EXPECT_TRUE(HP_Server_Stop(server_));
  }
  Destroy_HP_HttpServer(server_);
  Destroy_HP_HttpServerListener(listener_);
  g_recorder = nullptr;
  recorder_.reset();
}

HP_CONNID ServerTest::AcceptedId(size_t n) {
  HP_CONNID id = 0;
  recorder().WaitFor([&](const std::vector<std::string>& all) {
    size_t seen = 0;
    for (const std::string& e : all) {
      if (e.rfind("accept ", 0) == 0 && ++seen == n) {
        id = std::stoull(e.substr(7));
        return true;
      }
    }
    return false;
  });
  return id;
}

}  // namespace quillmere::testing
