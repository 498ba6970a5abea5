// HttpEventHandlers: the functions the engine calls for the server's events, their installation,
// and the set-up of the task pool that runs the request worker.
//
// Together they give every new connection an empty body record (its extra data), collect each
// request's body into it, hand each complete request to the task pool, where RequestWorker
// (http/request_worker.h) answers it, report raw data and parse errors as output lines, and free
// the record when the connection closes. No handler answers an HTTP request itself.
//
// The handlers reach the server component, the pool and ServerHandle through ProgramHttpService()
// (http/http_service.h). Threads: the handlers run on the engine's network threads (events of one
// connection one after another, different connections at once); the installation and the pool's
// set-up run on the main thread before the server starts.
#ifndef QUILLMERE_HTTP_HANDLERS_H
#define QUILLMERE_HTTP_HANDLERS_H

#include <string>
#include <string_view>

#include "hpsocket/HPSocket4C.h"
#include "http/server_component.h"
#include "http/task_pool.h"

namespace quillmere {

/// "http" when `sender` is ServerHandle, else "https". Safe from any thread.
std::string_view SchemeOf(HP_HttpServer sender);

/// Gives the new connection a zeroed BodyRecord as its extra data (none when it cannot be
/// allocated; then its bodies are dropped). Always HR_OK.
En_HP_HandleResult OnAccept(HP_HttpServer sender, HP_CONNID connID, UINT_PTR socket);

/// Raw data outside HTTP parsing (after an upgrade): shows " > [http,#7,OnReceive] ->(5bytes)"
/// and echoes the bytes back. HR_OK when the echo was queued, else HR_ERROR (the engine then
/// closes the connection).
En_HP_HandleResult OnReceive(HP_HttpServer sender, HP_CONNID connID, const BYTE* data, int length);

/// Lets parsing go on, body included. Always HPR_OK.
En_HP_HttpParseResult OnHeadersComplete(HP_HttpServer sender, HP_CONNID connID);

/// Appends the chunk to the connection's record; dropped when the connection has none. HPR_OK,
/// or HPR_ERROR when the request's body would pass 64 MiB: the engine then reports a parse
/// error and closes the connection, so no client can make the program hold unbounded memory.
En_HP_HttpParseResult OnBody(HP_HttpServer sender, HP_CONNID connID, const BYTE* data, int length);

/// Submits RequestWorker for the request (sender and connection ID; no buffer), waiting without
/// limit should the pool's queue be full. A request the pool refuses (it is stopping) would never
/// be answered, and the engine parses nothing more on its connection until it is, so that
/// connection is closed. Always HPR_OK; does not wait for the worker.
En_HP_HttpParseResult OnMessageComplete(HP_HttpServer sender, HP_CONNID connID);

/// Shows " > [http,#12,OnParseError]" (code and description are not shown); the engine then
/// closes the connection. Always HPR_OK.
En_HP_HttpParseResult OnParseError(HP_HttpServer sender, HP_CONNID connID, int errorCode,
                                   LPCSTR description);

/// Frees the connection's record and whatever body it still holds (a request that never
/// completed), and clears its extra data, so a closed connection leaves nothing behind. Holds
/// the connection's RecordLock, so a worker still taking the body finishes first. Always HR_OK.
En_HP_HandleResult OnClose(HP_HttpServer sender, HP_CONNID connID, En_HP_SocketOperation operation,
                           int errorCode);

/// Installs the handlers on the component's listener, in this order: OnAccept, OnReceive,
/// OnHeadersComplete, OnBody, OnMessageComplete, OnParseError, OnClose. Main thread only, before
/// the server starts.
void InstallHttpEventHandlers(HttpServerComponent& component);

/// Creates the pool and starts it with the engine's default thread count, no queue limit,
/// TRP_WAIT_FOR and the default stack size; results are not examined. Main thread only.
void CreateAndStartTaskPool(TaskPool& pool);

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_HANDLERS_H
