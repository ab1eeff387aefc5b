// The portable build of the window transform: plain loops, vectorised by the
// compiler as far as the instruction set of the target allows.
#include "dsp/fft_builds.hpp"
#include "dsp/fft_kernels.hpp"

namespace qv {

void fft_window_portable(int n, int nch, float* window, float* z, const FftPlan& plan) {
  transform_window<false>(n, nch, window, z, plan);
}

}  // namespace qv
