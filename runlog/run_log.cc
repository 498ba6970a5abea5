#include "runlog/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "runlog/date_time.h"
#include "web/http_request_object.h"

namespace quillmere {
namespace {

// The run log's one lock and the settings it guards. Created on first use (by StartRunLog at
// start-up) and never destroyed, so appends on pool threads may run until the program ends.
struct RunLogLock {
  std::mutex mutex;
  bool started = false;  // guarded by mutex
  std::string path;      // guarded by mutex; the directory, "/", the file name
  std::string clockUrl;  // guarded by mutex
};

RunLogLock& TheRunLogLock() {
  static RunLogLock* const lock = new RunLogLock();
  return *lock;
}

// The directory of the running program, or "." when it cannot be read.
std::string ProgramDirectory() {
  std::string path(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return ".";
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/'));
}

// Takes `settings` into `lock`; the caller holds lock.mutex.
void Apply(RunLogLock& lock, const RunLogSettings& settings) {
  std::string directory = settings.directory.empty() ? ProgramDirectory() : settings.directory;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (directory == "/") directory.clear();  // the path adds the separator
  lock.path = directory + "/" + std::string(kRunLogFileName);
  lock.clockUrl = settings.clockUrl;
  lock.started = true;
}

// True for an existing regular file (following symbolic links); a directory of that name counts
// as missing.
bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string StampedLine(const std::string& clockUrl, std::string_view message) {
  std::string line = TimestampText(NetworkClock(clockUrl), StampDigits::kSecondsOnly);
  line += '=';
  line += message;
  line += "\r\n";
  return line;
}

// Writes `line` to `fd`, opened with O_APPEND: in one write() unless the system takes only part
// of it (a full disk, a signal), when the rest follows.
void WriteLine(int fd, std::string_view line) {
  while (!line.empty()) {
    ssize_t written = write(fd, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    line.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void StartRunLog(const RunLogSettings& settings) {
  StartWebClient();
  RunLogLock& lock = TheRunLogLock();
  std::lock_guard guard(lock.mutex);
  Apply(lock, settings);
}

std::string RunLogPath() {
  RunLogLock& lock = TheRunLogLock();
  std::lock_guard guard(lock.mutex);
  if (!lock.started) Apply(lock, {});
  return lock.path;
}

void AppendRunLog(std::string_view message) {
  RunLogLock& lock = TheRunLogLock();
  std::lock_guard guard(lock.mutex);
  if (!lock.started) Apply(lock, {});
  const std::string& path = lock.path;

  if (IsRegularFile(path)) {
    // Neither created nor truncated here; others may read and write it meanwhile. Appending
    // puts every write at the end of the file, so the descriptor needs no positioning.
    int fd = open(path.c_str(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    // The clock is asked even when the file would not open, as every append asks it once.
    const std::string line = StampedLine(lock.clockUrl, message);
    if (fd >= 0) {
      WriteLine(fd, line);
      close(fd);
    }
    return;
  }

  const std::string line = StampedLine(lock.clockUrl, message);
  // Created here; should another program have created it while the clock was asked, its lines
  // are kept and this one follows them rather than truncating the file.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666);
  // Fails for a directory of that name or without the right to create files here; O_NONBLOCK
  // makes a FIFO of that name fail too instead of waiting for a reader with the lock held.
  if (fd < 0) return;
  WriteLine(fd, line);
  close(fd);
}

}  // namespace quillmere
