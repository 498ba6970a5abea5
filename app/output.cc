#include "app/output.h"

#include <mutex>
#include <shared_mutex>

namespace quillmere {
namespace {

// The installed consumer. Appending threads hold the lock shared for the whole
// call into the consumer, so replacing it (exclusive) waits only for calls that
// are already running; consumers never wait for the window thread, so neither
// side can wait on the other.
std::shared_mutex consumer_lock;
OutputConsumer* installed_consumer = nullptr;  // guarded by consumer_lock

}  // namespace

void AppendOutput(std::string_view line) noexcept {
  try {
    std::shared_lock lock(consumer_lock);
    if (installed_consumer != nullptr) installed_consumer->Append(line);
  } catch (...) {
    // Out of memory while queueing: the line is lost, the caller goes on.
  }
}

void SetOutputConsumer(OutputConsumer* consumer) {
  std::unique_lock lock(consumer_lock);
  installed_consumer = consumer;
}

void RemoveOutputConsumer(OutputConsumer* consumer) {
  std::unique_lock lock(consumer_lock);
  if (installed_consumer == consumer) installed_consumer = nullptr;
}

}  // namespace quillmere
