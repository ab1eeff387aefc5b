// The AVX2 build of the window transform: explicit vectors of eight floats.
// Only this function is compiled for AVX2, with the whole transform inlined
// into it; the rest of the program keeps to the baseline instruction set and
// runs on processors without AVX2.
#include "dsp/fft_builds.hpp"

#if QV_FFT_AVX2_BUILD
#include "dsp/fft_kernels.hpp"

namespace qv {

__attribute__((target("avx2"))) void fft_window_avx2(int n, int nch, float* window, float* z,
                                                     const FftPlan& plan) {
  transform_window<true>(n, nch, window, z, plan);
}

}  // namespace qv
#endif
