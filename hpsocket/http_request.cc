#include "hpsocket/http_request.h"

#include <http_parser.h>

#include <algorithm>
#include <cstring>

namespace quillmere {
namespace {

constexpr const char* kEmpty = "";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

const char* TextStore::Add(std::string_view text) {
  const size_t need = text.size() + 1;
  if (blocks_.empty() || capacity_ - used_ < need) {
    const size_t size = std::max(kFirstBlock << std::min<size_t>(blocks_.size(), 6), need);
    blocks_.push_back(std::make_unique<char[]>(size));
    capacity_ = size;
    used_ = 0;
  }
  char* copy = blocks_.back().get() + used_;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  used_ += need;
  return copy;
}

void TextStore::Clear() {
  if (blocks_.size() > 1) {
    blocks_.resize(1);
    capacity_ = kFirstBlock;
  }
  used_ = 0;
}

HttpRequest::HttpRequest() {
  std::fill(std::begin(fields_), std::end(fields_), kEmpty);
}

void HttpRequest::Reset() {
  ClearTexts();
  content_length_.store(0, std::memory_order_relaxed);
}

void HttpRequest::ClearTexts() {
  store_.Clear();
  url_.clear();
  headers_.clear();
  cookies_.clear();
  std::fill(std::begin(fields_), std::end(fields_), kEmpty);
  url_field_set_ = 0;
}

bool HttpRequest::SplitUrl(bool is_connect) {
  http_parser_url parts;
  http_parser_url_init(&parts);
  if (http_parser_parse_url(url_.data(), url_.size(), is_connect ? 1 : 0, &parts) != 0) {
    return false;
  }
  url_field_set_ = parts.field_set;
  for (int f = 0; f < HUF_MAX; ++f) {
    if (parts.field_set & (1 << f)) {
      fields_[f] = store_.Add(
          std::string_view(url_).substr(parts.field_data[f].off, parts.field_data[f].len));
    }
  }
  return true;
}

const HP_THeader& HttpRequest::AddHeader(std::string_view name, std::string_view value) {
  headers_.push_back(HP_THeader{store_.Add(name), store_.Add(value)});
  return headers_.back();
}

void HttpRequest::SetDecisions(USHORT version, bool keep_alive, bool upgrade,
                               En_HP_HttpUpgradeType type, ULONGLONG content_length) {
  version_.store(version, std::memory_order_relaxed);
  keep_alive_.store(keep_alive, std::memory_order_relaxed);
  upgrade_.store(upgrade, std::memory_order_relaxed);
  upgrade_type_.store(type, std::memory_order_relaxed);
  content_length_.store(content_length, std::memory_order_relaxed);
}

void HttpRequest::ParseCookies() {
  for (const HP_THeader& h : headers_) {
    if (!EqualsIgnoreCase(h.name, "Cookie")) continue;
    std::string_view rest = h.value;
    while (!rest.empty()) {
      const size_t semi = rest.find(';');
      std::string_view piece = Trim(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      const size_t eq = piece.find('=');
      const std::string_view name = Trim(piece.substr(0, eq));
      const std::string_view value =
          eq == std::string_view::npos ? std::string_view() : Trim(piece.substr(eq + 1));
      if (name.empty()) continue;
      auto same = std::find_if(cookies_.begin(), cookies_.end(),
                               [&](const HP_TCookie& c) { return name == c.name; });
      if (same != cookies_.end()) {
        same->value = store_.Add(value);
      } else {
        cookies_.push_back(HP_TCookie{store_.Add(name), store_.Add(value)});
      }
    }
  }
}

const char* HttpRequest::url_field(int field) const {
  if (field < 0 || field >= HUF_MAX) return nullptr;
  return fields_[field];
}

const char* HttpRequest::FindHeader(std::string_view name) const {
  for (const HP_THeader& h : headers_) {
    if (EqualsIgnoreCase(h.name, name)) return h.value;
  }
  return nullptr;
}

DWORD HttpRequest::FindHeaders(std::string_view name, LPCSTR values[], DWORD capacity) const {
  DWORD total = 0;
  for (const HP_THeader& h : headers_) {
    if (!EqualsIgnoreCase(h.name, name)) continue;
    if (values && total < capacity) values[total] = h.value;
    ++total;
  }
  return total;
}

const char* HttpRequest::FindCookie(std::string_view name) const {
  for (const HP_TCookie& c : cookies_) {
    if (name == c.name) return c.value;
  }
  return nullptr;
}

}  // namespace quillmere
