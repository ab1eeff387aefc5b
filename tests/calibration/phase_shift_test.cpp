#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "calibration/phase_shift.hpp"
#include "common/error.hpp"
#include "common/limits.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::view;

constexpr int kM = 32;  // coefficients per window in these tests

std::vector<float> random_window(unsigned seed) {
  std::vector<float> w(wld * (2 * kM + 2));
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  for (float& v : w) v = u(gen);
  return w;
}

std::complex<double> coef(const std::vector<float>& w, int c, int k) { return {w[wre(c, k)], w[wim(c, k)]}; }

// Coefficient k times exp(-i 2 pi f_k tau), f_k = k / (nwin dr), in double.
void expect_shifted(const std::vector<float>& before, const std::vector<float>& after, int nch, double tau,
                    double dr, int nwin, double tol) {
  const double pi = std::acos(-1.0);
  for (int k = 1; k <= kM; ++k)
    for (int c = 0; c < nch; ++c) {
      const std::complex<double> want =
          coef(before, c, k) * std::exp(std::complex<double>(0, -2 * pi * k * tau / (nwin * dr)));
      EXPECT_NEAR(std::abs(coef(after, c, k) - want), 0.0, tol * (1 + std::abs(want))) << "k=" << k << " c=" << c;
    }
}

TEST(PhaseShift, HalfAWindowAlternatesTheSigns) {
  const float dr = 0.25f;
  const int nwin = 64;
  std::vector<float> w = random_window(1);
  const std::vector<float> before = w;
  shift_grid(nwin * dr / 2, view(w, 4), kM, dr, nwin);
  for (int k = 1; k <= kM; ++k)
    for (int c = 0; c < 4; ++c) {
      const double sign = (k % 2) ? -1.0 : 1.0;
      // The constant 6.28318 is 2 pi - 5.3e-6: a phase error of k 2.65e-6
      // radians, plus single-precision sine and cosine of up to 100 radians.
      const double tol = (3e-6 * k + 2e-6 * k + 1e-6) * std::abs(coef(before, c, k));
      EXPECT_NEAR(w[wre(c, k)], sign * before[wre(c, k)], tol) << k;
      EXPECT_NEAR(w[wim(c, k)], sign * before[wim(c, k)], tol) << k;
    }
}

TEST(PhaseShift, GridShiftAgreesWithADirectPhaseFactor) {
  const float dr = 0.5f;
  const int nwin = 128;
  std::vector<float> w = random_window(2);
  const std::vector<float> before = w;
  shift_grid(0.37f, view(w, 5), kM, dr, nwin);
  expect_shifted(before, w, 5, 0.37, dr, nwin, 2e-5);
}

TEST(PhaseShift, OnlyTheFirstNchChannelsAndMCoefficientsChange) {
  std::vector<float> w = random_window(3);
  const std::vector<float> before = w;
  shift_grid(1.3f, view(w, 3), kM - 2, 1.0f, 64);
  for (int k = 1; k <= kM; ++k)
    for (int c = 0; c < nchmx; ++c) {
      const bool changed = w[wre(c, k)] != before[wre(c, k)] || w[wim(c, k)] != before[wim(c, k)];
      EXPECT_EQ(changed, c < 3 && k <= kM - 2) << "k=" << k << " c=" << c;
    }
}

TEST(PhaseShift, ZeroShiftLeavesTheCoefficients) {
  std::vector<float> w = random_window(4);
  const std::vector<float> before = w;
  shift_time(view(w, 6), kM, 1.0f, 64, 1.0f, 0.0f);
  EXPECT_EQ(w, before);
}

TEST(PhaseShift, TimeShiftIsTheProductOfItsFactors) {
  // Drift: 2e-6 s/s at a window centre 5000 s into the run is 0.01 s.
  const float dr = 0.01f;
  const int nwin = 256;
  std::vector<float> w = random_window(5);
  const std::vector<float> before = w;
  shift_time(view(w, 6), kM, dr, nwin, 2.0e-6f, 5000.0f);
  expect_shifted(before, w, 6, 0.01, dr, nwin, 2e-5);
  // Misfit of 0.3 level-1 samples of 0.01 s: b = -0.003 s.
  std::vector<float> v = before;
  shift_time(view(v, 6), kM, dr, nwin, 1.0f, -0.3f * dr);
  expect_shifted(before, v, 6, -0.003, dr, nwin, 2e-5);
}

TEST(PhaseShift, ShiftWithoutAFinitePhaseIsRefusedAndChangesNothing) {
  std::vector<float> w = random_window(6);
  const std::vector<float> before = w;
  // 1e30 s/s at 1e30 s overflows; so does a finite shift whose phase of the
  // last harmonic k = kM does.
  EXPECT_THROW(shift_time(view(w, 6), kM, 1.0f, 64, 1.0e30f, 1.0e30f), Error);
  EXPECT_THROW(shift_grid(3.0e38f, view(w, 6), kM, 0.01f, 64), Error);
  EXPECT_EQ(w, before);
  EXPECT_TRUE(finite_phase(1.0e30f, kM, 1.0f, 64));
  EXPECT_FALSE(finite_phase(3.0e38f, kM, 0.01f, 64));
}

}  // namespace
}  // namespace qv
