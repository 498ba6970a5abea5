// Lines on their way to the output list, reduced to what the list would keep.
//
// The list clears itself before an append that finds more than 100 items, so
// of any run of lines only the last 101 can ever be shown. The backlog keeps
// just those and counts the rest; the window thread then asks PlanAppends how
// to bring its list to the state that appending every line one at a time would
// have left. Memory stays bounded however fast lines arrive, and the window
// does one update per batch instead of one per line.
#ifndef QUILLMERE_APP_OUTPUT_BACKLOG_H
#define QUILLMERE_APP_OUTPUT_BACKLOG_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "app/output.h"

namespace quillmere {

/// An append to an output list holding more than this many items clears the list first.
inline constexpr std::size_t kOutputListCap = 100;
/// The most items an append leaves in the output list.
inline constexpr std::size_t kOutputListMaxItems = kOutputListCap + 1;

/// What was appended since the last take.
struct OutputBatch {
  std::uint64_t appended = 0;     ///< lines appended, including those no longer kept
  std::deque<std::string> lines;  ///< the newest min(appended, 101) of them, oldest first
};

/// How a list changes when lines are appended to it one at a time under the cap.
struct AppendPlan {
  bool clearFirst = false;  ///< remove every item first
  std::uint64_t add = 0;    ///< then add this many of the newest lines, oldest first
};

/// The plan for appending `appended` lines to a list of `count` items. The result never adds
/// more than 101 lines, so a batch always holds them. Examples: (50, 200) gives {clear, add 48};
/// (100, 1) gives {no clear, add 1}; (101, 1) gives {clear, add 1}.
AppendPlan PlanAppends(std::size_t count, std::uint64_t appended);

/// A consumer that queues lines for one taker (the window thread), keeping only what can reach
/// the list. Append is safe from any thread and never blocks on the taker; Take is for the taker.
class OutputBacklog final : public OutputConsumer {
 public:
  /// `wake` runs on the appending thread when a line arrives at an empty backlog: once per batch,
  /// however many lines follow before the next Take. It must not block (post an event, notify).
  explicit OutputBacklog(std::function<void()> wake = {});

  /// Queues `line`; drops the oldest queued line when 101 are already kept. Any thread.
  void Append(std::string_view line) override;

  /// Everything queued since the last take; leaves the backlog empty, so the next line wakes the
  /// taker again. Taker's thread.
  OutputBatch Take();

 private:
  const std::function<void()> wake_;
  std::mutex mutex_;
  OutputBatch pending_;  // guarded by mutex_
};

}  // namespace quillmere

#endif  // QUILLMERE_APP_OUTPUT_BACKLOG_H
