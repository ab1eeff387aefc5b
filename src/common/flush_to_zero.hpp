// Flush-to-zero for the span of a run: tiny (denormal) results and operands
// of single-precision arithmetic are taken as zero, so that the recursions of
// the processing (prediction-error filters, decimation filters, the transform
// on a quiet channel) do not slow down by orders of magnitude when their
// values decay towards zero.
//
//   FlushToZeroScope guard;   // sets flush-to-zero and denormals-are-zero
//   ...                       // the destructor puts back the bits it found
//   flush_to_zero_bits()      // the two bits as they are now (for tests)
//
// The mode lives in the floating-point control register (MXCSR on x86), which
// every thread has its own copy of: a guard changes only the thread that made
// it, and a pipeline with worker threads makes one in each of them. On other
// processors the guard does nothing.
#pragma once

namespace qv {

// The flush-to-zero (FTZ) and denormals-are-zero (DAZ) bits of this thread's
// control register, 0 where the processor has none.
unsigned flush_to_zero_bits();

class FlushToZeroScope {
 public:
  FlushToZeroScope();
  ~FlushToZeroScope();
  FlushToZeroScope(const FlushToZeroScope&) = delete;
  FlushToZeroScope& operator=(const FlushToZeroScope&) = delete;

 private:
  unsigned saved_;  // FTZ and DAZ bits as they were, restored on the way out (also on an error)
};

}  // namespace qv
