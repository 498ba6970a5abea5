/*
 * HPSocket4C.h: the C interface of Quillmere's network engine.
 *
 * The subset of HP-Socket 5.5's C interface that Quillmere uses, with the same
 * function, type, enum and constant names and values, implemented over
 * standalone Asio and http-parser. HTTPS and WebSocket are not provided.
 *
 * Threads: callbacks run on the server's worker threads (PrepareListen in the
 * caller of Start, Shutdown in the caller of Stop, HandShake in the caller of
 * StartHttp when auto-start is off). Send, SendPackets, SendResponse,
 * Disconnect, Release and the thread pool's Submit may be called from any
 * thread. Per-call failures are reported through errno (SYS_GetLastError).
 */
#ifndef QUILLMERE_HPSOCKET_HPSOCKET4C_H
#define QUILLMERE_HPSOCKET_HPSOCKET4C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- types -- */

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef uint8_t BYTE;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int INT;
typedef uint64_t ULONGLONG;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef void* PVOID;
typedef char TCHAR;
typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef const BYTE* LPCBYTE;

#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

/* One buffer of a scatter send. */
typedef struct _WSABUF {
  ULONG len;
  char* buf;
} WSABUF, *LPWSABUF;

typedef uintptr_t HP_CONNID;

typedef void* HP_Object;
typedef HP_Object HP_Server;
typedef HP_Object HP_HttpServer;
typedef HP_Object HP_Listener;
typedef HP_Object HP_HttpServerListener;
typedef HP_Object HP_ThreadPool;
/* Every HP_Server_* and HP_HttpServer_* function takes the same handle. */
typedef HP_Object HP_Http;

/* A name/value pair; the texts stay the caller's (or the library's). */
typedef struct HP_TNVPair {
  LPCSTR name;
  LPCSTR value;
} HP_TNVPair, HP_TParam, HP_THeader, HP_TCookie;
typedef HP_TNVPair* HP_LPNVPair;
typedef HP_THeader* HP_LPTHeader;
typedef HP_TCookie* HP_LPTCookie;

/* ---------------------------------------------------------------- enums -- */

typedef enum En_HP_ServiceState {
  SS_STARTING = 0,
  SS_STARTED = 1,
  SS_STOPPING = 2,
  SS_STOPPED = 3,
} En_HP_ServiceState;

typedef enum En_HP_SocketOperation {
  SO_UNKNOWN = 0,
  SO_ACCEPT = 1,
  SO_CONNECT = 2,
  SO_SEND = 3,
  SO_RECEIVE = 4,
  SO_CLOSE = 5,
} En_HP_SocketOperation;

typedef enum En_HP_HandleResult {
  HR_OK = 0,
  HR_IGNORE = 1,
  HR_ERROR = 2,
} En_HP_HandleResult;

typedef enum En_HP_SocketError {
  SE_OK = 0,
  SE_ILLEGAL_STATE = 1,
  SE_INVALID_PARAM = 2,
  SE_SOCKET_CREATE = 3,
  SE_SOCKET_BIND = 4,
  SE_SOCKET_PREPARE = 5,
  SE_SOCKET_LISTEN = 6,
  SE_CP_CREATE = 7,
  SE_WORKER_THREAD_CREATE = 8,
  SE_DETECT_THREAD_CREATE = 9,
  SE_SOCKE_ATTACH_TO_CP = 10,
  SE_CONNECT_SERVER = 11,
  SE_NETWORK = 12,
  SE_DATA_PROC = 13,
  SE_DATA_SEND = 14,
  SE_SSL_ENV_NOT_READY = 101,
} En_HP_SocketError;

typedef enum En_HP_SendPolicy {
  SP_PACK = 0,
  SP_SAFE = 1,
  SP_DIRECT = 2,
} En_HP_SendPolicy;

typedef enum En_HP_OnSendSyncPolicy {
  OSSP_NONE = 0,
  OSSP_CLOSE = 1,
  OSSP_RECEIVE = 2,
} En_HP_OnSendSyncPolicy;

typedef enum En_HP_HttpParseResult {
  HPR_OK = 0,
  HPR_SKIP_BODY = 1,
  HPR_UPGRADE = 2,
  HPR_ERROR = -1,
} En_HP_HttpParseResult;

typedef enum En_HP_HttpUpgradeType {
  HUT_NONE = 0,
  HUT_WEB_SOCKET = 1,
  HUT_HTTP_TUNNEL = 2,
  HUT_UNKNOWN = -1,
} En_HP_HttpUpgradeType;

/* Low byte: major version; high byte: minor version. */
typedef enum En_HP_HttpVersion {
  HV_1_0 = 0x0001,
  HV_1_1 = 0x0101,
} En_HP_HttpVersion;

/* Same order as http-parser's UF_* fields. */
typedef enum En_HP_HttpUrlField {
  HUF_SCHEMA = 0,
  HUF_HOST = 1,
  HUF_PORT = 2,
  HUF_PATH = 3,
  HUF_QUERY = 4,
  HUF_FRAGMENT = 5,
  HUF_USERINFO = 6,
  HUF_MAX = 7,
} En_HP_HttpUrlField;

typedef enum En_HP_HttpStatusCode {
  HSC_CONTINUE = 100,
  HSC_SWITCHING_PROTOCOLS = 101,
  HSC_PROCESSING = 102,
  HSC_OK = 200,
  HSC_CREATED = 201,
  HSC_ACCEPTED = 202,
  HSC_NON_AUTHORITATIVE_INFORMATION = 203,
  HSC_NO_CONTENT = 204,
  HSC_RESET_CONTENT = 205,
  HSC_PARTIAL_CONTENT = 206,
  HSC_MULTI_STATUS = 207,
  HSC_ALREADY_REPORTED = 208,
  HSC_IM_USED = 226,
  HSC_MULTIPLE_CHOICES = 300,
  HSC_MOVED_PERMANENTLY = 301,
  HSC_MOVED_TEMPORARILY = 302,
  HSC_SEE_OTHER = 303,
  HSC_NOT_MODIFIED = 304,
  HSC_USE_PROXY = 305,
  HSC_SWITCH_PROXY = 306,
  HSC_TEMPORARY_REDIRECT = 307,
  HSC_PERMANENT_REDIRECT = 308,
  HSC_BAD_REQUEST = 400,
  HSC_UNAUTHORIZED = 401,
  HSC_PAYMENT_REQUIRED = 402,
  HSC_FORBIDDEN = 403,
  HSC_NOT_FOUND = 404,
  HSC_METHOD_NOT_ALLOWED = 405,
  HSC_NOT_ACCEPTABLE = 406,
  HSC_PROXY_AUTHENTICATION_REQUIRED = 407,
  HSC_REQUEST_TIMEOUT = 408,
  HSC_CONFLICT = 409,
  HSC_GONE = 410,
  HSC_LENGTH_REQUIRED = 411,
  HSC_PRECONDITION_FAILED = 412,
  HSC_REQUEST_ENTITY_TOO_LARGE = 413,
  HSC_REQUEST_URI_TOO_LONG = 414,
  HSC_UNSUPPORTED_MEDIA_TYPE = 415,
  HSC_REQUESTED_RANGE_NOT_SATISFIABLE = 416,
  HSC_EXPECTATION_FAILED = 417,
  HSC_MISDIRECTED_REQUEST = 421,
  HSC_UNPROCESSABLE_ENTITY = 422,
  HSC_LOCKED = 423,
  HSC_FAILED_DEPENDENCY = 424,
  HSC_UNORDERED_COLLECTION = 425,
  HSC_UPGRADE_REQUIRED = 426,
  HSC_PRECONDITION_REQUIRED = 428,
  HSC_TOO_MANY_REQUESTS = 429,
  HSC_REQUEST_HEADER_FIELDS_TOO_LARGE = 431,
  HSC_RETRY_WITH = 449,
  HSC_UNAVAILABLE_FOR_LEGAL_REASONS = 451,
  HSC_INTERNAL_SERVER_ERROR = 500,
  HSC_NOT_IMPLEMENTED = 501,
  HSC_BAD_GATEWAY = 502,
  HSC_SERVICE_UNAVAILABLE = 503,
  HSC_GATEWAY_TIMEOUT = 504,
  HSC_HTTP_VERSION_NOT_SUPPORTED = 505,
  HSC_VARIANT_ALSO_NEGOTIATES = 506,
  HSC_INSUFFICIENT_STORAGE = 507,
  HSC_LOOP_DETECTED = 508,
  HSC_BANDWIDTH_LIMIT_EXCEEDED = 509,
  HSC_NOT_EXTENDED = 510,
  HSC_NETWORK_AUTHENTICATION_REQUIRED = 511,
  HSC_UNPARSEABLE_RESPONSE_HEADERS = 600,
} En_HP_HttpStatusCode;

typedef enum En_HP_RejectedPolicy {
  TRP_CALL_FAIL = 0,
  TRP_WAIT_FOR = 1,
  TRP_CALLER_RUN = 2,
} En_HP_RejectedPolicy;

typedef enum En_HP_TaskBufferType {
  TBT_COPY = 0,
  TBT_REFER = 1,
  TBT_ATTACH = 2,
} En_HP_TaskBufferType;

/* ------------------------------------------------------------ callbacks -- */

typedef En_HP_HandleResult (*HP_FN_HttpServer_OnPrepareListen)(HP_HttpServer pSender,
                                                                UINT_PTR soListen);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnAccept)(HP_HttpServer pSender, HP_CONNID dwConnID,
                                                         UINT_PTR soClient);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnHandShake)(HP_HttpServer pSender,
                                                            HP_CONNID dwConnID);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnSend)(HP_HttpServer pSender, HP_CONNID dwConnID,
                                                       const BYTE* pData, int iLength);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnReceive)(HP_HttpServer pSender,
                                                          HP_CONNID dwConnID, const BYTE* pData,
                                                          int iLength);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnClose)(HP_HttpServer pSender, HP_CONNID dwConnID,
                                                        En_HP_SocketOperation enOperation,
                                                        int iErrorCode);
typedef En_HP_HandleResult (*HP_FN_HttpServer_OnShutdown)(HP_HttpServer pSender);

typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnMessageBegin)(HP_HttpServer pSender,
                                                                  HP_CONNID dwConnID);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnRequestLine)(HP_HttpServer pSender,
                                                                 HP_CONNID dwConnID,
                                                                 LPCSTR lpszMethod,
                                                                 LPCSTR lpszUrl);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnHeader)(HP_HttpServer pSender,
                                                            HP_CONNID dwConnID, LPCSTR lpszName,
                                                            LPCSTR lpszValue);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnHeadersComplete)(HP_HttpServer pSender,
                                                                     HP_CONNID dwConnID);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnBody)(HP_HttpServer pSender,
                                                          HP_CONNID dwConnID, const BYTE* pData,
                                                          int iLength);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnChunkHeader)(HP_HttpServer pSender,
                                                                 HP_CONNID dwConnID, int iLength);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnChunkComplete)(HP_HttpServer pSender,
                                                                   HP_CONNID dwConnID);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnMessageComplete)(HP_HttpServer pSender,
                                                                     HP_CONNID dwConnID);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnUpgrade)(HP_HttpServer pSender,
                                                             HP_CONNID dwConnID,
                                                             En_HP_HttpUpgradeType enUpgradeType);
typedef En_HP_HttpParseResult (*HP_FN_HttpServer_OnParseError)(HP_HttpServer pSender,
                                                                HP_CONNID dwConnID,
                                                                int iErrorCode,
                                                                LPCSTR lpszErrorDesc);

/* ------------------------------------------------ creation, destruction -- */

HP_HttpServerListener Create_HP_HttpServerListener(void);
void Destroy_HP_HttpServerListener(HP_HttpServerListener pListener);
HP_HttpServer Create_HP_HttpServer(HP_HttpServerListener pListener);
void Destroy_HP_HttpServer(HP_HttpServer pServer);

/* ------------------------------------------ listener callback setters -- */

void HP_Set_FN_HttpServer_OnPrepareListen(HP_HttpServerListener pListener,
                                          HP_FN_HttpServer_OnPrepareListen fn);
void HP_Set_FN_HttpServer_OnAccept(HP_HttpServerListener pListener, HP_FN_HttpServer_OnAccept fn);
void HP_Set_FN_HttpServer_OnHandShake(HP_HttpServerListener pListener,
                                      HP_FN_HttpServer_OnHandShake fn);
void HP_Set_FN_HttpServer_OnSend(HP_HttpServerListener pListener, HP_FN_HttpServer_OnSend fn);
void HP_Set_FN_HttpServer_OnReceive(HP_HttpServerListener pListener,
                                    HP_FN_HttpServer_OnReceive fn);
void HP_Set_FN_HttpServer_OnClose(HP_HttpServerListener pListener, HP_FN_HttpServer_OnClose fn);
void HP_Set_FN_HttpServer_OnShutdown(HP_HttpServerListener pListener,
                                     HP_FN_HttpServer_OnShutdown fn);
void HP_Set_FN_HttpServer_OnMessageBegin(HP_HttpServerListener pListener,
                                         HP_FN_HttpServer_OnMessageBegin fn);
void HP_Set_FN_HttpServer_OnRequestLine(HP_HttpServerListener pListener,
                                        HP_FN_HttpServer_OnRequestLine fn);
void HP_Set_FN_HttpServer_OnHeader(HP_HttpServerListener pListener, HP_FN_HttpServer_OnHeader fn);
void HP_Set_FN_HttpServer_OnHeadersComplete(HP_HttpServerListener pListener,
                                            HP_FN_HttpServer_OnHeadersComplete fn);
void HP_Set_FN_HttpServer_OnBody(HP_HttpServerListener pListener, HP_FN_HttpServer_OnBody fn);
void HP_Set_FN_HttpServer_OnChunkHeader(HP_HttpServerListener pListener,
                                        HP_FN_HttpServer_OnChunkHeader fn);
void HP_Set_FN_HttpServer_OnChunkComplete(HP_HttpServerListener pListener,
                                          HP_FN_HttpServer_OnChunkComplete fn);
void HP_Set_FN_HttpServer_OnMessageComplete(HP_HttpServerListener pListener,
                                            HP_FN_HttpServer_OnMessageComplete fn);
void HP_Set_FN_HttpServer_OnUpgrade(HP_HttpServerListener pListener,
                                    HP_FN_HttpServer_OnUpgrade fn);
void HP_Set_FN_HttpServer_OnParseError(HP_HttpServerListener pListener,
                                       HP_FN_HttpServer_OnParseError fn);

/* ------------------------------------------------ server: start, stop -- */

BOOL HP_Server_Start(HP_Server pServer, LPCTSTR lpszBindAddress, USHORT usPort);
BOOL HP_Server_Stop(HP_Server pServer);
BOOL HP_Server_HasStarted(HP_Server pServer);
En_HP_ServiceState HP_Server_GetState(HP_Server pServer);
En_HP_SocketError HP_Server_GetLastError(HP_Server pServer);
LPCTSTR HP_Server_GetLastErrorDesc(HP_Server pServer);
/* Always FALSE: this engine serves plain HTTP only. */
BOOL HP_Server_IsSecure(HP_Server pServer);

/* ------------------------------------------- server: connection operations -- */

BOOL HP_Server_Send(HP_Server pServer, HP_CONNID dwConnID, const BYTE* pBuffer, int iLength);
BOOL HP_Server_SendPart(HP_Server pServer, HP_CONNID dwConnID, const BYTE* pBuffer, int iLength,
                        int iOffset);
BOOL HP_Server_SendPackets(HP_Server pServer, HP_CONNID dwConnID, const WSABUF pBuffers[],
                           int iCount);
BOOL HP_Server_Disconnect(HP_Server pServer, HP_CONNID dwConnID, BOOL bForce);
BOOL HP_Server_DisconnectLongConnections(HP_Server pServer, DWORD dwPeriod, BOOL bForce);
BOOL HP_Server_DisconnectSilenceConnections(HP_Server pServer, DWORD dwPeriod, BOOL bForce);
BOOL HP_Server_PauseReceive(HP_Server pServer, HP_CONNID dwConnID, BOOL bPause);
BOOL HP_Server_IsPauseReceive(HP_Server pServer, HP_CONNID dwConnID, BOOL* pbPaused);

BOOL HP_Server_SetConnectionExtra(HP_Server pServer, HP_CONNID dwConnID, PVOID pExtra);
BOOL HP_Server_GetConnectionExtra(HP_Server pServer, HP_CONNID dwConnID, PVOID* ppExtra);

BOOL HP_Server_GetListenAddress(HP_Server pServer, TCHAR lpszAddress[], int* piAddressLen,
                                USHORT* pusPort);
BOOL HP_Server_GetLocalAddress(HP_Server pServer, HP_CONNID dwConnID, TCHAR lpszAddress[],
                               int* piAddressLen, USHORT* pusPort);
BOOL HP_Server_GetRemoteAddress(HP_Server pServer, HP_CONNID dwConnID, TCHAR lpszAddress[],
                                int* piAddressLen, USHORT* pusPort);
BOOL HP_Server_GetPendingDataLength(HP_Server pServer, HP_CONNID dwConnID, int* piPending);
BOOL HP_Server_IsConnected(HP_Server pServer, HP_CONNID dwConnID);
DWORD HP_Server_GetConnectionCount(HP_Server pServer);
BOOL HP_Server_GetAllConnectionIDs(HP_Server pServer, HP_CONNID pIDs[], DWORD* pdwCount);
BOOL HP_Server_GetConnectPeriod(HP_Server pServer, HP_CONNID dwConnID, DWORD* pdwPeriod);
BOOL HP_Server_GetSilencePeriod(HP_Server pServer, HP_CONNID dwConnID, DWORD* pdwPeriod);

/* ------------------------------------------------------ server settings -- */
/* Meant to be called while stopped; they take effect at the next Start. */

void HP_Server_SetSendPolicy(HP_Server pServer, En_HP_SendPolicy enSendPolicy);
void HP_Server_SetOnSendSyncPolicy(HP_Server pServer, En_HP_OnSendSyncPolicy enSyncPolicy);
void HP_Server_SetFreeSocketObjLockTime(HP_Server pServer, DWORD dwFreeSocketObjLockTime);
void HP_Server_SetFreeSocketObjPool(HP_Server pServer, DWORD dwFreeSocketObjPool);
void HP_Server_SetFreeBufferObjPool(HP_Server pServer, DWORD dwFreeBufferObjPool);
void HP_Server_SetFreeSocketObjHold(HP_Server pServer, DWORD dwFreeSocketObjHold);
void HP_Server_SetFreeBufferObjHold(HP_Server pServer, DWORD dwFreeBufferObjHold);
void HP_Server_SetMaxConnectionCount(HP_Server pServer, DWORD dwMaxConnectionCount);
void HP_Server_SetWorkerThreadCount(HP_Server pServer, DWORD dwWorkerThreadCount);
void HP_Server_SetMarkSilence(HP_Server pServer, BOOL bMarkSilence);

En_HP_SendPolicy HP_Server_GetSendPolicy(HP_Server pServer);
En_HP_OnSendSyncPolicy HP_Server_GetOnSendSyncPolicy(HP_Server pServer);
DWORD HP_Server_GetFreeSocketObjLockTime(HP_Server pServer);
DWORD HP_Server_GetFreeSocketObjPool(HP_Server pServer);
DWORD HP_Server_GetFreeBufferObjPool(HP_Server pServer);
DWORD HP_Server_GetFreeSocketObjHold(HP_Server pServer);
DWORD HP_Server_GetFreeBufferObjHold(HP_Server pServer);
DWORD HP_Server_GetMaxConnectionCount(HP_Server pServer);
DWORD HP_Server_GetWorkerThreadCount(HP_Server pServer);
BOOL HP_Server_IsMarkSilence(HP_Server pServer);

void HP_TcpServer_SetSocketBufferSize(HP_Server pServer, DWORD dwSocketBufferSize);
void HP_TcpServer_SetKeepAliveTime(HP_Server pServer, DWORD dwKeepAliveTime);
void HP_TcpServer_SetKeepAliveInterval(HP_Server pServer, DWORD dwKeepAliveInterval);
void HP_TcpServer_SetSocketListenQueue(HP_Server pServer, DWORD dwSocketListenQueue);
void HP_TcpServer_SetAcceptSocketCount(HP_Server pServer, DWORD dwAcceptSocketCount);
DWORD HP_TcpServer_GetSocketBufferSize(HP_Server pServer);
DWORD HP_TcpServer_GetKeepAliveTime(HP_Server pServer);
DWORD HP_TcpServer_GetKeepAliveInterval(HP_Server pServer);
DWORD HP_TcpServer_GetSocketListenQueue(HP_Server pServer);
DWORD HP_TcpServer_GetAcceptSocketCount(HP_Server pServer);

/* --------------------------------------------------------- HTTP server -- */

BOOL HP_HttpServer_SendResponse(HP_HttpServer pServer, HP_CONNID dwConnID, USHORT usStatusCode,
                                LPCSTR lpszDesc, const HP_THeader lpHeaders[], int iHeaderCount,
                                const BYTE* pData, int iLength);
BOOL HP_HttpServer_SendLocalFile(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszFileName,
                                 USHORT usStatusCode, LPCSTR lpszDesc,
                                 const HP_THeader lpHeaders[], int iHeaderCount);
BOOL HP_HttpServer_Release(HP_HttpServer pServer, HP_CONNID dwConnID);
BOOL HP_HttpServer_StartHttp(HP_HttpServer pServer, HP_CONNID dwConnID);

void HP_HttpServer_SetReleaseDelay(HP_HttpServer pServer, DWORD dwReleaseDelay);
DWORD HP_HttpServer_GetReleaseDelay(HP_HttpServer pServer);
void HP_HttpServer_SetHttpAutoStart(HP_HttpServer pServer, BOOL bAutoStart);
BOOL HP_HttpServer_IsHttpAutoStart(HP_HttpServer pServer);
void HP_HttpServer_SetLocalVersion(HP_HttpServer pServer, En_HP_HttpVersion usVersion);
En_HP_HttpVersion HP_HttpServer_GetLocalVersion(HP_HttpServer pServer);

USHORT HP_HttpServer_GetUrlFieldSet(HP_HttpServer pServer, HP_CONNID dwConnID);
LPCSTR HP_HttpServer_GetUrlField(HP_HttpServer pServer, HP_CONNID dwConnID,
                                 En_HP_HttpUrlField enField);
LPCSTR HP_HttpServer_GetMethod(HP_HttpServer pServer, HP_CONNID dwConnID);
BOOL HP_HttpServer_IsUpgrade(HP_HttpServer pServer, HP_CONNID dwConnID);
En_HP_HttpUpgradeType HP_HttpServer_GetUpgradeType(HP_HttpServer pServer, HP_CONNID dwConnID);
BOOL HP_HttpServer_IsKeepAlive(HP_HttpServer pServer, HP_CONNID dwConnID);
USHORT HP_HttpServer_GetVersion(HP_HttpServer pServer, HP_CONNID dwConnID);
LPCSTR HP_HttpServer_GetHost(HP_HttpServer pServer, HP_CONNID dwConnID);
ULONGLONG HP_HttpServer_GetContentLength(HP_HttpServer pServer, HP_CONNID dwConnID);
LPCSTR HP_HttpServer_GetContentType(HP_HttpServer pServer, HP_CONNID dwConnID);
LPCSTR HP_HttpServer_GetContentEncoding(HP_HttpServer pServer, HP_CONNID dwConnID);
LPCSTR HP_HttpServer_GetTransferEncoding(HP_HttpServer pServer, HP_CONNID dwConnID);
USHORT HP_HttpServer_GetParseErrorCode(HP_HttpServer pServer, HP_CONNID dwConnID,
                                       LPCSTR* lpszErrorDesc);

BOOL HP_HttpServer_GetHeader(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                             LPCSTR* lpszValue);
BOOL HP_HttpServer_GetHeaders(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                              LPCSTR lpszValue[], DWORD* pdwCount);
BOOL HP_HttpServer_GetAllHeaders(HP_HttpServer pServer, HP_CONNID dwConnID, HP_THeader lpHeaders[],
                                 DWORD* pdwCount);
BOOL HP_HttpServer_GetAllHeaderNames(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName[],
                                     DWORD* pdwCount);
BOOL HP_HttpServer_GetCookie(HP_HttpServer pServer, HP_CONNID dwConnID, LPCSTR lpszName,
                             LPCSTR* lpszValue);
BOOL HP_HttpServer_GetAllCookies(HP_HttpServer pServer, HP_CONNID dwConnID, HP_TCookie lpCookies[],
                                 DWORD* pdwCount);

/* --------------------------------------------------------- thread pool -- */

typedef void (*HP_Fn_TaskProc)(PVOID pvArg);

struct TSocketTask;
typedef void (*HP_Fn_SocketTaskProc)(struct TSocketTask* pTask);

/* A socket task: field order and meaning as HP-Socket's. */
typedef struct TSocketTask {
  HP_Fn_SocketTaskProc fn;
  PVOID sender;
  HP_CONNID connID;
  LPCBYTE buf;
  INT bufLen;
  En_HP_TaskBufferType bufType;
  WPARAM wparam;
  LPARAM lparam;
} TSocketTask, *LPTSocketTask;
typedef TSocketTask HP_TSocketTask;
typedef HP_TSocketTask* HP_LPTSocketTask;

HP_ThreadPool Create_HP_ThreadPool(void);
void Destroy_HP_ThreadPool(HP_ThreadPool pThreadPool);

HP_LPTSocketTask Create_HP_SocketTaskObj(HP_Fn_SocketTaskProc fnTaskProc, PVOID pSender,
                                         HP_CONNID dwConnID, LPCBYTE pBuffer, INT iBuffLen,
                                         En_HP_TaskBufferType enBuffType, WPARAM wParam,
                                         LPARAM lParam);
void Destroy_HP_SocketTaskObj(HP_LPTSocketTask pTask);

BOOL HP_ThreadPool_Start(HP_ThreadPool pThreadPool, DWORD dwThreadCount, DWORD dwMaxQueueSize,
                         En_HP_RejectedPolicy enRejectedPolicy, DWORD dwStackSize);
BOOL HP_ThreadPool_Stop(HP_ThreadPool pThreadPool, DWORD dwMaxWait);
BOOL HP_ThreadPool_Submit(HP_ThreadPool pThreadPool, HP_Fn_TaskProc fnTaskProc, PVOID pvArg,
                          DWORD dwMaxWait);
BOOL HP_ThreadPool_Submit_Task(HP_ThreadPool pThreadPool, HP_LPTSocketTask pTask,
                               DWORD dwMaxWait);
BOOL HP_ThreadPool_AdjustThreadCount(HP_ThreadPool pThreadPool, DWORD dwNewThreadCount);

BOOL HP_ThreadPool_HasStarted(HP_ThreadPool pThreadPool);
En_HP_ServiceState HP_ThreadPool_GetState(HP_ThreadPool pThreadPool);
DWORD HP_ThreadPool_GetQueueSize(HP_ThreadPool pThreadPool);
DWORD HP_ThreadPool_GetThreadCount(HP_ThreadPool pThreadPool);
DWORD HP_ThreadPool_GetMaxQueueSize(HP_ThreadPool pThreadPool);
En_HP_RejectedPolicy HP_ThreadPool_GetRejectedPolicy(HP_ThreadPool pThreadPool);

/* ---------------------------------------------------------------- misc -- */

/* The calling thread's last system error (errno). */
int SYS_GetLastError(void);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMERE_HPSOCKET_HPSOCKET4C_H */
