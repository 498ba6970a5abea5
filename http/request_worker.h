// RequestWorker: answers one complete HTTP request on a task pool thread.
//
// A message arrives as the last segment of a GET path or as a POST body, percent-encoded UTF-8.
// The worker decodes it to GBK, shows it as an output line, appends GET messages to the run log
// and answers 200 with the message as the body:
//
//   request       output line                   run log        answer
//   HEAD          none                          none           200, no body
//   GET           decoded text after last "/"   one line       200, that text
//   POST          decoded body up to a 0 byte   none           200, that text
//   other method  empty line                    none           200, empty body
//   upgrade       none                          none           none (the connection goes raw)
//
// Every answer carries ReplyHeaders. A request that does not keep its connection alive is
// answered and then its connection is released.
#ifndef QUILLMERE_HTTP_REQUEST_WORKER_H
#define QUILLMERE_HTTP_REQUEST_WORKER_H

#include <span>
#include <string_view>

#include "hpsocket/HPSocket4C.h"
#include "http/responses.h"

namespace quillmere {

/// The line shown when the task record cannot be copied: 转换任务对象失败 as GBK bytes.
inline constexpr std::string_view kTaskCopyFailedLine =
    "\xD7\xAA\xBB\xBB\xC8\xCE\xCE\xF1\xB6\xD4\xCF\xF3\xCA\xA7\xB0\xDC";

/// The headers of every answer: the one header Accept: text/plain, text/html.
std::span<const HeaderRecord> ReplyHeaders();

/// The task procedure for one complete request, run on a pool thread with the pool's socket task
/// (only its sender and connection ID are used). Takes the body out of the connection's record,
/// leaving it empty for the next request, then answers as the table above says. The keep-alive
/// decision is read before the answer, since once answered the engine moves on to the
/// connection's next request. A null task shows kTaskCopyFailedLine and does nothing else.
/// Blocks for a GET's run-log append (the network clock's request). Pool threads; safe to run
/// for several connections at once.
void RequestWorker(TSocketTask* task);

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_REQUEST_WORKER_H
