// The run log: 运行日志.txt, to which every GET message is appended as one line,
// "<stamp>=<message>" CR LF, the stamp being the network clock's Unix time in seconds.
// Nothing reads it back; it only grows.
#ifndef QUILLMERE_RUNLOG_RUN_LOG_H
#define QUILLMERE_RUNLOG_RUN_LOG_H

#include <string>
#include <string_view>

#include "runlog/network_clock.h"

namespace quillmere {

/// The run log's file name, 运行日志.txt, in UTF-8 as it is on disk.
inline constexpr std::string_view kRunLogFileName =
    "\xE8\xBF\x90\xE8\xA1\x8C\xE6\x97\xA5\xE5\xBF\x97.txt";

/// Where the run log goes and which clock server stamps its lines.
struct RunLogSettings {
  /// The directory of the run log; empty: the running program's directory (/proc/self/exe).
  std::string directory;
  /// The clock server asked once per line (see NetworkClock).
  std::string clockUrl = std::string(kDefaultClockUrl);
};

/// Creates RunLogLock, the run log's process-wide lock, which then lives until the program ends,
/// and takes `settings`; also starts the web client (StartWebClient) that the clock uses. The
/// application calls it once at start-up, before the server can start.
/// A later call replaces the settings once the append in progress, if any, is over (tests point
/// the log at their own directory and clock this way). Safe from any thread.
void StartRunLog(const RunLogSettings& settings = {});

/// The path of the run log file under the current settings: the directory, "/", kRunLogFileName.
/// Safe from any thread.
std::string RunLogPath();

/// Appends the stamp (TimestampText of NetworkClock, seconds only), "=", `message` exactly as
/// given (CR, LF and all) and CR LF, with one write on a descriptor opened for appending, so
/// lines of other writers never interleave with it. Holds RunLogLock for the whole append, the
/// clock's request included, so lines reach the file one at a time in the order their appends
/// took the lock. The clock is asked after the file test (and for an existing file after it is
/// opened; appending writes at its end without positioning). An existing regular file is opened
/// without creating or truncating it; a missing one is created (and appended to, should it have
/// appeared meanwhile). Nothing is reported: a file that cannot be opened or created (a directory
/// of that name, no access) loses the line. Before StartRunLog, the run log first starts with the
/// default settings. Blocks until the line is written or lost. Safe from any thread.
void AppendRunLog(std::string_view message);

}  // namespace quillmere

#endif  // QUILLMERE_RUNLOG_RUN_LOG_H
