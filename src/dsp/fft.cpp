#include "dsp/fft.hpp"

#include <cstddef>
#include <string>

#include "common/error.hpp"
#include "dsp/fft_builds.hpp"

namespace qv {

void multichannel_fft(const WindowArray& w, int n, FftWork& work, const FftPlan& plan) {
  w.require_samples(n, "FFT");
  if (plan.n != n) {
    throw Error("FFT: window of " + std::to_string(n) + " samples but the transform was set up for " +
                std::to_string(plan.n));
  }
  if (n == 1) return;  // no coefficient beyond the zero frequency
  if (work.z.size() < work_size(n) || plan.wsave.size() < std::size_t(2) * n) {
    throw Error("FFT: work arrays were not allocated for windows of " + std::to_string(n) + " samples");
  }

#if QV_FFT_AVX2_BUILD
  // The AVX2 build where the processor has it.
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    fft_window_avx2(n, w.nch(), w.data(), work.z.data(), plan);
    return;
  }
#endif
  fft_window_portable(n, w.nch(), w.data(), work.z.data(), plan);
}

}  // namespace qv
