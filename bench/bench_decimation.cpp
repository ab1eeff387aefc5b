// Cost of the decimation cascade per input sample and of cutting one window
// out of a level buffer.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "common/limits.hpp"
#include "common/sample_block.hpp"
#include "driver/decset.hpp"
#include "driver/window_schedule.hpp"
#include "dsp/decimation.hpp"

namespace {

constexpr float kThreshold = 2147473664.0f;
constexpr int kChannels = 5;

qv::LevelSetup level(int nwin, float olap, int decfac, int nfreq) {
  qv::LevelSetup ls;
  ls.nwin = nwin;
  ls.olap = olap;
  ls.decfac = decfac;
  ls.nfc = 2;  // 3 taps
  ls.coef[0] = 0.5f;
  ls.coef[1] = 0.25f;
  ls.nfreq = nfreq;
  ls.nspan = 5;
  ls.nbadmx = 2;
  ls.pwlen = 3;
  return ls;
}

std::vector<qv::SampleBlock> make_blocks(int nblocks, double missing_fraction) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  std::uniform_real_distribution<double> p(0.0, 1.0);
  std::vector<qv::SampleBlock> blocks(nblocks);
  std::int64_t n = 0;
  for (auto& b : blocks) {
    b.npts = qv::nblk;
    for (int r = 0; r < qv::nblk; ++r, ++n) {
      b.index[r] = n;
      for (int c = 0; c < kChannels; ++c)
        b.real[r * qv::nchmx + c] = p(rng) < missing_fraction ? 2147483647.0f : u(rng);
    }
  }
  return blocks;
}

// 5 channels through 4 levels (decfac 1, 4, 4, 4; 3-tap filters).
void BM_DecimateBlock(benchmark::State& state) {
  qv::DecSetup s;
  s.nd = 4;
  s.lev[1] = level(128, 32, 1, 0);
  for (int lev = 2; lev <= 4; ++lev) s.lev[lev] = level(128, 32, 4, 0);
  qv::Cascade c;
  qv::cascade_allocate(c, s, kChannels, kThreshold);
  auto blocks = make_blocks(64, 0.0);
  qv::decimation_setup(c, s, 0);
  std::size_t i = 0;
  for (auto _ : state) {
    qv::SampleBlock& b = blocks[i];
    qv::decimate_block(c, s, b, true);
    benchmark::DoNotOptimize(c.lev[4].wp);
    if (++i == blocks.size()) {
      // Absolute numbers keep rising from block to block, as in a run.
      i = 0;
      for (auto& blk : blocks)
        for (int r = 0; r < qv::nblk; ++r) blk.index[r] += std::int64_t(blocks.size()) * qv::nblk;
    }
  }
  state.SetItemsProcessed(state.iterations() * qv::nblk);
  state.counters["input_samples_per_s"] =
      benchmark::Counter(double(state.iterations()) * qv::nblk, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecimateBlock);

// One window of nwin samples (+ 2 samples of pre-whitening extension) of 5
// channels; arg 1 is the share of missing samples in per mille.
void BM_ExtractWindow(benchmark::State& state) {
  const int nwin = static_cast<int>(state.range(0));
  qv::DecSetup s;
  s.nd = 1;
  s.lev[1] = level(nwin, nwin / 4.0f, 1, nwin / 2);
  qv::Cascade c;
  qv::cascade_allocate(c, s, kChannels, kThreshold);
  auto blocks = make_blocks(nwin / qv::nblk + 2, state.range(1) / 1000.0);
  qv::decimation_setup(c, s, 0);
  // Feed until the first window is there, as the run driver drains after every block.
  for (std::size_t i = 0; qv::window_count(s.lev[1], c.lev[1].aw) < 1; ++i)
    qv::decimate_block(c, s, blocks.at(i), true);
  std::vector<float> window(std::size_t(qv::nchmx) * (nwin + qv::nwspare));
  const qv::WindowArray view(window.data(), kChannels, nwin + qv::nwspare);
  const int rw = c.lev[1].rw;
  const int aw = c.lev[1].aw;
  for (auto _ : state) {
    // The same window again: put the read pointer back.
    c.lev[1].rw = rw;
    c.lev[1].aw = aw;
    qv::ExtractedWindow w = qv::extract_window(c, s, 1, view);
    benchmark::DoNotOptimize(w);
    benchmark::DoNotOptimize(window.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["windows_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExtractWindow)->Args({128, 0})->Args({4096, 0})->Args({4096, 10});

}  // namespace
