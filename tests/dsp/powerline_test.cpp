// The powerline filter against independent calculations: tones it must remove
// exactly, an ordinary least-squares fit in long double with directly computed
// cosines and sines, and the treatment of missing samples.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <sstream>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "dsp/powerline.hpp"

namespace qv {
namespace {

constexpr float kThreshold = 2147473664.0f;
constexpr float kMissing = 2147483647.0f;

class Powerline : public testing::Test {
 protected:
  // Fills channel c of a block of m rows with f(t, c) (t counts rows from 0).
  void fill(int m, int nch, const std::function<double(int, int)>& f) {
    blk->npts = m;
    for (int t = 0; t < m; ++t)
      for (int c = 0; c < nch; ++c) at(t, c) = static_cast<float>(f(t, c));
  }
  float& at(int t, int c) { return blk->real[static_cast<std::size_t>(t * nchmx + c)]; }
  int filter(int nch, float fpl, float dt) {
    return filter_powerline(*blk, nch, fpl, dt, kThreshold, fit, con);
  }

  std::unique_ptr<SampleBlock> blk = std::make_unique<SampleBlock>();
  PowerlineFit fit;
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

double tone(double hz, double t_s, double phase) { return std::cos(2.0 * std::numbers::pi * hz * t_s + phase); }

TEST_F(Powerline, StationaryHumLeavesOnlyTheOffset) {
  // 250 samples/s, 50 Hz: segments of 12 periods = 60 samples and the
  // harmonics 50 and 100 Hz. 130 rows: segments 1-60 and 61-120, the second
  // fit extrapolated over 121-130. The hum changes between the two segments;
  // each segment's own fit removes it exactly.
  const double dt = 0.004;
  fill(130, 2, [&](int t, int c) {
    const double a = t < 60 ? 300.0 : 120.0;
    return 1234.5 * (c + 1) + a * tone(50, t * dt, 0.3 + c) + 0.4 * a * tone(100, t * dt, 1.1);
  });
  EXPECT_EQ(filter(2, 50.0f, 0.004f), powerline_filtered);
  EXPECT_EQ(fit.w, 60);
  EXPECT_EQ(fit.K, 2);
  for (int t = 0; t < 130; ++t)
    for (int c = 0; c < 2; ++c) ASSERT_NEAR(at(t, c), 1234.5 * (c + 1), 2e-3) << "row " << t + 1;
  EXPECT_EQ(out.str(), "");

  // 4000 samples/s, 60 Hz: 3 periods = 200 samples and 28 harmonics (the
  // cap: 33 lie below 2000 Hz), the 28th at 1680 Hz included.
  fill(256, 1, [&](int t, int) {
    return -50.0 + 20.0 * tone(60, t / 4000.0, 0.2) + 5.0 * tone(540, t / 4000.0, 2.0) + 3.0 * tone(1680, t / 4000.0, 1.0);
  });
  EXPECT_EQ(filter(1, 60.0f, 0.00025f), powerline_filtered);
  EXPECT_EQ(fit.w, 200);
  EXPECT_EQ(fit.K, 28);
  for (int t = 0; t < 256; ++t) ASSERT_NEAR(at(t, 0), -50.0, 2e-3) << "row " << t + 1;

  // 200 samples/s, 50 Hz: the second harmonic would sit on the Nyquist
  // frequency, where its sine vanishes at every sample; only 50 Hz is fitted,
  // and a signal alternating at 100 Hz is no hum to remove.
  fill(256, 1, [&](int t, int) { return 7.0 + 30.0 * tone(50, t / 200.0, 0.9) + (t % 2 ? 2.0 : -2.0); });
  EXPECT_EQ(filter(1, 50.0f, 0.005f), powerline_filtered);
  EXPECT_EQ(fit.K, 1);
  for (int t = 0; t < 256; ++t) ASSERT_NEAR(at(t, 0), 7.0 + (t % 2 ? 2.0 : -2.0), 2e-3) << "row " << t + 1;
}

TEST_F(Powerline, DriftingHumIsFollowedSegmentBySegment) {
  // The hum's amplitude grows from 100 to 120 and its phase turns by 0.2 rad
  // over the block: every 60-sample segment sees it nearly constant, and
  // what remains is its change within a segment.
  const double dt = 0.004;
  auto hum = [&](int t) {
    const double a = 100.0 + 20.0 * t / 255.0, phase = 0.2 * t / 255.0;
    return a * tone(50, t * dt, phase);
  };
  fill(256, 1, [&](int t, int) { return hum(t); });
  ASSERT_EQ(filter(1, 50.0f, 0.004f), powerline_filtered);
  double before = 0, after = 0;
  for (int t = 0; t < 256; ++t) {
    before += hum(t) * hum(t);
    after += static_cast<double>(at(t, 0)) * at(t, 0);
  }
  EXPECT_LT(std::sqrt(after / before), 0.03);  // under 3 % of the hum remains
}

// Least squares of a constant and K harmonics over x[0..n), in long double
// with directly computed cosines and sines, by Gaussian elimination.
std::vector<long double> direct_fit(const std::vector<double>& x, int n, int K, double fpl, double dt) {
  const int P = 2 * K + 1;
  auto phi = [&](int a, int t) -> long double {
    if (a == 0) return 1.0L;
    const int k = (a + 1) / 2;
    const long double angle = 2.0L * std::numbers::pi_v<long double> * k * fpl * dt * t;
    return a % 2 ? std::cos(angle) : std::sin(angle);
  };
  std::vector<std::vector<long double>> A(P, std::vector<long double>(P + 1, 0.0L));
  for (int a = 0; a < P; ++a) {
    for (int b = 0; b < P; ++b)
      for (int t = 0; t < n; ++t) A[a][b] += phi(a, t) * phi(b, t);
    for (int t = 0; t < n; ++t) A[a][P] += phi(a, t) * x[t];
  }
  for (int i = 0; i < P; ++i)
    for (int j = i + 1; j < P; ++j) {
      const long double f = A[j][i] / A[i][i];
      for (int k = i; k <= P; ++k) A[j][k] -= f * A[i][k];
    }
  std::vector<long double> beta(P);
  for (int i = P - 1; i >= 0; --i) {
    long double s = A[i][P];
    for (int k = i + 1; k < P; ++k) s -= A[i][k] * beta[k];
    beta[i] = s / A[i][i];
  }
  return beta;
}

TEST_F(Powerline, AgreesWithAnOrdinaryLeastSquaresFit) {
  // Noise plus hum at 500 samples/s and 50 Hz (segments of 60 samples, four
  // harmonics, the last of 16 samples extrapolated): the filter leaves what a
  // direct fit leaves, within single-precision rounding.
  const double dt = 0.002;
  std::vector<double> x(256);
  unsigned state = 7;
  for (int t = 0; t < 256; ++t) {
    state = state * 1664525u + 1013904223u;
    x[t] = static_cast<float>(40.0 * ((state >> 8) / 16777216.0 - 0.5) + 80.0 * tone(50, t * dt, 0.7) +
                              30.0 * tone(150, t * dt, 2.2) + 10.0 * tone(200, t * dt, -1.0) + 25.0);
  }
  fill(256, 1, [&](int t, int) { return x[t]; });
  ASSERT_EQ(filter(1, 50.0f, 0.002f), powerline_filtered);
  ASSERT_EQ(fit.w, 60);
  ASSERT_EQ(fit.K, 4);
  for (int seg = 0; seg < 4; ++seg) {
    const int s1 = seg * 60, end = seg == 3 ? 256 : s1 + 60;
    const std::vector<double> part(x.begin() + s1, x.begin() + end);
    const auto beta = direct_fit(part, 60, 4, 50.0, dt);
    for (int t = s1; t < end; ++t) {
      long double hum = 0;
      for (int k = 1; k <= 4; ++k) {
        const long double angle = 2.0L * std::numbers::pi_v<long double> * k * 50.0 * dt * (t - s1);
        hum += beta[2 * k - 1] * std::cos(angle) + beta[2 * k] * std::sin(angle);
      }
      ASSERT_NEAR(at(t, 0), static_cast<double>(x[t] - hum), 4e-3) << "row " << t + 1;
    }
  }
}

TEST_F(Powerline, MissingSamplesStayMissingAndTheirSegmentIsLeftAlone) {
  const double dt = 0.004;
  auto hum = [&](int t) { return 200.0 * tone(50, t * dt, 0.1); };
  fill(130, 2, [&](int t, int) { return 5.0 + hum(t); });
  at(30, 0) = kMissing;   // in the first fitted segment of channel 1
  at(125, 1) = kMissing;  // among the extrapolated rows of channel 2
  ASSERT_EQ(filter(2, 50.0f, 0.004f), powerline_filtered);
  EXPECT_EQ(at(30, 0), kMissing);
  EXPECT_EQ(at(125, 1), kMissing);
  for (int t = 0; t < 60; ++t)
    if (t != 30) {
      ASSERT_EQ(at(t, 0), static_cast<float>(5.0 + hum(t))) << "row " << t + 1;  // untouched
    }
  for (int t = 60; t < 130; ++t) ASSERT_NEAR(at(t, 0), 5.0, 2e-3) << "row " << t + 1;
  for (int t = 0; t < 130; ++t)
    if (t != 125) {
      ASSERT_NEAR(at(t, 1), 5.0, 2e-3) << "row " << t + 1;
    }
}

TEST_F(Powerline, BlocksThatCannotBeFilteredAreLeftWithAWarning) {
  fill(256, 1, [](int t, int) { return t; });
  const auto unchanged = [&] {
    for (int t = 0; t < 256; ++t)
      if (at(t, 0) != static_cast<float>(t)) return false;
    return true;
  };
  // 1 sample per second: no powerline period spans more than 2 samples.
  EXPECT_EQ(filter(1, 60.0f, 1.0f), powerline_skipped);
  EXPECT_EQ(filter(1, 50.0f, 0.01f), powerline_skipped);  // exactly 2 samples per period
  EXPECT_EQ(filter(1, 0.0f, 0.004f), powerline_skipped);  // no frequency at all
  blk->npts = 50;  // shorter than a 60-sample segment
  EXPECT_EQ(filter(1, 50.0f, 0.004f), powerline_skipped);
  EXPECT_TRUE(unchanged());
  blk->npts = 0;  // an empty block is no reason to stop
  EXPECT_EQ(filter(1, 60.0f, 1.0f), powerline_filtered);
  EXPECT_EQ(out.str(),
            " WARNING: no meaningful frequency to filter, skip filtering!\n"
            " WARNING: no meaningful frequency to filter, skip filtering!\n"
            " DFTSEG-WARNING: frequency too low,     nseg too large, skip filtering\n"
            " WARNING: no meaningful frequency to filter, skip filtering!\n");
}

}  // namespace
}  // namespace qv
