#include "dsp/window_prep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::view;

// The taper polynomial from its decimal coefficients, in double precision.
double taper_poly(double u) {
  const double a[] = {0.229020521,    0.434339046,    0.227537543,    0.0552806258,   0.00774126919, 0.000704989594,
                      4.50948464e-05, 2.13734097e-06, 7.80751037e-08, 2.26542562e-09, 5.34769382e-11};
  double p = 0, un = 1;
  for (double c : a) {
    p += c * un;
    un *= u;
  }
  return p;
}

std::vector<float> taper(int n) {
  std::vector<float> table(n, -1.0f);
  std::vector<float> w(std::size_t(n + nwspare) * nchmx, 1.0f);
  bool flag = true;
  apply_taper(view(w, 1), n, flag, table.data());
  EXPECT_FALSE(flag);
  return table;
}

TEST(Taper, WeightsOfShortWindowsFromThePolynomial) {
  const std::vector<float> one = taper(1);
  EXPECT_NEAR(one[0], taper_poly(1.0) * std::sqrt(2.0), 1e-6);
  EXPECT_NEAR(one[0], 1.3501, 1e-4);

  const std::vector<float> four = taper(4);
  EXPECT_NEAR(four[0], taper_poly(0.4375) * std::sqrt(0.5), 1e-6);
  EXPECT_NEAR(four[1], taper_poly(0.9375) * std::sqrt(0.5), 1e-6);
  EXPECT_EQ(four[2], four[1]);
  EXPECT_EQ(four[3], four[0]);

  const std::vector<float> five = taper(5);  // odd: the middle weight is the peak
  EXPECT_NEAR(five[2], taper_poly(1.0) * std::sqrt(0.4), 1e-6);
  EXPECT_EQ(five[0], five[4]);
  EXPECT_EQ(five[1], five[3]);
}

TEST(Taper, UnitEnergyAndShape) {
  double energy = 0;
  const std::vector<float> w = taper(128);
  for (float v : w) energy += double(v) * v;
  EXPECT_NEAR(energy, 1.0000081, 1e-6);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(w[i], w[127 - i]);
    if (i > 0) {
      EXPECT_GT(w[i], w[i - 1]);  // rises to the centre
    }
  }
  const double x0 = 1.0 / 128 - 1;  // centre of the first cell
  EXPECT_NEAR(w[0], taper_poly((1 - x0) * (1 + x0)) * std::sqrt(2.0 / 128), 1e-6);
  for (int n : {1000, 65536}) {
    double e = 0;
    for (float v : taper(n)) e += double(v) * v;
    EXPECT_NEAR(e, 1.0, 1e-5) << "n=" << n;
  }
}

TEST(Taper, MultipliesChannelsInUseAndReusesTheTable) {
  const int n = 16;
  std::vector<float> w(std::size_t(n + nwspare) * nchmx, 2.0f);
  std::vector<float> table(n);
  bool flag = true;
  apply_taper(view(w, 3), n, flag, table.data());
  for (int t = 0; t < n + nwspare; ++t) {
    for (int c = 0; c < nchmx; ++c) {
      const float expect = (c < 3 && t < n) ? 2.0f * table[t] : 2.0f;
      EXPECT_EQ(w[widx(c, t)], expect) << "c=" << c << " t=" << t;
    }
  }
  // A later window of the level takes the stored table as it is.
  for (auto& v : table) v = 0.5f;
  std::fill(w.begin(), w.end(), 3.0f);
  apply_taper(view(w, 1), n, flag, table.data());
  for (int t = 0; t < n; ++t) EXPECT_EQ(w[widx(0, t)], 1.5f);

  EXPECT_THROW(apply_taper(view(w, 0), n, flag, table.data()), Error);
  EXPECT_THROW(apply_taper(view(w, 1), 0, flag, table.data()), Error);
}

TEST(RemoveMean, ConstantChannelsBecomeZero) {
  const int m = 100;
  std::vector<float> w(std::size_t(m + nwspare) * nchmx);
  const float level[nchmx] = {1.5f, -2.25f, 1000.0f, 0.0f, 7.0f, 3.0f};
  for (int t = 0; t < m + nwspare; ++t) {
    for (int c = 0; c < nchmx; ++c) w[widx(c, t)] = level[c];
  }
  remove_mean(view(w, 5), m);
  for (int t = 0; t < m + nwspare; ++t) {
    for (int c = 0; c < nchmx; ++c) {
      const float expect = (c < 5 && t < m) ? 0.0f : level[c];  // samples from m on and channel 6 untouched
      EXPECT_EQ(w[widx(c, t)], expect) << "c=" << c << " t=" << t;
    }
  }
}

TEST(RemoveMean, LeavesZeroSumOverTheSamples) {
  // As after pre-whitening: an offset and noise; the second removal over n
  // samples must leave each channel summing to zero within rounding.
  const int n = 4096;
  std::vector<float> w(std::size_t(n + nwspare) * nchmx);
  std::mt19937 gen(3);
  std::normal_distribution<float> d(0.0f, 1.0f);
  for (int t = 0; t < n + nwspare; ++t) {
    for (int c = 0; c < nchmx; ++c) w[widx(c, t)] = 25.0f * c + d(gen);
  }
  std::vector<double> mean(nchmx, 0.0);
  for (int c = 0; c < nchmx; ++c) {
    for (int t = 0; t < n; ++t) mean[c] += w[widx(c, t)];
    mean[c] /= n;
  }
  const std::vector<float> before = w;
  remove_mean(view(w, nchmx), n);
  for (int c = 0; c < nchmx; ++c) {
    double sum = 0;
    for (int t = 0; t < n; ++t) sum += w[widx(c, t)];
    EXPECT_NEAR(sum / n, 0.0, 1e-4) << "c=" << c;
    EXPECT_NEAR(before[widx(c, 7)] - w[widx(c, 7)], mean[c], 1e-4 * (1 + std::abs(mean[c])));
  }
  EXPECT_THROW(remove_mean(view(w, 1), 0), Error);
  EXPECT_THROW(remove_mean(view(w, 7), n), Error);
}

}  // namespace
}  // namespace qv
