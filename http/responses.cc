// Response sending of HttpServerComponent, and the status phrase table.
#include "http/responses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "http/server_component.h"

namespace quillmere {
namespace {

struct PhraseRow {
  std::uint16_t code;
  const char* phrase;
};

// Sorted by code, for the binary search in StatusPhraseText.
constexpr PhraseRow kPhrases[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {102, "Processing"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {207, "Multi-Status"},
    {208, "Already Reported"},
    {226, "IM Used"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Move temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {306, "Switch Proxy"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {421, "Misdirected Request"},
    {422, "Unprocessable Entity"},
    {423, "Locked"},
    {424, "Failed Dependency"},
    {425, "Unordered Collection"},
    {426, "Upgrade Required"},
    {428, "Precondition Required"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {449, "Retry With"},
    {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {506, "Variant Also Negotiates"},
    {507, "Insufficient Storage"},
    {508, "Loop Detected"},
    {509, "Bandwidth Limit Exceeded"},
    {510, "Not Extended"},
    {511, "Network Authentication Required"},
    {600, "Unparseable Response Headers"},
};
static_assert(std::ranges::is_sorted(kPhrases, {}, &PhraseRow::code));

constexpr const char* kUnknownPhrase = "***";
constexpr USHORT kNotFoundCode = 404;
constexpr const char* kNotFoundPhrase = "Not Found";
constexpr const char* kContentLengthName = "Content-Length";
constexpr auto kPollInterval = std::chrono::milliseconds(1);

const char* StatusPhraseText(std::uint16_t statusCode) {
  const auto row = std::ranges::lower_bound(kPhrases, statusCode, {}, &PhraseRow::code);
  return row != std::end(kPhrases) && row->code == statusCode ? row->phrase : kUnknownPhrase;
}

// The reason phrase as the engine takes it: the status table's phrase when none is given, null
// for an empty one, otherwise a zero-terminated copy.
class DescriptionArgument {
 public:
  DescriptionArgument(std::optional<std::string_view> description, USHORT statusCode)
      : given_(description.has_value()),
        copy_(description.value_or(std::string_view())),
        phrase_(StatusPhraseText(statusCode)) {}
  LPCSTR get() const {
    if (!given_) return phrase_;
    return copy_.empty() ? nullptr : copy_.c_str();
  }

 private:
  bool given_;
  std::string copy_;
  const char* phrase_;
};

// A header list as the engine takes it: name/value pairs pointing into the records (which must
// outlive this object), null and 0 for an empty list.
class HeaderArray {
 public:
  explicit HeaderArray(std::span<const HeaderRecord> headers) {
    pairs_.reserve(headers.size() + 1);
    for (const HeaderRecord& header : headers)
      pairs_.push_back({header.name.c_str(), header.value.c_str()});
  }
  /// Adds one pair at the end; the texts must outlive this object.
  void Append(LPCSTR name, LPCSTR value) { pairs_.push_back({name, value}); }
  const HP_THeader* data() const { return pairs_.empty() ? nullptr : pairs_.data(); }
  int count() const { return static_cast<int>(pairs_.size()); }

 private:
  std::vector<HP_THeader> pairs_;
};

// A file descriptor closed when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }
  bool IsOpen() const { return fd_ >= 0; }
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Opens an existing regular file for reading. Directories, devices and pipes count as missing:
// they have no size to promise, and opening a pipe would wait for a writer.
// Returns the descriptor, or -1.
int OpenRegularFile(std::string_view fileName, std::int64_t& size) {
  const std::string path(fileName);
  if (path.empty() || path.find('\0') != std::string::npos) return -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  size = status.st_size;
  return fd;
}

// Reads up to `count` bytes, retrying when a signal interrupts the read; -1 on failure.
ssize_t ReadSome(int fd, char* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

struct FreeDeleter {
  void operator()(char* block) const { std::free(block); }
};

}  // namespace

std::string_view StatusPhrase(std::uint16_t statusCode) {
  return StatusPhraseText(statusCode);
}

bool HttpServerComponent::SendResponse(HP_HttpServer server, HP_CONNID connID, USHORT statusCode,
                                       std::optional<std::string_view> description,
                                       std::span<const HeaderRecord> headers,
                                       std::string_view body) {
  if (!IsServerHandle(server) || body.size() > INT_MAX) return false;
  const DescriptionArgument reason(description, statusCode);
  const HeaderArray pairs(headers);
  const BYTE* data = body.empty() ? nullptr : reinterpret_cast<const BYTE*>(body.data());
  return HP_HttpServer_SendResponse(server, connID, statusCode, reason.get(), pairs.data(),
                                    pairs.count(), data, static_cast<int>(body.size())) != FALSE;
}

bool HttpServerComponent::SendLocalFile(HP_HttpServer server, HP_CONNID connID,
                                        std::string_view fileName, USHORT statusCode,
                                        std::optional<std::string_view> description,
                                        std::span<const HeaderRecord> headers) {
  if (!IsServerHandle(server)) return false;
  const std::string name(fileName);
  const DescriptionArgument reason(description, statusCode);
  const HeaderArray pairs(headers);
  return HP_HttpServer_SendLocalFile(server, connID, name.empty() ? nullptr : name.c_str(),
                                     statusCode, reason.get(), pairs.data(),
                                     pairs.count()) != FALSE;
}

bool HttpServerComponent::SendFile(HP_HttpServer server, HP_CONNID connID,
                                   std::string_view fileName, USHORT statusCode,
                                   std::optional<std::string_view> description,
                                   std::span<const HeaderRecord> headers, FileStreaming streaming) {
  if (!IsServerHandle(server)) return false;
  std::int64_t size = 0;
  FileHandle file(OpenRegularFile(fileName, size));
  if (!file.IsOpen()) {
    const HeaderArray pairs(headers);
    HP_HttpServer_SendResponse(server, connID, kNotFoundCode, kNotFoundPhrase, pairs.data(),
                               pairs.count(), nullptr, 0);
    return false;
  }

  // The caller's list stays as it is; "Content-Length" goes only into the engine's copy.
  const std::string sizeText = std::to_string(size);
  HeaderArray pairs(headers);
  pairs.Append(kContentLengthName, sizeText.c_str());
  const DescriptionArgument reason(description, statusCode);

  // The engine's file sending takes 1 byte up to one chunk less a byte; an empty file is answered
  // with the head alone, as when streaming.
  if (streaming == FileStreaming::kWhenLarge && size > 0 && size < kFileChunkSize) {
    file.Close();
    const std::string name(fileName);
    return HP_HttpServer_SendLocalFile(server, connID, name.c_str(), statusCode, reason.get(),
                                       pairs.data(), pairs.count()) != FALSE;
  }

  if (!HP_HttpServer_SendResponse(server, connID, statusCode, reason.get(), pairs.data(),
                                  pairs.count(), nullptr, 0)) {
    return false;
  }

  // One zeroed chunk buffer (with room for a terminator) reused for the whole file. At most the
  // promised size is sent, even if the file grows meanwhile.
  std::unique_ptr<char, FreeDeleter> buffer(
      static_cast<char*>(std::calloc(static_cast<std::size_t>(kFileChunkSize) + 1, 1)));
  std::int64_t remaining = buffer != nullptr ? size : -1;
  while (remaining > 0) {
    const auto wanted = static_cast<std::size_t>(std::min(remaining, kFileChunkSize));
    const ssize_t got = ReadSome(file.get(), buffer.get(), wanted);
    if (got <= 0) break;
    if (!HP_Server_Send(server, connID, reinterpret_cast<const BYTE*>(buffer.get()),
                        static_cast<int>(got))) {
      break;
    }
    remaining -= got;
    // Keep the engine's queue within about two chunks.
    int pending = 0;
    while (HP_Server_GetPendingDataLength(server, connID, &pending) && pending > kFileChunkSize &&
           HP_Server_IsConnected(server, connID)) {
      std::this_thread::sleep_for(kPollInterval);
    }
    if (!HP_Server_IsConnected(server, connID)) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  buffer.reset();
  file.Close();

  if (remaining != 0) {
    // The head promised more than was sent: close the connection after what is queued, so the
    // client sees the body end early instead of waiting or reading the next answer as body.
    HP_HttpServer_Release(server, connID);
    return false;
  }

  // Drain: done when nothing is pending; a connection lost with data pending is a failure.
  int pending = 0;
  while (HP_Server_GetPendingDataLength(server, connID, &pending)) {
    if (pending <= 0) return true;
    if (!HP_Server_IsConnected(server, connID)) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

bool HttpServerComponent::Release(HP_HttpServer server, HP_CONNID connID) {
  return IsServerHandle(server) && HP_HttpServer_Release(server, connID) != FALSE;
}

void HttpServerComponent::SetReleaseDelay(HP_HttpServer server, DWORD delay) {
  if (IsServerHandle(server)) HP_HttpServer_SetReleaseDelay(server, delay);
}

DWORD HttpServerComponent::GetReleaseDelay(HP_HttpServer server) {
  return IsServerHandle(server) ? HP_HttpServer_GetReleaseDelay(server) : 0;
}

}  // namespace quillmere
