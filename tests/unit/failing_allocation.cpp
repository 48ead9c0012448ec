// The replaceable global allocation functions of the unit test program, with a switch that makes
// large allocations fail.
#include "unit/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_failFrom{0};

void *Allocate(size_t size) {
  const size_t limit = g_failFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

namespace quorvtest {
void FailAllocationsFrom(size_t bytes) { g_failFrom.store(bytes); }
}  // namespace quorvtest

void *operator new(size_t size) {
  if (void *p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
