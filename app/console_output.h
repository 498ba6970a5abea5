// The headless program's output: each line written to a stream as UTF-8.
#ifndef QUILLMERE_APP_CONSOLE_OUTPUT_H
#define QUILLMERE_APP_CONSOLE_OUTPUT_H

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "app/output.h"

namespace quillmere {

/// Writes each line to `stream` (not owned) as UTF-8 followed by "\n" and flushes it, so a reader
/// sees it at once; an empty line gives "\n". Lines from several threads never interleave. Control
/// characters (C0 except tab, DEL, C1) become "?", so a sender cannot move the cursor or split a
/// line on the reader's terminal: "a\nb" is written "a?b\n". Safe from any thread; the appending
/// thread waits for the write (there is no window to wait for). Write errors are ignored.
class ConsoleOutput final : public OutputConsumer {
 public:
  explicit ConsoleOutput(std::FILE* stream = stdout) : stream_(stream) {}
  void Append(std::string_view line) override;

  /// `line` (GBK) as the UTF-8 text Append writes, without the "\n". Pure.
  static std::string ConsoleText(std::string_view line);

 private:
  std::FILE* const stream_;
  std::mutex mutex_;  // one line at a time on stream_
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_CONSOLE_OUTPUT_H
