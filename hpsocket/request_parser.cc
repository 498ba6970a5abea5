#include "hpsocket/request_parser.h"

#include <climits>
#include <mutex>

namespace quillmere {
namespace {

RequestParser* Self(http_parser* p) {
  return static_cast<RequestParser*>(p->data);
}

}  // namespace

RequestParser::RequestParser(HttpRequest& request, RequestEvents& events)
    : request_(request), events_(events) {
  static std::once_flag limit_once;
  std::call_once(limit_once, [] { http_parser_set_max_header_size(kMaxHeaderBytes); });
  http_parser_init(&parser_, HTTP_REQUEST);
  parser_.data = this;
}

const char* RequestParser::error_description() const {
  return http_errno_description(static_cast<http_errno>(error_));
}

RequestParser::Result RequestParser::Feed(const char* data, size_t size) {
  if (closed_) {
    // Debian's http-parser may be built lenient and would read on; a connection whose last
    // request was not keep-alive takes nothing more but line ends.
    for (size_t i = 0; i < size; ++i) {
      if (data[i] != '\r' && data[i] != '\n') {
        error_ = HPE_CLOSED_CONNECTION;
        return {i, Outcome::kError};
      }
    }
    return {size, Outcome::kNeedMore};
  }
  if (HTTP_PARSER_ERRNO(&parser_) == HPE_PAUSED) http_parser_pause(&parser_, 0);

  const size_t consumed = http_parser_execute(&parser_, &Settings(), data, size);
  const int err = HTTP_PARSER_ERRNO(&parser_);
  if (err == HPE_PAUSED) {
    closed_ = !request_.keep_alive();
    return {consumed, Outcome::kMessageComplete};
  }
  if (err != HPE_OK) {
    error_ = forced_error_ != HPE_OK ? forced_error_ : err;
    return {consumed, Outcome::kError};
  }
  if (parser_.upgrade) return {consumed, Outcome::kUpgrade};
  return {consumed, Outcome::kNeedMore};
}

int RequestParser::FinishRequestLine() {
  if (request_line_done_) return 0;
  request_line_done_ = true;
  if (!request_.SplitUrl(parser_.method == HTTP_CONNECT)) {
    forced_error_ = HPE_INVALID_URL;
    return -1;
  }
  return events_.OnRequestLine(request_.method(), request_.url());
}

int RequestParser::CommitHeader() {
  if (!in_value_ && name_.empty()) return 0;
  const HP_THeader& h = request_.AddHeader(name_, value_);
  name_.clear();
  value_.clear();
  in_value_ = false;
  return events_.OnHeader(h.name, h.value);
}

int RequestParser::OnMessageBeginThunk(http_parser* p) {
  RequestParser* self = Self(p);
  self->request_.Reset();
  self->name_.clear();
  self->value_.clear();
  self->in_value_ = false;
  self->request_line_done_ = false;
  return self->events_.OnMessageBegin();
}

int RequestParser::OnUrlThunk(http_parser* p, const char* at, size_t size) {
  RequestParser* self = Self(p);
  self->request_.SetMethod(http_method_str(static_cast<http_method>(p->method)));
  self->request_.AppendUrl({at, size});
  return 0;
}

int RequestParser::OnHeaderFieldThunk(http_parser* p, const char* at, size_t size) {
  RequestParser* self = Self(p);
  if (int r = self->FinishRequestLine()) return r;
  if (self->in_value_) {
    if (int r = self->CommitHeader()) return r;
  }
  self->name_.append(at, size);
  return 0;
}

int RequestParser::OnHeaderValueThunk(http_parser* p, const char* at, size_t size) {
  RequestParser* self = Self(p);
  self->in_value_ = true;
  self->value_.append(at, size);
  return 0;
}

int RequestParser::OnHeadersCompleteThunk(http_parser* p) {
  RequestParser* self = Self(p);
  if (int r = self->FinishRequestLine()) return r;
  if (int r = self->CommitHeader()) return r;
  HttpRequest& request = self->request_;

  En_HP_HttpUpgradeType type = HUT_NONE;
  if (p->upgrade) {
    if (p->method == HTTP_CONNECT) {
      type = HUT_HTTP_TUNNEL;
    } else if (const char* up = request.FindHeader("Upgrade");
               up && EqualsIgnoreCase(up, "WebSocket")) {
      type = HUT_WEB_SOCKET;
    } else {
      type = HUT_UNKNOWN;
    }
  }
  const bool has_length = (p->flags & F_CONTENTLENGTH) && p->content_length != ULLONG_MAX;
  request.SetDecisions(static_cast<USHORT>((p->http_major & 0xFF) | ((p->http_minor & 0xFF) << 8)),
                       http_should_keep_alive(p) != 0, p->upgrade != 0, type,
                       has_length ? p->content_length : 0);
  request.ParseCookies();

  const int result = self->events_.OnHeadersComplete();
  if (result == HPR_UPGRADE) request.SetUpgrade();
  return result;
}

int RequestParser::OnBodyThunk(http_parser* p, const char* at, size_t size) {
  return Self(p)->events_.OnBody(at, size);
}

int RequestParser::OnChunkHeaderThunk(http_parser* p) {
  const uint64_t size = p->content_length;
  return Self(p)->events_.OnChunkHeader(size > INT_MAX ? INT_MAX : static_cast<int>(size));
}

int RequestParser::OnChunkCompleteThunk(http_parser* p) {
  RequestParser* self = Self(p);
  if (int r = self->CommitHeader()) return r;  // the last trailer line
  return self->events_.OnChunkComplete();
}

int RequestParser::OnMessageCompleteThunk(http_parser* p) {
  RequestParser* self = Self(p);
  if (int r = self->CommitHeader()) return r;
  if (int r = self->events_.OnMessageComplete()) return r;
  // One request at a time: stop here; the next Feed resumes after this request.
  if (!p->upgrade) http_parser_pause(p, 1);
  return 0;
}

const http_parser_settings& RequestParser::Settings() {
  static const http_parser_settings settings = [] {
    http_parser_settings s;
    http_parser_settings_init(&s);
    s.on_message_begin = &OnMessageBeginThunk;
    s.on_url = &OnUrlThunk;
    s.on_header_field = &OnHeaderFieldThunk;
    s.on_header_value = &OnHeaderValueThunk;
    s.on_headers_complete = &OnHeadersCompleteThunk;
    s.on_body = &OnBodyThunk;
    s.on_chunk_header = &OnChunkHeaderThunk;
    s.on_chunk_complete = &OnChunkCompleteThunk;
    s.on_message_complete = &OnMessageCompleteThunk;
    return s;
  }();
  return settings;
}

}  // namespace quillmere
