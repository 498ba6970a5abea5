#include "http/server_component.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quillmere {
namespace {

constexpr const char* kAnyIPv4Address = "0.0.0.0";
// Address buffer size when the engine does not say how long the address is.
constexpr int kFallbackAddressLength = 50;

bool IsTrue(BOOL result) {
  return result != FALSE;
}

// A copy of a text the engine owns; null gives the empty text.
std::string CopyText(LPCSTR text) {
  return text != nullptr ? std::string(text) : std::string();
}

// A zero-terminated copy of a text for the engine, or none for the empty text (handed over as
// null).
class TextArgument {
 public:
  explicit TextArgument(std::string_view text) : text_(text) {}
  LPCSTR get() const { return text_.empty() ? nullptr : text_.c_str(); }

 private:
  std::string text_;
};

// The two-step address getters: `call(buffer, &length, &port)`.
template <typename Call>
bool GetAddressInTwoSteps(std::string& address, USHORT& port, Call call) {
  int length = 0;
  call(address.data(), &length, &port);
  if (length <= 0) length = kFallbackAddressLength;
  address.assign(static_cast<std::size_t>(length), '\0');
  const bool ok = IsTrue(call(address.data(), &length, &port));
  // The engine writes a zero-terminated address; the text ends there (empty when nothing was
  // written).
  address.resize(std::strlen(address.c_str()));
  return ok;
}

// The two-step list getters over name/value pairs: `call(array, &count)`.
template <typename Call>
bool GetPairsInTwoSteps(std::vector<HeaderRecord>& records, Call call) {
  records.clear();
  DWORD count = 0;
  call(nullptr, &count);
  if (count == 0) return false;
  std::vector<HP_TNVPair> pairs(count, HP_TNVPair{nullptr, nullptr});
  DWORD filled = count;
  const bool ok = IsTrue(call(pairs.data(), &filled));
  if (ok) pairs.resize(std::min(filled, count));
  records.reserve(pairs.size());
  for (const HP_TNVPair& pair : pairs)
    records.push_back({CopyText(pair.name), CopyText(pair.value)});
  return ok;
}

// The two-step list getters over texts: `call(array, &count)`.
template <typename Call>
bool GetTextsInTwoSteps(std::vector<std::string>& texts, Call call) {
  texts.clear();
  DWORD count = 0;
  call(nullptr, &count);
  if (count == 0) return false;
  std::vector<LPCSTR> pointers(count, nullptr);
  DWORD filled = count;
  const bool ok = IsTrue(call(pointers.data(), &filled));
  if (ok) pointers.resize(std::min(filled, count));
  texts.reserve(pointers.size());
  for (LPCSTR text : pointers) texts.push_back(CopyText(text));
  return ok;
}

}  // namespace

bool IsServerHandle(HP_HttpServer server) {
  return server != nullptr && server != kNoListenerServer;
}

// ---- Listener and server objects ----

HP_HttpServerListener HttpServerComponent::CreateListener() {
  if (listener_ == nullptr) listener_ = Create_HP_HttpServerListener();
  return listener_;
}

void HttpServerComponent::DestroyListener() {
  if (listener_ == nullptr) return;
  Destroy_HP_HttpServerListener(listener_);
  listener_ = nullptr;
}

HP_HttpServer HttpServerComponent::CreateServer() {
  HP_HttpServerListener listener = CreateListener();
  if (listener == nullptr) return kNoListenerServer;
  return Create_HP_HttpServer(listener);
}

void HttpServerComponent::DestroyServer(HP_HttpServer server) {
  if (IsServerHandle(server)) Destroy_HP_HttpServer(server);
}

// ---- Callbacks ----

#define QUILLMERE_SET_ON(Event)                                           \
  bool HttpServerComponent::SetOn##Event(HP_FN_HttpServer_On##Event fn) { \
    HP_HttpServerListener listener = CreateListener();                    \
    if (listener == nullptr) return false;                                \
    HP_Set_FN_HttpServer_On##Event(listener, fn);                         \
    return true;                                                          \
  }

QUILLMERE_SET_ON(PrepareListen)
QUILLMERE_SET_ON(Accept)
QUILLMERE_SET_ON(HandShake)
QUILLMERE_SET_ON(Send)
QUILLMERE_SET_ON(Receive)
QUILLMERE_SET_ON(Close)
QUILLMERE_SET_ON(Shutdown)
QUILLMERE_SET_ON(MessageBegin)
QUILLMERE_SET_ON(RequestLine)
QUILLMERE_SET_ON(Header)
QUILLMERE_SET_ON(HeadersComplete)
QUILLMERE_SET_ON(Body)
QUILLMERE_SET_ON(ChunkHeader)
QUILLMERE_SET_ON(ChunkComplete)
QUILLMERE_SET_ON(MessageComplete)
QUILLMERE_SET_ON(Upgrade)
QUILLMERE_SET_ON(ParseError)

#undef QUILLMERE_SET_ON

// ---- Start, stop, state ----

bool HttpServerComponent::Start(HP_HttpServer server, std::optional<std::string_view> address,
                                USHORT port) {
  if (!IsServerHandle(server)) return false;
  const TextArgument bindAddress(address.value_or(kAnyIPv4Address));
  return IsTrue(HP_Server_Start(server, bindAddress.get(), port));
}

bool HttpServerComponent::Stop(HP_HttpServer server) {
  return IsServerHandle(server) && IsTrue(HP_Server_Stop(server));
}

bool HttpServerComponent::HasStarted(HP_HttpServer server) {
  return IsServerHandle(server) && IsTrue(HP_Server_HasStarted(server));
}

En_HP_ServiceState HttpServerComponent::GetState(HP_HttpServer server) {
  return IsServerHandle(server) ? HP_Server_GetState(server) : SS_STOPPED;
}

En_HP_SocketError HttpServerComponent::GetLastError(HP_HttpServer server) {
  return IsServerHandle(server) ? HP_Server_GetLastError(server) : SE_ILLEGAL_STATE;
}

std::string HttpServerComponent::GetLastErrorDesc(HP_HttpServer server) {
  return IsServerHandle(server) ? CopyText(HP_Server_GetLastErrorDesc(server)) : std::string();
}

bool HttpServerComponent::IsSecure(HP_HttpServer server) {
  return IsServerHandle(server) && IsTrue(HP_Server_IsSecure(server));
}

// ---- Connections ----

bool HttpServerComponent::Send(HP_HttpServer server, HP_CONNID connID, const BYTE* data,
                               int length) {
  return IsServerHandle(server) && IsTrue(HP_Server_Send(server, connID, data, length));
}

bool HttpServerComponent::SendBytes(HP_HttpServer server, HP_CONNID connID,
                                    std::string_view bytes) {
  if (!IsServerHandle(server) || bytes.size() > INT_MAX) return false;
  const BYTE* data = bytes.empty() ? nullptr : reinterpret_cast<const BYTE*>(bytes.data());
  return IsTrue(HP_Server_Send(server, connID, data, static_cast<int>(bytes.size())));
}

bool HttpServerComponent::SendPart(HP_HttpServer server, HP_CONNID connID, const BYTE* data,
                                   int length, int offset) {
  return IsServerHandle(server) && IsTrue(HP_Server_SendPart(server, connID, data, length, offset));
}

bool HttpServerComponent::SendPackets(HP_HttpServer server, HP_CONNID connID,
                                      std::vector<PacketRecord>& packets) {
  if (!IsServerHandle(server) || packets.size() > INT_MAX) return false;
  std::vector<WSABUF> buffers;
  buffers.reserve(packets.size());
  for (PacketRecord& packet : packets) {
    // Never let the engine read past the packet's own bytes.
    const ULONG length =
        static_cast<ULONG>(std::min<std::size_t>(packet.length, packet.bytes.size()));
    buffers.push_back({length, packet.bytes.empty() ? nullptr : packet.bytes.data()});
  }
  const bool ok =
      IsTrue(HP_Server_SendPackets(server, connID, buffers.empty() ? nullptr : buffers.data(),
                                   static_cast<int>(buffers.size())));
  for (std::size_t i = 0; i < packets.size(); ++i) packets[i].length = buffers[i].len;
  return ok;
}

bool HttpServerComponent::Disconnect(HP_HttpServer server, HP_CONNID connID, bool force) {
  return IsServerHandle(server) && IsTrue(HP_Server_Disconnect(server, connID, force));
}

bool HttpServerComponent::DisconnectLongConnections(HP_HttpServer server, DWORD period,
                                                    bool force) {
  return IsServerHandle(server) &&
         IsTrue(HP_Server_DisconnectLongConnections(server, period, force));
}

bool HttpServerComponent::DisconnectSilenceConnections(HP_HttpServer server, DWORD period,
                                                       bool force) {
  return IsServerHandle(server) &&
         IsTrue(HP_Server_DisconnectSilenceConnections(server, period, force));
}

bool HttpServerComponent::PauseReceive(HP_HttpServer server, HP_CONNID connID, bool pause) {
  return IsServerHandle(server) && IsTrue(HP_Server_PauseReceive(server, connID, pause));
}

bool HttpServerComponent::IsPauseReceive(HP_HttpServer server, HP_CONNID connID, bool& paused) {
  if (!IsServerHandle(server)) return false;
  BOOL value = paused ? TRUE : FALSE;
  const bool ok = IsTrue(HP_Server_IsPauseReceive(server, connID, &value));
  paused = IsTrue(value);
  return ok;
}

bool HttpServerComponent::IsConnected(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) && IsTrue(HP_Server_IsConnected(server, connID));
}

bool HttpServerComponent::SetConnectionExtra(HP_HttpServer server, HP_CONNID connID, PVOID extra) {
  return IsServerHandle(server) && IsTrue(HP_Server_SetConnectionExtra(server, connID, extra));
}

bool HttpServerComponent::GetConnectionExtra(HP_HttpServer server, HP_CONNID connID, PVOID& extra) {
  return IsServerHandle(server) && IsTrue(HP_Server_GetConnectionExtra(server, connID, &extra));
}

bool HttpServerComponent::GetPendingDataLength(HP_HttpServer server, HP_CONNID connID,
                                               int& pending) {
  return IsServerHandle(server) && IsTrue(HP_Server_GetPendingDataLength(server, connID, &pending));
}

DWORD HttpServerComponent::GetConnectionCount(HP_HttpServer server) {
  return IsServerHandle(server) ? HP_Server_GetConnectionCount(server) : 0;
}

bool HttpServerComponent::GetAllConnectionIDs(HP_HttpServer server, std::vector<HP_CONNID>& ids) {
  if (!IsServerHandle(server)) return false;
  DWORD count = 0;
  HP_Server_GetAllConnectionIDs(server, ids.empty() ? nullptr : ids.data(), &count);
  ids.assign(count, 0);
  DWORD filled = count;
  const bool ok =
      IsTrue(HP_Server_GetAllConnectionIDs(server, ids.empty() ? nullptr : ids.data(), &filled));
  // Connections may have closed between the two calls: keep only the IDs that were written.
  if (ok) ids.resize(std::min(filled, count));
  return ok;
}

bool HttpServerComponent::GetConnectPeriod(HP_HttpServer server, HP_CONNID connID, DWORD& period) {
  return IsServerHandle(server) && IsTrue(HP_Server_GetConnectPeriod(server, connID, &period));
}

bool HttpServerComponent::GetSilencePeriod(HP_HttpServer server, HP_CONNID connID, DWORD& period) {
  return IsServerHandle(server) && IsTrue(HP_Server_GetSilencePeriod(server, connID, &period));
}

bool HttpServerComponent::GetListenAddress(HP_HttpServer server, std::string& address,
                                           USHORT& port) {
  if (!IsServerHandle(server)) return false;
  return GetAddressInTwoSteps(address, port, [&](TCHAR* buffer, int* length, USHORT* portOut) {
    return HP_Server_GetListenAddress(server, buffer, length, portOut);
  });
}

bool HttpServerComponent::GetLocalAddress(HP_HttpServer server, HP_CONNID connID,
                                          std::string& address, USHORT& port) {
  if (!IsServerHandle(server)) return false;
  return GetAddressInTwoSteps(address, port, [&](TCHAR* buffer, int* length, USHORT* portOut) {
    return HP_Server_GetLocalAddress(server, connID, buffer, length, portOut);
  });
}

bool HttpServerComponent::GetRemoteAddress(HP_HttpServer server, HP_CONNID connID,
                                           std::string& address, USHORT& port) {
  if (!IsServerHandle(server)) return false;
  return GetAddressInTwoSteps(address, port, [&](TCHAR* buffer, int* length, USHORT* portOut) {
    return HP_Server_GetRemoteAddress(server, connID, buffer, length, portOut);
  });
}

// ---- Settings ----

#define QUILLMERE_SETTING(Name, Type, Default)                             \
  void HttpServerComponent::Set##Name(HP_HttpServer server, Type value) {  \
    if (IsServerHandle(server)) HP_Server_Set##Name(server, value);        \
  }                                                                        \
  Type HttpServerComponent::Get##Name(HP_HttpServer server) {              \
    return IsServerHandle(server) ? HP_Server_Get##Name(server) : Default; \
  }

QUILLMERE_SETTING(SendPolicy, En_HP_SendPolicy, SP_PACK)
QUILLMERE_SETTING(OnSendSyncPolicy, En_HP_OnSendSyncPolicy, OSSP_NONE)
QUILLMERE_SETTING(FreeSocketObjLockTime, DWORD, 0)
QUILLMERE_SETTING(FreeSocketObjPool, DWORD, 0)
QUILLMERE_SETTING(FreeBufferObjPool, DWORD, 0)
QUILLMERE_SETTING(FreeSocketObjHold, DWORD, 0)
QUILLMERE_SETTING(FreeBufferObjHold, DWORD, 0)
QUILLMERE_SETTING(MaxConnectionCount, DWORD, 0)
QUILLMERE_SETTING(WorkerThreadCount, DWORD, 0)

#undef QUILLMERE_SETTING

void HttpServerComponent::SetMarkSilence(HP_HttpServer server, bool markSilence) {
  if (IsServerHandle(server)) HP_Server_SetMarkSilence(server, markSilence);
}

bool HttpServerComponent::IsMarkSilence(HP_HttpServer server) {
  return IsServerHandle(server) && IsTrue(HP_Server_IsMarkSilence(server));
}

void HttpServerComponent::SetLocalVersion(HP_HttpServer server, En_HP_HttpVersion version) {
  if (IsServerHandle(server)) HP_HttpServer_SetLocalVersion(server, version);
}

En_HP_HttpVersion HttpServerComponent::GetLocalVersion(HP_HttpServer server) {
  return IsServerHandle(server) ? HP_HttpServer_GetLocalVersion(server) : HV_1_1;
}

void HttpServerComponent::SetHttpAutoStart(HP_HttpServer server, bool autoStart) {
  if (IsServerHandle(server)) HP_HttpServer_SetHttpAutoStart(server, autoStart);
}

bool HttpServerComponent::IsHttpAutoStart(HP_HttpServer server) {
  return IsServerHandle(server) && IsTrue(HP_HttpServer_IsHttpAutoStart(server));
}

// ---- The current request ----

bool HttpServerComponent::StartHttp(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) && IsTrue(HP_HttpServer_StartHttp(server, connID));
}

USHORT HttpServerComponent::GetUrlFieldSet(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? HP_HttpServer_GetUrlFieldSet(server, connID) : 0;
}

std::string HttpServerComponent::GetUrlField(HP_HttpServer server, HP_CONNID connID,
                                             En_HP_HttpUrlField field) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetUrlField(server, connID, field))
                                : std::string();
}

std::string HttpServerComponent::GetMethod(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetMethod(server, connID)) : std::string();
}

bool HttpServerComponent::IsUpgrade(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) && IsTrue(HP_HttpServer_IsUpgrade(server, connID));
}

En_HP_HttpUpgradeType HttpServerComponent::GetUpgradeType(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? HP_HttpServer_GetUpgradeType(server, connID) : HUT_NONE;
}

bool HttpServerComponent::IsKeepAlive(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) && IsTrue(HP_HttpServer_IsKeepAlive(server, connID));
}

USHORT HttpServerComponent::GetVersion(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? HP_HttpServer_GetVersion(server, connID) : 0;
}

std::string HttpServerComponent::GetHost(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetHost(server, connID)) : std::string();
}

ULONGLONG HttpServerComponent::GetContentLength(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? HP_HttpServer_GetContentLength(server, connID) : 0;
}

std::string HttpServerComponent::GetContentType(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetContentType(server, connID))
                                : std::string();
}

std::string HttpServerComponent::GetContentEncoding(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetContentEncoding(server, connID))
                                : std::string();
}

std::string HttpServerComponent::GetTransferEncoding(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) ? CopyText(HP_HttpServer_GetTransferEncoding(server, connID))
                                : std::string();
}

USHORT HttpServerComponent::GetParseErrorCode(HP_HttpServer server, HP_CONNID connID,
                                              std::string& description) {
  if (!IsServerHandle(server)) return 0;
  LPCSTR text = nullptr;
  const USHORT code = HP_HttpServer_GetParseErrorCode(server, connID, &text);
  description = CopyText(text);
  return code;
}

std::string HttpServerComponent::GetHeader(HP_HttpServer server, HP_CONNID connID,
                                           std::string_view name) {
  if (!IsServerHandle(server)) return {};
  const TextArgument nameArgument(name);
  LPCSTR value = nullptr;
  if (!IsTrue(HP_HttpServer_GetHeader(server, connID, nameArgument.get(), &value))) return {};
  return CopyText(value);
}

std::string HttpServerComponent::GetCookie(HP_HttpServer server, HP_CONNID connID,
                                           std::string_view name) {
  if (!IsServerHandle(server)) return {};
  const TextArgument nameArgument(name);
  LPCSTR value = nullptr;
  if (!IsTrue(HP_HttpServer_GetCookie(server, connID, nameArgument.get(), &value))) return {};
  return CopyText(value);
}

bool HttpServerComponent::GetHeaders(HP_HttpServer server, HP_CONNID connID, std::string_view name,
                                     std::vector<std::string>& values) {
  values.clear();
  if (!IsServerHandle(server)) return false;
  const TextArgument nameArgument(name);
  return GetTextsInTwoSteps(values, [&](LPCSTR* array, DWORD* count) {
    return HP_HttpServer_GetHeaders(server, connID, nameArgument.get(), array, count);
  });
}

bool HttpServerComponent::GetAllHeaderNames(HP_HttpServer server, HP_CONNID connID,
                                            std::vector<std::string>& names) {
  names.clear();
  if (!IsServerHandle(server)) return false;
  return GetTextsInTwoSteps(names, [&](LPCSTR* array, DWORD* count) {
    return HP_HttpServer_GetAllHeaderNames(server, connID, array, count);
  });
}

bool HttpServerComponent::GetAllHeaders(HP_HttpServer server, HP_CONNID connID,
                                        std::vector<HeaderRecord>& headers) {
  headers.clear();
  if (!IsServerHandle(server)) return false;
  return GetPairsInTwoSteps(headers, [&](HP_THeader* array, DWORD* count) {
    return HP_HttpServer_GetAllHeaders(server, connID, array, count);
  });
}

bool HttpServerComponent::GetAllCookies(HP_HttpServer server, HP_CONNID connID,
                                        std::vector<HeaderRecord>& cookies) {
  cookies.clear();
  if (!IsServerHandle(server)) return false;
  return GetPairsInTwoSteps(cookies, [&](HP_TCookie* array, DWORD* count) {
    return HP_HttpServer_GetAllCookies(server, connID, array, count);
  });
}

}  // namespace quillmere
