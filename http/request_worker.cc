#include "http/request_worker.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "app/output.h"
#include "http/body_buffer.h"
#include "http/http_service.h"
#include "http/task_pool.h"
#include "runlog/run_log.h"
#include "text/text_slice.h"
#include "text/url_decode.h"

namespace quillmere {
namespace {

constexpr USHORT kStatusOk = 200;

// A copy of what the connection's record holds, which is then freed so the next request on the
// connection starts empty. Empty when the connection has no record (or is gone). Under the
// connection's RecordLock, so OnClose cannot free the record meanwhile.
std::string TakeBody(HttpServerComponent& server, HP_HttpServer sender, HP_CONNID connID) {
  std::lock_guard lock(ProgramHttpService().RecordLock(connID));
  PVOID extra = nullptr;
  if (!server.GetConnectionExtra(sender, connID, extra) || extra == nullptr) return {};
  ConnectionBodyBuffer record;
  record.Attach(static_cast<BodyRecord*>(extra));
  const char* const data = record.AddressAt(0);
  const std::int32_t length = record.Length();
  std::string body;
  if (data != nullptr && length > 0) body.assign(data, static_cast<std::size_t>(length));
  record.Free();
  return body;
}

// The body as text: the bytes before its first zero byte, all of them when there is none.
std::string_view UpToFirstZero(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace

std::span<const HeaderRecord> ReplyHeaders() {
  static const std::array<HeaderRecord, 1> headers = {
      HeaderRecord{"Accept", "text/plain, text/html"}};
  return headers;
}

void RequestWorker(TSocketTask* task) {
  TSocketTask record{};
  if (!TaskPool::CopyTask(task, record)) {
    AppendOutput(kTaskCopyFailedLine);
    return;
  }
  HttpServerComponent& server = ProgramHttpService().component();
  const auto sender = static_cast<HP_HttpServer>(record.sender);
  const HP_CONNID connID = record.connID;

  // Taken whatever the method, so a body that a GET or PUT carries does not reach the next
  // request.
  const std::string body = TakeBody(server, sender, connID);
  if (server.IsUpgrade(sender, connID)) return;  // the connection now carries raw data

  const std::string method = server.GetMethod(sender, connID);
  const std::string path = server.GetUrlField(sender, connID, HUF_PATH);

  if (method == "HEAD") {
    const bool keepAlive = server.IsKeepAlive(sender, connID);
    server.SendResponse(sender, connID, kStatusOk, std::nullopt, ReplyHeaders());
    if (!keepAlive) server.Release(sender, connID);
    return;
  }

  std::string message;
  if (method == "GET") {
    // The whole path is decoded before it is cut, so %2F separates too.
    message = TextAfterLast(UrlDecode(path, DecodeAs::kUtf8ToGbk), "/");
    AppendRunLog(message);
  } else if (method == "POST") {
    message = UrlDecode(UpToFirstZero(body), DecodeAs::kUtf8ToGbk);
  }
  AppendOutput(message);
  // Read before answering: once answered, the engine goes on parsing the connection's next
  // request, and the flag would then describe that one.
  const bool keepAlive = server.IsKeepAlive(sender, connID);
  server.SendResponse(sender, connID, kStatusOk, std::nullopt, ReplyHeaders(), message);
  if (!keepAlive) server.Release(sender, connID);
}

}  // namespace quillmere
