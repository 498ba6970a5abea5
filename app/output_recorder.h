// A consumer that keeps every line, for tests of anything that reports output.
#ifndef QUILLMERE_APP_OUTPUT_RECORDER_H
#define QUILLMERE_APP_OUTPUT_RECORDER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/output.h"

namespace quillmere {

/// Records each line in arrival order. Safe from any thread.
/// Example: `OutputRecorder rec; ScopedOutputConsumer use(rec); ...; rec.WaitForLines(1, 2s);`
class OutputRecorder final : public OutputConsumer {
 public:
  void Append(std::string_view line) override;

  /// A copy of the lines recorded so far.
  std::vector<std::string> Lines() const;

  /// Waits until at least `count` lines have arrived or `timeout` has passed; true when they have.
  bool WaitForLines(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_OUTPUT_RECORDER_H
