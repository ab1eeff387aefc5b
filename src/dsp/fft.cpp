#include "dsp/fft.hpp"

#include <cstddef>
#include <string>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "dsp/fft_builds.hpp"

namespace qv {

void multichannel_fft(int n, int nch, float* window, FftWork& work, FftPlan& plan) {
  if (n < 1 || plan.n != n) {
    throw Error("FFT: window of " + std::to_string(n) + " samples but the transform was set up for " +
                std::to_string(plan.n));
  }
  if (nch < 1 || nch > nchmx) throw Error("FFT: channel count " + std::to_string(nch) + " is outside 1..6");
  if (n == 1) return;  // no coefficient beyond the zero frequency
  if (work.z.size() < work_size(n) || plan.wsave.size() < std::size_t(2) * n) {
    throw Error("FFT: work arrays were not allocated for windows of " + std::to_string(n) + " samples");
  }

#if QV_FFT_AVX2_BUILD
  // The AVX2 build where the processor has it.
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    fft_window_avx2(n, nch, window, work.z.data(), plan);
    return;
  }
#endif
  fft_window_portable(n, nch, window, work.z.data(), plan);
}

}  // namespace qv
