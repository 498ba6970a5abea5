#include "app/output_recorder.h"

namespace quillmere {

void OutputRecorder::Append(std::string_view line) {
  {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  }
  arrived_.notify_all();
}

std::vector<std::string> OutputRecorder::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool OutputRecorder::WaitForLines(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
}

}  // namespace quillmere
