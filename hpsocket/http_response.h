// Building the head of an HTTP response: status line, the caller's headers, Content-Length and
// Connection. Plain data in, bytes out; no sockets.
#ifndef QUILLMERE_HPSOCKET_HTTP_RESPONSE_H
#define QUILLMERE_HPSOCKET_HTTP_RESPONSE_H

#include <string>
#include <string_view>

#include "hpsocket/HPSocket4C.h"

namespace quillmere {

/// The standard reason phrase of `status`; "***" for a code the table does not know.
/// Example: StandardReasonPhrase(404) == "Not Found", StandardReasonPhrase(418) == "***".
std::string_view StandardReasonPhrase(int status);

/// What a response head is built from. Texts are the caller's and must outlive the call.
struct ResponseHead {
  USHORT version = HV_1_1;       ///< Status line version, low byte major, high byte minor.
  USHORT status = 200;           ///< Printed as plain decimal.
  const char* reason = nullptr;  ///< Null: StandardReasonPhrase(status). "" is sent as given.
  const HP_THeader* headers = nullptr;
  int header_count = 0;       ///< Entries with a null or empty name are skipped.
  long long body_length = 0;  ///< For the automatic Content-Length.
  bool keep_alive = false;    ///< For the automatic Connection header.
};

/// Appends the head (status line, headers, blank line) to `out`. The caller's headers go out in
/// order; "Content-Length: <body_length>" follows unless the caller gave a Content-Length or a
/// Transfer-Encoding header, then "Connection: keep-alive|close" unless the caller gave a
/// Connection header (names compared ignoring case). Returns false and appends nothing when the
/// reason, a header name or a header value holds CR or LF, or header_count is negative with
/// headers given. Example: {200, reason null, no headers, body 5, keep_alive} gives
/// "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\n".
bool AppendResponseHead(const ResponseHead& head, std::string& out);

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_HTTP_RESPONSE_H
