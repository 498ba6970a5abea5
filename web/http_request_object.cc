#include "web/http_request_object.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

namespace quillmere {
namespace {

CURL* Handle(void* handle) {
  return static_cast<CURL*>(handle);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// True when `text` holds one of `bytes` (a handful; header texts are short, so a plain loop
// beats a search).
bool HasAny(std::string_view text, std::string_view bytes) {
  for (char c : text) {
    for (char b : bytes) {
      if (c == b) return true;
    }
  }
  return false;
}

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

// Appends `line` to `list`; false (list unchanged) when libcurl is out of memory.
bool Append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  (void)list.release();  // `grown` is the same list, now one entry longer
  list.reset(grown);
  return true;
}

// Sets options one after another and remembers the first failure; later sets are skipped.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* handle) : handle_(handle) {}

  template <typename Value>
  void operator()(CURLoption option, Value value) {
    if (!error_.empty()) return;
    CURLcode result = curl_easy_setopt(handle_, option, value);
    if (result != CURLE_OK) {
      error_ =
          "option " + std::to_string(static_cast<int>(option)) + ": " + curl_easy_strerror(result);
    }
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  CURL* handle_;
  std::string error_;
};

long ClampToLong(long long value) {
  return static_cast<long>(std::clamp<long long>(value, 0, 0x7FFFFFFF));
}

// The easy handle kept by a thread between objects that close their connections after each
// request. Such a handle holds no connection, name lookup or TLS session once a request is over,
// so the next object can take it as if it were new. Only its own thread touches it.
class SpareHandle {
 public:
  SpareHandle() = default;
  SpareHandle(const SpareHandle&) = delete;
  SpareHandle& operator=(const SpareHandle&) = delete;
  ~SpareHandle() {
    if (handle_ != nullptr) curl_easy_cleanup(handle_);
  }

  // The spare, or a new handle when there is none; null when libcurl cannot make one.
  CURL* Take() {
    CURL* handle = std::exchange(handle_, nullptr);
    return handle != nullptr ? handle : curl_easy_init();
  }

  // Keeps `handle` as the spare, or frees it when there already is one.
  void Give(CURL* handle) {
    if (handle_ == nullptr) {
      handle_ = handle;
    } else {
      curl_easy_cleanup(handle);
    }
  }

 private:
  CURL* handle_ = nullptr;
};

thread_local SpareHandle spareHandle;

}  // namespace

bool StartWebClient() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] { started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return started;
}

HttpRequestObject::HttpRequestObject(ConnectionUse use) : use_(use) {
  if (!StartWebClient()) return;
  handle_ = use_ == ConnectionUse::kClosedAfterEach ? spareHandle.Take() : curl_easy_init();
}

HttpRequestObject::~HttpRequestObject() {
  if (handle_ == nullptr) return;
  // Every request leaves the handle reset; one that closes its connections holds nothing more.
  if (use_ == ConnectionUse::kClosedAfterEach) {
    spareHandle.Give(Handle(handle_));
  } else {
    curl_easy_cleanup(Handle(handle_));
  }
}

bool HttpRequestObject::Fail(std::string_view why) {
  lastError_ = why;
  return false;
}

bool HttpRequestObject::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  if (!IsValid()) return Fail("no easy handle");
  resolveMs_ = resolveMs;
  connectMs_ = connectMs;
  sendMs_ = sendMs;
  receiveMs_ = receiveMs;
  lastError_.clear();
  return true;
}

bool HttpRequestObject::SetProxy(int setting, std::string_view server) {
  if (!IsValid()) return Fail("no easy handle");
  if (setting == kProxySettingProxy) {
    proxy_ = server;
  } else if (setting == kProxySettingDefault || setting == kProxySettingDirect) {
    proxy_.clear();
  } else {
    return Fail("unknown proxy setting");
  }
  lastError_.clear();
  return true;
}

bool HttpRequestObject::Open(std::string_view verb, std::string_view url) {
  if (!IsValid()) return Fail("no easy handle");
  opened_ = false;
  headers_.clear();
  ClearResponse();
  if (verb.empty() || HasAny(verb, " \t\r\n")) return Fail("bad verb");
  verb_ = verb;
  url_ = url;
  opened_ = true;
  lastError_.clear();
  return true;
}

bool HttpRequestObject::SetOption(int index, int value) {
  if (!IsValid()) return Fail("no easy handle");
  if (index == kOptionEnableRedirects) {
    followRedirects_ = value != 0;
  } else if (index == kOptionSslErrorIgnoreFlags) {
    verifyHost_ = (value & kIgnoreHostNameMismatch) == 0;
    verifyPeer_ = (value & (kIgnoreUnknownAuthority | kIgnoreWrongUsage | kIgnoreInvalidDate)) == 0;
  } else {
    return Fail("unknown option");
  }
  lastError_.clear();
  return true;
}

bool HttpRequestObject::SetRequestHeader(std::string_view name, std::string_view value) {
  if (!opened_) return Fail("no request opened");
  if (name.empty() || HasAny(name, std::string_view(" \t:\r\n\0", 6))) {
    return Fail("bad header name");
  }
  if (HasAny(value, std::string_view("\r\n\0", 3))) return Fail("bad header value");
  auto same = std::find_if(headers_.begin(), headers_.end(), [&](const auto& header) {
    return EqualsIgnoringCase(header.first, name);
  });
  if (same != headers_.end()) {
    same->second = value;
  } else {
    headers_.emplace_back(name, value);
  }
  lastError_.clear();
  return true;
}

void HttpRequestObject::ClearResponse() {
  responseBody_.clear();
  responseHeaders_.clear();
  status_ = 0;
}

bool HttpRequestObject::Send(std::string_view body) {
  ClearResponse();
  if (!IsValid()) return Fail("no easy handle");
  if (!opened_) return Fail("no request opened");
  if (!Perform(body)) {
    ClearResponse();
    return false;
  }
  lastError_.clear();
  return true;
}

bool HttpRequestObject::Perform(std::string_view body) {
  CURL* handle = Handle(handle_);
  // The handle comes new or reset to libcurl's defaults (every way out of here resets it), so
  // only the options of this request are set; its cached connections, if any, stay.

  // Headers: Proxy-Authorization is for the proxy alone, so it never travels on to the server
  // (through a tunnel it would). Headers libcurl adds by itself are suppressed with "Name:"
  // unless the caller set them, so the request holds what the caller asked for.
  Slist serverHeaders;
  Slist proxyHeaders;
  bool hasAccept = false;
  bool hasExpect = false;
  bool hasContentType = false;
  for (const auto& [name, value] : headers_) {
    hasAccept = hasAccept || EqualsIgnoringCase(name, "Accept");
    hasExpect = hasExpect || EqualsIgnoringCase(name, "Expect");
    hasContentType = hasContentType || EqualsIgnoringCase(name, "Content-Type");
    // libcurl reads "Name:" as "remove the header"; "Name;" sends it with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    Slist& list = EqualsIgnoringCase(name, "Proxy-Authorization") ? proxyHeaders : serverHeaders;
    if (!Append(list, line)) return Fail("out of memory");
  }
  if ((!hasAccept && !Append(serverHeaders, "Accept:")) ||
      (!hasExpect && !Append(serverHeaders, "Expect:")) ||
      (!hasContentType && !Append(serverHeaders, "Content-Type:"))) {
    return Fail("out of memory");
  }

  char errorBuffer[CURL_ERROR_SIZE] = {};
  OptionSetter set(handle);
  set(CURLOPT_ERRORBUFFER, errorBuffer);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // HTTP/1.1 only: header names then arrive as the server wrote them, which callers search with
  // case (HTTP/2 would lower-case them).
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_URL, url_.c_str());
  set(CURLOPT_PROXY, proxy_.c_str());  // "" also keeps the environment's proxy variables out
  // Without a proxy there is nothing to bypass, so libcurl need not read no_proxy either.
  if (proxy_.empty()) set(CURLOPT_NOPROXY, "");
  set(CURLOPT_FOLLOWLOCATION, followRedirects_ ? 1L : 0L);
  set(CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  set(CURLOPT_SSL_VERIFYPEER, verifyPeer_ ? 1L : 0L);
  set(CURLOPT_SSL_VERIFYHOST, verifyHost_ ? 2L : 0L);
  if (use_ == ConnectionUse::kClosedAfterEach) {
    // A new connection for the request and for each redirect, closed when its response is in,
    // and no name lookup or TLS session kept for later: the handle is then as good as new.
    set(CURLOPT_FRESH_CONNECT, 1L);
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
  }

  long long connectBudget =
      static_cast<long long>(std::max(resolveMs_, 0)) + std::max(connectMs_, 0);
  set(CURLOPT_CONNECTTIMEOUT_MS, ClampToLong(connectBudget));
  int stallMs = std::max({sendMs_, receiveMs_, 0});
  if (stallMs > 0) {
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, ClampToLong((static_cast<long long>(stallMs) + 999) / 1000));
  }

  const char* bodyData = body.empty() ? "" : body.data();
  if (verb_ == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (body.empty() && verb_ != "POST" && verb_ != "PUT") {
    set(CURLOPT_HTTPGET, 1L);
    if (verb_ != "GET") set(CURLOPT_CUSTOMREQUEST, verb_.c_str());
  } else {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    set(CURLOPT_POSTFIELDS, bodyData);  // not copied: `body` outlives the transfer
    if (verb_ != "POST") set(CURLOPT_CUSTOMREQUEST, verb_.c_str());
  }

  set(CURLOPT_HTTPHEADER, serverHeaders.get());
  set(CURLOPT_PROXYHEADER, proxyHeaders.get());
  set(CURLOPT_WRITEFUNCTION, &HttpRequestObject::OnBodyData);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  set(CURLOPT_HEADERFUNCTION, &HttpRequestObject::OnHeaderLine);
  set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  if (!set.ok()) {
    curl_easy_reset(handle);
    return Fail(set.error());
  }

  CURLcode result = curl_easy_perform(handle);
  long status = 0;
  if (result == CURLE_OK) result = curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  // Nothing may keep pointing at this call's header lists and error buffer.
  curl_easy_reset(handle);
  if (result != CURLE_OK) {
    return Fail(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result));
  }
  status_ = static_cast<int>(status);
  return true;
}

std::size_t HttpRequestObject::OnBodyData(char* data, std::size_t size, std::size_t count,
                                          void* self) {
  auto* object = static_cast<HttpRequestObject*>(self);
  object->responseBody_.append(data, size * count);
  return size * count;
}

std::size_t HttpRequestObject::OnHeaderLine(char* data, std::size_t size, std::size_t count,
                                            void* self) {
  auto* object = static_cast<HttpRequestObject*>(self);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    // A status line starts a response: an interim one (100 Continue), a redirect that is being
    // followed, a proxy's answer to CONNECT, or the final one. Only the final one is kept.
    object->responseHeaders_.clear();
    object->responseBody_.clear();
    return line.size();
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!line.empty()) {
    object->responseHeaders_.append(line);
    object->responseHeaders_.append("\r\n");
  }
  return size * count;
}

}  // namespace quillmere
