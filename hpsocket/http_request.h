// What the engine keeps of one HTTP request for the request getters: method, version, URL fields,
// headers, cookies and the keep-alive and upgrade decisions. Plain data; no sockets, no parser.
#ifndef QUILLMERE_HPSOCKET_HTTP_REQUEST_H
#define QUILLMERE_HPSOCKET_HTTP_REQUEST_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hpsocket/HPSocket4C.h"

namespace quillmere {

/// Zero-terminated copies of texts whose addresses stay valid until Clear. Keeps its first block
/// across Clear so that a connection's requests reuse it.
class TextStore {
 public:
  /// A stable zero-terminated copy of `text`.
  const char* Add(std::string_view text);
  /// Forgets every copy (their addresses become invalid); keeps the first block.
  void Clear();

 private:
  static constexpr size_t kFirstBlock = 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t capacity_ = 0;  // of blocks_.back()
  size_t used_ = 0;      // in blocks_.back()
};

/// One connection's current request.
///
/// Threads: written only on the connection's strand while a request is parsed. The texts and
/// lists are read from any thread once OnMessageComplete has fired, because the connection then
/// parses nothing more until the request is answered. The scalar decisions (method, version,
/// keep-alive, upgrade, content length) are atomics, so reading them at any time is safe; they
/// keep their value until the next request's headers replace them.
class HttpRequest {
 public:
  HttpRequest();

  // ---- building (the connection's strand only) ----

  /// Starts a new request: forgets URL, headers and cookies.
  void Reset();
  /// After an upgrade: forgets URL fields, headers and cookies; the decisions stay.
  void ClearTexts();
  /// Appends a piece of the request target as it arrives.
  void AppendUrl(std::string_view piece) { url_.append(piece); }
  /// The raw request target received so far (valid until the next AppendUrl or Reset).
  const char* url() const { return url_.c_str(); }
  /// Splits the request target into URL fields; false when http-parser's splitter rejects it.
  bool SplitUrl(bool is_connect);
  /// The method name (a static text) of the request being parsed.
  void SetMethod(const char* method) { method_.store(method, std::memory_order_relaxed); }
  /// Stores one header line; returns the stored pair (stable until Reset).
  const HP_THeader& AddHeader(std::string_view name, std::string_view value);
  /// Records the decisions taken when the headers are complete.
  void SetDecisions(USHORT version, bool keep_alive, bool upgrade, En_HP_HttpUpgradeType type,
                    ULONGLONG content_length);
  /// Marks the request as upgraded after OnHeadersComplete asked for it (type stays as it was).
  void SetUpgrade() { upgrade_.store(true, std::memory_order_relaxed); }
  /// Splits the Cookie headers into cookies (";"-separated name=value, trimmed, last one wins).
  void ParseCookies();

  // ---- reading ----

  const char* method() const { return method_.load(std::memory_order_relaxed); }
  USHORT version() const { return version_.load(std::memory_order_relaxed); }
  bool keep_alive() const { return keep_alive_.load(std::memory_order_relaxed); }
  bool upgrade() const { return upgrade_.load(std::memory_order_relaxed); }
  En_HP_HttpUpgradeType upgrade_type() const {
    return static_cast<En_HP_HttpUpgradeType>(upgrade_type_.load(std::memory_order_relaxed));
  }
  ULONGLONG content_length() const { return content_length_.load(std::memory_order_relaxed); }
  /// Bit (1 << field) set for each URL field present; 0 before the first request.
  USHORT url_field_set() const { return url_field_set_; }
  /// The field's raw text, "" when absent, null for field >= HUF_MAX.
  const char* url_field(int field) const;
  /// The value of the first header named `name` (ignoring case), or null.
  const char* FindHeader(std::string_view name) const;
  /// Copies up to `capacity` values of headers named `name` into `values`; returns how many
  /// there are in total.
  DWORD FindHeaders(std::string_view name, LPCSTR values[], DWORD capacity) const;
  /// The value of the cookie named `name` (exact case), or null.
  const char* FindCookie(std::string_view name) const;
  const std::vector<HP_THeader>& headers() const { return headers_; }
  const std::vector<HP_TCookie>& cookies() const { return cookies_; }

 private:
  TextStore store_;
  std::string url_;
  std::vector<HP_THeader> headers_;
  std::vector<HP_TCookie> cookies_;
  const char* fields_[HUF_MAX];
  USHORT url_field_set_ = 0;

  std::atomic<const char*> method_{"GET"};
  std::atomic<USHORT> version_{HV_1_1};
  std::atomic<bool> keep_alive_{false};
  std::atomic<bool> upgrade_{false};
  std::atomic<int> upgrade_type_{HUT_NONE};
  std::atomic<ULONGLONG> content_length_{0};
};

/// True when `a` and `b` are equal ignoring ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace quillmere

#endif  // QUILLMERE_HPSOCKET_HTTP_REQUEST_H
