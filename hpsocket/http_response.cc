#include "hpsocket/http_response.h"

#include <charconv>
#include <cstring>

namespace quillmere {
namespace {

bool HasLineBreak(const char* text) {
  return text && std::strpbrk(text, "\r\n") != nullptr;
}

bool EqualsIgnoreCase(const char* a, std::string_view b) {
  size_t i = 0;
  for (; i < b.size(); ++i) {
    char x = a[i];
    if (x == '\0') return false;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    char y = b[i];
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return a[i] == '\0';
}

void AppendNumber(std::string& out, long long value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

}  // namespace

std::string_view StandardReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 101:
      return "Switching Protocols";
    case 102:
      return "Processing";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 207:
      return "Multi-Status";
    case 208:
      return "Already Reported";
    case 226:
      return "IM Used";
    case 300:
      return "Multiple Choices";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Move temporarily";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 306:
      return "Switch Proxy";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Request Entity Too Large";
    case 414:
      return "Request-URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Requested Range Not Satisfiable";
    case 417:
      return "Expectation Failed";
    case 421:
      return "Misdirected Request";
    case 422:
      return "Unprocessable Entity";
    case 423:
      return "Locked";
    case 424:
      return "Failed Dependency";
    case 425:
      return "Unordered Collection";
    case 426:
      return "Upgrade Required";
    case 428:
      return "Precondition Required";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 449:
      return "Retry With";
    case 451:
      return "Unavailable For Legal Reasons";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    case 506:
      return "Variant Also Negotiates";
    case 507:
      return "Insufficient Storage";
    case 508:
      return "Loop Detected";
    case 509:
      return "Bandwidth Limit Exceeded";
    case 510:
      return "Not Extended";
    case 511:
      return "Network Authentication Required";
    case 600:
      return "Unparseable Response Headers";
    default:
      return "***";
  }
}

bool AppendResponseHead(const ResponseHead& head, std::string& out) {
  if (head.header_count < 0 && head.headers) return false;
  const int count = head.headers ? head.header_count : 0;
  if (HasLineBreak(head.reason)) return false;
  bool has_length = false;
  bool has_connection = false;
  for (int i = 0; i < count; ++i) {
    const HP_THeader& h = head.headers[i];
    if (!h.name || !*h.name) continue;
    if (HasLineBreak(h.name) || HasLineBreak(h.value)) return false;
    if (EqualsIgnoreCase(h.name, "Content-Length") ||
        EqualsIgnoreCase(h.name, "Transfer-Encoding")) {
      has_length = true;
    } else if (EqualsIgnoreCase(h.name, "Connection")) {
      has_connection = true;
    }
  }

  out += "HTTP/";
  out += static_cast<char>('0' + (head.version & 0xFF) % 10);
  out += '.';
  out += static_cast<char>('0' + (head.version >> 8) % 10);
  out += ' ';
  AppendNumber(out, head.status);
  out += ' ';
  if (head.reason) {
    out += head.reason;
  } else {
    out += StandardReasonPhrase(head.status);
  }
  out += "\r\n";
  for (int i = 0; i < count; ++i) {
    const HP_THeader& h = head.headers[i];
    if (!h.name || !*h.name) continue;
    out += h.name;
    out += ": ";
    if (h.value) out += h.value;
    out += "\r\n";
  }
  if (!has_length) {
    out += "Content-Length: ";
    AppendNumber(out, head.body_length);
    out += "\r\n";
  }
  if (!has_connection)
    out += head.keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  out += "\r\n";
  return true;
}

}  // namespace quillmere
