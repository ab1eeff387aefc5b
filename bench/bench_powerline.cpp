// Cost of the powerline filter per input sample and channel: five channels of
// 256-sample blocks, for a 250 Hz logger with 50 Hz mains (2 harmonics) and a
// 4000 Hz logger with 60 Hz mains (28 harmonics, the most the filter fits).
// Compare with the ASCII reader's cost of parsing one value from text.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "common/console.hpp"
#include "dsp/powerline.hpp"

namespace {

void filter_blocks(benchmark::State& state, float rate, float fpl) {
  constexpr int nch = 5;
  const float dt = 1.0f / rate;
  auto original = std::make_unique<qv::SampleBlock>();
  original->npts = qv::nblk;
  for (int t = 0; t < qv::nblk; ++t)
    for (int c = 0; c < nch; ++c)
      original->real[static_cast<std::size_t>(t * qv::nchmx + c)] =
          static_cast<float>(1000.0 * std::sin(0.37 * t + c) + 50.0 * std::cos(2.0 * 3.14159265 * fpl * t * dt + c));
  auto blk = std::make_unique<qv::SampleBlock>();
  std::ostringstream sink;
  std::istringstream none;
  qv::Console con(sink, sink, none);
  qv::PowerlineFit fit;
  for (auto _ : state) {
    *blk = *original;  // a copy of 6 KB, small beside the filter
    if (qv::filter_powerline(*blk, nch, fpl, dt, 2147473664.0f, fit, con) != qv::powerline_filtered)
      state.SkipWithError("block not filtered");
    benchmark::DoNotOptimize(blk->real.data());
  }
  state.counters["ns_per_sample_channel"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * qv::nblk * nch, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Powerline250Hz50Hz(benchmark::State& state) { filter_blocks(state, 250.0f, 50.0f); }
BENCHMARK(BM_Powerline250Hz50Hz);

void BM_Powerline4000Hz60Hz(benchmark::State& state) { filter_blocks(state, 4000.0f, 60.0f); }
BENCHMARK(BM_Powerline4000Hz60Hz);

}  // namespace
