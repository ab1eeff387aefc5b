// The portable build of the window transform: plain loops, vectorised by the
// compiler as far as the instruction set of the target allows.
#include "dsp/fft_builds.hpp"

#include <array>
#include <utility>

#include "common/limits.hpp"
#include "dsp/fft_transform.hpp"

namespace qv {
// Internal linkage throughout (see fft_builds.hpp).
namespace {

#if QV_SIMD
// Four rows at a time, pair after pair: the two samples of a pair are
// fetched as one 64-bit unit, and four rows are then split into real and
// imaginary parts. Returns the rows loaded, a multiple of four.
template <int NP>
QV_INLINE idx_t load_rows_by_four(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                                  float* const (&zi)[3]) {
  idx_t t = 0;
  for (; t + 4 <= n; t += 4) {
    for (int p = 0; p < NP; ++p) {
      const float* x = window + widx(2 * p, t);
      const f4 lo = load_units(x, x + wld);
      const f4 hi = load_units(x + 2 * wld, x + 3 * wld);
      store4(zr[p] + t, __builtin_shufflevector(lo, hi, 0, 2, 4, 6));
      store4(zi[p] + t, lone && p == NP - 1 ? f4{} : __builtin_shufflevector(lo, hi, 1, 3, 5, 7));
    }
  }
  return t;
}
#else
// Without vectors of four floats, load_rows takes every row one at a time.
template <int NP>
QV_INLINE idx_t load_rows_by_four(int, const float*, bool, float* const (&)[3], float* const (&)[3]) {
  return 0;
}
#endif

// What the portable build does in groups, for transform_window.
struct PortableBuild {
  QV_INLINE static std::pair<const float*, const float*> forward(int n, const std::array<int, 15>& ifac, int first,
                                                                 float* zr, float* zi, float* sr, float* si,
                                                                 const float* wa) {
    return forward_passes<ScalarLanes>(n, ifac, first, zr, zi, sr, si, wa);
  }

  template <int NP>
  QV_INLINE static idx_t load_row_groups(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                                         float* const (&zi)[3]) {
    return load_rows_by_four<NP>(n, window, lone, zr, zi);
  }

  // No frequencies by rows: store_pair takes four at a time by itself.
  QV_INLINE static int store_row_groups(int /*n*/, int /*nch*/, const float* const (&)[3], const float* const (&)[3],
                                        float* /*window*/) {
    return 1;
  }

  // The window rows always go into the work array before the first pass.
  static constexpr bool has_window_first_pass = false;
};

}  // namespace

void fft_window_portable(int n, int nch, float* window, float* z, const FftPlan& plan) {
  transform_window<PortableBuild>(n, nch, window, z, plan);
}

}  // namespace qv
