#include "app/output_backlog.h"

#include <utility>

namespace quillmere {

AppendPlan PlanAppends(std::size_t count, std::uint64_t appended) {
  if (appended == 0) return {};
  // No clear while every append finds at most kOutputListCap items.
  if (count <= kOutputListCap && appended <= kOutputListMaxItems - count) {
    return {.clearFirst = false, .add = appended};
  }
  // The first clear comes with the line that finds the list over the cap; after it the list grows
  // from 1 to 101 items and clears again, so clears repeat every 101 lines. The last clear decides
  // what stays.
  const std::uint64_t firstClear = count <= kOutputListCap ? kOutputListMaxItems - count : 0;
  const std::uint64_t lastClear =
      firstClear + (appended - 1 - firstClear) / kOutputListMaxItems * kOutputListMaxItems;
  return {.clearFirst = true, .add = appended - lastClear};
}

OutputBacklog::OutputBacklog(std::function<void()> wake) : wake_(std::move(wake)) {}

void OutputBacklog::Append(std::string_view line) {
  std::string copy(line);  // allocate outside the lock
  std::string dropped;     // and free outside it too
  bool firstOfBatch;
  {
    std::lock_guard lock(mutex_);
    firstOfBatch = pending_.appended == 0;
    ++pending_.appended;
    pending_.lines.push_back(std::move(copy));
    if (pending_.lines.size() > kOutputListMaxItems) {
      dropped = std::move(pending_.lines.front());
      pending_.lines.pop_front();
    }
  }
  if (firstOfBatch && wake_) wake_();
}

OutputBatch OutputBacklog::Take() {
  OutputBatch batch;
  std::lock_guard lock(mutex_);
  std::swap(batch, pending_);
  return batch;
}

}  // namespace quillmere
