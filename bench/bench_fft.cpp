// Speed of the window transform: multichannel_fft on 5 channels (two channel
// pairs and one lone channel, so three complex transforms) for window lengths
// of powers of two and of 2*3*5 products, and for the primes 65521 and 262139
// beside 65536 and 262144 (transformed by chirp-z), through the AVX2 build
// (where the processor has AVX2) and the portable build. Where FFTW is
// available, its single-precision complex transform of the same lengths is
// timed for three transforms per iteration as well, so the rows of a length
// compare directly.
//
// BM_transform_method times the two ways of transforming a length with a
// prime factor p above 5, the mixed-radix passes (with the general odd-radix
// pass for p) and chirp-z, for n = p and n = p 2^a near 256, 4096 and 65536:
// the measurement behind chirpz_prime_threshold (run it alone with
// --benchmark_filter=BM_transform_method).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <random>
#include <span>
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
  for (int n : {120, 960, 7680, 61440, 65521, 262144, 262139}) ns.push_back(n);
  return ns;
}

void run_transform(benchmark::State& state, int n, qv::FftMethod method) {
  qv::FftPlan plan;
  qv::fft_setup(n, plan, method);
  qv::FftWork work;
  qv::fft_work_allocate(work, std::span<const qv::FftPlan>(&plan, 1));
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
}

void BM_multichannel_fft(benchmark::State& state, qv::FftPasses passes) {
  qv::force_portable_fft(passes == qv::FftPasses::portable);
  if (qv::fft_passes_in_use() != passes) {
    state.SkipWithError("the processor has no AVX2");
    return;
  }
  run_transform(state, static_cast<int>(state.range(0)), qv::FftMethod::automatic);
  qv::force_portable_fft(false);
}

// The build the program uses, either method.
void BM_transform_method(benchmark::State& state, qv::FftMethod method) {
  run_transform(state, static_cast<int>(state.range(0)), method);
}

// n = p and n = p 2^a nearest to 256, 4096 and 65536 for primes from 7 to 257.
std::vector<int> method_lengths() {
  std::vector<int> ns;
  for (int p : {7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71, 79, 89, 97, 101, 103, 107, 109, 113, 127, 131,
                157, 193, 257}) {
    ns.push_back(p);
    for (int target : {256, 4096, 65536}) {
      int n = p;
      while (std::abs(2 * n - target) < std::abs(n - target)) n *= 2;
      if (n != p) ns.push_back(n);
    }
  }
  return ns;
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
  for (int n : method_lengths()) {
    benchmark::RegisterBenchmark("BM_transform_method_mixed_radix", BM_transform_method, qv::FftMethod::mixed_radix)
        ->Arg(n)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_transform_method_chirp_z", BM_transform_method, qv::FftMethod::chirp_z)
        ->Arg(n)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace
