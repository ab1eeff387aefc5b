#include "dsp/fft.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"

namespace qv {
namespace {

constexpr double pi = 3.14159265358979323846;

// A window array for n samples plus the pre-whitening spare, every slot filled
// with reproducible noise (also the channels and columns not in use, so that
// writes outside the coefficient area show up).
std::vector<float> noise_window(int n, unsigned seed) {
  std::vector<float> w(std::size_t(n + nwspare) * nchmx);
  std::minstd_rand gen(seed);  // uniform on (-1, 1); cheap enough for the sanitizer build
  for (auto& v : w) v = float(gen()) * (2.0f / float(std::minstd_rand::max())) - 1.0f;
  return w;
}

std::string sci(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2e", v);
  return buf;
}

// Coefficients of frequency indices 1..n/2 of one channel, computed directly
// from the defining sum in double precision with exactly reduced angles.
class DirectDft {
 public:
  explicit DirectDft(int n) : n_(n), c_(n), s_(n) {
    for (int m = 0; m < n; ++m) {
      c_[m] = std::cos(2.0 * pi * m / n);
      s_[m] = std::sin(2.0 * pi * m / n);
    }
  }
  std::complex<double> operator()(const std::vector<float>& w, int c, int k) const {
    double re = 0, im = 0;
    std::int64_t m = 0;  // k * t mod n
    for (int t = 0; t < n_; ++t) {
      const double x = w[widx(c, t)];
      re += x * c_[m];
      im -= x * s_[m];
      m += k;
      if (m >= n_) m -= n_;
    }
    return {re, im};
  }

 private:
  int n_;
  std::vector<double> c_, s_;
};

std::complex<double> coefficient(const std::vector<float>& w, int c, int k) {
  return {w[wre(c, k)], w[wim(c, k)]};
}

// Transforms a noise window once for every channel count in nchs and returns
// the worst deviation from the direct sum over the frequency indices ks,
// relative to the RMS coefficient of the channel. Also checks that nothing
// outside the coefficients changed.
double worst_relative_error(int n, const std::vector<int>& nchs, const std::vector<int>& ks, unsigned seed = 1) {
  FftPlan plan;
  fft_setup(n, plan);
  FftWork work;
  fft_work_allocate(work, n);
  const std::vector<float> before = noise_window(n, seed);

  const DirectDft dft(n);
  const int maxch = *std::max_element(nchs.begin(), nchs.end());
  std::vector<std::vector<std::complex<double>>> ref(maxch);
  std::vector<double> rms(maxch);
  for (int c = 0; c < maxch; ++c) {
    double power = 0;
    for (int k : ks) {
      ref[c].push_back(dft(before, c, k));
      power += std::norm(ref[c].back());
    }
    rms[c] = std::sqrt(power / ks.size());
  }

  double worst = 0;
  for (int nch : nchs) {
    std::vector<float> w = before;
    multichannel_fft(n, nch, w.data(), work, plan);
    const int written = 2 * (n / 2);  // columns 0..written-1 hold coefficients
    int changed = 0;
    for (int t = 0; t < n + nwspare; ++t) {
      for (int c = 0; c < nchmx; ++c) {
        if ((c >= nch || t >= written) && w[widx(c, t)] != before[widx(c, t)]) ++changed;
      }
    }
    EXPECT_EQ(changed, 0) << "values outside the coefficients changed, n=" << n << " nch=" << nch;
    for (int c = 0; c < nch; ++c) {
      for (std::size_t i = 0; i < ks.size(); ++i) {
        worst = std::max(worst, std::abs(coefficient(w, c, ks[i]) - ref[c][i]) / rms[c]);
      }
    }
  }
  return worst;
}

std::vector<int> all_frequencies(int n) {
  std::vector<int> ks;
  for (int k = 1; k <= n / 2; ++k) ks.push_back(k);
  return ks;
}

// The edges of the spectrum and a reproducible sample of the rest.
std::vector<int> sampled_frequencies(int n, int count) {
  std::vector<int> ks = {1, 2, 3, n / 2 - 1, n / 2};
  std::mt19937 gen(n);
  std::uniform_int_distribution<int> d(1, n / 2);
  while (int(ks.size()) < count) ks.push_back(d(gen));
  return ks;
}

std::vector<int> factors(const FftPlan& p) { return {p.ifac.begin() + 2, p.ifac.begin() + 2 + p.ifac[1]}; }

TEST(FftSetup, FactorsInPassOrderWithTwoFirst) {
  const struct {
    int n;
    std::vector<int> f;
  } cases[] = {
      {2, {2}},
      {8, {2, 4}},
      {12, {3, 4}},
      {120, {2, 3, 4, 5}},
      {1000, {2, 4, 5, 5, 5}},
      {4096, {4, 4, 4, 4, 4, 4}},
      {77, {7, 11}},
      {90, {2, 3, 3, 5}},
      {524288, {2, 4, 4, 4, 4, 4, 4, 4, 4, 4}},
      {354294, {2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
  };
  for (const auto& tc : cases) {
    FftPlan p;
    fft_setup(tc.n, p);
    EXPECT_EQ(p.n, tc.n);
    EXPECT_EQ(p.ifac[0], tc.n);
    EXPECT_EQ(factors(p), tc.f) << "n=" << tc.n;
  }
}

TEST(FftSetup, LengthOneMakesNoTablesAndOutOfRangeIsRefused) {
  FftPlan p;
  fft_setup(1, p);
  EXPECT_EQ(p.ifac[1], 0);
  EXPECT_TRUE(p.wsave.empty());
  EXPECT_THROW(fft_setup(0, p), Error);
  EXPECT_THROW(fft_setup(nwmx + 1, p), Error);
  FftWork w;
  EXPECT_THROW(fft_work_allocate(w, 0), Error);
}

// Tolerance relative to the RMS coefficient. The passes themselves are good
// to a few 1e-7; the twiddle factors come from single-precision rotations
// whose error grows with the number of successive rotations (up to about n),
// which dominates for long windows.
double tolerance(int n) { return std::min(5e-6 + 3e-8 * n, 3e-3); }

TEST(MultichannelFft, MatchesDirectSumForAllRadicesAndChannelCounts) {
  // Radix 2, 3, 4, 5 passes, the general odd pass (7, 11, 13, and with
  // twiddles: 49 = 7 * 7, 77 = 7 * 11) and primes that are a single pass.
  for (int n : {2, 3, 4, 5, 7, 8, 11, 12, 13, 28, 49, 64, 77, 96, 100, 127, 128, 1000, 4096}) {
    const double err = worst_relative_error(n, {1, 2, 3, 4, 5, 6}, all_frequencies(n), 100 + n);
    EXPECT_LT(err, tolerance(n)) << "n=" << n;
    RecordProperty("worst_rel_error_n" + std::to_string(n), sci(err));
  }
}

TEST(MultichannelFft, LargeLengthsMatchDirectSumAtSampledFrequencies) {
  // 61440 = 2^12 * 15; 7 * 65536 ends in a general radix-7 pass.
  for (int n : {61440, 458752, 524288}) {
    const double err = worst_relative_error(n, {3}, sampled_frequencies(n, 16));
    EXPECT_LT(err, tolerance(n)) << "n=" << n;
    RecordProperty("worst_rel_error_n" + std::to_string(n), sci(err));
  }
}

TEST(MultichannelFft, LengthOneStoresNothing) {
  FftPlan plan;
  fft_setup(1, plan);
  FftWork work;
  fft_work_allocate(work, 1);
  const std::vector<float> before = noise_window(1, 7);
  std::vector<float> w = before;
  multichannel_fft(1, 6, w.data(), work, plan);
  EXPECT_EQ(w, before);
}

TEST(MultichannelFft, OddLengthHasNoNyquistTermAndKeepsLastSample) {
  // n = 127: 63 coefficients in columns 0..125; column 126 still holds the
  // last sample. Checked inside worst_relative_error for every channel.
  EXPECT_LT(worst_relative_error(127, {6}, all_frequencies(127)), tolerance(127));
}

TEST(MultichannelFft, LoneLastChannelEqualsPairMember) {
  for (int n : {96, 100, 127}) {
    FftPlan plan;
    fft_setup(n, plan);
    FftWork work;
    fft_work_allocate(work, n);
    const std::vector<float> x = noise_window(n, 11);
    std::vector<float> odd = x, even = x;
    multichannel_fft(n, 5, odd.data(), work, plan);
    multichannel_fft(n, 6, even.data(), work, plan);
    double scale = 0;
    for (int k = 1; k <= n / 2; ++k) scale = std::max(scale, std::abs(coefficient(even, 4, k)));
    for (int k = 1; k <= n / 2; ++k) {
      EXPECT_LT(std::abs(coefficient(odd, 4, k) - coefficient(even, 4, k)), 1e-6 * scale) << "n=" << n << " k=" << k;
      for (int c = 0; c < 4; ++c) {  // the pairs before it are the same transform
        EXPECT_EQ(coefficient(odd, c, k), coefficient(even, c, k));
      }
    }
  }
}

TEST(MultichannelFft, PureCosineGivesHalfAmplitudeTimesLength) {
  const int n = 240;
  const int k0 = 17;
  const float amp = 2.5f;
  FftPlan plan;
  fft_setup(n, plan);
  FftWork work;
  fft_work_allocate(work, n);
  std::vector<float> w(std::size_t(n + nwspare) * nchmx, 0.0f);
  for (int t = 0; t < n; ++t) w[widx(0, t)] = amp * float(std::cos(2.0 * pi * k0 * t / n));
  multichannel_fft(n, 1, w.data(), work, plan);
  const double peak = amp * n / 2.0;
  EXPECT_NEAR(w[wre(0, k0)], peak, 1e-5 * peak);
  EXPECT_NEAR(w[wim(0, k0)], 0.0, 1e-5 * peak);
  for (int k = 1; k <= n / 2; ++k) {
    if (k == k0) continue;
    EXPECT_LT(std::abs(coefficient(w, 0, k)), 1e-5 * peak) << "k=" << k;
  }
}

TEST(MultichannelFft, RefusesMismatchedPlanAndChannelCount) {
  FftPlan plan;
  fft_setup(64, plan);
  FftWork work;
  fft_work_allocate(work, 64);
  std::vector<float> w(std::size_t(128 + nwspare) * nchmx, 0.0f);
  EXPECT_THROW(multichannel_fft(128, 2, w.data(), work, plan), Error);
  EXPECT_THROW(multichannel_fft(64, 0, w.data(), work, plan), Error);
  EXPECT_THROW(multichannel_fft(64, 7, w.data(), work, plan), Error);
  FftWork small;
  fft_work_allocate(small, 32);
  EXPECT_THROW(multichannel_fft(64, 2, w.data(), small, plan), Error);
}

}  // namespace
}  // namespace qv
