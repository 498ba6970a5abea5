// The C interface of the HTTP server (HPSocket4C.h): thin forwarders to HttpServer and
// Connection. Per-call failures set errno: EBADSLT unknown or closed connection, EINVAL bad
// argument, EPERM wrong state, EALREADY already done, ENODATA empty file, EFBIG file too large.
#include <arpa/inet.h>
#include <errno.h>
#include <http_parser.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/connection.h"
#include "hpsocket/http_request.h"
#include "hpsocket/listener.h"
#include "hpsocket/server.h"

using quillmere::Connection;
using quillmere::HttpServer;
using quillmere::Listener;
using quillmere::ServerSettings;

namespace {

HttpServer* Server(HP_Object handle) {
  return static_cast<HttpServer*>(handle);
}
Listener* Callbacks(HP_HttpServerListener handle) {
  return static_cast<Listener*>(handle);
}

// The live connection, or null with errno = EBADSLT.
std::shared_ptr<Connection> Find(HP_Object server, HP_CONNID id) {
  std::shared_ptr<Connection> c = server ? Server(server)->Find(id) : nullptr;
  if (!c) errno = EBADSLT;
  return c;
}

BOOL Result(int err) {
  if (err == 0) return TRUE;
  errno = err;
  return FALSE;
}

// Writes the numeric form of `endpoint` into the caller's buffer.
BOOL WriteAddress(const asio::ip::tcp::endpoint& endpoint, TCHAR buffer[], int* length,
                  USHORT* port) {
  if (!length) return Result(EINVAL);
  const bool v6 = endpoint.address().is_v6();
  char text[INET6_ADDRSTRLEN] = {};
  if (v6) {
    const auto bytes = endpoint.address().to_v6().to_bytes();
    inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
  } else {
    const auto bytes = endpoint.address().to_v4().to_bytes();
    inet_ntop(AF_INET, bytes.data(), text, sizeof text);
  }
  const int needed = static_cast<int>(std::strlen(text)) + 1;
  if (!buffer || *length < needed) {
    *length = v6 ? 46 : 16;
    return Result(EINVAL);
  }
  std::memcpy(buffer, text, static_cast<size_t>(needed));
  *length = needed;
  if (port) *port = endpoint.port();
  return TRUE;
}

// The list getters' count convention: with no array, no entries, or more entries than *count
// holds, only *count is set (to the number of entries) and the result is FALSE; otherwise every
// entry goes out through `project`, in order.
template <typename Entry, typename Out, typename Project>
BOOL CopyAll(const std::vector<Entry>& all, Out out[], DWORD* count, Project project) {
  const DWORD total = static_cast<DWORD>(all.size());
  const bool fits = out != nullptr && total > 0 && total <= *count;
  *count = total;
  if (!fits) return FALSE;
  std::transform(all.begin(), all.end(), out, project);
  return TRUE;
}

// The engine-wide setting setters and getters are all alike.
template <typename T>
void Set(HP_Object server, T ServerSettings::*field, T value) {
  Server(server)->UpdateSettings([&](ServerSettings& s) { s.*field = value; });
}
template <typename T>
T Get(HP_Object server, T ServerSettings::*field) {
  return Server(server)->settings().*field;
}

}  // namespace

extern "C" {

// ------------------------------------------------------------ creation, destruction --

HP_HttpServerListener Create_HP_HttpServerListener(void) {
  return new Listener();
}

void Destroy_HP_HttpServerListener(HP_HttpServerListener listener) {
  delete Callbacks(listener);
}

HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener listener) {
  if (!listener) {
    errno = EINVAL;
    return nullptr;
  }
  return new HttpServer(*Callbacks(listener));
}

void Destroy_HP_HttpServer(HP_HttpServer server) {
  delete Server(server);
}

// ------------------------------------------------------------------ callback setters --

#define QUILLMERE_SETTER(Event, field)                                                             \
  void HP_Set_FN_HttpServer_##Event(HP_HttpServerListener listener, HP_FN_HttpServer_##Event fn) { \
    if (listener) Callbacks(listener)->field = fn;                                                 \
  }
QUILLMERE_SETTER(OnPrepareListen, on_prepare_listen)
QUILLMERE_SETTER(OnAccept, on_accept)
QUILLMERE_SETTER(OnHandShake, on_hand_shake)
QUILLMERE_SETTER(OnSend, on_send)
QUILLMERE_SETTER(OnReceive, on_receive)
QUILLMERE_SETTER(OnClose, on_close)
QUILLMERE_SETTER(OnShutdown, on_shutdown)
QUILLMERE_SETTER(OnMessageBegin, on_message_begin)
QUILLMERE_SETTER(OnRequestLine, on_request_line)
QUILLMERE_SETTER(OnHeader, on_header)
QUILLMERE_SETTER(OnHeadersComplete, on_headers_complete)
QUILLMERE_SETTER(OnBody, on_body)
QUILLMERE_SETTER(OnChunkHeader, on_chunk_header)
QUILLMERE_SETTER(OnChunkComplete, on_chunk_complete)
QUILLMERE_SETTER(OnMessageComplete, on_message_complete)
QUILLMERE_SETTER(OnUpgrade, on_upgrade)
QUILLMERE_SETTER(OnParseError, on_parse_error)
#undef QUILLMERE_SETTER

// ---------------------------------------------------------------------- start, stop --

BOOL HP_Server_Start(HP_Server server, LPCTSTR address, USHORT port) {
  return Server(server)->Start(address, port) ? TRUE : FALSE;
}

BOOL HP_Server_Stop(HP_Server server) {
  return Server(server)->Stop() ? TRUE : FALSE;
}

BOOL HP_Server_HasStarted(HP_Server server) {
  const En_HP_ServiceState s = Server(server)->state();
  return (s == SS_STARTING || s == SS_STARTED) ? TRUE : FALSE;
}

En_HP_ServiceState HP_Server_GetState(HP_Server server) {
  return Server(server)->state();
}

En_HP_SocketError HP_Server_GetLastError(HP_Server server) {
  return Server(server)->last_error();
}

LPCTSTR HP_Server_GetLastErrorDesc(HP_Server server) {
  switch (Server(server)->last_error()) {
    case SE_OK:
      return "SUCCESS";
    case SE_ILLEGAL_STATE:
      return "Illegal State";
    case SE_INVALID_PARAM:
      return "Invalid Parameter";
    case SE_SOCKET_CREATE:
      return "Create SOCKET Fail";
    case SE_SOCKET_BIND:
      return "Bind SOCKET Fail";
    case SE_SOCKET_PREPARE:
      return "Prepare SOCKET Fail";
    case SE_SOCKET_LISTEN:
      return "Listen SOCKET Fail";
    case SE_CP_CREATE:
      return "Create IOCP Fail";
    case SE_WORKER_THREAD_CREATE:
      return "Create Worker Thread Fail";
    case SE_DETECT_THREAD_CREATE:
      return "Create Detector Thread Fail";
    case SE_SOCKE_ATTACH_TO_CP:
      return "Attach SOCKET to IOCP Fail";
    case SE_CONNECT_SERVER:
      return "Connect to Server Fail";
    case SE_NETWORK:
      return "Network Error";
    case SE_DATA_PROC:
      return "Process Data Error";
    case SE_DATA_SEND:
      return "Send Data Fail";
    case SE_SSL_ENV_NOT_READY:
      return "SSL environment not ready";
  }
  return "UNKNOWN ERROR";
}

BOOL HP_Server_IsSecure(HP_Server) {
  return FALSE;
}

// ------------------------------------------------------------ connection operations --

BOOL HP_Server_Send(HP_Server server, HP_CONNID id, const BYTE* buffer, int length) {
  return HP_Server_SendPart(server, id, buffer, length, 0);
}

BOOL HP_Server_SendPart(HP_Server server, HP_CONNID id, const BYTE* buffer, int length,
                        int offset) {
  if (length < 0 || offset < 0 || (length > 0 && !buffer)) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  const WSABUF one{static_cast<ULONG>(length),
                   const_cast<char*>(reinterpret_cast<const char*>(buffer)) + offset};
  return Result(c->Send(&one, 1));
}

BOOL HP_Server_SendPackets(HP_Server server, HP_CONNID id, const WSABUF buffers[], int count) {
  if (count <= 0 || !buffers) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  return Result(c->Send(buffers, count));
}

BOOL HP_Server_Disconnect(HP_Server server, HP_CONNID id, BOOL force) {
  auto c = Find(server, id);
  return c ? Result(c->Disconnect(force != FALSE)) : FALSE;
}

BOOL HP_Server_DisconnectLongConnections(HP_Server server, DWORD period, BOOL force) {
  return Server(server)->DisconnectOlder(period, force != FALSE, /*by_silence=*/false) ? TRUE
                                                                                       : FALSE;
}

BOOL HP_Server_DisconnectSilenceConnections(HP_Server server, DWORD period, BOOL force) {
  return Server(server)->DisconnectOlder(period, force != FALSE, /*by_silence=*/true) ? TRUE
                                                                                      : FALSE;
}

BOOL HP_Server_PauseReceive(HP_Server server, HP_CONNID id, BOOL pause) {
  auto c = Find(server, id);
  return c ? Result(c->PauseReceive(pause != FALSE)) : FALSE;
}

BOOL HP_Server_IsPauseReceive(HP_Server server, HP_CONNID id, BOOL* paused) {
  auto c = Find(server, id);
  if (!c || !paused) return FALSE;
  *paused = c->paused() ? TRUE : FALSE;
  return TRUE;
}

BOOL HP_Server_SetConnectionExtra(HP_Server server, HP_CONNID id, PVOID extra) {
  auto c = Find(server, id);
  if (!c) return FALSE;
  c->set_extra(extra);
  return TRUE;
}

BOOL HP_Server_GetConnectionExtra(HP_Server server, HP_CONNID id, PVOID* extra) {
  auto c = Find(server, id);
  if (!c || !extra) return FALSE;
  *extra = c->extra();
  return TRUE;
}

BOOL HP_Server_GetListenAddress(HP_Server server, TCHAR address[], int* length, USHORT* port) {
  asio::ip::tcp::endpoint endpoint;
  if (!Server(server)->ListenEndpoint(&endpoint)) return Result(EPERM);
  return WriteAddress(endpoint, address, length, port);
}

BOOL HP_Server_GetLocalAddress(HP_Server server, HP_CONNID id, TCHAR address[], int* length,
                               USHORT* port) {
  auto c = Find(server, id);
  asio::ip::tcp::endpoint endpoint;
  if (!c || !c->LocalEndpoint(&endpoint)) return Result(EBADSLT);
  return WriteAddress(endpoint, address, length, port);
}

BOOL HP_Server_GetRemoteAddress(HP_Server server, HP_CONNID id, TCHAR address[], int* length,
                                USHORT* port) {
  auto c = Find(server, id);
  return c ? WriteAddress(c->remote(), address, length, port) : FALSE;
}

BOOL HP_Server_GetPendingDataLength(HP_Server server, HP_CONNID id, int* pending) {
  auto c = Find(server, id);
  if (!c || !pending) return FALSE;
  return c->PendingBytes(pending) ? TRUE : Result(EBADSLT);
}

BOOL HP_Server_IsConnected(HP_Server server, HP_CONNID id) {
  auto c = Server(server)->Find(id);
  return (c && c->connected()) ? TRUE : FALSE;
}

DWORD HP_Server_GetConnectionCount(HP_Server server) {
  return Server(server)->ConnectionCount();
}

BOOL HP_Server_GetAllConnectionIDs(HP_Server server, HP_CONNID ids[], DWORD* count) {
  if (!count) return Result(EINVAL);
  const DWORD capacity = ids ? *count : 0;
  const DWORD total = Server(server)->ConnectionIds(capacity ? ids : nullptr, capacity);
  *count = total;
  return (total > 0 && total <= capacity) ? TRUE : FALSE;
}

BOOL HP_Server_GetConnectPeriod(HP_Server server, HP_CONNID id, DWORD* period) {
  auto c = Find(server, id);
  if (!c || !period) return FALSE;
  *period = c->ConnectPeriod();
  return TRUE;
}

BOOL HP_Server_GetSilencePeriod(HP_Server server, HP_CONNID id, DWORD* period) {
  auto c = Find(server, id);
  if (!c || !period) return FALSE;
  if (!Server(server)->active().mark_silence) return Result(EPERM);
  *period = c->SilencePeriod();
  return TRUE;
}

// ------------------------------------------------------------------ server settings --

void HP_Server_SetSendPolicy(HP_Server s, En_HP_SendPolicy v) {
  Set(s, &ServerSettings::send_policy, v);
}
void HP_Server_SetOnSendSyncPolicy(HP_Server s, En_HP_OnSendSyncPolicy v) {
  Set(s, &ServerSettings::on_send_sync_policy, v);
}
void HP_Server_SetFreeSocketObjLockTime(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::free_socket_obj_lock_time, v);
}
void HP_Server_SetFreeSocketObjPool(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::free_socket_obj_pool, v);
}
void HP_Server_SetFreeBufferObjPool(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::free_buffer_obj_pool, v);
}
void HP_Server_SetFreeSocketObjHold(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::free_socket_obj_hold, v);
}
void HP_Server_SetFreeBufferObjHold(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::free_buffer_obj_hold, v);
}
void HP_Server_SetMaxConnectionCount(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::max_connections, v);
}
void HP_Server_SetWorkerThreadCount(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::worker_threads, v);
}
void HP_Server_SetMarkSilence(HP_Server s, BOOL v) {
  Set(s, &ServerSettings::mark_silence, v != FALSE);
}

En_HP_SendPolicy HP_Server_GetSendPolicy(HP_Server s) {
  return Get(s, &ServerSettings::send_policy);
}
En_HP_OnSendSyncPolicy HP_Server_GetOnSendSyncPolicy(HP_Server s) {
  return Get(s, &ServerSettings::on_send_sync_policy);
}
DWORD HP_Server_GetFreeSocketObjLockTime(HP_Server s) {
  return Get(s, &ServerSettings::free_socket_obj_lock_time);
}
DWORD HP_Server_GetFreeSocketObjPool(HP_Server s) {
  return Get(s, &ServerSettings::free_socket_obj_pool);
}
DWORD HP_Server_GetFreeBufferObjPool(HP_Server s) {
  return Get(s, &ServerSettings::free_buffer_obj_pool);
}
DWORD HP_Server_GetFreeSocketObjHold(HP_Server s) {
  return Get(s, &ServerSettings::free_socket_obj_hold);
}
DWORD HP_Server_GetFreeBufferObjHold(HP_Server s) {
  return Get(s, &ServerSettings::free_buffer_obj_hold);
}
DWORD HP_Server_GetMaxConnectionCount(HP_Server s) {
  return Get(s, &ServerSettings::max_connections);
}
DWORD HP_Server_GetWorkerThreadCount(HP_Server s) {
  return Get(s, &ServerSettings::worker_threads);
}
BOOL HP_Server_IsMarkSilence(HP_Server s) {
  return Get(s, &ServerSettings::mark_silence) ? TRUE : FALSE;
}

void HP_TcpServer_SetSocketBufferSize(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::socket_buffer_size, v);
}
void HP_TcpServer_SetKeepAliveTime(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::keep_alive_time, v);
}
void HP_TcpServer_SetKeepAliveInterval(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::keep_alive_interval, v);
}
void HP_TcpServer_SetSocketListenQueue(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::listen_queue, v);
}
void HP_TcpServer_SetAcceptSocketCount(HP_Server s, DWORD v) {
  Set(s, &ServerSettings::accept_socket_count, v);
}
DWORD HP_TcpServer_GetSocketBufferSize(HP_Server s) {
  return Get(s, &ServerSettings::socket_buffer_size);
}
DWORD HP_TcpServer_GetKeepAliveTime(HP_Server s) {
  return Get(s, &ServerSettings::keep_alive_time);
}
DWORD HP_TcpServer_GetKeepAliveInterval(HP_Server s) {
  return Get(s, &ServerSettings::keep_alive_interval);
}
DWORD HP_TcpServer_GetSocketListenQueue(HP_Server s) {
  return Get(s, &ServerSettings::listen_queue);
}
DWORD HP_TcpServer_GetAcceptSocketCount(HP_Server s) {
  return Get(s, &ServerSettings::accept_socket_count);
}

void HP_HttpServer_SetReleaseDelay(HP_HttpServer s, DWORD v) {
  Set(s, &ServerSettings::release_delay, v);
}
DWORD HP_HttpServer_GetReleaseDelay(HP_HttpServer s) {
  return Get(s, &ServerSettings::release_delay);
}
void HP_HttpServer_SetHttpAutoStart(HP_HttpServer s, BOOL v) {
  Set(s, &ServerSettings::http_auto_start, v != FALSE);
}
BOOL HP_HttpServer_IsHttpAutoStart(HP_HttpServer s) {
  return Get(s, &ServerSettings::http_auto_start) ? TRUE : FALSE;
}
void HP_HttpServer_SetLocalVersion(HP_HttpServer s, En_HP_HttpVersion v) {
  Set(s, &ServerSettings::local_version, v);
}
En_HP_HttpVersion HP_HttpServer_GetLocalVersion(HP_HttpServer s) {
  return Get(s, &ServerSettings::local_version);
}

// ----------------------------------------------------------------------- HTTP sending --

BOOL HP_HttpServer_SendResponse(HP_HttpServer server, HP_CONNID id, USHORT status, LPCSTR desc,
                                const HP_THeader headers[], int header_count, const BYTE* body,
                                int length) {
  auto c = Find(server, id);
  if (!c) return FALSE;
  quillmere::ResponseHead head;
  head.version = static_cast<USHORT>(Server(server)->active().local_version);
  head.status = status;
  head.reason = desc;
  head.headers = headers;
  head.header_count = header_count;
  return Result(c->SendResponse(head, body, length));
}

BOOL HP_HttpServer_SendLocalFile(HP_HttpServer server, HP_CONNID id, LPCSTR file_name,
                                 USHORT status, LPCSTR desc, const HP_THeader headers[],
                                 int header_count) {
  constexpr long kMaxFile = 4 * 1024 * 1024 - 1;
  if (!file_name) return Result(EINVAL);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(file_name, "rb"), &std::fclose);
  if (!file) return FALSE;  // errno from fopen
  std::string body;
  char chunk[16384];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    body.append(chunk, n);
    if (body.size() > static_cast<size_t>(kMaxFile)) return Result(EFBIG);
  }
  if (std::ferror(file.get())) return Result(EIO);
  if (body.empty()) return Result(ENODATA);
  return HP_HttpServer_SendResponse(server, id, status, desc, headers, header_count,
                                    reinterpret_cast<const BYTE*>(body.data()),
                                    static_cast<int>(body.size()));
}

BOOL HP_HttpServer_Release(HP_HttpServer server, HP_CONNID id) {
  if (Server(server)->state() != SS_STARTED) return Result(EPERM);
  auto c = Find(server, id);
  return c ? Result(c->Release()) : FALSE;
}

BOOL HP_HttpServer_StartHttp(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);  // first: the run's settings are only read while it has connections
  if (!c) return FALSE;
  if (Server(server)->active().http_auto_start) return Result(EPERM);
  return Result(c->StartHttp());
}

// ---------------------------------------------------------------------- HTTP getters --

USHORT HP_HttpServer_GetUrlFieldSet(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().url_field_set() : 0;
}

LPCSTR HP_HttpServer_GetUrlField(HP_HttpServer server, HP_CONNID id, En_HP_HttpUrlField field) {
  auto c = Find(server, id);
  return c ? c->request().url_field(field) : nullptr;
}

LPCSTR HP_HttpServer_GetMethod(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().method() : nullptr;
}

BOOL HP_HttpServer_IsUpgrade(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return (c && c->request().upgrade()) ? TRUE : FALSE;
}

En_HP_HttpUpgradeType HP_HttpServer_GetUpgradeType(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().upgrade_type() : HUT_NONE;
}

BOOL HP_HttpServer_IsKeepAlive(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return (c && c->request().keep_alive()) ? TRUE : FALSE;
}

USHORT HP_HttpServer_GetVersion(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().version() : 0;
}

LPCSTR HP_HttpServer_GetHost(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().FindHeader("Host") : nullptr;
}

ULONGLONG HP_HttpServer_GetContentLength(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().content_length() : 0;
}

LPCSTR HP_HttpServer_GetContentType(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().FindHeader("Content-Type") : nullptr;
}

LPCSTR HP_HttpServer_GetContentEncoding(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().FindHeader("Content-Encoding") : nullptr;
}

LPCSTR HP_HttpServer_GetTransferEncoding(HP_HttpServer server, HP_CONNID id) {
  auto c = Find(server, id);
  return c ? c->request().FindHeader("Transfer-Encoding") : nullptr;
}

USHORT HP_HttpServer_GetParseErrorCode(HP_HttpServer server, HP_CONNID id, LPCSTR* desc) {
  auto c = Find(server, id);
  if (!c) return 0;
  const int code = c->parse_error();
  if (desc) *desc = http_errno_description(static_cast<http_errno>(code));
  return static_cast<USHORT>(code);
}

BOOL HP_HttpServer_GetHeader(HP_HttpServer server, HP_CONNID id, LPCSTR name, LPCSTR* value) {
  if (!name || !value) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  const char* found = c->request().FindHeader(name);
  if (!found) return FALSE;
  *value = found;
  return TRUE;
}

BOOL HP_HttpServer_GetHeaders(HP_HttpServer server, HP_CONNID id, LPCSTR name, LPCSTR values[],
                              DWORD* count) {
  if (!name || !count) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  const DWORD capacity = values ? *count : 0;
  const DWORD total = c->request().FindHeaders(name, capacity ? values : nullptr, capacity);
  *count = total;
  return (total > 0 && total <= capacity) ? TRUE : FALSE;
}

BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer server, HP_CONNID id, HP_THeader headers[],
                                 DWORD* count) {
  if (!count) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  return CopyAll(c->request().headers(), headers, count, [](const HP_THeader& h) { return h; });
}

BOOL HP_HttpServer_GetAllHeaderNames(HP_HttpServer server, HP_CONNID id, LPCSTR names[],
                                     DWORD* count) {
  if (!count) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  return CopyAll(c->request().headers(), names, count, [](const HP_THeader& h) { return h.name; });
}

BOOL HP_HttpServer_GetCookie(HP_HttpServer server, HP_CONNID id, LPCSTR name, LPCSTR* value) {
  if (!name || !value) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  const char* found = c->request().FindCookie(name);
  if (!found) return FALSE;
  *value = found;
  return TRUE;
}

BOOL HP_HttpServer_GetAllCookies(HP_HttpServer server, HP_CONNID id, HP_TCookie cookies[],
                                 DWORD* count) {
  if (!count) return Result(EINVAL);
  auto c = Find(server, id);
  if (!c) return FALSE;
  return CopyAll(c->request().cookies(), cookies, count,
                 [](const HP_TCookie& cookie) { return cookie; });
}

}  // extern "C"
