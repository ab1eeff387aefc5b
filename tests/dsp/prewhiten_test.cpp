#include "dsp/prewhiten.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "dsp/fft.hpp"
#include "dsp/window_prep.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::view;

constexpr double pi = 3.14159265358979323846;

struct Prewhitening {
  PwFilters h;
  PwWork work;
  std::array<bool, nchmx> diff{};
};

std::vector<float> empty_window(int n) { return std::vector<float>(std::size_t(n + nwspare) * nchmx, 0.0f); }

// x(t) = phi1 x(t-1) + phi2 x(t-2) + e(t), after a run-in, into channel c.
void autoregressive(std::vector<float>& w, int c, int count, double phi1, double phi2, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> e(0.0, 1.0);
  double x1 = 0, x2 = 0;
  for (int t = -200; t < count; ++t) {
    const double x = phi1 * x1 + phi2 * x2 + e(gen);
    x2 = x1;
    x1 = x;
    if (t >= 0) w[widx(c, t)] = float(x);
  }
}

// The prediction coefficients a(1..p) solved in double precision from normal
// equations built directly as sum_{s<n} x(s+C) x(s+R), divided by n, with
// 1 % of the power added on the diagonal.
std::vector<double> reference_fit(const std::vector<float>& w, int c, int n, int p) {
  auto x = [&](int t) { return double(w[widx(c, t)]); };
  std::vector<std::vector<double>> a(p, std::vector<double>(p + 1));
  double r0 = 0;
  for (int s = 0; s < n; ++s) r0 += x(s) * x(s);
  r0 /= n;
  for (int row = 0; row < p; ++row) {
    for (int col = 0; col < p; ++col) {
      double s = 0;
      for (int t = 0; t < n; ++t) s += x(t + col) * x(t + row);
      a[row][col] = s / n + (row == col ? 0.01 * r0 : 0.0);
    }
    double b = 0;
    for (int t = 0; t < n; ++t) b += x(t) * x(t + row + 1);
    a[row][p] = b / n;
  }
  for (int i = 0; i < p; ++i) {  // Gauss-Jordan; the matrix is positive definite
    for (int r = 0; r < p; ++r) {
      if (r == i) continue;
      const double f = a[r][i] / a[i][i];
      for (int col = i; col <= p; ++col) a[r][col] -= f * a[i][col];
    }
  }
  std::vector<double> alpha(p);
  for (int i = 0; i < p; ++i) alpha[i] = a[i][p] / a[i][i];
  return alpha;
}

TEST(Prewhiten, LengthOneLeavesTheWindowAlone) {
  Prewhitening pw;
  std::vector<float> w = empty_window(64);
  autoregressive(w, 0, 64, 0.5, 0.0, 1);
  const std::vector<float> before = w;
  prewhiten(view(w, 2), 64, pw.diff, 1, pw.h, pw.work);
  EXPECT_EQ(w, before);
  EXPECT_EQ(pw.h.h[0][0], 1.0f);
  EXPECT_EQ(pw.h.h[1][0], 1.0f);
}

TEST(Prewhiten, FirstDifferenceOfRampIsConstantThenZero) {
  const int n = 100;
  Prewhitening pw;
  pw.diff[1] = true;
  std::vector<float> w = empty_window(n);
  for (int t = 0; t <= n; ++t) {
    w[widx(0, t)] = float(t % 7);  // channel 1 takes the autoregressive filter
    w[widx(1, t)] = 2.0f + 0.5f * t;
  }
  prewhiten(view(w, 2), n, pw.diff, 2, pw.h, pw.work);
  for (int t = 0; t < n; ++t) EXPECT_EQ(w[widx(1, t)], 0.5f) << t;
  remove_mean(view(w, 2), n);
  for (int t = 0; t < n; ++t) EXPECT_EQ(w[widx(1, t)], 0.0f) << t;
  EXPECT_NE(pw.h.h[0][1], 0.0f);
}

TEST(Prewhiten, AllZeroChannelKeepsIdentityFilterAndGivesZeroCoefficients) {
  const int n = 64, L = 4;
  Prewhitening pw;
  pw.h.h[0][2] = 0.7f;  // left over from an earlier window
  std::vector<float> w = empty_window(n);
  for (int t = n; t < n + L - 1; ++t) w[widx(0, t)] = 3.0f;  // only the extra samples are non-zero
  const std::vector<float> before = w;
  prewhiten(view(w, 1), n, pw.diff, L, pw.h, pw.work);
  EXPECT_EQ(w, before);
  EXPECT_EQ(pw.h.h[0][0], 1.0f);
  for (int m = 1; m < L; ++m) EXPECT_EQ(pw.h.h[0][m], 0.0f);

  FftPlan plan;
  fft_setup(n, plan);
  FftWork fw;
  fft_work_allocate(fw, n);
  multichannel_fft(view(w, 1), n, fw, plan);
  std::vector<std::complex<float>> ones(std::size_t(n / 2) * nchmx, 1.0f);
  correct_coefficients(view(w, 1), n / 2, ones.data(), pw.h, L, n, pw.diff);
  for (int k = 1; k <= n / 2; ++k) {
    EXPECT_EQ(w[wre(0, k)], 0.0f);
    EXPECT_EQ(w[wim(0, k)], 0.0f);
  }
}

TEST(Prewhiten, FirstOrderProcessGivesShrunkCoefficient) {
  const int n = 50000;
  Prewhitening pw;
  std::vector<float> w = empty_window(n);
  autoregressive(w, 0, n + 1, 0.9, 0.0, 5);
  const std::vector<float> x = w;
  prewhiten(view(w, 1), n, pw.diff, 2, pw.h, pw.work);
  const double a = -pw.h.h[0][1];
  EXPECT_NEAR(a, 0.9 / 1.01, 0.01);
  EXPECT_NEAR(a, reference_fit(x, 0, n, 1)[0], 2e-4);
  // Prediction errors of samples 1..n.
  for (int t : {0, 1, 17, n / 2, n - 1}) {
    EXPECT_NEAR(w[widx(0, t)], x[widx(0, t + 1)] - a * x[widx(0, t)], 1e-4 * (1 + std::abs(x[widx(0, t + 1)])));
  }
}

TEST(Prewhiten, FitMatchesNormalEquationsSolvedDirectly) {
  // Fourth-order filters on second-order processes, several channels at once:
  // checks the edge corrections of the matrix, the loading and the solution.
  const int n = 3000, L = 5;
  Prewhitening pw;
  std::vector<float> w = empty_window(n);
  autoregressive(w, 0, n + L - 1, 1.2, -0.5, 11);
  autoregressive(w, 1, n + L - 1, -0.3, 0.4, 12);
  autoregressive(w, 2, n + L - 1, 0.0, 0.0, 13);  // white
  const std::vector<float> x = w;
  prewhiten(view(w, 3), n, pw.diff, L, pw.h, pw.work);
  for (int c = 0; c < 3; ++c) {
    const std::vector<double> alpha = reference_fit(x, c, n, L - 1);
    EXPECT_EQ(pw.h.h[c][0], 1.0f);
    for (int k = 1; k < L; ++k) EXPECT_NEAR(-pw.h.h[c][k], alpha[k - 1], 1e-4) << "c=" << c << " k=" << k;
  }
  // Close to the process coefficients (shrunk a little by the loading), and
  // near zero for white noise.
  EXPECT_NEAR(-pw.h.h[0][1], 1.2, 0.1);
  EXPECT_NEAR(-pw.h.h[0][2], -0.5, 0.1);
  for (int k = 1; k < L; ++k) EXPECT_LT(std::abs(pw.h.h[2][k]), 0.06) << k;
  // Output t is the prediction error of sample t + L - 1.
  for (int c = 0; c < 3; ++c) {
    for (int t : {0, 1, n / 3, n - 1}) {
      double e = 0;
      for (int m = 0; m < L; ++m) e += double(pw.h.h[c][m]) * x[widx(c, t + L - 1 - m)];
      EXPECT_NEAR(w[widx(c, t)], e, 1e-4) << "c=" << c << " t=" << t;
    }
  }
}

TEST(Prewhiten, RefusesLengthsOutsideTheSpareSamples) {
  Prewhitening pw;
  std::vector<float> w = empty_window(16);
  EXPECT_THROW(prewhiten(view(w, 1), 16, pw.diff, 0, pw.h, pw.work), Error);
  EXPECT_THROW(prewhiten(view(w, 1), 16, pw.diff, pwlenmx + 1, pw.h, pw.work), Error);
  pw.diff[0] = true;
  EXPECT_THROW(prewhiten(view(w, 1), 16, pw.diff, 1, pw.h, pw.work), Error);
  EXPECT_NO_THROW(prewhiten(view(w, 1), 16, pw.diff, pwlenmx, pw.h, pw.work));
}

// H = sum_m h(m) exp(+i w (L - m)), w = 2 pi k / n, in double precision.
std::complex<double> filter_response(const PwFilters& h, int c, int L, int n, int k) {
  std::complex<double> s = 0;
  for (int m = 1; m <= L; ++m) s += double(h.h[c][m - 1]) * std::polar(1.0, 2.0 * pi * k / n * (L - m));
  return s;
}

// Prediction-error filters 1, a1 .. a(L-1) on every channel, each a drawn
// from d scaled by spread.
void draw_filters(Prewhitening& pw, int L, float spread, std::normal_distribution<float>& d, std::mt19937& gen) {
  for (int c = 0; c < nchmx; ++c) {
    pw.h.h[c][0] = 1.0f;
    for (int m = 1; m < L; ++m) pw.h.h[c][m] = spread * d(gen);
  }
}

TEST(CorrectCoefficients, DividesByFilterResponseAndAppliesCalibration) {
  const int n = 256, L = 4, nfreq = 100;
  Prewhitening pw;
  pw.diff[2] = true;
  std::mt19937 gen(21);
  std::normal_distribution<float> d(0.0f, 1.0f);
  draw_filters(pw, L, 0.4f, d, gen);
  std::vector<float> w = empty_window(n);
  for (auto& v : w) v = d(gen);
  std::vector<std::complex<float>> resp(std::size_t(n / 2) * nchmx);
  for (auto& r : resp) r = {d(gen), d(gen)};
  const std::vector<float> before = w;
  correct_coefficients(view(w, 3), nfreq, resp.data(), pw.h, L, n, pw.diff);
  for (int c = 0; c < 3; ++c) {
    for (int k = 1; k <= nfreq; ++k) {
      const std::complex<double> f(before[wre(c, k)], before[wim(c, k)]);
      const std::complex<double> r = resp[std::size_t(k - 1) * nchmx + c];
      const std::complex<double> h = pw.diff[c] ? 1.0 : filter_response(pw.h, c, L, n, k);
      const std::complex<double> expect = f * r / h;
      const std::complex<double> got(w[wre(c, k)], w[wim(c, k)]);
      EXPECT_LT(std::abs(got - expect), 1e-5 * std::abs(f * r) / std::abs(h) + 1e-6) << "c=" << c << " k=" << k;
    }
  }
  // Coefficients from nfreq + 1 on and the other channels are untouched.
  for (int t = 2 * nfreq; t < n + nwspare; ++t) {
    for (int c = 0; c < nchmx; ++c) EXPECT_EQ(w[widx(c, t)], before[widx(c, t)]);
  }
  for (int t = 0; t < 2 * nfreq; ++t) {
    for (int c = 3; c < nchmx; ++c) EXPECT_EQ(w[widx(c, t)], before[widx(c, t)]);
  }
  EXPECT_THROW(correct_coefficients(view(w, 3), n / 2 + 1, resp.data(), pw.h, L, n, pw.diff), Error);
}

TEST(CorrectCoefficients, QuotientHasTheBitsOfTheLibraryComplexDivision) {
  // Five channels (so one channel goes without a partner), responses and
  // coefficients that include signed zeros, subnormals, equal real and
  // imaginary magnitudes, infinities and NaN, a first-differenced channel
  // (H = 1) and a zero response (0 / H). Every stored quotient must be the
  // single-precision rounding of std::complex<double> division of the same
  // product and filter response, bit for bit.
  const int n = 64, L = 3, nfreq = 32, nch = 5;
  Prewhitening pw;
  pw.diff[1] = true;
  std::mt19937 gen(8);
  std::normal_distribution<float> d(0.0f, 1.0f);
  draw_filters(pw, L, 0.5f, d, gen);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float odd[] = {0.0f, -0.0f, 1e-40f, -3e-39f, 2.5f, -2.5f, inf, nan, 1e30f, -1e-30f};
  std::vector<float> w = empty_window(n);
  for (auto& v : w) v = d(gen) * (d(gen) > 1.5f ? 1e20f : 1.0f);
  std::vector<std::complex<float>> resp(std::size_t(nfreq) * nchmx);
  for (auto& r : resp) r = {d(gen), d(gen)};
  for (int i = 0; i < 60; ++i) {
    const int k = i % nfreq + 1, c = i % nch;
    const float a = odd[i % 10], b = odd[(i * 7 + 3) % 10];
    if (i < 30) {
      w[wre(c, k)] = a;
      w[wim(c, k)] = i % 3 ? b : a;
    } else {
      resp[std::size_t(k - 1) * nchmx + c] = {a, i % 4 ? b : a};
    }
  }
  resp[std::size_t(4) * nchmx + 3] = 0.0f;
  std::vector<std::complex<float>> phase(std::size_t(nfreq) * L);
  pw_phase_table(nfreq, L, n, phase.data());
  const std::vector<float> before = w;
  correct_coefficients(view(w, nch), nfreq, resp.data(), pw.h, L, n, pw.diff, phase.data());
  auto same = [](float u, float v) { return std::isnan(u) ? std::isnan(v) : std::bit_cast<std::uint32_t>(u) == std::bit_cast<std::uint32_t>(v); };
  for (int k = 1; k <= nfreq; ++k) {
    for (int c = 0; c < nch; ++c) {
      float hr = 1.0f, hi = 0.0f;
      if (!pw.diff[c]) {
        hr = 0.0f;
        for (int m = 0; m < L; ++m) {
          hr += pw.h.h[c][m] * phase[std::size_t(k - 1) * L + m].real();
          hi += pw.h.h[c][m] * phase[std::size_t(k - 1) * L + m].imag();
        }
      }
      const std::complex<float> r = resp[std::size_t(k - 1) * nchmx + c];
      const float re = before[wre(c, k)], im = before[wim(c, k)];
      const float pr = re * r.real() - im * r.imag(), pi = re * r.imag() + im * r.real();
      const std::complex<double> q = std::complex<double>(pr, pi) / std::complex<double>(hr, hi);
      EXPECT_TRUE(same(w[wre(c, k)], static_cast<float>(q.real()))) << "c=" << c << " k=" << k << " " << w[wre(c, k)];
      EXPECT_TRUE(same(w[wim(c, k)], static_cast<float>(q.imag()))) << "c=" << c << " k=" << k << " " << w[wim(c, k)];
    }
  }
}

TEST(CorrectCoefficients, UndoesThePrewhiteningOfAPeriodicWindow) {
  // For a window that repeats with period n, the filtered samples are a
  // circular filtering, so their transform is exactly H times the transform
  // of the unfiltered window: the correction must give it back.
  const int n = 360, L = 6;
  Prewhitening pw;
  std::vector<float> w = empty_window(n);
  autoregressive(w, 0, n, 0.8, -0.3, 31);
  autoregressive(w, 1, n, -0.5, 0.0, 32);
  autoregressive(w, 2, n, 1.1, -0.4, 33);
  for (int t = n; t < n + L - 1; ++t) {
    for (int c = 0; c < 3; ++c) w[widx(c, t)] = w[widx(c, t - n)];
  }
  std::vector<float> plain = w;  // the unfiltered window: transform of x(0..n-1)
  FftPlan plan;
  fft_setup(n, plan);
  FftWork fw;
  fft_work_allocate(fw, n);
  multichannel_fft(view(plain, 3), n, fw, plan);

  prewhiten(view(w, 3), n, pw.diff, L, pw.h, pw.work);
  multichannel_fft(view(w, 3), n, fw, plan);
  std::vector<std::complex<float>> ones(std::size_t(n / 2) * nchmx, 1.0f);
  correct_coefficients(view(w, 3), n / 2, ones.data(), pw.h, L, n, pw.diff);
  for (int c = 0; c < 3; ++c) {
    double power = 0;
    for (int k = 1; k <= n / 2; ++k) power += std::norm(std::complex<double>(plain[wre(c, k)], plain[wim(c, k)]));
    const double rms = std::sqrt(power / (n / 2));
    for (int k = 1; k <= n / 2; ++k) {
      EXPECT_NEAR(w[wre(c, k)], plain[wre(c, k)], 1e-4 * rms) << "c=" << c << " k=" << k;
      EXPECT_NEAR(w[wim(c, k)], plain[wim(c, k)], 1e-4 * rms) << "c=" << c << " k=" << k;
    }
  }
}

}  // namespace
}  // namespace qv
