// The program's output lines: AppendOutput hands each line to the one
// installed consumer (the window's output list, the console in headless mode,
// a recorder in tests). No Qt here: the HTTP service reports through it.
//
// Threads: AppendOutput is safe from any thread and never waits for the window
// thread. Installing and removing consumers is for the thread that owns them
// (the window thread or main), never from inside a consumer.
#ifndef QUILLMERE_APP_OUTPUT_H
#define QUILLMERE_APP_OUTPUT_H

#include <string_view>

namespace quillmere {

/// Receives output lines. Implementations are safe from any thread, keep each thread's lines in
/// order and never wait for the window thread.
class OutputConsumer {
 public:
  virtual ~OutputConsumer() = default;
  /// Takes one line of GBK text (may be empty). Called on the appending thread.
  virtual void Append(std::string_view line) = 0;
};

/// Appends one GBK line to the output; an empty text appends an empty line. Safe from any thread;
/// returns without waiting for the window thread. Dropped when no consumer is installed.
void AppendOutput(std::string_view line) noexcept;

/// Makes `consumer` (not owned; nullptr for none) receive every line appended from now on. Returns
/// after appends in progress have finished, so the consumer it replaces is no longer in use.
void SetOutputConsumer(OutputConsumer* consumer);

/// Removes `consumer` if it is the installed one, with the same wait; leaves any other alone.
void RemoveOutputConsumer(OutputConsumer* consumer);

/// Installs a consumer for the lifetime of this object and removes it again on destruction.
/// Example: `ScopedOutputConsumer output(console);` in main's headless branch.
class ScopedOutputConsumer {
 public:
  explicit ScopedOutputConsumer(OutputConsumer& consumer) : consumer_(consumer) {
    SetOutputConsumer(&consumer_);
  }
  ~ScopedOutputConsumer() { RemoveOutputConsumer(&consumer_); }
  ScopedOutputConsumer(const ScopedOutputConsumer&) = delete;
  ScopedOutputConsumer& operator=(const ScopedOutputConsumer&) = delete;

 private:
  OutputConsumer& consumer_;
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_OUTPUT_H
