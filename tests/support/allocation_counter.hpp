// Test support: counts the allocations a stretch of code makes on the calling
// thread, by replacing the global operator new of the test program. Under
// AddressSanitizer the replacement is left out (it would hide the
// sanitizer's own checks of new and delete) and counting is unavailable.
#pragma once

namespace qv::testing_support {

// True when the replacement is built in.
bool allocations_counted();

// Counts allocations on this thread from construction to count().
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  long count() const;

 private:
  long start_;
};

}  // namespace qv::testing_support
