// Status phrases and the header record that responses are built from.
//
// The response methods themselves (SendResponse, SendLocalFile, SendFile, Release and the release
// delay) belong to HttpServerComponent (http/server_component.h); their bodies live in
// http/responses.cc.
#ifndef QUILLMERE_HTTP_RESPONSES_H
#define QUILLMERE_HTTP_RESPONSES_H

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere {

/// One header line of a response (or one header or cookie of a request): name and value as
/// code page 936 texts. A list of them is sent in its own order.
struct HeaderRecord {
  std::string name;
  std::string value;

  friend bool operator==(const HeaderRecord&, const HeaderRecord&) = default;
};

/// The reason phrase for an HTTP status code, or "***" for a code the table does not know.
/// StatusPhrase(200) == "OK", StatusPhrase(302) == "Move temporarily", StatusPhrase(418) == "***".
/// The view refers to a zero-terminated constant. Pure; safe from any thread.
std::string_view StatusPhrase(std::uint16_t statusCode);

/// Bytes read and sent per step when SendFile streams a file, and the send backlog above which it
/// waits before reading the next step; files below this size go to the engine in one call.
inline constexpr std::int64_t kFileChunkSize = 4 * 1024 * 1024;

/// How SendFile hands a file over: files below kFileChunkSize to the engine's own file sending
/// and larger ones streamed, or every file streamed.
enum class FileStreaming { kWhenLarge, kAlways };

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_RESPONSES_H
