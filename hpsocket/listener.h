// The application's callbacks for HTTP servers (HP_HttpServerListener), and the results that
// stand in for the ones it did not install.
#ifndef QUILLMERE_HPSOCKET_LISTENER_H
#define QUILLMERE_HPSOCKET_LISTENER_H

#include "hpsocket/HPSocket4C.h"

namespace quillmere {

/// One slot per event, null when not installed. Installed before Start; the servers using the
/// listener read the slots from their threads without locking.
struct Listener {
  HP_FN_HttpServer_OnPrepareListen on_prepare_listen = nullptr;
  HP_FN_HttpServer_OnAccept on_accept = nullptr;
  HP_FN_HttpServer_OnHandShake on_hand_shake = nullptr;
  HP_FN_HttpServer_OnSend on_send = nullptr;
  HP_FN_HttpServer_OnReceive on_receive = nullptr;
  HP_FN_HttpServer_OnClose on_close = nullptr;
  HP_FN_HttpServer_OnShutdown on_shutdown = nullptr;
  HP_FN_HttpServer_OnMessageBegin on_message_begin = nullptr;
  HP_FN_HttpServer_OnRequestLine on_request_line = nullptr;
  HP_FN_HttpServer_OnHeader on_header = nullptr;
  HP_FN_HttpServer_OnHeadersComplete on_headers_complete = nullptr;
  HP_FN_HttpServer_OnBody on_body = nullptr;
  HP_FN_HttpServer_OnChunkHeader on_chunk_header = nullptr;
  HP_FN_HttpServer_OnChunkComplete on_chunk_complete = nullptr;
  HP_FN_HttpServer_OnMessageComplete on_message_complete = nullptr;
  HP_FN_HttpServer_OnUpgrade on_upgrade = nullptr;
  HP_FN_HttpServer_OnParseError on_parse_error = nullptr;
};

/// Calls a connection-level callback, or gives HR_IGNORE ("carry on") when it is not installed.
template <typename Fn, typename... Args>
En_HP_HandleResult FireHandle(Fn fn, Args... args) {
  return fn ? fn(args...) : HR_IGNORE;
}

/// Calls a parse callback, or gives HPR_OK when it is not installed.
template <typename Fn, typename... Args>
int FireParse(Fn fn, Args... args) {
  return fn ? static_cast<int>(fn(args...)) : HPR_OK;
}

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_LISTENER_H
