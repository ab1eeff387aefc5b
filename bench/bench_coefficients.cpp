// Cost of the per-coefficient arithmetic after the transform: the correction
// of a window's coefficients for the pre-whitening filter and the response
// table (five channels, the sample station's filter of length 4 on windows of
// 256 samples), and the packing of scaled coefficients into the words of the
// Fourier-coefficient file (parts spread over all eight decades, as the
// scaling by the mean amplitude leaves them, plus a share of exact zeros from
// dead channels).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "common/window_array.hpp"
#include "dsp/prewhiten.hpp"
#include "output/fc_pack.hpp"

namespace {

void BM_CorrectCoefficients(benchmark::State& state) {
  constexpr int nch = 5, n = 256, L = 4, nfreq = 100;
  std::mt19937 gen(3);
  std::normal_distribution<float> g(0.0f, 1.0f);
  std::vector<float> original(static_cast<std::size_t>(n + L) * qv::wld);
  for (float& v : original) v = 100.0f * g(gen);
  std::vector<float> data(original.size());
  qv::PwFilters h;
  std::array<bool, qv::nchmx> diff{};
  diff[4] = true;  // one first-differenced channel, as a set-up may have
  for (int c = 0; c < nch; ++c) {
    h.h[c][0] = 1.0f;
    for (int m = 1; m < L; ++m) h.h[c][m] = 0.3f * g(gen);
  }
  std::vector<std::complex<float>> response(static_cast<std::size_t>(nfreq) * qv::nchmx);
  for (auto& r : response) r = {g(gen), g(gen)};
  std::vector<std::complex<float>> phases(static_cast<std::size_t>(nfreq) * L);
  qv::pw_phase_table(nfreq, L, n, phases.data());
  for (auto _ : state) {
    data = original;
    const qv::WindowArray w(data.data(), nch, n + L - 1);
    qv::correct_coefficients(w, nfreq, response.data(), h, L, n, diff, phases.data());
    benchmark::DoNotOptimize(data.data());
  }
  state.counters["ns_per_coefficient"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * nfreq * nch, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CorrectCoefficients);

void BM_PackCoefficients(benchmark::State& state) {
  constexpr std::size_t count = 1 << 16;
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
  std::uniform_real_distribution<float> decade(-1.0f, 7.0f);
  std::uniform_int_distribution<int> share(0, 99);
  std::vector<float> x(count), y(count);
  for (std::size_t i = 0; i < count; ++i) {
    const bool dead = share(gen) < 2;
    x[i] = dead ? 0.0f : mant(gen) * std::pow(10.0f, decade(gen));
    y[i] = dead ? 0.0f : mant(gen) * std::pow(10.0f, decade(gen));
  }
  std::vector<std::uint32_t> words(count);
  for (auto _ : state) {
    for (std::size_t i = 0; i < count; ++i) {
      bool overflow = false;
      words[i] = qv::pack_fc(x[i], y[i], overflow);
    }
    benchmark::DoNotOptimize(words.data());
  }
  state.counters["ns_per_coefficient"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PackCoefficients);

}  // namespace
