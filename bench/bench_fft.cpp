// Speed of the window transform: multichannel_fft on 5 channels (two channel
// pairs and one lone channel, so three complex transforms) for window lengths
// of powers of two and of 2*3*5 products, through the AVX2 build (where the
// processor has AVX2) and the portable build. Where FFTW is available, its
// single-precision complex transform of the same lengths is timed for three
// transforms per iteration as well, so the rows of a length compare
// directly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "common/limits.hpp"
#include "common/window_array.hpp"
#include "dsp/fft.hpp"

#ifdef QV_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

constexpr int nch = 5;
constexpr int transforms_per_window = (nch + 1) / 2;

std::vector<float> noise(std::size_t count, unsigned seed) {
  std::vector<float> v(count);
  std::mt19937 gen(seed);
  std::normal_distribution<float> d(0.0f, 1.0f);
  for (auto& x : v) x = d(gen);
  return v;
}

std::vector<int> lengths() {
  std::vector<int> ns;
  for (int n = 128; n <= 65536; n *= 2) ns.push_back(n);
  for (int n : {120, 960, 7680, 61440}) ns.push_back(n);
  return ns;
}

void BM_multichannel_fft(benchmark::State& state, qv::FftPasses passes) {
  const int n = static_cast<int>(state.range(0));
  qv::force_portable_fft(passes == qv::FftPasses::portable);
  if (qv::fft_passes_in_use() != passes) {
    state.SkipWithError("the processor has no AVX2");
    return;
  }
  qv::FftPlan plan;
  qv::fft_setup(n, plan);
  qv::FftWork work;
  qv::fft_work_allocate(work, n);
  const std::vector<float> samples = noise(std::size_t(n + qv::nwspare) * qv::nchmx, 1);
  std::vector<float> window = samples;
  const qv::WindowArray view(window.data(), nch, n + qv::nwspare);
  int since_refill = 0;
  for (auto _ : state) {
    // The transform works in place, so each iteration transforms the previous
    // coefficients; a refill every 8 windows keeps the values finite.
    if (++since_refill == 8) {
      std::copy(samples.begin(), samples.end(), window.begin());
      since_refill = 0;
    }
    qv::multichannel_fft(view, n, work, plan);
    benchmark::DoNotOptimize(window.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(n) * nch);
  qv::force_portable_fft(false);
}

#ifdef QV_HAVE_FFTW
void BM_fftwf_three_transforms(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  fftwf_complex* in[transforms_per_window];
  fftwf_complex* out = fftwf_alloc_complex(n);
  for (auto& p : in) p = fftwf_alloc_complex(n);
  fftwf_plan plan = fftwf_plan_dft_1d(n, in[0], out, FFTW_FORWARD, FFTW_MEASURE);
  for (int j = 0; j < transforms_per_window; ++j) {
    const std::vector<float> v = noise(std::size_t(2) * n, 10 + j);
    std::copy(v.begin(), v.end(), reinterpret_cast<float*>(in[j]));
  }
  for (auto _ : state) {
    for (auto* p : in) fftwf_execute_dft(plan, p, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(n) * nch);
  fftwf_destroy_plan(plan);
  for (auto* p : in) fftwf_free(p);
  fftwf_free(out);
}
#endif

// All transforms of a length are registered side by side, so that they run
// close together in time on a machine whose load varies.
const bool registered = [] {
  for (int n : lengths()) {
    benchmark::RegisterBenchmark("BM_multichannel_fft_avx2", BM_multichannel_fft, qv::FftPasses::avx2)
        ->Arg(n)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_multichannel_fft_portable", BM_multichannel_fft, qv::FftPasses::portable)
        ->Arg(n)
        ->Unit(benchmark::kMicrosecond);
#ifdef QV_HAVE_FFTW
    benchmark::RegisterBenchmark("BM_fftwf_three_transforms", BM_fftwf_three_transforms)
        ->Arg(n)
        ->Unit(benchmark::kMicrosecond);
#endif
  }
  return true;
}();

}  // namespace
