#include "web/web_request.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

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

using HeaderLine = std::pair<std::string, std::string>;  // name, value

void AddLine(std::vector<HeaderLine>& lines, std::string_view line) {
  lines.emplace_back(HeaderName(line), HeaderValue(line));
}

// The lines of `headers` to apply, in order: the whole text as one line when it holds no CR LF;
// otherwise its pieces between CR LF, less the empty ones and "Connection: keep-alive".
std::vector<HeaderLine> LinesOf(std::string_view headers) {
  std::vector<HeaderLine> lines;
  if (!ContainsText(headers, kCrLf)) {
    AddLine(lines, headers);
    return lines;
  }
  for (const std::string& piece : SplitText(headers, kCrLf)) {
    if (piece.empty()) continue;
    // The object keeps connections alive by itself; the header would only repeat that.
    if (HeaderName(piece) == "Connection" && HeaderValue(piece) == "keep-alive") continue;
    AddLine(lines, piece);
  }
  return lines;
}

// The request headers of a call follow from its URL, its method, the caller's header text and
// the two header switches alone, and working them out (completion, normalisation, splitting)
// costs more than the rest of our side of an exchange. The network clock asks with the same ones
// every time, so each thread keeps its last answer.
struct HeaderPlan {
  // What the answer follows from.
  bool known = false;
  std::string url;
  RequestMethod method = RequestMethod::kGet;
  std::string given;
  bool complete = false;
  bool normalize = false;
  // The answer.
  std::string block;              // the completed and normalised text
  std::vector<HeaderLine> lines;  // what is applied of it, in order
};

const HeaderPlan& PlanHeaders(std::string_view url, RequestMethod method, std::string_view given,
                              bool complete, bool normalize) {
  thread_local HeaderPlan plan;
  if (plan.known && plan.url == url && plan.method == method && plan.given == given &&
      plan.complete == complete && plan.normalize == normalize) {
    return plan;
  }
  plan.known = false;
  std::string block(given);
  if (complete) CompleteHeaders(block, url, method);
  if (normalize) block = NormalizeHeaderNames(block);
  plan.lines = LinesOf(block);
  plan.block = std::move(block);
  plan.url = url;
  plan.method = method;
  plan.given = given;
  plan.complete = complete;
  plan.normalize = normalize;
  plan.known = true;
  return plan;
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
  // Only a line that starts with these bytes counts; most responses hold none.
  if (responseHeaders.find("Set-Cookie") == std::string_view::npos) return cookies;
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
    request = &ownRequest.emplace(ConnectionUse::kClosedAfterEach);
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

  const std::string_view given = options.extraHeaders != nullptr
                                     ? std::string_view(*options.extraHeaders)
                                     : std::string_view();
  const HeaderPlan& plan =
      PlanHeaders(url, method, given, options.completeHeaders, options.normalizeHeaders);
  if (options.extraHeaders != nullptr) *options.extraHeaders = plan.block;

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

  for (const auto& [name, value] : plan.lines) request->SetRequestHeader(name, value);

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
