// HttpServerComponent: the program's one contact with the engine's HTTP server.
//
// A thin class over the C interface in hpsocket/HPSocket4C.h. It owns one listener object (the
// callback table), creates server objects on it, and offers one method per engine function,
// named after the function less its prefix (Start for HP_Server_Start, SendResponse for
// HP_HttpServer_SendResponse, SetOnBody for HP_Set_FN_HttpServer_OnBody). Those methods pass their
// arguments on unchanged and return the engine's result; the few that convert texts or arrays or
// take two steps say so.
//
// Conventions shared by every method:
// - The server handle is the caller's (CreateServer returns it); it comes first. A null handle and
//   kNoListenerServer both mean "no server": the method calls nothing and returns false, 0, an
//   empty text or the stated default.
// - Texts are code page 936 byte strings. A text handed to the engine is zero-terminated; an
//   empty one is handed over as a null pointer. A text the engine returns is copied; a null
//   pointer becomes the empty text.
// - Byte arrays handed to the engine become a pointer and a length; an empty one a null pointer
//   and 0.
//
// Threads: the listener handle is this object's only state. It is written by CreateListener and
// DestroyListener (and through CreateListener by CreateServer and the SetOn... methods), which are
// window thread only and must not overlap with each other. Every other method reads no state of
// this object and is safe from any thread as far as the engine's function is (see
// hpsocket/HPSocket4C.h: sending, responses and Release from any thread; the request getters for a
// connection that is between its message-complete event and its answer).
//
// Destroying or copying the object releases nothing: the listener lives until DestroyListener and
// servers until DestroyServer; a copy names the same listener.
#ifndef QUILLMERE_HTTP_SERVER_COMPONENT_H
#define QUILLMERE_HTTP_SERVER_COMPONENT_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hpsocket/HPSocket4C.h"
#include "http/responses.h"

namespace quillmere {

/// What CreateServer returns when no listener could be had. It is not a handle: every method
/// treats it like a null handle.
inline const HP_HttpServer kNoListenerServer = reinterpret_cast<HP_HttpServer>(UINTPTR_MAX);

/// True for a server handle, false for null and kNoListenerServer. Pure; safe from any thread.
bool IsServerHandle(HP_HttpServer server);

/// One buffer of SendPackets: the number of bytes to send from the front of `bytes`.
struct PacketRecord {
  std::uint32_t length = 0;
  std::string bytes;
};

class HttpServerComponent {
 public:
  HttpServerComponent() = default;
  HttpServerComponent(const HttpServerComponent&) = default;
  HttpServerComponent& operator=(const HttpServerComponent&) = default;
  ~HttpServerComponent() = default;

  // ---- Listener and server objects (window thread only) ----

  /// The listener, created on first use: an existing one is returned without any call; a failed
  /// creation returns null and is tried again on the next call.
  HP_HttpServerListener CreateListener();
  /// Destroys the listener when there is one (only after every server on it is destroyed).
  void DestroyListener();
  /// A new HTTP server on the listener (null when the engine fails), or kNoListenerServer without
  /// any further call when no listener can be had. A second server reuses the listener.
  HP_HttpServer CreateServer();
  /// Destroys the server; calls nothing for null or kNoListenerServer.
  void DestroyServer(HP_HttpServer server);

  // ---- Callbacks (window thread only, before Start) ----
  // Each installs its callback on the listener (created on first use) and returns true; without a
  // listener it installs nothing and returns false. A null callback uninstalls.

  bool SetOnPrepareListen(HP_FN_HttpServer_OnPrepareListen fn);
  bool SetOnAccept(HP_FN_HttpServer_OnAccept fn);
  bool SetOnHandShake(HP_FN_HttpServer_OnHandShake fn);
  bool SetOnSend(HP_FN_HttpServer_OnSend fn);
  bool SetOnReceive(HP_FN_HttpServer_OnReceive fn);
  bool SetOnClose(HP_FN_HttpServer_OnClose fn);
  bool SetOnShutdown(HP_FN_HttpServer_OnShutdown fn);
  bool SetOnMessageBegin(HP_FN_HttpServer_OnMessageBegin fn);
  bool SetOnRequestLine(HP_FN_HttpServer_OnRequestLine fn);
  bool SetOnHeader(HP_FN_HttpServer_OnHeader fn);
  bool SetOnHeadersComplete(HP_FN_HttpServer_OnHeadersComplete fn);
  bool SetOnBody(HP_FN_HttpServer_OnBody fn);
  bool SetOnChunkHeader(HP_FN_HttpServer_OnChunkHeader fn);
  bool SetOnChunkComplete(HP_FN_HttpServer_OnChunkComplete fn);
  bool SetOnMessageComplete(HP_FN_HttpServer_OnMessageComplete fn);
  bool SetOnUpgrade(HP_FN_HttpServer_OnUpgrade fn);
  bool SetOnParseError(HP_FN_HttpServer_OnParseError fn);

  // ---- Start, stop, state (Start and Stop: window thread; they block) ----

  /// Starts on `address` and `port`. An omitted address means "0.0.0.0"; an empty one is handed
  /// over as null (which the engine also binds to every IPv4 address). Start(s, std::nullopt, 0)
  /// lets the system choose the port (read it back with GetListenAddress).
  bool Start(HP_HttpServer server, std::optional<std::string_view> address, USHORT port);
  bool Stop(HP_HttpServer server);
  bool HasStarted(HP_HttpServer server);
  /// SS_STOPPED for no server.
  En_HP_ServiceState GetState(HP_HttpServer server);
  /// SE_ILLEGAL_STATE for no server.
  En_HP_SocketError GetLastError(HP_HttpServer server);
  std::string GetLastErrorDesc(HP_HttpServer server);
  bool IsSecure(HP_HttpServer server);

  // ---- Connections (safe from any thread) ----

  bool Send(HP_HttpServer server, HP_CONNID connID, const BYTE* data, int length);
  /// Sends `bytes`; more than INT_MAX bytes are refused (false, nothing sent).
  bool SendBytes(HP_HttpServer server, HP_CONNID connID, std::string_view bytes);
  bool SendPart(HP_HttpServer server, HP_CONNID connID, const BYTE* data, int length, int offset);
  /// Sends the packets as one contiguous piece, each contributing its `length` bytes (at most the
  /// size of its `bytes`: a larger length is cut to it). Afterwards each packet's `length` holds
  /// what was handed to the engine for it. An empty list is the engine's failure.
  bool SendPackets(HP_HttpServer server, HP_CONNID connID, std::vector<PacketRecord>& packets);
  bool Disconnect(HP_HttpServer server, HP_CONNID connID, bool force);
  bool DisconnectLongConnections(HP_HttpServer server, DWORD period, bool force);
  bool DisconnectSilenceConnections(HP_HttpServer server, DWORD period, bool force);
  bool PauseReceive(HP_HttpServer server, HP_CONNID connID, bool pause);
  /// `paused` is written only when the engine writes it.
  bool IsPauseReceive(HP_HttpServer server, HP_CONNID connID, bool& paused);
  bool IsConnected(HP_HttpServer server, HP_CONNID connID);
  bool SetConnectionExtra(HP_HttpServer server, HP_CONNID connID, PVOID extra);
  /// Use `extra` only when the result is true; it is left unchanged for an unknown connection.
  bool GetConnectionExtra(HP_HttpServer server, HP_CONNID connID, PVOID& extra);
  bool GetPendingDataLength(HP_HttpServer server, HP_CONNID connID, int& pending);
  DWORD GetConnectionCount(HP_HttpServer server);
  /// Replaces `ids` by the current connection IDs in two calls: the first learns the count, the
  /// second fills a new zeroed array of that size (cut to what it reports on success). The
  /// second call's result is returned; false with no connections.
  bool GetAllConnectionIDs(HP_HttpServer server, std::vector<HP_CONNID>& ids);
  bool GetConnectPeriod(HP_HttpServer server, HP_CONNID connID, DWORD& period);
  bool GetSilencePeriod(HP_HttpServer server, HP_CONNID connID, DWORD& period);

  // Address getters, each in two calls: the first with length 0 learns the needed length (50 when
  // the engine reports none), the second writes the address (numeric text) and the port. The
  // second call's result is returned; `address` is the empty text when it fails.

  bool GetListenAddress(HP_HttpServer server, std::string& address, USHORT& port);
  bool GetLocalAddress(HP_HttpServer server, HP_CONNID connID, std::string& address, USHORT& port);
  bool GetRemoteAddress(HP_HttpServer server, HP_CONNID connID, std::string& address, USHORT& port);

  // ---- Settings (window thread, while stopped; they take effect at the next Start) ----
  // Getters give 0 (or the named default) for no server.

  void SetSendPolicy(HP_HttpServer server, En_HP_SendPolicy policy);
  void SetOnSendSyncPolicy(HP_HttpServer server, En_HP_OnSendSyncPolicy policy);
  void SetFreeSocketObjLockTime(HP_HttpServer server, DWORD lockTime);
  void SetFreeSocketObjPool(HP_HttpServer server, DWORD poolSize);
  void SetFreeBufferObjPool(HP_HttpServer server, DWORD poolSize);
  void SetFreeSocketObjHold(HP_HttpServer server, DWORD holdSize);
  void SetFreeBufferObjHold(HP_HttpServer server, DWORD holdSize);
  void SetMaxConnectionCount(HP_HttpServer server, DWORD maxConnections);
  void SetWorkerThreadCount(HP_HttpServer server, DWORD threadCount);
  void SetMarkSilence(HP_HttpServer server, bool markSilence);
  /// SP_PACK for no server.
  En_HP_SendPolicy GetSendPolicy(HP_HttpServer server);
  /// OSSP_NONE for no server.
  En_HP_OnSendSyncPolicy GetOnSendSyncPolicy(HP_HttpServer server);
  DWORD GetFreeSocketObjLockTime(HP_HttpServer server);
  DWORD GetFreeSocketObjPool(HP_HttpServer server);
  DWORD GetFreeBufferObjPool(HP_HttpServer server);
  DWORD GetFreeSocketObjHold(HP_HttpServer server);
  DWORD GetFreeBufferObjHold(HP_HttpServer server);
  DWORD GetMaxConnectionCount(HP_HttpServer server);
  DWORD GetWorkerThreadCount(HP_HttpServer server);
  bool IsMarkSilence(HP_HttpServer server);
  void SetReleaseDelay(HP_HttpServer server, DWORD delay);
  DWORD GetReleaseDelay(HP_HttpServer server);
  void SetLocalVersion(HP_HttpServer server, En_HP_HttpVersion version);
  /// HV_1_1 for no server.
  En_HP_HttpVersion GetLocalVersion(HP_HttpServer server);
  void SetHttpAutoStart(HP_HttpServer server, bool autoStart);
  bool IsHttpAutoStart(HP_HttpServer server);

  // ---- The current request of a connection (from its events, or from the thread that answers
  // it before the answer is sent) ----

  bool StartHttp(HP_HttpServer server, HP_CONNID connID);
  USHORT GetUrlFieldSet(HP_HttpServer server, HP_CONNID connID);
  /// A copy of the URL field (HUF_PATH: the path without query and fragment, not decoded).
  std::string GetUrlField(HP_HttpServer server, HP_CONNID connID, En_HP_HttpUrlField field);
  /// The method in upper case ("GET"); empty for an unknown connection.
  std::string GetMethod(HP_HttpServer server, HP_CONNID connID);
  bool IsUpgrade(HP_HttpServer server, HP_CONNID connID);
  /// HUT_NONE for no server.
  En_HP_HttpUpgradeType GetUpgradeType(HP_HttpServer server, HP_CONNID connID);
  bool IsKeepAlive(HP_HttpServer server, HP_CONNID connID);
  USHORT GetVersion(HP_HttpServer server, HP_CONNID connID);
  std::string GetHost(HP_HttpServer server, HP_CONNID connID);
  ULONGLONG GetContentLength(HP_HttpServer server, HP_CONNID connID);
  std::string GetContentType(HP_HttpServer server, HP_CONNID connID);
  std::string GetContentEncoding(HP_HttpServer server, HP_CONNID connID);
  std::string GetTransferEncoding(HP_HttpServer server, HP_CONNID connID);
  /// The parser's error code; `description` receives a copy of its description.
  USHORT GetParseErrorCode(HP_HttpServer server, HP_CONNID connID, std::string& description);
  /// A copy of the header's value; empty when the request does not carry it.
  std::string GetHeader(HP_HttpServer server, HP_CONNID connID, std::string_view name);
  /// A copy of the cookie's value; empty when the request does not carry it.
  std::string GetCookie(HP_HttpServer server, HP_CONNID connID, std::string_view name);
  /// Replaces `values` by copies of every value of the header `name`, in two calls (count, then
  /// fill). False, with `values` empty, when the header has no value.
  bool GetHeaders(HP_HttpServer server, HP_CONNID connID, std::string_view name,
                  std::vector<std::string>& values);
  /// Replaces `names` by the name of every header line, in two calls; false without headers.
  bool GetAllHeaderNames(HP_HttpServer server, HP_CONNID connID, std::vector<std::string>& names);
  /// Replaces `headers` by every header line, in two calls; false without headers.
  bool GetAllHeaders(HP_HttpServer server, HP_CONNID connID, std::vector<HeaderRecord>& headers);
  /// Replaces `cookies` by every cookie of the request, in two calls; false without cookies.
  bool GetAllCookies(HP_HttpServer server, HP_CONNID connID, std::vector<HeaderRecord>& cookies);

  // ---- Responses (safe from any thread; bodies in http/responses.cc) ----

  /// Answers the connection's current request. An omitted description becomes
  /// StatusPhrase(statusCode); an empty one is handed over as null (the engine then supplies its
  /// own phrase). Headers go out in list order; an empty list or body is handed over as null and
  /// 0. A body over INT_MAX bytes is refused (false, nothing sent).
  /// SendResponse(s, id, 200, std::nullopt, {{"Accept", "text/plain, text/html"}}, "hello").
  bool SendResponse(HP_HttpServer server, HP_CONNID connID, USHORT statusCode,
                    std::optional<std::string_view> description = std::nullopt,
                    std::span<const HeaderRecord> headers = {}, std::string_view body = {});
  /// The engine reads the file (1 byte up to kFileChunkSize - 1) and sends it as the body;
  /// description and headers as for SendResponse.
  bool SendLocalFile(HP_HttpServer server, HP_CONNID connID, std::string_view fileName,
                     USHORT statusCode, std::optional<std::string_view> description = std::nullopt,
                     std::span<const HeaderRecord> headers = {});
  /// Answers with the regular file `fileName` (UTF-8 path) and a "Content-Length" header added to
  /// `headers`. A file that cannot be opened gets 404 "Not Found" with `headers` and no body, and
  /// false. Files below kFileChunkSize go through SendLocalFile unless `streaming` is kAlways;
  /// others are streamed in chunks of kFileChunkSize, waiting while more than that is pending, so
  /// memory stays bounded. True only when the whole file was queued and has left the engine's
  /// queue; a stream cut short (read error, file shrunk, connection lost) gives false, and the
  /// connection is released so the client sees the body end early. Blocks for the transfer.
  bool SendFile(HP_HttpServer server, HP_CONNID connID, std::string_view fileName,
                USHORT statusCode, std::optional<std::string_view> description = std::nullopt,
                std::span<const HeaderRecord> headers = {},
                FileStreaming streaming = FileStreaming::kWhenLarge);
  /// Closes the connection once its queued data has gone out (forced after the release delay).
  bool Release(HP_HttpServer server, HP_CONNID connID);

 private:
  HP_HttpServerListener listener_ = nullptr;  // written on the window thread only
};

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_SERVER_COMPONENT_H
