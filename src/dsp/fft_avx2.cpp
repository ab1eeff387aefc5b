// The AVX2 build of the window transform: explicit vectors of eight floats.
// Only this function is compiled for AVX2, with the whole transform inlined
// into it; the rest of the program keeps to the baseline instruction set and
// runs on processors without AVX2.
#include "dsp/fft_builds.hpp"

#if QV_FFT_AVX2_BUILD
#include "dsp/fft_kernels.hpp"

namespace qv {
namespace {

// What the AVX2 build does in groups of eight, for transform_window.
struct Avx2Build {
  template <class B, int IDO>
  QV_INLINE static void butterfly_groups(idx_t ido, idx_t l1, const float* __restrict ar, const float* __restrict ai,
                                         float* __restrict cr, float* __restrict ci, const float* __restrict wa,
                                         idx_t& k_done, idx_t& i_done) {
    vector_groups<B, IDO>(ido, l1, ar, ai, cr, ci, wa, k_done, i_done);
  }

  template <int NP>
  QV_INLINE static idx_t load_row_groups(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                                         float* const (&zi)[3]) {
    return load_rows_by_eight<NP>(n, window, lone, zr, zi);
  }

  QV_INLINE static int store_row_groups(int n, int nch, const float* const (&fr)[3], const float* const (&fi)[3],
                                        float* __restrict window) {
    return store_rows_of_channels(n, nch, fr, fi, window);
  }

  // When the first pass (radix 2 to 5) has eight i or more, it takes its
  // inputs straight from the window rows.
  static constexpr bool has_window_first_pass = true;
  QV_INLINE static bool first_pass_fits(int n, const FftPlan& plan) {
    const int ip0 = plan.ifac[2];
    return ip0 <= 5 && n / ip0 >= 8;
  }
  QV_INLINE static void first_pass(int n, int p, bool lone, const float* window, float* cr, float* ci,
                                   const FftPlan& plan) {
    const float* wa = plan.wsave.data();
    switch (plan.ifac[2]) {
      case 4: first_pass_of_pair<Radix4>(n, p, lone, window, cr, ci, wa); break;
      case 2: first_pass_of_pair<Radix2>(n, p, lone, window, cr, ci, wa); break;
      case 3: first_pass_of_pair<Radix3>(n, p, lone, window, cr, ci, wa); break;
      default: first_pass_of_pair<Radix5>(n, p, lone, window, cr, ci, wa); break;
    }
  }
};

}  // namespace

__attribute__((target("avx2"))) void fft_window_avx2(int n, int nch, float* window, float* z,
                                                     const FftPlan& plan) {
  transform_window<Avx2Build>(n, nch, window, z, plan);
}

}  // namespace qv
#endif
