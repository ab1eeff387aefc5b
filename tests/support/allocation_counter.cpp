#include "support/allocation_counter.hpp"

#include <cstdlib>
#include <new>

namespace {

thread_local long allocations = 0;
thread_local int counting = 0;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)

namespace qv::testing_support {
bool allocations_counted() { return false; }
}  // namespace qv::testing_support

#else

namespace qv::testing_support {
bool allocations_counted() { return true; }
}  // namespace qv::testing_support

// The array, nothrow and sized forms of the standard library call these.
void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

#endif

namespace qv::testing_support {

AllocationCounter::AllocationCounter() : start_(allocations) { ++counting; }
AllocationCounter::~AllocationCounter() { --counting; }
long AllocationCounter::count() const { return allocations - start_; }

}  // namespace qv::testing_support
