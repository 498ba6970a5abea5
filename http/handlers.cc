#include "http/handlers.h"

#include <cstdint>
#include <mutex>

#include "app/output.h"
#include "http/body_buffer.h"
#include "http/http_service.h"
#include "http/request_worker.h"

namespace quillmere {
namespace {

// The most body bytes one request may bring. A message is a line of text; without a limit a
// client could make the program hold as much memory as it cares to send.
constexpr std::int64_t kMaxBodyBytes = std::int64_t{64} << 20;  // 64 MiB

// Disconnect's force flag: close now rather than after the queued data has gone out.
constexpr bool kCloseAtOnce = true;

// " > [http,#7,<event>]": the start of every line a handler shows. The connection ID is written
// in full (the engine's IDs count up from 1 and are never reused).
std::string EventLine(HP_HttpServer sender, HP_CONNID connID, std::string_view event) {
  std::string line = " > [";
  line += SchemeOf(sender);
  line += ",#";
  line += std::to_string(connID);
  line += ',';
  line += event;
  line += ']';
  return line;
}

}  // namespace

std::string_view SchemeOf(HP_HttpServer sender) {
  return sender == ProgramHttpService().ServerHandle() ? "http" : "https";
}

En_HP_HandleResult OnAccept(HP_HttpServer sender, HP_CONNID connID, UINT_PTR /*socket*/) {
  ConnectionBodyBuffer record;
  record.Create();
  if (!ProgramHttpService().component().SetConnectionExtra(sender, connID, record.Handle())) {
    record.Destroy();  // not stored, so nothing would ever free it
  }
  return HR_OK;
}

En_HP_HandleResult OnReceive(HP_HttpServer sender, HP_CONNID connID, const BYTE* data, int length) {
  std::string line = EventLine(sender, connID, "OnReceive");
  line += " ->(";
  line += std::to_string(length);
  line += "bytes)";
  AppendOutput(line);
  return ProgramHttpService().component().Send(sender, connID, data, length) ? HR_OK : HR_ERROR;
}

En_HP_HttpParseResult OnHeadersComplete(HP_HttpServer /*sender*/, HP_CONNID /*connID*/) {
  return HPR_OK;
}

En_HP_HttpParseResult OnBody(HP_HttpServer sender, HP_CONNID connID, const BYTE* data, int length) {
  // No lock: the engine parses nothing of the next request before the worker has answered this
  // one, and the worker takes the body before it answers.
  PVOID extra = nullptr;
  if (ProgramHttpService().component().GetConnectionExtra(sender, connID, extra) &&
      extra != nullptr) {
    ConnectionBodyBuffer record;
    record.Attach(static_cast<BodyRecord*>(extra));
    if (std::int64_t{record.Length()} + length > kMaxBodyBytes) {
      return HPR_ERROR;  // the engine reports a parse error and closes the connection
    }
    record.Append(data, length);
  }
  return HPR_OK;
}

En_HP_HttpParseResult OnMessageComplete(HP_HttpServer sender, HP_CONNID connID) {
  HttpService& service = ProgramHttpService();
  if (!service.pool().SubmitTask(&RequestWorker, sender, connID)) {
    service.component().Disconnect(sender, connID, kCloseAtOnce);
  }
  return HPR_OK;
}

En_HP_HttpParseResult OnParseError(HP_HttpServer sender, HP_CONNID connID, int /*errorCode*/,
                                   LPCSTR /*description*/) {
  AppendOutput(EventLine(sender, connID, "OnParseError"));
  return HPR_OK;
}

En_HP_HandleResult OnClose(HP_HttpServer sender, HP_CONNID connID,
                           En_HP_SocketOperation /*operation*/, int /*errorCode*/) {
  HttpService& service = ProgramHttpService();
  std::lock_guard lock(service.RecordLock(connID));
  PVOID extra = nullptr;
  if (service.component().GetConnectionExtra(sender, connID, extra) && extra != nullptr) {
    service.component().SetConnectionExtra(sender, connID, nullptr);
    ConnectionBodyBuffer record;
    record.Attach(static_cast<BodyRecord*>(extra));
    record.Destroy();
  }
  return HR_OK;
}

void InstallHttpEventHandlers(HttpServerComponent& component) {
  component.SetOnAccept(&OnAccept);
  component.SetOnReceive(&OnReceive);
  component.SetOnHeadersComplete(&OnHeadersComplete);
  component.SetOnBody(&OnBody);
  component.SetOnMessageComplete(&OnMessageComplete);
  component.SetOnParseError(&OnParseError);
  component.SetOnClose(&OnClose);
}

void CreateAndStartTaskPool(TaskPool& pool) {
  pool.Create();
  pool.Start(/*threadCount=*/0, /*maxQueueSize=*/0, TRP_WAIT_FOR, /*stackSize=*/0);
}

}  // namespace quillmere
