#include "dsp/decimation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/error.hpp"
#include "support/cascade_stream.hpp"

namespace qv {
namespace {

using namespace testing_cascade;
using LevelSamples = std::map<std::int64_t, std::vector<float>>;

std::vector<std::int64_t> marks(const LevelSamples& m) {
  std::vector<std::int64_t> v;
  for (const auto& kv : m) v.push_back(kv.first);
  return v;
}

// Independent model of one decimation step in double precision: every sample
// of the level below whose number lies on the phase and whose whole filter
// reach is present becomes a sample of the level above.
LevelSamples reference_level(const LevelSamples& below, const LevelSetup& up, std::int64_t K_up,
                             std::int64_t phase) {
  std::vector<std::int64_t> n;
  std::vector<std::vector<float>> v;
  for (const auto& [mark, vals] : below) {
    n.push_back(mark);
    v.push_back(vals);
  }
  LevelSamples out;
  const int h = up.nfc;
  for (std::size_t j = h - 1; j + h - 1 < n.size(); ++j) {
    if (((n[j] - phase) % K_up + K_up) % K_up != 0) continue;
    for (std::size_t ch = 0; ch < v[j].size(); ++ch) {
      double ws = 0, cs = 0;
      int miss = 0;
      for (int t = -(h - 1); t <= h - 1; ++t) {
        const double x = v[j + t][ch];
        if (x < kThreshold) {
          ws += up.coef[std::abs(t)] * x;
          cs += up.coef[std::abs(t)];
        } else {
          ++miss;
        }
      }
      const double r = h == 1 ? v[j][ch] : miss > h - 1 ? double(kThreshold) + 10000.0 : ws / cs;
      out[n[j]].push_back(static_cast<float>(r));
    }
  }
  return out;
}

TEST(DecimationAvailability, RuleForReadPointers) {
  bool wrap = false;
  EXPECT_EQ(available_samples(5, 5, 100, wrap), 0);
  EXPECT_EQ(available_samples(7, 3, 100, wrap), 0);  // ahead of the writer: initial samples are skipped
  EXPECT_FALSE(wrap);
  EXPECT_EQ(available_samples(3, 10, 100, wrap), 7);
  EXPECT_TRUE(wrap);
  EXPECT_EQ(available_samples(90, 10, 100, wrap), 20);  // the writer went round the end of the buffer
}

TEST(DecimationFilter, HalfLengthOneIsSubsamplingOnThePhase) {
  DecSetup s = setup({level(16, 0, 1, {1}), level(16, 0, 4, {1})});
  Cascade c;
  cascade_allocate(c, s, 2, kThreshold);
  const Signal x = [](std::int64_t n, int ch) { return float(n) * 1.5f + float(ch); };
  for (int phase : {3, -1}) {  // the same phase modulo 4
    s.lev[2].iphase = phase;
    for (std::int64_t first : {0, 10}) {
      Stream out = stream(c, s, first, 40, x);
      std::vector<std::int64_t> want;
      for (std::int64_t n = first; n < first + 40; ++n)
        if (n % 4 == 3) want.push_back(n);  // the last centre needs no neighbours
      EXPECT_EQ(marks(out.level[2]), want) << "phase " << phase << " first " << first;
      for (const auto& [n, v] : out.level[2]) EXPECT_EQ(v, (std::vector<float>{x(n, 0), x(n, 1)}));
    }
  }
}

TEST(DecimationFilter, WeightsRenormalisedToUnitGain) {
  const Signal x = [](std::int64_t n, int) { return float((n * 37) % 11) - 3.0f; };
  // (0.5, 0.25): half the centre plus a quarter of each neighbour.
  DecSetup s = setup({level(16, 0, 1, {1}), level(16, 0, 2, {0.5f, 0.25f})});
  Cascade c;
  cascade_allocate(c, s, 1, kThreshold);
  Stream out = stream(c, s, 0, 21, x);
  EXPECT_EQ(marks(out.level[2]), (std::vector<std::int64_t>{2, 4, 6, 8, 10, 12, 14, 16, 18}));
  for (const auto& [n, v] : out.level[2]) EXPECT_FLOAT_EQ(v[0], 0.5f * x(n, 0) + 0.25f * (x(n - 1, 0) + x(n + 1, 0)));
  // Taps summing to 4 are divided by their sum.
  s.lev[2].coef = {2.0f, 1.0f};
  out = stream(c, s, 0, 21, x);
  for (const auto& [n, v] : out.level[2]) EXPECT_FLOAT_EQ(v[0], (2 * x(n, 0) + x(n - 1, 0) + x(n + 1, 0)) / 4.0f);
}

TEST(DecimationFilter, FiveTapsWithMissingValues) {
  // h = 3, centres at 2, 7, 12, 17 (decfac 5, phase 2).
  DecSetup s = setup({level(16, 0, 1, {1}), level(16, 0, 5, {0.4f, 0.2f, 0.1f})});
  s.lev[2].iphase = 2;
  Cascade c;
  cascade_allocate(c, s, 1, kThreshold);
  auto value = [](std::int64_t n) { return float(10 + n); };
  // Around centre 7 two values are missing (5, 8); around centre 12 three
  // (10, 14, and 13 exactly at the threshold, which the filter does not use).
  const Signal x = [&](std::int64_t n, int) {
    if (n == 5 || n == 8 || n == 10 || n == 14) return kMissing;
    return n == 13 ? kThreshold : value(n);
  };
  Stream out = stream(c, s, 0, 20, x);
  EXPECT_EQ(marks(out.level[2]), (std::vector<std::int64_t>{2, 7, 12, 17}));
  EXPECT_NEAR(out.level[2][2][0], value(2), 1e-5);  // all present: a straight line passes
  EXPECT_NEAR(out.level[2][7][0], (0.4 * value(7) + 0.2 * value(6) + 0.1 * value(9)) / 0.7, 1e-5);
  EXPECT_EQ(out.level[2][12][0], kThreshold + 10000.0f);
  EXPECT_GT(out.level[2][12][0], kThreshold);  // still missing for the windows
}

TEST(DecimationCascade, SmallBlocksGiveTheSameLevelsAsWholeBlocks) {
  // Filters shorter than their decimation factor leave the next centre beyond
  // the newest sample; deep levels gain a sample only every few blocks.
  DecSetup s = setup({level(16, 0, 1, {1}), level(16, 0, 4, {0.5f, 0.25f}), level(16, 0, 4, {0.4f, 0.2f, 0.1f}),
                      level(16, 0, 4, {1}), level(16, 0, 2, {0.5f, 0.25f})});
  const int phase[] = {0, 0, 1, 5, 21, 21};
  for (int lev = 2; lev <= 5; ++lev) s.lev[lev].iphase = phase[lev];
  Cascade c;
  cascade_allocate(c, s, 3, kThreshold);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-100.0f, 100.0f);
  const int count = 40000;  // every level buffer wraps many times
  std::vector<float> data(std::size_t(count) * 3);
  for (auto& v : data) v = u(rng);
  for (int k = 0; k < 60; ++k) data[std::size_t(rng() % count) * 3 + rng() % 3] = kMissing;
  const std::int64_t first = 123457;
  const Signal x = [&](std::int64_t n, int ch) { return data[std::size_t(n - first) * 3 + ch]; };

  Stream whole = stream(c, s, first, count, x);
  Stream small = stream(c, s, first, count, x, {1, 7, 3, 1, 1, 2, 5, 256, 13});
  EXPECT_EQ(small.level, whole.level);
  EXPECT_GT(whole.level[5].size(), 100u);
  // Both agree with a direct evaluation of the cascade in double precision.
  std::int64_t K = 1;
  for (int lev = 1; lev < s.nd; ++lev) {
    K *= s.lev[lev + 1].decfac;
    const LevelSamples want = reference_level(whole.level[lev], s.lev[lev + 1], K, phase[lev + 1]);
    ASSERT_EQ(marks(whole.level[lev + 1]), marks(want)) << "level " << lev + 1;
    for (const auto& [n, v] : want)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_NEAR(whole.level[lev + 1][n][ch], v[ch], 2e-5 * std::max(1.0f, std::fabs(v[ch])))
            << "level " << lev + 1 << " sample " << n;
  }
}

TEST(DecimationCascade, IntegerSamplesMatchRealSamples) {
  DecSetup s = setup({level(16, 0, 1, {1}), level(16, 0, 3, {0.5f, 0.3f})});
  Cascade c;
  cascade_allocate(c, s, 2, kThreshold);
  const Signal x = [](std::int64_t n, int ch) { return float((n * 7919 + ch * 31) % 2001 - 1000); };
  EXPECT_EQ(stream(c, s, 5, 1000, x, {nblk}, true).level, stream(c, s, 5, 1000, x).level);
}

TEST(DecimationCascade, BuffersAreSizedFromTheSetup) {
  std::vector<LevelSetup> lv;
  for (int lev = 1; lev <= 4; ++lev)
    lv.push_back(level(128, 32, lev == 1 ? 1 : 4, {0.5f, 0.25f}, 50, 0, 3, 5, 2));
  Cascade c;
  cascade_allocate(c, setup(lv), 5, kThreshold);
  std::size_t bytes = 0;
  for (int lev = 1; lev <= 4; ++lev)
    bytes += c.lev[lev].index.size() * sizeof(std::int64_t) + c.lev[lev].data.size() * sizeof(float);
  EXPECT_LT(bytes, std::size_t(1) << 20);
  EXPECT_EQ(c.lev[5].slots, 0);
}

TEST(DecimationCascade, RefusesUseItCannotRun) {
  Cascade c;
  auto alloc = [&](std::vector<LevelSetup> lv, int nch = 1) { cascade_allocate(c, setup(lv), nch, kThreshold); };
  EXPECT_THROW(alloc({level(16, 0, 1, {1})}, 7), Error);                      // more channels than rows hold
  EXPECT_THROW(alloc({level(16, 0, 1, {1}), level(16, 0, 4000000, {1})}), Error);  // beyond 2097152 slots

  // A windowed level left undrained for several blocks is refused rather
  // than silently overwritten.
  const DecSetup s = setup({level(8, 0, 1, {1}, 4)});
  cascade_allocate(c, s, 1, kThreshold);
  decimation_setup(c, s, 0);
  SampleBlock blk;
  blk.npts = nblk;
  for (int r = 0; r < nblk; ++r) blk.index[r] = r;
  decimate_block(c, s, blk, true);
  EXPECT_THROW(decimate_block(c, s, blk, true), Error);
  blk.npts = nblk + 1;
  EXPECT_THROW(decimate_block(c, s, blk, true), Error);
}

}  // namespace
}  // namespace qv
