// The portable build of the window transform: plain loops, vectorised by the
// compiler as far as the instruction set of the target allows.
#include "dsp/fft_builds.hpp"
#include "dsp/fft_kernels.hpp"

namespace qv {
namespace {

// What the portable build does in groups, for transform_window.
struct PortableBuild {
  template <class B, int IDO>
  QV_INLINE static void butterfly_groups(idx_t ido, idx_t l1, const float* __restrict ar, const float* __restrict ai,
                                         float* __restrict cr, float* __restrict ci, const float* /*wa*/,
                                         idx_t& k_done, idx_t& /*i_done*/) {
    plain_groups<B, IDO>(ido, l1, ar, ai, cr, ci, k_done);
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
