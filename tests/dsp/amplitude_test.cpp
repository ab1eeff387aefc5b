#include <gtest/gtest.h>

#include <vector>

#include "common/limits.hpp"
#include "dsp/amplitude.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::view;

DecSetup two_levels(int nfreq1, int nfreq2) {
  DecSetup s;
  s.nd = 2;
  s.lev[1].nwin = 16;
  s.lev[1].nfreq = nfreq1;
  s.lev[2].nwin = 16;
  s.lev[2].nfreq = nfreq2;
  return s;
}

TEST(Amplitude, SumsAreSizedFromNfreqAndStartAtZero) {
  AmplitudeSums a;
  amplitude_allocate(a, two_levels(5, 0));
  EXPECT_EQ(a.lev[1].size(), 5u * nchmx);
  EXPECT_TRUE(a.lev[2].empty());
  for (float v : a.lev[1]) EXPECT_EQ(v, 0.0f);
}

TEST(Amplitude, AverageOfThreePlusFourIAndZeroIsTwoAndAHalf) {
  const DecSetup s = two_levels(3, 2);
  AmplitudeSums a;
  amplitude_allocate(a, s);
  std::vector<float> w(wld * 2 * 8, 0.0f);
  // Window 1: 3 + 4i at k = 2, channel 1; beyond nfreq (k = 4) a value that
  // must not count; channel 3 is beyond nch.
  w[wre(1, 2)] = 3.0f;
  w[wim(1, 2)] = 4.0f;
  w[wre(0, 4)] = 100.0f;
  w[wre(3, 1)] = 100.0f;
  accumulate_amplitudes(view(w, 2), 3, a.lev[1].data());
  // Window 2: all zero.
  std::vector<float> zero(w.size(), 0.0f);
  accumulate_amplitudes(view(zero, 2), 3, a.lev[1].data());
  std::array<int, ndmx + 1> sets{};
  sets[1] = 2;  // level 2 stored no window
  average_amplitudes(a, s, sets, 2);
  EXPECT_FLOAT_EQ(a.lev[1][(2 - 1) * nchmx + 1], 2.5f);
  for (std::size_t i = 0; i < a.lev[1].size(); ++i) {
    if (i == (2 - 1) * nchmx + 1) continue;
    EXPECT_EQ(a.lev[1][i], 0.0f) << i;
  }
  for (float v : a.lev[2]) EXPECT_EQ(v, 0.0f);  // no window: zero, not 0/0
}

TEST(Amplitude, ModulusOfNegativePartsAndTinyValues) {
  std::vector<float> w(wld * 4, 0.0f), sums(nchmx, 0.0f);
  w[wre(0, 1)] = -5.0f;
  w[wim(0, 1)] = -12.0f;
  w[wre(1, 1)] = 1e-30f;  // its square underflows to zero: counts as 0
  accumulate_amplitudes(view(w, 2), 1, sums.data());
  EXPECT_FLOAT_EQ(sums[0], 13.0f);
  EXPECT_EQ(sums[1], 0.0f);
}

}  // namespace
}  // namespace qv
