// Glue between http-parser and one connection: feeds bytes, keeps the request's data in an
// HttpRequest and reports each parse event through RequestEvents. Works on plain bytes, so it is
// tested with strings.
#ifndef QUILLMERE_HPSOCKET_REQUEST_PARSER_H
#define QUILLMERE_HPSOCKET_REQUEST_PARSER_H

#include <http_parser.h>

#include <cstddef>
#include <string>

#include "hpsocket/HPSocket4C.h"
#include "hpsocket/http_request.h"

namespace quillmere {

/// Largest request line plus headers; more is HPE_HEADER_OVERFLOW.
inline constexpr uint32_t kMaxHeaderBytes = 80 * 1024;

/// The parse events of one connection. Each returns an En_HP_HttpParseResult value that goes
/// back to http-parser: any non-zero value stops parsing with an error, except that
/// OnHeadersComplete may return HPR_SKIP_BODY or HPR_UPGRADE.
class RequestEvents {
 public:
  virtual int OnMessageBegin() = 0;
  virtual int OnRequestLine(const char* method, const char* url) = 0;
  virtual int OnHeader(const char* name, const char* value) = 0;
  virtual int OnHeadersComplete() = 0;
  virtual int OnBody(const char* data, size_t size) = 0;
  virtual int OnChunkHeader(int size) = 0;
  virtual int OnChunkComplete() = 0;
  virtual int OnMessageComplete() = 0;

 protected:
  ~RequestEvents() = default;
};

/// Parses a stream of requests. Threads: one connection's strand only.
class RequestParser {
 public:
  /// Why Feed returned.
  enum class Outcome {
    kNeedMore,         ///< All bytes consumed, the current request is incomplete or none began.
    kMessageComplete,  ///< A request ended; the next Feed continues after it.
    kUpgrade,          ///< An upgrade request ended; the rest of the stream is another protocol.
    kError,            ///< A parse error (error()); the stream cannot go on.
  };
  struct Result {
    size_t consumed;
    Outcome outcome;
  };

  RequestParser(HttpRequest& request, RequestEvents& events);
  RequestParser(const RequestParser&) = delete;
  RequestParser& operator=(const RequestParser&) = delete;

  /// Parses up to `size` bytes; stops after each complete request. After a request that is not
  /// keep-alive any further byte other than CR or LF is HPE_CLOSED_CONNECTION.
  Result Feed(const char* data, size_t size);

  /// http-parser errno of the last error (HPE_OK when none) and its description.
  int error() const { return error_; }
  const char* error_description() const;

 private:
  static int OnMessageBeginThunk(http_parser* p);
  static int OnUrlThunk(http_parser* p, const char* at, size_t size);
  static int OnHeaderFieldThunk(http_parser* p, const char* at, size_t size);
  static int OnHeaderValueThunk(http_parser* p, const char* at, size_t size);
  static int OnHeadersCompleteThunk(http_parser* p);
  static int OnBodyThunk(http_parser* p, const char* at, size_t size);
  static int OnChunkHeaderThunk(http_parser* p);
  static int OnChunkCompleteThunk(http_parser* p);
  static int OnMessageCompleteThunk(http_parser* p);

  static const http_parser_settings& Settings();
  int FinishRequestLine();
  int CommitHeader();

  http_parser parser_;
  HttpRequest& request_;
  RequestEvents& events_;
  std::string name_;   // header name being received
  std::string value_;  // header value being received
  bool in_value_ = false;
  bool request_line_done_ = false;
  bool closed_ = false;  // a request that is not keep-alive has ended
  int forced_error_ = HPE_OK;
  int error_ = HPE_OK;
};

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_REQUEST_PARSER_H
