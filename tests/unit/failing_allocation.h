// Running out of memory on demand: while armed, every operator new of at least the given size
// throws std::bad_alloc (the unit test program replaces the global operator new for this).
#pragma once

#include <cstddef>

namespace quorvtest {

// 0 disarms.
void FailAllocationsFrom(size_t bytes);

class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(size_t bytes) { FailAllocationsFrom(bytes); }
  ~ScopedAllocationFailure() { FailAllocationsFrom(0); }
  ScopedAllocationFailure(const ScopedAllocationFailure &) = delete;
  ScopedAllocationFailure &operator=(const ScopedAllocationFailure &) = delete;
};

}  // namespace quorvtest
