#include "web/web_request.h"

#include <algorithm>
#include <optional>

#include "text/text_rules.h"
#include "text/text_slice.h"
#include "web/header_cookie.h"

namespace quillmere {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

RequestMethod InRange(RequestMethod method) {
  int code = static_cast<int>(method);
  return code < 0 || code > 7 ? RequestMethod::kGet : method;
}

// Appends "\r\n" + `line` to `headers` when it does not contain `presence` anywhere, ignoring
// ASCII case.
void AddDefault(std::string& headers, std::string_view presence, std::string_view line) {
  if (ContainsText(headers, presence, Case::kIgnoreAscii)) return;
  headers += kCrLf;
  headers += line;
}

void CompleteHeaders(std::string& headers, std::string_view url, RequestMethod method) {
  AddDefault(headers, "Accept:", "Accept: */*");
  AddDefault(headers, "Referer:", "Referer: " + std::string(url));
  AddDefault(headers, "Accept-Language:", "Accept-Language: zh-cn");
  AddDefault(headers, "User-Agent:", "User-Agent: " + std::string(kDefaultUserAgent));
  if (method == RequestMethod::kPost) {
    AddDefault(headers, "Content-Type:", "Content-Type: " + std::string(kFormContentType));
  }
}

void ApplyLine(HttpRequestObject& request, std::string_view line) {
  request.SetRequestHeader(HeaderName(line), HeaderValue(line));
}

void ApplyHeaderLines(HttpRequestObject& request, std::string_view headers) {
  if (!ContainsText(headers, kCrLf)) {
    ApplyLine(request, headers);
    return;
  }
  for (const std::string& piece : SplitText(headers, kCrLf)) {
    if (piece.empty()) continue;
    // The object keeps connections alive by itself; the header would only repeat that.
    if (HeaderName(piece) == "Connection" && HeaderValue(piece) == "keep-alive") continue;
    ApplyLine(request, piece);
  }
}

std::string ProxyCredentials(std::string_view user, std::string_view password) {
  std::string joined(user);
  joined += ':';
  joined += password;
  return "Basic " + Base64Encode(joined);
}

}  // namespace

std::string_view VerbOf(RequestMethod method) {
  switch (InRange(method)) {
    case RequestMethod::kGet:
      return "GET";
    case RequestMethod::kPost:
      return "POST";
    case RequestMethod::kHead:
      return "HEAD";
    case RequestMethod::kPut:
      return "PUT";
    case RequestMethod::kOptions:
      return "OPTIONS";
    case RequestMethod::kDelete:
      return "DELETE";
    case RequestMethod::kTrace:
      return "TRACE";
    case RequestMethod::kConnect:
      return "CONNECT";
  }
  return "GET";
}

std::string CollectResponseCookies(std::string_view responseHeaders) {
  std::string cookies;
  for (const std::string& piece : SplitText(responseHeaders, kCrLf)) {
    if (TextBeforeMarker(piece, ": ") != "Set-Cookie") continue;
    std::string fragment = ContainsText(piece, ";")
                               ? TrimSpaces(TextBetween(piece, "Set-Cookie:", ";"))
                               : TrimSpaces(RemoveAllIgnoringCase(piece, "Set-Cookie:"));
    cookies += fragment;
    cookies += "; ";
  }
  if (cookies.ends_with("; ")) cookies.resize(cookies.size() - 2);
  return cookies;
}

WebResponse WebRequest(std::string_view url, const WebRequestOptions& options) {
  const RequestMethod method = InRange(options.method);

  // The caller's object, or one of our own for this call only.
  std::optional<HttpRequestObject> ownRequest;
  HttpRequestObject* request = options.sharedRequest;
  if (request == nullptr) {
    request = &ownRequest.emplace();
    if (!request->IsValid()) return {};
  }

  if (options.timeoutSeconds != kKeepObjectTimeouts) {
    int seconds = options.timeoutSeconds >= 1 ? std::min(options.timeoutSeconds, kMaxTimeoutSeconds)
                                              : kDefaultTimeoutSeconds;
    int milliseconds = seconds * 1000;
    request->SetTimeouts(milliseconds, milliseconds, milliseconds, milliseconds);
  }

  if (!options.proxyServer.empty()) request->SetProxy(kProxySettingProxy, options.proxyServer);
  request->Open(VerbOf(method), url);
  if (options.noRedirect) request->SetOption(kOptionEnableRedirects, 0);
  request->SetOption(kOptionSslErrorIgnoreFlags, kIgnoreAllCertificateErrors);

  std::string scratchHeaders;
  std::string& headers = options.extraHeaders != nullptr ? *options.extraHeaders : scratchHeaders;
  if (options.completeHeaders) CompleteHeaders(headers, url, method);
  if (options.normalizeHeaders) headers = NormalizeHeaderNames(headers);

  if (!options.proxyServer.empty() && !options.proxyUser.empty() &&
      options.proxyAuthMode == kProxyAuthBasic) {
    request->SetRequestHeader("Proxy-Authorization",
                              ProxyCredentials(options.proxyUser, options.proxyPassword));
  }

  if (std::string* cookies = options.requestCookies) {
    if (!cookies->empty() && ContainsText(*cookies, "Cookie:", Case::kIgnoreAscii)) {
      *cookies = RemoveAllIgnoringCase(*cookies, "Cookie:");
    }
    request->SetRequestHeader("Cookie", *cookies);
  }

  ApplyHeaderLines(*request, headers);

  request->Send(!options.bodyBytes.empty() ? options.bodyBytes : options.bodyText);

  WebResponse response;
  response.body = request->ResponseBody();
  response.headers = request->GetAllResponseHeaders();
  response.statusCode = request->Status();
  response.cookies = CollectResponseCookies(response.headers);
  if (options.mergeCookies && options.requestCookies != nullptr) {
    response.cookies = MergeCookies(*options.requestCookies, response.cookies);
  }
  return response;
}

}  // namespace quillmere
