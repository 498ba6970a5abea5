// A small echo server built the way the application answers requests: OnBody gathers the body
// into the connection's extra record, OnMessageComplete hands a socket task to an HP thread
// pool, and the task answers with HP_HttpServer_SendResponse (releasing the connection when the
// request is not keep-alive).
//
//   hpsocket_echo_server [port] [worker threads (0 = engine default)] [pool threads (0 = default)]
//
// Prints "READY <port>" once listening; stops on SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hpsocket/HPSocket4C.h"

namespace {

HP_ThreadPool pool = nullptr;

struct BodyRecord {
  std::string data;
};

En_HP_HandleResult OnAccept(HP_HttpServer server, HP_CONNID id, UINT_PTR) {
  HP_Server_SetConnectionExtra(server, id, new BodyRecord());
  return HR_OK;
}

En_HP_HandleResult OnClose(HP_HttpServer server, HP_CONNID id, En_HP_SocketOperation, int) {
  PVOID extra = nullptr;
  if (HP_Server_GetConnectionExtra(server, id, &extra)) delete static_cast<BodyRecord*>(extra);
  return HR_OK;
}

En_HP_HttpParseResult OnBody(HP_HttpServer server, HP_CONNID id, const BYTE* data, int length) {
  PVOID extra = nullptr;
  if (HP_Server_GetConnectionExtra(server, id, &extra) && extra) {
    static_cast<BodyRecord*>(extra)->data.append(reinterpret_cast<const char*>(data),
                                                 static_cast<size_t>(length));
  }
  return HPR_OK;
}

void Answer(TSocketTask* task) {
  HP_HttpServer server = task->sender;
  const HP_CONNID id = task->connID;
  thread_local std::string body;
  body.clear();
  PVOID extra = nullptr;
  if (HP_Server_GetConnectionExtra(server, id, &extra) && extra) {
    body.swap(static_cast<BodyRecord*>(extra)->data);
  }
  if (HP_HttpServer_IsUpgrade(server, id)) return;
  const bool keep_alive = HP_HttpServer_IsKeepAlive(server, id);
  static const HP_THeader headers[] = {{"Accept", "text/plain, text/html"}};
  HP_HttpServer_SendResponse(server, id, 200, nullptr, headers, 1,
                             reinterpret_cast<const BYTE*>(body.data()),
                             static_cast<int>(body.size()));
  if (!keep_alive) HP_HttpServer_Release(server, id);
}

En_HP_HttpParseResult OnMessageComplete(HP_HttpServer server, HP_CONNID id) {
  HP_LPTSocketTask task = Create_HP_SocketTaskObj(&Answer, server, id, nullptr, 0, TBT_COPY, 0, 0);
  if (!HP_ThreadPool_Submit_Task(pool, task, INFINITE)) Destroy_HP_SocketTaskObj(task);
  return HPR_OK;
}

}  // namespace

int main(int argc, char** argv) {
  const USHORT port = static_cast<USHORT>(argc > 1 ? std::atoi(argv[1]) : 0);
  const DWORD workers = static_cast<DWORD>(argc > 2 ? std::atoi(argv[2]) : 0);
  const DWORD pool_threads = static_cast<DWORD>(argc > 3 ? std::atoi(argv[3]) : 0);

  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // inherited by every thread

  pool = Create_HP_ThreadPool();
  if (!HP_ThreadPool_Start(pool, pool_threads, 0, TRP_WAIT_FOR, 0)) {
    std::fprintf(stderr, "pool start failed\n");
    return 1;
  }
  HP_HttpServerListener listener = Create_HP_HttpServerListener();
  HP_Set_FN_HttpServer_OnAccept(listener, OnAccept);
  HP_Set_FN_HttpServer_OnClose(listener, OnClose);
  HP_Set_FN_HttpServer_OnBody(listener, OnBody);
  HP_Set_FN_HttpServer_OnMessageComplete(listener, OnMessageComplete);
  HP_HttpServer server = Create_HP_HttpServer(listener);
  if (workers > 0) HP_Server_SetWorkerThreadCount(server, workers);
  HP_Server_SetMaxConnectionCount(server, 20000);
  if (!HP_Server_Start(server, "127.0.0.1", port)) {
    std::fprintf(stderr, "start failed: %s\n", HP_Server_GetLastErrorDesc(server));
    return 1;
  }
  TCHAR address[64];
  int length = sizeof address;
  USHORT bound = 0;
  HP_Server_GetListenAddress(server, address, &length, &bound);
  std::printf("READY %u\n", bound);
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  Destroy_HP_HttpServer(server);
  HP_ThreadPool_Stop(pool, INFINITE);
  Destroy_HP_ThreadPool(pool);
  Destroy_HP_HttpServerListener(listener);
  return 0;
}
