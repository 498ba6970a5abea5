// A synchronous HTTP request object over one libcurl easy handle: open a request, set headers,
// send it, read the status, the final response's headers and its body. The object keeps its
// timeouts, proxy and options from one request to the next, so one object can serve a series of
// requests (and reuses its connections meanwhile, unless made to close each one).
//
// Failures are quiet: a call that fails yields false, 0, an empty text or empty bytes, and
// LastError() says why. Texts and bytes are both byte strings here; nothing is converted.
//
// Thread contract: an object belongs to one thread at a time. Never use one object from two
// threads at once; callers that hand an object between threads must serialise its use.
// Separate objects may run on any number of threads at once. An object made with
// ConnectionUse::kClosedAfterEach borrows its libcurl handle from a spare kept by the thread
// that makes it and, when destroyed, leaves the handle as the spare of the thread that destroys
// it; a spare belongs to its thread alone, so no easy handle is ever used by two threads at once.
#ifndef QUILLMERE_WEB_HTTP_REQUEST_OBJECT_H
#define QUILLMERE_WEB_HTTP_REQUEST_OBJECT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmere {

/// A counted byte sequence; may hold zero bytes. The empty value is a valid array.
using Bytes = std::string;

/// Proxy setting of SetProxy: go through the named proxy server.
inline constexpr int kProxySettingProxy = 2;
/// Proxy settings of SetProxy that connect directly (0 keeps the default, 1 asks for direct).
inline constexpr int kProxySettingDefault = 0;
inline constexpr int kProxySettingDirect = 1;

/// SetOption index: which certificate errors to ignore (a mask of the kIgnore* flags).
inline constexpr int kOptionSslErrorIgnoreFlags = 4;
/// SetOption index: follow redirects (non-zero, the default) or not (0).
inline constexpr int kOptionEnableRedirects = 6;

/// Certificate error flags of kOptionSslErrorIgnoreFlags.
inline constexpr int kIgnoreUnknownAuthority = 0x0100;
inline constexpr int kIgnoreWrongUsage = 0x0200;
inline constexpr int kIgnoreHostNameMismatch = 0x1000;
inline constexpr int kIgnoreInvalidDate = 0x2000;
inline constexpr int kIgnoreAllCertificateErrors = 0x3300;

/// Redirects followed at most per request while redirects are enabled.
inline constexpr int kMaxRedirects = 10;

/// Initialises libcurl for the whole program. The application calls it once at start-up, before
/// any thread makes requests; later calls (and the ones every constructor makes) do nothing.
/// Safe from any thread. Returns false when libcurl could not be initialised.
bool StartWebClient();

/// What an object does with a connection once a response is in.
enum class ConnectionUse {
  /// Keeps it open for the object's later requests to the same server; it closes when the
  /// object goes.
  kKeptForLaterRequests,
  /// Closes it at once: each request, and each redirect it follows, goes out on a new
  /// connection, and nothing (connection, name lookup, TLS session) outlives the request. Such
  /// an object reuses a libcurl handle of its thread rather than making one, which saves libcurl's
  /// set-up (its inner multi handle, buffers and wake-up socket pair) on every object.
  kClosedAfterEach,
};

/// One HTTP request at a time, synchronously. See the file comment for the thread contract.
///
/// Timeouts. SetTimeouts takes the four phase limits of the request and maps them onto libcurl:
///   resolve + connect -> CURLOPT_CONNECTTIMEOUT_MS (name lookup and TCP connect are one
///                        budget in libcurl, so it is the sum of the two);
///   send, receive     -> a stall limit: the exchange gives up when, for max(send, receive)
///                        (rounded up to whole seconds), less than one byte per second moved
///                        (CURLOPT_LOW_SPEED_LIMIT 1, CURLOPT_LOW_SPEED_TIME). Like a per-call
///                        send or receive timeout, it limits silence, not the length of a long
///                        but steady transfer.
/// A value of 0 or less puts no limit on its phase (libcurl keeps its own 300-second limit on
/// connecting). A new object starts with resolve 0 (no
/// limit), connect 60000, send 30000 and receive 30000 milliseconds.
class HttpRequestObject {
 public:
  /// Makes the easy handle (or, for kClosedAfterEach, takes the thread's spare); IsValid() tells
  /// whether that worked.
  explicit HttpRequestObject(ConnectionUse use = ConnectionUse::kKeptForLaterRequests);
  ~HttpRequestObject();
  HttpRequestObject(const HttpRequestObject&) = delete;
  HttpRequestObject& operator=(const HttpRequestObject&) = delete;

  /// False when no easy handle could be made; every other call then fails.
  bool IsValid() const { return handle_ != nullptr; }

  /// Sets the four phase limits in milliseconds (mapping in the class comment). Kept until
  /// changed.
  bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);

  /// kProxySettingProxy sends the requests through `server` ("host:port", optionally with a
  /// scheme); kProxySettingDefault or kProxySettingDirect connect directly, as does an empty
  /// server. Proxy variables of the environment are never used. Other settings give false.
  /// Kept until changed.
  bool SetProxy(int setting, std::string_view server);

  /// Starts a new request: forgets the headers set for the previous one and its response, and
  /// remembers `verb` (e.g. "GET", "HEAD") and `url` (http or https only). The request runs when
  /// Send is called. False for an empty verb or one holding a space, CR or LF.
  bool Open(std::string_view verb, std::string_view url);

  /// kOptionEnableRedirects: 0 stops following redirects, any other value follows them (at most
  /// kMaxRedirects). kOptionSslErrorIgnoreFlags: kIgnoreHostNameMismatch turns host name
  /// verification off; kIgnoreUnknownAuthority, kIgnoreWrongUsage or kIgnoreInvalidDate turn
  /// certificate verification off (libcurl cannot tell those apart). Other indexes give false.
  /// Kept until changed, also across Open.
  bool SetOption(int index, int value);

  /// Adds a header to the opened request. A name set again (compared ignoring ASCII case) takes
  /// the new value in its first place. An empty value sends "Name:" with nothing after it.
  /// Refused (false): no open request, an empty name, a name with a space, tab, colon, CR or LF,
  /// a value with CR or LF. "Proxy-Authorization" goes to the proxy only, never to the server.
  bool SetRequestHeader(std::string_view name, std::string_view value);

  /// Performs the opened request with `body` (a text or a byte array: its bytes are sent as they
  /// are; none for an empty body, except that POST and PUT then send "Content-Length: 0"; a HEAD
  /// request sends no body). Returns when the whole final response is in or the exchange failed.
  /// The request carries the headers set, Host, and what the body needs (Content-Length); libcurl's
  /// own Accept, Expect and Content-Type headers are suppressed. False when the exchange failed;
  /// the response is then empty and the status 0.
  bool Send(std::string_view body = {});

  /// The body of the last response; empty after a failure or before any.
  const Bytes& ResponseBody() const { return responseBody_; }

  /// The header lines of the last (final, after redirects) response, each "Name: value" as the
  /// server wrote it and CR LF; no status line, no blank line. Empty after a failure.
  const std::string& GetAllResponseHeaders() const { return responseHeaders_; }

  /// The status code of the last response; 0 after a failure or before any.
  int Status() const { return status_; }

  /// Why the last call failed, for diagnostics; empty after a success.
  const std::string& LastError() const { return lastError_; }

 private:
  bool Fail(std::string_view why);
  bool Perform(std::string_view body);
  void ClearResponse();
  static std::size_t OnBodyData(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self);

  void* handle_ = nullptr;  // CURL*, owned
  ConnectionUse use_;

  // Settings kept across requests.
  int resolveMs_ = 0;
  int connectMs_ = 60000;
  int sendMs_ = 30000;
  int receiveMs_ = 30000;
  std::string proxy_;  // empty: connect directly
  bool followRedirects_ = true;
  bool verifyPeer_ = true;
  bool verifyHost_ = true;

  // The opened request.
  bool opened_ = false;
  std::string verb_;
  std::string url_;
  std::vector<std::pair<std::string, std::string>> headers_;  // in the order first set

  // The last response.
  Bytes responseBody_;
  std::string responseHeaders_;
  int status_ = 0;
  std::string lastError_;
};

}  // namespace quillmere

#endif  // QUILLMERE_WEB_HTTP_REQUEST_OBJECT_H
