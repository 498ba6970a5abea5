// Watches the C heap calls (malloc, realloc, calloc, free) made by the code under test.
//
// The test binary is linked with -Wl,--wrap for these functions, so every call from a static
// object (the `http` library included) passes through this spy, which forwards it to the C
// library. While a Spy object lives on a thread, that thread's calls are logged, and a realloc
// or malloc can be made to fail.
#ifndef QUILLMERE_TESTS_HTTP_ALLOC_SPY_H
#define QUILLMERE_TESTS_HTTP_ALLOC_SPY_H

#include <string>
#include <vector>

namespace alloc_spy {

/// Logs the calling thread's heap calls from construction to destruction.
class Spy {
 public:
  Spy();
  Spy(const Spy&) = delete;
  Spy& operator=(const Spy&) = delete;
  ~Spy();
  /// The calls so far: "malloc(10)", "realloc(15)", "calloc(4)", "free" (free of null is not
  /// listed).
  std::vector<std::string> Calls() const;
  /// Makes the next allocations (malloc, realloc, calloc) fail, returning null.
  void FailAllocations(bool fail);
};

}  // namespace alloc_spy

#endif  // QUILLMERE_TESTS_HTTP_ALLOC_SPY_H
