// One complete HTTP exchange: method, text or byte body, extra request headers completed with
// common defaults, cookies sent, collected and merged, a proxy with Basic credentials, timeouts,
// redirects on or off, and the reuse of a caller's request object.
//
// Texts are code page 936 byte strings and go on the wire as they are. Nothing is reported:
// a failed exchange gives an empty body, empty headers and status 0.
#ifndef QUILLMERE_WEB_WEB_REQUEST_H
#define QUILLMERE_WEB_WEB_REQUEST_H

#include <string>
#include <string_view>

#include "web/http_request_object.h"

namespace quillmere {

/// Method codes. A code outside 0..7 counts as kGet (static_cast any int to this type).
enum class RequestMethod : int {
  kGet = 0,
  kPost = 1,
  kHead = 2,
  kPut = 3,
  kOptions = 4,
  kDelete = 5,
  kTrace = 6,
  kConnect = 7,
};

/// The verb of a method code: "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE",
/// "CONNECT"; "GET" for a code outside 0..7.
std::string_view VerbOf(RequestMethod method);

/// timeoutSeconds: leave the request object's own timeouts as they are.
inline constexpr int kKeepObjectTimeouts = -1;
/// timeoutSeconds: the value used for every phase when 0 or below (other than -1) is given.
inline constexpr int kDefaultTimeoutSeconds = 15;
/// timeoutSeconds above this are taken as this (the milliseconds must fit 32 bits).
inline constexpr int kMaxTimeoutSeconds = 2147483;
/// proxyAuthMode: send Basic proxy credentials. Any other mode sends none.
inline constexpr int kProxyAuthBasic = 1;

/// Everything WebRequest takes besides the URL. Each member's default is what applies when the
/// caller leaves it out. The views and pointees must outlive the call.
struct WebRequestOptions {
  RequestMethod method = RequestMethod::kGet;
  /// Body sent when bodyBytes is empty.
  std::string_view bodyText{};
  /// In/out. Null: no cookies are sent and nothing is merged. Given (even empty): "Cookie:"
  /// markers are removed from it (ignoring case), it is sent as the Cookie header, and after the
  /// exchange it holds the merged cookies when mergeCookies is set.
  std::string* requestCookies = nullptr;
  /// In/out. Header lines ("Name: value") joined by CR LF; null is an empty block. On return it
  /// holds the block as completed and normalised and then applied.
  std::string* extraHeaders = nullptr;
  /// True: redirects are not followed (the object then keeps that setting).
  bool noRedirect = false;
  /// Body sent instead of bodyText when not empty.
  std::string_view bodyBytes{};
  /// "host:port" of a proxy server; empty: no proxy is set (the object's own setting stands).
  std::string_view proxyServer{};
  /// 1 and above: every phase limit in seconds; kKeepObjectTimeouts: the object's own; any
  /// other value: kDefaultTimeoutSeconds.
  int timeoutSeconds = 0;
  std::string_view proxyUser{};
  std::string_view proxyPassword{};
  int proxyAuthMode = kProxyAuthBasic;
  /// A request object of the caller's to use instead of a new one; it keeps every setting the
  /// call makes (timeouts, proxy, redirects) and the response. Null: a new object for this call
  /// (ConnectionUse::kClosedAfterEach), so the exchange and each redirect it follows go out on a
  /// new connection, closed before the call returns, and nothing carries over to later calls.
  HttpRequestObject* sharedRequest = nullptr;
  /// Merge the collected cookies with requestCookies (when that is given).
  bool mergeCookies = true;
  /// Append the default request headers that extraHeaders lacks.
  bool completeHeaders = true;
  /// Rewrite the header names with NormalizeHeaderNames before applying them.
  bool normalizeHeaders = true;
};

/// What WebRequest hands back. All empty (status 0) after a failed exchange.
struct WebResponse {
  Bytes body;
  /// The final response's header lines, each "Name: value" and CR LF, no status line.
  std::string headers;
  int statusCode = 0;
  /// The first name=value pair of each Set-Cookie header joined by "; ", merged with
  /// requestCookies when that applies.
  std::string cookies;
};

/// Performs one exchange with `url` and blocks until it is over. Default request headers, each
/// appended (after CR LF) when extraHeaders does not contain its name and colon anywhere,
/// ignoring case: "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
/// "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", and for POST only
/// "Content-Type: application/x-www-form-urlencoded". A line "Connection: keep-alive" of a
/// multi-line block is not applied. A line without a header name (no colon, or nothing before
/// it) is handed to the request object, which refuses it, so it is never sent. A header name
/// applied twice keeps the last value (see HttpRequestObject::SetRequestHeader).
/// When no request object can be made, returns an empty response and leaves requestCookies and
/// extraHeaders as they were. Safe on any number of threads at once; a sharedRequest must not be
/// in use by another thread meanwhile.
/// WebRequest("http://host/", {.method = RequestMethod::kHead}).headers holds "Date: ...\r\n".
WebResponse WebRequest(std::string_view url, const WebRequestOptions& options = {});

/// The cookies that a response header block sets: for each line whose text before ": " is
/// exactly "Set-Cookie", the part between "Set-Cookie:" and the first ";" (or the whole line
/// without "Set-Cookie:" when it has no ";"), trimmed; joined by "; ".
/// "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\nset-cookie: c=3\r\n" gives "a=1; b=2".
std::string CollectResponseCookies(std::string_view responseHeaders);

}  // namespace quillmere

#endif  // QUILLMERE_WEB_WEB_REQUEST_H
