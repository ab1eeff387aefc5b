#include "driver/window_schedule.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "common/error.hpp"
#include "support/cascade_stream.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::view;

using namespace testing_cascade;

// 1e6 / 2^16 Hz: the rate per microsecond is exact in single precision, so a
// start time of 65536 * n microseconds is exactly start sample n.
constexpr float kExactRate = 15.2587890625f;

// A windowed level: nwin, olap, decfac, taps, ianchor, pwlen, nspan, nbadmx.
LevelSetup wlevel(int nwin, float olap, int decfac, std::vector<float> coef, int ianchor, int pwlen = 1,
                  int nspan = 1, int nbadmx = 0) {
  return level(nwin, olap, decfac, coef, 1, ianchor, pwlen, nspan, nbadmx);
}

// Median of the values present among n-2..n+2 (nspan 5), worked out directly.
float median5(const Signal& x, std::int64_t n) {
  std::vector<double> v;
  for (std::int64_t j = n - 2; j <= n + 2; ++j)
    if (!(x(j, 0) > kThreshold)) v.push_back(x(j, 0));
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size();
  return static_cast<float>(m % 2 ? v[m / 2] : 0.5 * (v[m / 2 - 1] + v[m / 2]));
}

TEST(StartTimeAlignment, ReportsTheStartSample) {
  DecSetup s = setup({wlevel(100, 0, 1, {1}, 0)});
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  GridAlignment g = align_start_time(s, 65536LL * 1030, kExactRate, con);
  EXPECT_EQ(err.str(), " start_samp,_int,sampfreq 1030 67502080 15.258789\n");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(g.first_window[1], 10);
}

TEST(StartTimeAlignment, GridRemainderZeroVersusPositive) {
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  struct Case {
    int ianchor, first, rebased;
  };
  // Window step 100 input samples, start sample 1030. Remainder 0: o = 10.3;
  // remainder 20: o = (1030 - 20) / 100 + 1 = 11.1; a negative remainder
  // (-150 + 100 = -50, sign of the dividend) counts as no remainder.
  for (Case k : {Case{0, 10, -30}, Case{20, 11, -10}, Case{-80, 11, -10}, Case{-150, 10, -30}}) {
    DecSetup s = setup({wlevel(100, 0, 1, {1}, k.ianchor)});
    GridAlignment g = align_start_time(s, 65536LL * 1030, kExactRate, con);
    EXPECT_EQ(g.first_window[1], k.first) << k.ianchor;
    EXPECT_EQ(s.lev[1].ianchor, k.rebased) << k.ianchor;
    EXPECT_EQ(s.lev[1].iphase, 0);
    EXPECT_NEAR(g.grid_residual, 0.0f, 1e-9);  // o is formed in double precision
  }
}

TEST(StartTimeAlignment, ResidualAndPhasesOfDecimatedLevels) {
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  // Start sample 1030.25: level 1 o = 10.3025, m = -30.25, offset -30,
  // residual 0.25; level 2 (step 400 input samples) o = 2.575625, m = 169.75,
  // offset 170, phase 170 mod 4 = 2.
  DecSetup s = setup({wlevel(100, 0, 1, {1}, 0), wlevel(100, 0, 4, {0.5f, 0.25f}, 0)});
  GridAlignment g = align_start_time(s, 65536LL * 1030 + 16384, kExactRate, con);
  EXPECT_EQ(g.first_window[1], 10);
  EXPECT_EQ(s.lev[1].ianchor, -30);
  EXPECT_FLOAT_EQ(g.grid_residual, 0.25f);
  EXPECT_EQ(g.first_window[2], 3);
  EXPECT_EQ(s.lev[2].ianchor, 170);
  EXPECT_EQ(s.lev[2].iphase, 2);
  // Start sample 1250: level 1 o = 12.5 rounds away from zero to 13 (offset
  // 50); level 2 o = 3.125, offset -50, phase -2 (sign of the dividend).
  s = setup({wlevel(100, 0, 1, {1}, 0), wlevel(100, 0, 4, {0.5f, 0.25f}, 0)});
  g = align_start_time(s, 65536LL * 1250, kExactRate, con);
  EXPECT_EQ(g.first_window[1], 13);
  EXPECT_EQ(s.lev[1].ianchor, 50);
  EXPECT_EQ(g.first_window[2], 3);
  EXPECT_EQ(s.lev[2].ianchor, -50);
  EXPECT_EQ(s.lev[2].iphase, -2);
}

TEST(WindowCount, WindowsALevelCanDeliver) {
  LevelSetup ls = wlevel(128, 32, 1, {1}, 0, 3, 5);
  EXPECT_EQ(window_count(ls, 300), 2);  // (300 - 32 - 6 - 2) / 96 = 2.7
  EXPECT_EQ(window_count(ls, 133), 0);
  EXPECT_EQ(window_count(ls, 0), 0);
  ls.olap = 32.5f;
  EXPECT_EQ(window_count(ls, 300), 2);  // 259.5 / 95.5
  EXPECT_EQ(window_count(ls, 334), 3);  // 293.5 / 95.5 = 3.07
  ls.nfreq = 0;
  EXPECT_EQ(window_count(ls, 100000), 0);
}

TEST(ExtractWindow, WindowsOnTheGridHaveNoMisfit) {
  DecSetup s = setup({wlevel(8, 2, 1, {1}, 3, 3)});  // step 6, windows of 8 + 2 samples from 3
  Cascade c;
  cascade_allocate(c, s, 2, kThreshold);
  const Signal x = [](std::int64_t n, int ch) { return float(100 * ch + n); };
  Stream run = stream(c, s, 0, 64, x);
  ASSERT_EQ(run.windows[1].size(), 8u);  // (61 - 2 - 6) / 6
  for (int k = 0; k < 8; ++k) {
    const Window& w = run.windows[1][k];
    EXPECT_EQ(w.w.first_mark, 3 + 6 * k);
    EXPECT_EQ(w.w.last_mark, 3 + 6 * k + 9);
    EXPECT_EQ(w.w.number, k + 1);
    EXPECT_EQ(w.w.misfit, 0.0f);
    EXPECT_TRUE(w.w.usable);
    for (int t = 0; t < 10; ++t) {
      EXPECT_EQ(w.data[t * 2], x(w.w.first_mark + t, 0));
      EXPECT_EQ(w.data[t * 2 + 1], x(w.w.first_mark + t, 1));
    }
  }
  // The window count keeps a margin; beyond the written samples extraction refuses.
  std::vector<float> win(nchmx * 16);
  EXPECT_EQ(extract_window(c, s, 1, view(win, 2)).first_mark, 51);
  EXPECT_THROW(extract_window(c, s, 1, view(win, 2)), Error);
}

TEST(ExtractWindow, FractionalOverlapGivesMisfitAndNearestSlot) {
  // Step 5.5: grid starts at 3, 8.5, 14, 19.5; the pointer moves to the
  // nearest slot (halves away from zero) and the misfit says how far the
  // ideal start lies after it.
  DecSetup s = setup({wlevel(8, 2.5f, 1, {1}, 3)});
  Cascade c;
  cascade_allocate(c, s, 1, kThreshold);
  Stream run = stream(c, s, 0, 40, [](std::int64_t n, int) { return float(n); });
  ASSERT_GE(run.windows[1].size(), 4u);
  const std::int64_t marks[] = {3, 9, 14, 20};
  const float misfits[] = {0, -0.5f, 0, -0.5f};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(run.windows[1][k].w.first_mark, marks[k]);
    EXPECT_EQ(run.windows[1][k].w.number, k + 1);
    EXPECT_FLOAT_EQ(run.windows[1][k].w.misfit, misfits[k]);
  }
}

// One level, windows of 8 from absolute sample 104 on (grid offset 0, step 8).
struct MedianCase {
  Cascade c;
  DecSetup s;
  Stream run;
  MedianCase(int nbadmx, const Signal& x, std::int64_t first = 100) {
    s = setup({wlevel(8, 0, 1, {1}, 0, 1, 5, nbadmx)});
    cascade_allocate(c, s, 1, kThreshold);
    run = stream(c, s, first, 40, x);
  }
  const Window& first_window() const { return run.windows[1].at(0); }
};

Signal with_missing(std::vector<std::int64_t> missing, float value = kMissing) {
  return [missing, value](std::int64_t n, int) {
    if (std::find(missing.begin(), missing.end(), n) != missing.end()) return value;
    return float((n * 37) % 101);
  };
}

TEST(ExtractWindow, MedianOfTheNeighbourhoodOrUnusable) {
  // nspan 5 around samples of the window 104..111; every replacement is
  // compared with the median of the values present worked out directly.
  struct Case {
    std::vector<std::int64_t> missing;
    int nbadmx;
    bool usable;
  };
  const Case cases[] = {
      {{106}, 1, true},                      // four present: mean of the middle two
      {{106, 107}, 1, false},                // two missing, one tolerated
      {{106, 107}, 2, true},                 // each replacement read from the buffer, not the one before
      {{104, 105, 106, 107, 108}, 5, false}, // 106 has nothing present around it
  };
  for (const Case& k : cases) {
    const Signal x = with_missing(k.missing);
    MedianCase m(k.nbadmx, x);
    const Window& w = m.first_window();
    ASSERT_EQ(w.w.first_mark, 104);
    EXPECT_EQ(w.w.number, 14);  // 104 / 8 + 1
    EXPECT_EQ(w.w.usable, k.usable) << k.missing.size() << " missing, nbadmx " << k.nbadmx;
    EXPECT_EQ(m.run.windows[1].at(1).w.first_mark, 112);  // the next window comes either way
    if (!k.usable) continue;
    for (int t = 0; t < 8; ++t) {
      const bool gone = std::count(k.missing.begin(), k.missing.end(), 104 + t) > 0;
      EXPECT_EQ(w.data[t], gone ? median5(x, 104 + t) : x(104 + t, 0)) << 104 + t;
    }
  }
  // A value equal to the threshold is present.
  MedianCase m(0, with_missing({106}, kThreshold));
  EXPECT_TRUE(m.first_window().w.usable);
  EXPECT_EQ(m.first_window().data[2], kThreshold);
}

TEST(ExtractWindow, NothingBeforeTheStretchCountsAsPresent) {
  // First window at slot 0: the two neighbours before it lie before the
  // first sample of the stretch and count as missing.
  const Signal x = with_missing({0});
  EXPECT_FALSE(MedianCase(2, x, 0).first_window().w.usable);
  MedianCase m(3, x, 0);
  ASSERT_EQ(m.first_window().w.first_mark, 0);
  EXPECT_EQ(m.first_window().data[0], 0.5f * (x(1, 0) + x(2, 0)));
}

TEST(ExtractWindow, NeighbourhoodWrapsAroundTheBuffer) {
  DecSetup s = setup({wlevel(8, 0, 1, {1}, 0, 1, 5, 1)});
  Cascade c;
  cascade_allocate(c, s, 1, kThreshold);
  const int L = c.lev[1].slots;
  // Absolute sample L sits in slot 0 (its earlier neighbours at the end of the
  // buffer); 2L - 1 sits in the last slot (its later neighbours at the start).
  const Signal x = with_missing({L, 2 * std::int64_t(L) - 1});
  Stream run = stream(c, s, 0, 3 * L, x);
  int found = 0;
  for (const Window& w : run.windows[1])
    for (std::int64_t n : {std::int64_t(L), 2 * std::int64_t(L) - 1})
      if (n >= w.w.first_mark && n < w.w.first_mark + 8) {
        EXPECT_TRUE(w.w.usable);
        EXPECT_EQ(w.data[n - w.w.first_mark], median5(x, n)) << n;
        ++found;
      }
  EXPECT_EQ(found, 2);
}

// Two runs over the same recording, the second starting k samples later:
// decimated samples and windows fall on the same absolute samples, with the
// same window numbers, whether the rebased offsets come out positive or
// negative.
TEST(WindowGrid, LaterStartGivesTheSameSamplesAndWindows) {
  const std::vector<LevelSetup> levels = {
      wlevel(16, 4, 1, {1}, 0, 2, 3, 1),                 // step 12 input samples, grid through the origin
      wlevel(16, 4, 4, {0.4f, 0.2f, 0.1f}, 7, 1, 3, 1),  // step 48
      wlevel(8, 0, 2, {0.5f, 0.25f}, 3, 3, 5, 2),        // step 64; offset 3 keeps the phase of level 2
  };
  const std::int64_t grid_offset[] = {0, 0, 7, 3};
  const std::int64_t grid_step[] = {0, 12, 48, 64};
  const std::int64_t start = 1000;  // start sample of the earliest run
  const Signal phys = [](std::int64_t p, int ch) { return float((p * 7919 + ch * 104729) % 1999) * 0.01f; };

  // Earliest run, by absolute sample: level samples and window contents.
  std::vector<std::map<std::int64_t, std::vector<float>>> base_samples(4), base_windows(4);
  bool negative_offset = false;
  for (int k = 0; k < 40; ++k) {
    DecSetup s = setup(levels);
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    const GridAlignment g = align_start_time(s, 65536LL * (start + k), kExactRate, con);
    for (int lev = 1; lev <= 3; ++lev) negative_offset = negative_offset || s.lev[lev].ianchor < 0;
    Cascade c;
    cascade_allocate(c, s, 2, kThreshold);
    // Each run numbers its samples from 0 at its own first sample.
    const std::int64_t first = start + k;
    Stream run = stream(c, s, 0, 3000, [&](std::int64_t n, int ch) { return phys(first + n, ch); });
    for (int lev = 1; lev <= 3; ++lev) {
      ASSERT_FALSE(run.windows[lev].empty());
      for (const auto& [mark, v] : run.level[lev]) {
        if (k == 0) base_samples[lev][first + mark] = v;
        if (first + mark > base_samples[lev].rbegin()->first) continue;  // beyond the earliest run
        EXPECT_EQ(base_samples[lev][first + mark], v) << "level " << lev << " k " << k << " at " << first + mark;
      }
      // Every window starts on the grid, and its number counts grid steps
      // from the time origin: through the origin, the window at 0 is number
      // 1; with a remainder r > 0, the window at r is number 2.
      const std::int64_t r = grid_offset[lev];
      const std::int64_t h = grid_step[lev];
      for (const Window& w : run.windows[lev]) {
        const std::int64_t p = first + w.w.first_mark;
        EXPECT_EQ(w.w.misfit, 0.0f);
        EXPECT_TRUE(w.w.usable);
        ASSERT_EQ((p - r) % h, 0) << "level " << lev << " k " << k << " at " << p;
        EXPECT_EQ(w.w.number + g.first_window[lev], (p - r) / h + (r > 0 ? 2 : 1));
        if (k == 0) base_windows[lev][p] = w.data;
        if (p > base_windows[lev].rbegin()->first) continue;
        EXPECT_EQ(base_windows[lev][p], w.data) << "level " << lev << " k " << k << " at " << p;
      }
    }
  }
  EXPECT_TRUE(negative_offset);
}

TEST(WindowGrid, LevelsWithoutWindowsOnlyDecimate) {
  std::vector<LevelSetup> levels = {wlevel(32, 8, 1, {1}, 0), level(32, 8, 4, {0.5f, 0.25f}),
                                    wlevel(16, 0, 4, {0.4f, 0.2f, 0.1f}, 0)};
  DecSetup s = setup(levels);
  Cascade c;
  cascade_allocate(c, s, 1, kThreshold);
  Stream run = stream(c, s, 0, 20000, [](std::int64_t n, int) { return float(n % 13); });
  EXPECT_EQ(c.lev[2].aw, 0);
  EXPECT_TRUE(run.windows[2].empty());
  EXPECT_GT(run.level[2].size(), 4000u);  // level 2 still feeds level 3
  ASSERT_GE(run.windows[3].size(), 70u);  // 20000 / 256
  for (const Window& w : run.windows[3]) EXPECT_EQ(w.w.first_mark % 256, 0);
  std::vector<float> win(nchmx * 64);
  EXPECT_THROW(extract_window(c, s, 2, view(win, 1)), Error);
}

}  // namespace
}  // namespace qv
