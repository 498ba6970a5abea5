// The recording fake of the engine's C interface; see fake_hpsocket.h.
#include "tests/http/fake_hpsocket.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

namespace fake_hpsocket {
namespace {

constexpr std::size_t kMaxQuotedBytes = 64;

struct State {
  std::mutex mutex;
  std::vector<Call> calls;
  std::map<std::uintptr_t, std::any> hooks;
  std::set<TSocketTask*> tasks;  // task objects made by the default Create_HP_SocketTaskObj
};

State& state() {
  static State* instance = new State;  // never destroyed: engine calls may come late
  return *instance;
}

void Record(std::string function, std::vector<std::string> args) {
  std::lock_guard lock(state().mutex);
  state().calls.push_back({std::move(function), std::move(args)});
}

std::string Ptr(const void* pointer) {
  return pointer == nullptr ? "null" : "ptr";
}

template <typename T>
std::string Num(T value) {
  if constexpr (std::is_enum_v<T>) {
    return std::to_string(static_cast<long long>(value));
  } else if constexpr (std::is_unsigned_v<T>) {
    return std::to_string(static_cast<unsigned long long>(value));
  } else {
    return std::to_string(static_cast<long long>(value));
  }
}

template <typename T>
std::string Deref(const T* pointer) {
  return pointer == nullptr ? "null" : "*" + Num(*pointer);
}

std::string Bytes(const void* data, long long length) {
  if (data == nullptr) return "null";
  if (length < 0 || static_cast<std::size_t>(length) > kMaxQuotedBytes) return "bytes";
  return "\"" + std::string(static_cast<const char*>(data), static_cast<std::size_t>(length)) +
         "\"";
}

std::string Headers(const HP_THeader* headers, int count) {
  if (headers == nullptr) return "null";
  std::string text = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ", ";
    text += Text(headers[i].name) + ": " + Text(headers[i].value);
  }
  return text + "]";
}

std::string Packets(const WSABUF* buffers, int count) {
  if (buffers == nullptr) return "null";
  std::string text = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ", ";
    text += Bytes(buffers[i].buf, buffers[i].len) + "/" + Num(buffers[i].len);
  }
  return text + "]";
}

}  // namespace

void PrintTo(const Call& call, std::ostream* os) {
  *os << call.function << "(";
  for (std::size_t i = 0; i < call.args.size(); ++i) *os << (i > 0 ? ", " : "") << call.args[i];
  *os << ")";
}

void Reset() {
  std::lock_guard lock(state().mutex);
  state().calls.clear();
  state().hooks.clear();
  for (TSocketTask* task : state().tasks) delete task;
  state().tasks.clear();
}

std::vector<Call> Calls() {
  std::lock_guard lock(state().mutex);
  return state().calls;
}

std::vector<Call> CallsTo(std::string_view function) {
  std::lock_guard lock(state().mutex);
  std::vector<Call> calls;
  for (const Call& call : state().calls) {
    if (call.function == function) calls.push_back(call);
  }
  return calls;
}

std::vector<std::string> Functions() {
  std::lock_guard lock(state().mutex);
  std::vector<std::string> names;
  for (const Call& call : state().calls) names.push_back(call.function);
  return names;
}

std::string Handle(const void* pointer) {
  if (pointer == nullptr) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%#jx",
                static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(pointer)));
  return text;
}

std::string Text(const char* text) {
  return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

namespace detail {

void SetHook(std::uintptr_t function, std::any hook) {
  std::lock_guard lock(state().mutex);
  state().hooks[function] = std::move(hook);
}

std::any GetHook(std::uintptr_t function) {
  std::lock_guard lock(state().mutex);
  const auto found = state().hooks.find(function);
  return found != state().hooks.end() ? found->second : std::any();
}

}  // namespace detail
}  // namespace fake_hpsocket

using namespace fake_hpsocket;  // NOLINT: the fake functions below read as a list

extern "C" {

HP_HttpServerListener Create_HP_HttpServerListener(void) {
  Record("Create_HP_HttpServerListener", {});
  return Run(Create_HP_HttpServerListener, kListener);
}

void Destroy_HP_HttpServerListener(HP_HttpServerListener pListener) {
  Record("Destroy_HP_HttpServerListener", {Handle(pListener)});
  RunVoid(Destroy_HP_HttpServerListener, pListener);
}

HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener pListener) {
  Record("Create_HP_HttpServer", {Handle(pListener)});
  return Run(Create_HP_HttpServer, kServer, pListener);
}

void Destroy_HP_HttpServer(HP_HttpServer pServer) {
  Record("Destroy_HP_HttpServer", {Handle(pServer)});
  RunVoid(Destroy_HP_HttpServer, pServer);
}

void HP_Set_FN_HttpServer_OnPrepareListen(HP_HttpServerListener pListener,
                                          HP_FN_HttpServer_OnPrepareListen fn) {
  Record("HP_Set_FN_HttpServer_OnPrepareListen",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnPrepareListen, pListener, fn);
}

void HP_Set_FN_HttpServer_OnAccept(HP_HttpServerListener pListener, HP_FN_HttpServer_OnAccept fn) {
  Record("HP_Set_FN_HttpServer_OnAccept",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnAccept, pListener, fn);
}

void HP_Set_FN_HttpServer_OnHandShake(HP_HttpServerListener pListener,
                                      HP_FN_HttpServer_OnHandShake fn) {
  Record("HP_Set_FN_HttpServer_OnHandShake",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnHandShake, pListener, fn);
}

void HP_Set_FN_HttpServer_OnSend(HP_HttpServerListener pListener, HP_FN_HttpServer_OnSend fn) {
  Record("HP_Set_FN_HttpServer_OnSend",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnSend, pListener, fn);
}

void HP_Set_FN_HttpServer_OnReceive(HP_HttpServerListener pListener,
                                    HP_FN_HttpServer_OnReceive fn) {
  Record("HP_Set_FN_HttpServer_OnReceive",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnReceive, pListener, fn);
}

void HP_Set_FN_HttpServer_OnClose(HP_HttpServerListener pListener, HP_FN_HttpServer_OnClose fn) {
  Record("HP_Set_FN_HttpServer_OnClose",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnClose, pListener, fn);
}

void HP_Set_FN_HttpServer_OnShutdown(HP_HttpServerListener pListener,
                                     HP_FN_HttpServer_OnShutdown fn) {
  Record("HP_Set_FN_HttpServer_OnShutdown",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnShutdown, pListener, fn);
}

void HP_Set_FN_HttpServer_OnMessageBegin(HP_HttpServerListener pListener,
                                         HP_FN_HttpServer_OnMessageBegin fn) {
  Record("HP_Set_FN_HttpServer_OnMessageBegin",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnMessageBegin, pListener, fn);
}

void HP_Set_FN_HttpServer_OnRequestLine(HP_HttpServerListener pListener,
                                        HP_FN_HttpServer_OnRequestLine fn) {
  Record("HP_Set_FN_HttpServer_OnRequestLine",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnRequestLine, pListener, fn);
}

void HP_Set_FN_HttpServer_OnHeader(HP_HttpServerListener pListener, HP_FN_HttpServer_OnHeader fn) {
  Record("HP_Set_FN_HttpServer_OnHeader",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnHeader, pListener, fn);
}

void HP_Set_FN_HttpServer_OnHeadersComplete(HP_HttpServerListener pListener,
                                            HP_FN_HttpServer_OnHeadersComplete fn) {
  Record("HP_Set_FN_HttpServer_OnHeadersComplete",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnHeadersComplete, pListener, fn);
}

void HP_Set_FN_HttpServer_OnBody(HP_HttpServerListener pListener, HP_FN_HttpServer_OnBody fn) {
  Record("HP_Set_FN_HttpServer_OnBody",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnBody, pListener, fn);
}

void HP_Set_FN_HttpServer_OnChunkHeader(HP_HttpServerListener pListener,
                                        HP_FN_HttpServer_OnChunkHeader fn) {
  Record("HP_Set_FN_HttpServer_OnChunkHeader",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnChunkHeader, pListener, fn);
}

void HP_Set_FN_HttpServer_OnChunkComplete(HP_HttpServerListener pListener,
                                          HP_FN_HttpServer_OnChunkComplete fn) {
  Record("HP_Set_FN_HttpServer_OnChunkComplete",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnChunkComplete, pListener, fn);
}

void HP_Set_FN_HttpServer_OnMessageComplete(HP_HttpServerListener pListener,
                                            HP_FN_HttpServer_OnMessageComplete fn) {
  Record("HP_Set_FN_HttpServer_OnMessageComplete",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnMessageComplete, pListener, fn);
}

void HP_Set_FN_HttpServer_OnUpgrade(HP_HttpServerListener pListener,
                                    HP_FN_HttpServer_OnUpgrade fn) {
  Record("HP_Set_FN_HttpServer_OnUpgrade",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnUpgrade, pListener, fn);
}

void HP_Set_FN_HttpServer_OnParseError(HP_HttpServerListener pListener,
                                       HP_FN_HttpServer_OnParseError fn) {
  Record("HP_Set_FN_HttpServer_OnParseError",
         {Handle(pListener), Handle(reinterpret_cast<const void*>(fn))});
  RunVoid(HP_Set_FN_HttpServer_OnParseError, pListener, fn);
}

BOOL HP_Server_Start(HP_Server pServer, LPCTSTR lpszBindAddress, USHORT usPort) {
  Record("HP_Server_Start", {Handle(pServer), Text(lpszBindAddress), Num(usPort)});
  return Run(HP_Server_Start, TRUE, pServer, lpszBindAddress, usPort);
}

BOOL HP_Server_Stop(HP_Server pServer) {
  Record("HP_Server_Stop", {Handle(pServer)});
  return Run(HP_Server_Stop, TRUE, pServer);
}

BOOL HP_Server_HasStarted(HP_Server pServer) {
  Record("HP_Server_HasStarted", {Handle(pServer)});
  return Run(HP_Server_HasStarted, TRUE, pServer);
}

En_HP_ServiceState HP_Server_GetState(HP_Server pServer) {
  Record("HP_Server_GetState", {Handle(pServer)});
  return Run(HP_Server_GetState, En_HP_ServiceState{}, pServer);
}

En_HP_SocketError HP_Server_GetLastError(HP_Server pServer) {
  Record("HP_Server_GetLastError", {Handle(pServer)});
  return Run(HP_Server_GetLastError, En_HP_SocketError{}, pServer);
}

LPCTSTR HP_Server_GetLastErrorDesc(HP_Server pServer) {
  Record("HP_Server_GetLastErrorDesc", {Handle(pServer)});
  return Run(HP_Server_GetLastErrorDesc, nullptr, pServer);
}

BOOL HP_Server_IsSecure(HP_Server pServer) {
  Record("HP_Server_IsSecure", {Handle(pServer)});
  return Run(HP_Server_IsSecure, TRUE, pServer);
}

BOOL HP_Server_Send(HP_Server pServer, HP_CONNID dwConnID, const BYTE* pBuffer, int iLength) {
  Record("HP_Server_Send", {Handle(pServer), Num(dwConnID), Bytes(pBuffer, iLength), Num(iLength)});
  return Run(HP_Server_Send, TRUE, pServer, dwConnID, pBuffer, iLength);
}

BOOL HP_Server_SendPart(HP_Server pServer, HP_CONNID dwConnID, const BYTE* pBuffer, int iLength,
                        int iOffset) {
  Record("HP_Server_SendPart",
         {Handle(pServer), Num(dwConnID), Bytes(pBuffer, iLength), Num(iLength), Num(iOffset)});
  return Run(HP_Server_SendPart, TRUE, pServer, dwConnID, pBuffer, iLength, iOffset);
}

BOOL HP_Server_SendPackets(HP_Server pServer, HP_CONNID dwConnID, const WSABUF pBuffers[],
                           int iCount) {
  Record("HP_Server_SendPackets",
         {Handle(pServer), Num(dwConnID), Packets(pBuffers, iCount), Num(iCount)});
  return Run(HP_Server_SendPackets, TRUE, pServer, dwConnID, pBuffers, iCount);
}

BOOL HP_Server_Disconnect(HP_Server pServer, HP_CONNID dwConnID, BOOL bForce) {
  Record("HP_Server_Disconnect", {Handle(pServer), Num(dwConnID), Num(bForce)});
  return Run(HP_Server_Disconnect, TRUE, pServer, dwConnID, bForce);
}

BOOL HP_Server_DisconnectLongConnections(HP_Server pServer, DWORD dwPeriod, BOOL bForce) {
  Record("HP_Server_DisconnectLongConnections", {Handle(pServer), Num(dwPeriod), Num(bForce)});
  return Run(HP_Server_DisconnectLongConnections, TRUE, pServer, dwPeriod, bForce);
}

BOOL HP_Server_DisconnectSilenceConnections(HP_Server pServer, DWORD dwPeriod, BOOL bForce) {
  Record("HP_Server_DisconnectSilenceConnections", {Handle(pServer), Num(dwPeriod), Num(bForce)});
  return Run(HP_Server_DisconnectSilenceConnections, TRUE, pServer, dwPeriod, bForce);
}

BOOL HP_Server_PauseReceive(HP_Server pServer, HP_CONNID dwConnID, BOOL bPause) {
  Record("HP_Server_PauseReceive", {Handle(pServer), Num(dwConnID), Num(bPause)});
  return Run(HP_Server_PauseReceive, TRUE, pServer, dwConnID, bPause);
}

BOOL HP_Server_IsPauseReceive(HP_Server pServer, HP_CONNID dwConnID, BOOL* pbPaused) {
  Record("HP_Server_IsPauseReceive", {Handle(pServer), Num(dwConnID), Ptr(pbPaused)});
  return Run(HP_Server_IsPauseReceive, TRUE, pServer, dwConnID, pbPaused);
}

BOOL HP_Server_SetConnectionExtra(HP_Server pServer, HP_CONNID dwConnID, PVOID pExtra) {
  Record("HP_Server_SetConnectionExtra", {Handle(pServer), Num(dwConnID), Handle(pExtra)});
  return Run(HP_Server_SetConnectionExtra, TRUE, pServer, dwConnID, pExtra);
}

BOOL HP_Server_GetConnectionExtra(HP_Server pServer, HP_CONNID dwConnID, PVOID* ppExtra) {
  Record("HP_Server_GetConnectionExtra", {Handle(pServer), Num(dwConnID), Ptr(ppExtra)});
  return Run(HP_Server_GetConnectionExtra, TRUE, pServer, dwConnID, ppExtra);
}

BOOL HP_Server_GetListenAddress(HP_Server pServer, TCHAR lpszAddress[], int* piAddressLen,
                                USHORT* pusPort) {
  Record("HP_Server_GetListenAddress",
         {Handle(pServer), Ptr(lpszAddress), Deref(piAddressLen), Ptr(pusPort)});
  return Run(HP_Server_GetListenAddress, TRUE, pServer, lpszAddress, piAddressLen, pusPort);
}

BOOL HP_Server_GetLocalAddress(HP_Server pServer, HP_CONNID dwConnID, TCHAR lpszAddress[],
                               int* piAddressLen, USHORT* pusPort) {
  Record("HP_Server_GetLocalAddress",
         {Handle(pServer), Num(dwConnID), Ptr(lpszAddress), Deref(piAddressLen), Ptr(pusPort)});
  return Run(HP_Server_GetLocalAddress, TRUE, pServer, dwConnID, lpszAddress, piAddressLen,
             pusPort);
}

BOOL HP_Server_GetRemoteAddress(HP_Server pServer, HP_CONNID dwConnID, TCHAR lpszAddress[],
                                int* piAddressLen, USHORT* pusPort) {
  Record("HP_Server_GetRemoteAddress",
         {Handle(pServer), Num(dwConnID), Ptr(lpszAddress), Deref(piAddressLen), Ptr(pusPort)});
  return Run(HP_Server_GetRemoteAddress, TRUE, pServer, dwConnID, lpszAddress, piAddressLen,
             pusPort);
}

BOOL HP_Server_GetPendingDataLength(HP_Server pServer, HP_CONNID dwConnID, int* piPending) {
  Record("HP_Server_GetPendingDataLength", {Handle(pServer), Num(dwConnID), Ptr(piPending)});
  return Run(HP_Server_GetPendingDataLength, TRUE, pServer, dwConnID, piPending);
}

BOOL HP_Server_IsConnected(HP_Server pServer, HP_CONNID dwConnID) {
  Record("HP_Server_IsConnected", {Handle(pServer), Num(dwConnID)});
  return Run(HP_Server_IsConnected, TRUE, pServer, dwConnID);
}

DWORD HP_Server_GetConnectionCount(HP_Server pServer) {
  Record("HP_Server_GetConnectionCount", {Handle(pServer)});
  return Run(HP_Server_GetConnectionCount, DWORD{}, pServer);
}

BOOL HP_Server_GetAllConnectionIDs(HP_Server pServer, HP_CONNID pIDs[], DWORD* pdwCount) {
  Record("HP_Server_GetAllConnectionIDs", {Handle(pServer), Ptr(pIDs), Deref(pdwCount)});
  return Run(HP_Server_GetAllConnectionIDs, TRUE, pServer, pIDs, pdwCount);
}

BOOL HP_Server_GetConnectPeriod(HP_Server pServer, HP_CONNID dwConnID, DWORD* pdwPeriod) {
  Record("HP_Server_GetConnectPeriod", {Handle(pServer), Num(dwConnID), Ptr(pdwPeriod)});
  return Run(HP_Server_GetConnectPeriod, TRUE, pServer, dwConnID, pdwPeriod);
}

BOOL HP_Server_GetSilencePeriod(HP_Server pServer, HP_CONNID dwConnID, DWORD* pdwPeriod) {
  Record("HP_Server_GetSilencePeriod", {Handle(pServer), Num(dwConnID), Ptr(pdwPeriod)});
  return Run(HP_Server_GetSilencePeriod, TRUE, pServer, dwConnID, pdwPeriod);
}

void HP_Server_SetSendPolicy(HP_Server pServer, En_HP_SendPolicy enSendPolicy) {
  Record("HP_Server_SetSendPolicy", {Handle(pServer), Num(enSendPolicy)});
  RunVoid(HP_Server_SetSendPolicy, pServer, enSendPolicy);
}

void HP_Server_SetOnSendSyncPolicy(HP_Server pServer, En_HP_OnSendSyncPolicy enSyncPolicy) {
  Record("HP_Server_SetOnSendSyncPolicy", {Handle(pServer), Num(enSyncPolicy)});
  RunVoid(HP_Server_SetOnSendSyncPolicy, pServer, enSyncPolicy);
}

void HP_Server_SetFreeSocketObjLockTime(HP_Server pServer, DWORD dwFreeSocketObjLockTime) {
  Record("HP_Server_SetFreeSocketObjLockTime", {Handle(pServer), Num(dwFreeSocketObjLockTime)});
  RunVoid(HP_Server_SetFreeSocketObjLockTime, pServer, dwFreeSocketObjLockTime);
}

void HP_Server_SetFreeSocketObjPool(HP_Server pServer, DWORD dwFreeSocketObjPool) {
  Record("HP_Server_SetFreeSocketObjPool", {Handle(pServer), Num(dwFreeSocketObjPool)});
  RunVoid(HP_Server_SetFreeSocketObjPool, pServer, dwFreeSocketObjPool);
}

void HP_Server_SetFreeBufferObjPool(HP_Server pServer, DWORD dwFreeBufferObjPool) {
  Record("HP_Server_SetFreeBufferObjPool", {Handle(pServer), Num(dwFreeBufferObjPool)});
  RunVoid(HP_Server_SetFreeBufferObjPool, pServer, dwFreeBufferObjPool);
}

void HP_Server_SetFreeSocketObjHold(HP_Server pServer, DWORD dwFreeSocketObjHold) {
  Record("HP_Server_SetFreeSocketObjHold", {Handle(pServer), Num(dwFreeSocketObjHold)});
  RunVoid(HP_Server_SetFreeSocketObjHold, pServer, dwFreeSocketObjHold);
}

void HP_Server_SetFreeBufferObjHold(HP_Server pServer, DWORD dwFreeBufferObjHold) {
  Record("HP_Server_SetFreeBufferObjHold", {Handle(pServer), Num(dwFreeBufferObjHold)});
  RunVoid(HP_Server_SetFreeBufferObjHold, pServer, dwFreeBufferObjHold);
}

void HP_Server_SetMaxConnectionCount(HP_Server pServer, DWORD dwMaxConnectionCount) {
  Record("HP_Server_SetMaxConnectionCount", {Handle(pServer), Num(dwMaxConnectionCount)});
  RunVoid(HP_Server_SetMaxConnectionCount, pServer, dwMaxConnectionCount);
}

void HP_Server_SetWorkerThreadCount(HP_Server pServer, DWORD dwWorkerThreadCount) {
  Record("HP_Server_SetWorkerThreadCount", {Handle(pServer), Num(dwWorkerThreadCount)});
  RunVoid(HP_Server_SetWorkerThreadCount, pServer, dwWorkerThreadCount);
}

void HP_Server_SetMarkSilence(HP_Server pServer, BOOL bMarkSilence) {
  Record("HP_Server_SetMarkSilence", {Handle(pServer), Num(bMarkSilence)});
  RunVoid(HP_Server_SetMarkSilence, pServer, bMarkSilence);
}

En_HP_SendPolicy HP_Server_GetSendPolicy(HP_Server pServer) {
  Record("HP_Server_GetSendPolicy", {Handle(pServer)});
  return Run(HP_Server_GetSendPolicy, En_HP_SendPolicy{}, pServer);
}

En_HP_OnSendSyncPolicy HP_Server_GetOnSendSyncPolicy(HP_Server pServer) {
  Record("HP_Server_GetOnSendSyncPolicy", {Handle(pServer)});
  return Run(HP_Server_GetOnSendSyncPolicy, En_HP_OnSendSyncPolicy{}, pServer);
}

DWORD HP_Server_GetFreeSocketObjLockTime(HP_Server pServer) {
  Record("HP_Server_GetFreeSocketObjLockTime", {Handle(pServer)});
  return Run(HP_Server_GetFreeSocketObjLockTime, DWORD{}, pServer);
}

DWORD HP_Server_GetFreeSocketObjPool(HP_Server pServer) {
  Record("HP_Server_GetFreeSocketObjPool", {Handle(pServer)});
  return Run(HP_Server_GetFreeSocketObjPool, DWORD{}, pServer);
}

DWORD HP_Server_GetFreeBufferObjPool(HP_Server pServer) {
  Record("HP_Server_GetFreeBufferObjPool", {Handle(pServer)});
  return Run(HP_Server_GetFreeBufferObjPool, DWORD{}, pServer);
}

DWORD HP_Server_GetFreeSocketObjHold(HP_Server pServer) {
  Record("HP_Server_GetFreeSocketObjHold", {Handle(pServer)});
  return Run(HP_Server_GetFreeSocketObjHold, DWORD{}, pServer);
}

DWORD HP_Server_GetFreeBufferObjHold(HP_Server pServer) {
  Record("HP_Server_GetFreeBufferObjHold", {Handle(pServer)});
  return Run(HP_Server_GetFreeBufferObjHold, DWORD{}, pServer);
}

DWORD HP_Server_GetMaxConnectionCount(HP_Server pServer) {
  Record("HP_Server_GetMaxConnectionCount", {Handle(pServer)});
  return Run(HP_Server_GetMaxConnectionCount, DWORD{}, pServer);
}

DWORD HP_Server_GetWorkerThreadCount(HP_Server pServer) {
  Record("HP_Server_GetWorkerThreadCount", {Handle(pServer)});
  return Run(HP_Server_GetWorkerThreadCount, DWORD{}, pServer);
}

BOOL HP_Server_IsMarkSilence(HP_Server pServer) {
  Record("HP_Server_IsMarkSilence", {Handle(pServer)});
  return Run(HP_Server_IsMarkSilence, TRUE, pServer);
}

void HP_TcpServer_SetSocketBufferSize(HP_Server pServer, DWORD dwSocketBufferSize) {
  Record("HP_TcpServer_SetSocketBufferSize", {Handle(pServer), Num(dwSocketBufferSize)});
  RunVoid(HP_TcpServer_SetSocketBufferSize, pServer, dwSocketBufferSize);
}

void HP_TcpServer_SetKeepAliveTime(HP_Server pServer, DWORD dwKeepAliveTime) {
  Record("HP_TcpServer_SetKeepAliveTime", {Handle(pServer), Num(dwKeepAliveTime)});
  RunVoid(HP_TcpServer_SetKeepAliveTime, pServer, dwKeepAliveTime);
}

void HP_TcpServer_SetKeepAliveInterval(HP_Server pServer, DWORD dwKeepAliveInterval) {
  Record("HP_TcpServer_SetKeepAliveInterval", {Handle(pServer), Num(dwKeepAliveInterval)});
  RunVoid(HP_TcpServer_SetKeepAliveInterval, pServer, dwKeepAliveInterval);
}

void HP_TcpServer_SetSocketListenQueue(HP_Server pServer, DWORD dwSocketListenQueue) {
  Record("HP_TcpServer_SetSocketListenQueue", {Handle(pServer), Num(dwSocketListenQueue)});
  RunVoid(HP_TcpServer_SetSocketListenQueue, pServer, dwSocketListenQueue);
}

void HP_TcpServer_SetAcceptSocketCount(HP_Server pServer, DWORD dwAcceptSocketCount) {
  Record("HP_TcpServer_SetAcceptSocketCount", {Handle(pServer), Num(dwAcceptSocketCount)});
  RunVoid(HP_TcpServer_SetAcceptSocketCount, pServer, dwAcceptSocketCount);
}

DWORD HP_TcpServer_GetSocketBufferSize(HP_Server pServer) {
  Record("HP_TcpServer_GetSocketBufferSize", {Handle(pServer)});
  return Run(HP_TcpServer_GetSocketBufferSize, DWORD{}, pServer);
}

DWORD HP_TcpServer_GetKeepAliveTime(HP_Server pServer) {
  Record("HP_TcpServer_GetKeepAliveTime", {Handle(pServer)});
  return Run(HP_TcpServer_GetKeepAliveTime, DWORD{}, pServer);
}

DWORD HP_TcpServer_GetKeepAliveInterval(HP_Server pServer) {
  Record("HP_TcpServer_GetKeepAliveInterval", {Handle(pServer)});
  return Run(HP_TcpServer_GetKeepAliveInterval, DWORD{}, pServer);
}

DWORD HP_TcpServer_GetSocketListenQueue(HP_Server pServer) {
  Record("HP_TcpServer_GetSocketListenQueue", {Handle(pServer)});
  return Run(HP_TcpServer_GetSocketListenQueue, DWORD{}, pServer);
}

DWORD HP_TcpServer_GetAcceptSocketCount(HP_Server pServer) {
  Record("HP_TcpServer_GetAcceptSocketCount", {Handle(pServer)});
  return Run(HP_TcpServer_GetAcceptSocketCount, DWORD{}, pServer);
}

BOOL HP_HttpServer_SendResponse(HP_HttpServer pServer, HP_CONNID dwConnID, USHORT usStatusCode,
                                LPCSTR lpszDesc, const HP_THeader lpHeaders[], int iHeaderCount,
                                const BYTE* pData, int iLength) {
  Record("HP_HttpServer_SendResponse", {Handle(pServer), Num(dwConnID), Num(usStatusCode),
                                        Text(lpszDesc), Headers(lpHeaders, iHeaderCount),
                                        Num(iHeaderCount), Bytes(pData, iLength), Num(iLength)});
  return Run(HP_HttpServer_SendResponse, TRUE, pServer, dwConnID, usStatusCode, lpszDesc, lpHeaders,
             iHeaderCount, pData, iLength);
}

BOOL HP_HttpServer_SendLocalFile(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszFileName,
                                 USHORT usStatusCode, LPCSTR lpszDesc, const HP_THeader lpHeaders[],
                                 int iHeaderCount) {
  Record("HP_HttpServer_SendLocalFile",
         {Handle(pServer), Num(dwConnID), Text(lpszFileName), Num(usStatusCode), Text(lpszDesc),
          Headers(lpHeaders, iHeaderCount), Num(iHeaderCount)});
  return Run(HP_HttpServer_SendLocalFile, TRUE, pServer, dwConnID, lpszFileName, usStatusCode,
             lpszDesc, lpHeaders, iHeaderCount);
}

BOOL HP_HttpServer_Release(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_Release", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_Release, TRUE, pServer, dwConnID);
}

BOOL HP_HttpServer_StartHttp(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_StartHttp", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_StartHttp, TRUE, pServer, dwConnID);
}

void HP_HttpServer_SetReleaseDelay(HP_HttpServer pServer, DWORD dwReleaseDelay) {
  Record("HP_HttpServer_SetReleaseDelay", {Handle(pServer), Num(dwReleaseDelay)});
  RunVoid(HP_HttpServer_SetReleaseDelay, pServer, dwReleaseDelay);
}

DWORD HP_HttpServer_GetReleaseDelay(HP_HttpServer pServer) {
  Record("HP_HttpServer_GetReleaseDelay", {Handle(pServer)});
  return Run(HP_HttpServer_GetReleaseDelay, DWORD{}, pServer);
}

void HP_HttpServer_SetHttpAutoStart(HP_HttpServer pServer, BOOL bAutoStart) {
  Record("HP_HttpServer_SetHttpAutoStart", {Handle(pServer), Num(bAutoStart)});
  RunVoid(HP_HttpServer_SetHttpAutoStart, pServer, bAutoStart);
}

BOOL HP_HttpServer_IsHttpAutoStart(HP_HttpServer pServer) {
  Record("HP_HttpServer_IsHttpAutoStart", {Handle(pServer)});
  return Run(HP_HttpServer_IsHttpAutoStart, TRUE, pServer);
}

void HP_HttpServer_SetLocalVersion(HP_HttpServer pServer, En_HP_HttpVersion usVersion) {
  Record("HP_HttpServer_SetLocalVersion", {Handle(pServer), Num(usVersion)});
  RunVoid(HP_HttpServer_SetLocalVersion, pServer, usVersion);
}

En_HP_HttpVersion HP_HttpServer_GetLocalVersion(HP_HttpServer pServer) {
  Record("HP_HttpServer_GetLocalVersion", {Handle(pServer)});
  return Run(HP_HttpServer_GetLocalVersion, En_HP_HttpVersion{}, pServer);
}

USHORT HP_HttpServer_GetUrlFieldSet(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetUrlFieldSet", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetUrlFieldSet, USHORT{}, pServer, dwConnID);
}

LPCSTR HP_HttpServer_GetUrlField(HP_HttpServer pServer, HP_CONNID dwConnID,
                                 En_HP_HttpUrlField enField) {
  Record("HP_HttpServer_GetUrlField", {Handle(pServer), Num(dwConnID), Num(enField)});
  return Run(HP_HttpServer_GetUrlField, nullptr, pServer, dwConnID, enField);
}

LPCSTR HP_HttpServer_GetMethod(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetMethod", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetMethod, nullptr, pServer, dwConnID);
}

BOOL HP_HttpServer_IsUpgrade(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_IsUpgrade", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_IsUpgrade, TRUE, pServer, dwConnID);
}

En_HP_HttpUpgradeType HP_HttpServer_GetUpgradeType(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetUpgradeType", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetUpgradeType, En_HP_HttpUpgradeType{}, pServer, dwConnID);
}

BOOL HP_HttpServer_IsKeepAlive(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_IsKeepAlive", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_IsKeepAlive, TRUE, pServer, dwConnID);
}

USHORT HP_HttpServer_GetVersion(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetVersion", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetVersion, USHORT{}, pServer, dwConnID);
}

LPCSTR HP_HttpServer_GetHost(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetHost", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetHost, nullptr, pServer, dwConnID);
}

ULONGLONG HP_HttpServer_GetContentLength(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetContentLength", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetContentLength, ULONGLONG{}, pServer, dwConnID);
}

LPCSTR HP_HttpServer_GetContentType(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetContentType", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetContentType, nullptr, pServer, dwConnID);
}

LPCSTR HP_HttpServer_GetContentEncoding(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetContentEncoding", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetContentEncoding, nullptr, pServer, dwConnID);
}

LPCSTR HP_HttpServer_GetTransferEncoding(HP_HttpServer pServer, HP_CONNID dwConnID) {
  Record("HP_HttpServer_GetTransferEncoding", {Handle(pServer), Num(dwConnID)});
  return Run(HP_HttpServer_GetTransferEncoding, nullptr, pServer, dwConnID);
}

USHORT HP_HttpServer_GetParseErrorCode(HP_HttpServer pServer, HP_CONNID dwConnID,
                                       LPCSTR* lpszErrorDesc) {
  Record("HP_HttpServer_GetParseErrorCode", {Handle(pServer), Num(dwConnID), Ptr(lpszErrorDesc)});
  return Run(HP_HttpServer_GetParseErrorCode, USHORT{}, pServer, dwConnID, lpszErrorDesc);
}

BOOL HP_HttpServer_GetHeader(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                             LPCSTR* lpszValue) {
  Record("HP_HttpServer_GetHeader",
         {Handle(pServer), Num(dwConnID), Text(lpszName), Ptr(lpszValue)});
  return Run(HP_HttpServer_GetHeader, TRUE, pServer, dwConnID, lpszName, lpszValue);
}

BOOL HP_HttpServer_GetHeaders(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                              LPCSTR lpszValue[], DWORD* pdwCount) {
  Record("HP_HttpServer_GetHeaders",
         {Handle(pServer), Num(dwConnID), Text(lpszName), Ptr(lpszValue), Deref(pdwCount)});
  return Run(HP_HttpServer_GetHeaders, TRUE, pServer, dwConnID, lpszName, lpszValue, pdwCount);
}

BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer pServer, HP_CONNID dwConnID, HP_THeader lpHeaders[],
                                 DWORD* pdwCount) {
  Record("HP_HttpServer_GetAllHeaders",
         {Handle(pServer), Num(dwConnID), Ptr(lpHeaders), Deref(pdwCount)});
  return Run(HP_HttpServer_GetAllHeaders, TRUE, pServer, dwConnID, lpHeaders, pdwCount);
}

BOOL HP_HttpServer_GetAllHeaderNames(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName[],
                                     DWORD* pdwCount) {
  Record("HP_HttpServer_GetAllHeaderNames",
         {Handle(pServer), Num(dwConnID), Ptr(lpszName), Deref(pdwCount)});
  return Run(HP_HttpServer_GetAllHeaderNames, TRUE, pServer, dwConnID, lpszName, pdwCount);
}

BOOL HP_HttpServer_GetCookie(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                             LPCSTR* lpszValue) {
  Record("HP_HttpServer_GetCookie",
         {Handle(pServer), Num(dwConnID), Text(lpszName), Ptr(lpszValue)});
  return Run(HP_HttpServer_GetCookie, TRUE, pServer, dwConnID, lpszName, lpszValue);
}

BOOL HP_HttpServer_GetAllCookies(HP_HttpServer pServer, HP_CONNID dwConnID, HP_TCookie lpCookies[],
                                 DWORD* pdwCount) {
  Record("HP_HttpServer_GetAllCookies",
         {Handle(pServer), Num(dwConnID), Ptr(lpCookies), Deref(pdwCount)});
  return Run(HP_HttpServer_GetAllCookies, TRUE, pServer, dwConnID, lpCookies, pdwCount);
}

HP_ThreadPool Create_HP_ThreadPool(void) {
  Record("Create_HP_ThreadPool", {});
  return Run(Create_HP_ThreadPool, kPool);
}

void Destroy_HP_ThreadPool(HP_ThreadPool pThreadPool) {
  Record("Destroy_HP_ThreadPool", {Handle(pThreadPool)});
  RunVoid(Destroy_HP_ThreadPool, pThreadPool);
}

HP_LPTSocketTask Create_HP_SocketTaskObj(HP_Fn_SocketTaskProc fnTaskProc, PVOID pSender,
                                         HP_CONNID dwConnID, LPCBYTE pBuffer, INT iBuffLen,
                                         En_HP_TaskBufferType enBuffType, WPARAM wParam,
                                         LPARAM lParam) {
  Record("Create_HP_SocketTaskObj",
         {Handle(reinterpret_cast<const void*>(fnTaskProc)), Handle(pSender), Num(dwConnID),
          Bytes(pBuffer, iBuffLen), Num(iBuffLen), Num(enBuffType), Num(wParam), Num(lParam)});
  if (detail::GetHook(detail::Key(Create_HP_SocketTaskObj)).has_value()) {
    return Run(Create_HP_SocketTaskObj, nullptr, fnTaskProc, pSender, dwConnID, pBuffer, iBuffLen,
               enBuffType, wParam, lParam);
  }
  auto* task =
      new TSocketTask{fnTaskProc, pSender, dwConnID, pBuffer, iBuffLen, enBuffType, wParam, lParam};
  std::lock_guard lock(state().mutex);
  state().tasks.insert(task);
  return task;
}

void Destroy_HP_SocketTaskObj(HP_LPTSocketTask pTask) {
  Record("Destroy_HP_SocketTaskObj", {Handle(pTask)});
  RunVoid(Destroy_HP_SocketTaskObj, pTask);
  std::lock_guard lock(state().mutex);
  if (state().tasks.erase(pTask) > 0) delete pTask;
}

BOOL HP_ThreadPool_Start(HP_ThreadPool pThreadPool, DWORD dwThreadCount, DWORD dwMaxQueueSize,
                         En_HP_RejectedPolicy enRejectedPolicy, DWORD dwStackSize) {
  Record("HP_ThreadPool_Start", {Handle(pThreadPool), Num(dwThreadCount), Num(dwMaxQueueSize),
                                 Num(enRejectedPolicy), Num(dwStackSize)});
  return Run(HP_ThreadPool_Start, TRUE, pThreadPool, dwThreadCount, dwMaxQueueSize,
             enRejectedPolicy, dwStackSize);
}

BOOL HP_ThreadPool_Stop(HP_ThreadPool pThreadPool, DWORD dwMaxWait) {
  Record("HP_ThreadPool_Stop", {Handle(pThreadPool), Num(dwMaxWait)});
  return Run(HP_ThreadPool_Stop, TRUE, pThreadPool, dwMaxWait);
}

BOOL HP_ThreadPool_Submit(HP_ThreadPool pThreadPool, HP_Fn_TaskProc fnTaskProc, PVOID pvArg,
                          DWORD dwMaxWait) {
  Record("HP_ThreadPool_Submit",
         {Handle(pThreadPool), Handle(reinterpret_cast<const void*>(fnTaskProc)), Handle(pvArg),
          Num(dwMaxWait)});
  return Run(HP_ThreadPool_Submit, TRUE, pThreadPool, fnTaskProc, pvArg, dwMaxWait);
}

BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pThreadPool, HP_LPTSocketTask pTask, DWORD dwMaxWait) {
  Record("HP_ThreadPool_Submit_Task", {Handle(pThreadPool), Handle(pTask), Num(dwMaxWait)});
  return Run(HP_ThreadPool_Submit_Task, TRUE, pThreadPool, pTask, dwMaxWait);
}

BOOL HP_ThreadPool_AdjustThreadCount(HP_ThreadPool pThreadPool, DWORD dwNewThreadCount) {
  Record("HP_ThreadPool_AdjustThreadCount", {Handle(pThreadPool), Num(dwNewThreadCount)});
  return Run(HP_ThreadPool_AdjustThreadCount, TRUE, pThreadPool, dwNewThreadCount);
}

BOOL HP_ThreadPool_HasStarted(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_HasStarted", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_HasStarted, TRUE, pThreadPool);
}

En_HP_ServiceState HP_ThreadPool_GetState(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_GetState", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_GetState, En_HP_ServiceState{}, pThreadPool);
}

DWORD HP_ThreadPool_GetQueueSize(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_GetQueueSize", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_GetQueueSize, DWORD{}, pThreadPool);
}

DWORD HP_ThreadPool_GetThreadCount(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_GetThreadCount", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_GetThreadCount, DWORD{}, pThreadPool);
}

DWORD HP_ThreadPool_GetMaxQueueSize(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_GetMaxQueueSize", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_GetMaxQueueSize, DWORD{}, pThreadPool);
}

En_HP_RejectedPolicy HP_ThreadPool_GetRejectedPolicy(HP_ThreadPool pThreadPool) {
  Record("HP_ThreadPool_GetRejectedPolicy", {Handle(pThreadPool)});
  return Run(HP_ThreadPool_GetRejectedPolicy, En_HP_RejectedPolicy{}, pThreadPool);
}

int SYS_GetLastError(void) {
  Record("SYS_GetLastError", {});
  return Run(SYS_GetLastError, int{});
}

}  // extern "C"
