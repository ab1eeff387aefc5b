#include "common/flush_to_zero.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define QV_HAVE_MXCSR 1
#else
#define QV_HAVE_MXCSR 0
#endif

namespace qv {
namespace {

#if QV_HAVE_MXCSR
// MXCSR bit 15 is flush-to-zero (results), bit 6 denormals-are-zero (operands).
constexpr unsigned kFtzDaz = 0x8000u | 0x0040u;
#endif

}  // namespace

unsigned flush_to_zero_bits() {
#if QV_HAVE_MXCSR
  return _mm_getcsr() & kFtzDaz;
#else
  return 0;
#endif
}

FlushToZeroScope::FlushToZeroScope() : saved_(flush_to_zero_bits()) {
#if QV_HAVE_MXCSR
  _mm_setcsr(_mm_getcsr() | kFtzDaz);
#endif
}

FlushToZeroScope::~FlushToZeroScope() {
#if QV_HAVE_MXCSR
  // Only the two bits are put back: rounding mode and exception masks are
  // not the guard's business.
  _mm_setcsr((_mm_getcsr() & ~kFtzDaz) | saved_);
#endif
}

}  // namespace qv
