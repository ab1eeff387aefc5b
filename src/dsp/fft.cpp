#include "dsp/fft.hpp"

#include <atomic>
#include <cstddef>
#include <string>

#include "common/error.hpp"
#include "dsp/fft_builds.hpp"

namespace qv {
namespace {

// Set only by tests and benchmarks, to run the portable build on processors
// with AVX2 as well.
std::atomic<bool> portable_forced{false};

bool processor_has_avx2() {
#if QV_FFT_AVX2_BUILD
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

}  // namespace

void force_portable_fft(bool on) { portable_forced.store(on, std::memory_order_relaxed); }

FftPasses fft_passes_in_use() {
  const bool portable = portable_forced.load(std::memory_order_relaxed) || !processor_has_avx2();
  return portable ? FftPasses::portable : FftPasses::avx2;
}

void multichannel_fft(const WindowArray& w, int n, FftWork& work, const FftPlan& plan) {
  w.require_samples(n, "FFT");
  if (plan.n != n) {
    throw Error("FFT: window of " + std::to_string(n) + " samples but the transform was set up for " +
                std::to_string(plan.n));
  }
  if (n == 1) return;  // no coefficient beyond the zero frequency
  const bool tables_made = uses_chirpz(plan) ? plan.chirpz.chirp.size() == std::size_t(2) * n
                                              : plan.wsave.size() >= std::size_t(2) * n;
  if (work.z.size() < work_size(uses_chirpz(plan) ? plan.chirpz.m : n) || !tables_made) {
    throw Error("FFT: work arrays were not allocated for windows of " + std::to_string(n) + " samples");
  }

#if QV_FFT_AVX2_BUILD
  if (fft_passes_in_use() == FftPasses::avx2) {
    fft_window_avx2(n, w.nch(), w.data(), work.z.data(), plan);
    return;
  }
#endif
  fft_window_portable(n, w.nch(), w.data(), work.z.data(), plan);
}

}  // namespace qv
