#include "tests/http/alloc_spy.h"

#include <array>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void __real_free(void* block);
}

namespace alloc_spy {
namespace {

enum class Kind { kMalloc, kRealloc, kCalloc, kFree };
struct Event {
  Kind kind;
  std::size_t size;
};

// Fixed storage: the wrappers must not allocate themselves.
struct Log {
  bool active = false;
  bool fail = false;
  std::size_t count = 0;
  std::array<Event, 64> events{};
};

thread_local Log heapLog;

bool Note(Kind kind, std::size_t size) {
  if (!heapLog.active) return false;
  if (heapLog.count < heapLog.events.size()) heapLog.events[heapLog.count++] = {kind, size};
  return heapLog.fail && kind != Kind::kFree;
}

}  // namespace

Spy::Spy() {
  heapLog = Log{.active = true};
}
Spy::~Spy() {
  heapLog = Log{};
}

std::vector<std::string> Spy::Calls() const {
  std::vector<std::string> calls;
  for (std::size_t i = 0; i < heapLog.count; ++i) {
    const Event& event = heapLog.events[i];
    switch (event.kind) {
      case Kind::kMalloc:
        calls.push_back("malloc(" + std::to_string(event.size) + ")");
        break;
      case Kind::kRealloc:
        calls.push_back("realloc(" + std::to_string(event.size) + ")");
        break;
      case Kind::kCalloc:
        calls.push_back("calloc(" + std::to_string(event.size) + ")");
        break;
      case Kind::kFree:
        calls.push_back("free");
        break;
    }
  }
  return calls;
}

void Spy::FailAllocations(bool fail) {
  heapLog.fail = fail;
}

}  // namespace alloc_spy

using alloc_spy::Kind;

extern "C" {

void* __wrap_malloc(std::size_t size) {
  return alloc_spy::Note(Kind::kMalloc, size) ? nullptr : __real_malloc(size);
}

void* __wrap_realloc(void* block, std::size_t size) {
  return alloc_spy::Note(Kind::kRealloc, size) ? nullptr : __real_realloc(block, size);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
  return alloc_spy::Note(Kind::kCalloc, count * size) ? nullptr : __real_calloc(count, size);
}

void __wrap_free(void* block) {
  if (block != nullptr) alloc_spy::Note(Kind::kFree, 0);
  __real_free(block);
}

}  // extern "C"
