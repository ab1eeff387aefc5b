#include "dsp/fft.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "common/window_array.hpp"

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

// The view of a whole window array with nch channels in use.
WindowArray view(std::vector<float>& w, int nch) { return WindowArray(w.data(), nch, std::int64_t(w.size() / nchmx)); }

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
double worst_relative_error(int n, const std::vector<int>& nchs, const std::vector<int>& ks, unsigned seed = 1,
                            FftMethod method = FftMethod::automatic) {
  FftPlan plan;
  fft_setup(n, plan, method);
  FftWork work;
  fft_work_allocate(work, std::span<const FftPlan>(&plan, 1));
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
    multichannel_fft(view(w, nch), n, work, plan);
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

TEST(FftSetup, ChirpZExactlyForALargestPrimeFactorAboveTheThreshold) {
  // 113 is the largest prime the mixed-radix passes keep; 127 the next.
  ASSERT_EQ(chirpz_prime_threshold, 113);
  const struct {
    int n;
    int p;
    bool chirpz;
  } cases[] = {
      {113, 113, false}, {226, 113, false}, {113 * 4096, 113, false}, {7 * 65536, 7, false}, {524288, 2, false},
      {127, 127, true},  {254, 127, true},  {3 * 131, 131, true},     {65521, 65521, true},  {524287, 524287, true},
  };
  for (const auto& tc : cases) {
    FftPlan p;
    fft_setup(tc.n, p);
    EXPECT_EQ(largest_prime_factor(p), tc.p) << "n=" << tc.n;
    EXPECT_EQ(uses_chirpz(p), tc.chirpz) << "n=" << tc.n;
    if (!tc.chirpz) {
      EXPECT_EQ(p.wsave.size(), std::size_t(2) * tc.n);
      continue;
    }
    // The convolution: the shortest length of 2n - 1 values or more whose
    // factors are all 2, 3 and 5.
    const int m = p.chirpz.m;
    EXPECT_GE(m, 2 * tc.n - 1);
    EXPECT_LT(nearest_smooth_lengths(m).below, 2 * tc.n - 1) << "n=" << tc.n;
    EXPECT_EQ(p.chirpz.ifac[0], m);
    for (int q = 0; q < p.chirpz.ifac[1]; ++q) EXPECT_LE(p.chirpz.ifac[q + 2], 5) << "n=" << tc.n;
  }
  // The forced methods, for any length.
  FftPlan p;
  fft_setup(65521, p, FftMethod::mixed_radix);
  EXPECT_FALSE(uses_chirpz(p));
  fft_setup(68, p, FftMethod::chirp_z);
  EXPECT_TRUE(uses_chirpz(p));
  EXPECT_EQ(p.chirpz.m, 135);
  EXPECT_TRUE(p.wsave.empty());
}

TEST(FftSetup, NearestLengthsWithFactorsTwoThreeFive) {
  const struct {
    int n, below, above;
  } cases[] = {{2, 0, 3}, {7, 6, 8}, {127, 125, 128}, {254, 250, 256}, {2042, 2025, 2048}, {65521, 64800, 65536},
               {262139, 259200, 262144}, {524287, 518400, 524288}};
  for (const auto& tc : cases) {
    const SmoothLengths s = nearest_smooth_lengths(tc.n);
    EXPECT_EQ(s.below, tc.below) << "n=" << tc.n;
    EXPECT_EQ(s.above, tc.above) << "n=" << tc.n;
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

// The transform tests run once through each build of the passes; the AVX2
// row is skipped where the processor lacks AVX2.
class MultichannelFft : public ::testing::TestWithParam<FftPasses> {
 protected:
  void SetUp() override {
    force_portable_fft(GetParam() == FftPasses::portable);
    if (fft_passes_in_use() != GetParam()) GTEST_SKIP() << "the processor has no AVX2";
  }
  void TearDown() override { force_portable_fft(false); }
};

const char* build_name(FftPasses p) { return p == FftPasses::avx2 ? "avx2" : "portable"; }

INSTANTIATE_TEST_SUITE_P(Builds, MultichannelFft, ::testing::Values(FftPasses::avx2, FftPasses::portable),
                         [](const ::testing::TestParamInfo<FftPasses>& info) { return build_name(info.param); });

// Tolerance relative to the RMS coefficient. The passes themselves are good
// to a few 1e-7; the twiddle factors come from single-precision rotations
// whose error grows with the number of successive rotations (up to about n),
// which dominates for long windows.
double tolerance(int n) { return std::min(5e-6 + 3e-8 * n, 3e-3); }

TEST_P(MultichannelFft, MatchesDirectSumForAllRadicesAndChannelCounts) {
  // Radix 2, 3, 4, 5 passes, the general odd pass (7, 11, 13, and with
  // twiddles: 49 = 7 * 7, 77 = 7 * 11) and primes that are a single pass.
  for (int n : {2, 3, 4, 5, 7, 8, 11, 12, 13, 28, 49, 64, 77, 96, 100, 127, 128, 1000, 4096}) {
    const double err = worst_relative_error(n, {1, 2, 3, 4, 5, 6}, all_frequencies(n), 100 + n);
    EXPECT_LT(err, tolerance(n)) << "n=" << n;
    RecordProperty("worst_rel_error_n" + std::to_string(n), sci(err));
  }
}

TEST_P(MultichannelFft, LargeLengthsMatchDirectSumAtSampledFrequencies) {
  // 61440 = 2^12 * 15; 7 * 65536 ends in a general radix-7 pass.
  for (int n : {61440, 458752, 524288}) {
    const double err = worst_relative_error(n, {3}, sampled_frequencies(n, 16));
    EXPECT_LT(err, tolerance(n)) << "n=" << n;
    RecordProperty("worst_rel_error_n" + std::to_string(n), sci(err));
  }
}

// The chirp-z transform rounds in single precision through two transforms of
// the convolution and three products with exact tables; its error grows
// only slowly with n.
double chirpz_tolerance(int n) { return 1e-6 + 2e-8 * std::sqrt(double(n)); }

TEST_P(MultichannelFft, ChirpZMatchesDirectSumForOddAndEvenChannelCounts) {
  // Primes just above the threshold and far above it, alone and with small
  // factors (2 p, 3 p: even and odd n, with and without a Nyquist term).
  for (int n : {127, 254, 393, 1021, 2042}) {
    const double err = worst_relative_error(n, {1, 2, 3, 4, 5, 6}, all_frequencies(n), 200 + n);
    EXPECT_LT(err, chirpz_tolerance(n)) << "n=" << n;
    RecordProperty("chirpz_worst_rel_error_n" + std::to_string(n), sci(err));
  }
  // Forced onto short lengths and lengths the mixed-radix passes take, down
  // to a convolution of three values.
  for (int n : {2, 3, 4, 5, 8, 12, 17, 64, 100}) {
    const double err = worst_relative_error(n, {1, 2, 5}, all_frequencies(n), 300 + n, FftMethod::chirp_z);
    EXPECT_LT(err, chirpz_tolerance(n)) << "n=" << n << " (forced)";
  }
}

TEST_P(MultichannelFft, LongPrimeLengthsKeepSinglePrecisionAccuracy) {
  // Where the chirp angles were rounded before their reduction, or the
  // twiddles of the long convolution came from rotations, these would be off
  // by 1e-4 and more.
  for (int n : {65521, 262139}) {
    const double err = worst_relative_error(n, {3}, sampled_frequencies(n, 12));
    EXPECT_LT(err, chirpz_tolerance(n)) << "n=" << n;
    RecordProperty("chirpz_worst_rel_error_n" + std::to_string(n), sci(err));
  }
}

// The transform done one butterfly and one value at a time, in the plainest
// loop order, with the single-precision operations of the published forward
// passes (radix 2, 3, 4, 5) in their published order and the twiddle factors
// of the plan. However the passes are arranged and vectorised, the results
// must be the same to the bit.
class PlainTransform {
 public:
  explicit PlainTransform(const FftPlan& plan) : plan_(plan) {}

  // True if every factor has one of the radices done here.
  bool covers() const {
    for (int q = 0; q < plan_.ifac[1]; ++q) {
      if (plan_.ifac[q + 2] > 5) return false;
    }
    return true;
  }

  void operator()(int nch, std::vector<float>& w) const {
    const int n = plan_.n;
    for (int a = 0; a < nch; a += 2) {
      const bool pair = a + 1 < nch;
      std::vector<float> re(n), im(n);
      for (int t = 0; t < n; ++t) {
        re[t] = w[widx(a, t)];
        im[t] = pair ? w[widx(a + 1, t)] : 0.0f;
      }
      forward(re, im);
      for (int k = 1; k <= n / 2; ++k) {
        if (!pair) {
          w[wre(a, k)] = re[k];
          w[wim(a, k)] = im[k];
          continue;
        }
        const float zkr = re[k], zki = im[k], zmr = re[n - k], zmi = im[n - k];
        w[wre(a, k)] = (zkr + zmr) / 2;
        w[wim(a, k)] = (zki - zmi) / 2;
        w[wre(a + 1, k)] = (zki + zmi) / 2;
        w[wim(a + 1, k)] = (zmr - zkr) / 2;
      }
    }
  }

 private:
  static void butterfly(int ip, const float* xr, const float* xi, float* yr, float* yi) {
    switch (ip) {
      case 2:
        yr[0] = xr[0] + xr[1];
        yi[0] = xi[0] + xi[1];
        yr[1] = xr[0] - xr[1];
        yi[1] = xi[0] - xi[1];
        break;
      case 3: {
        const float taur = -0.5f, taui = -0.866025388f;
        const float tr2 = xr[1] + xr[2], ti2 = xi[1] + xi[2];
        const float cr2 = xr[0] + taur * tr2, ci2 = xi[0] + taur * ti2;
        const float cr3 = taui * (xr[1] - xr[2]), ci3 = taui * (xi[1] - xi[2]);
        yr[0] = xr[0] + tr2;
        yi[0] = xi[0] + ti2;
        yr[1] = cr2 - ci3;
        yr[2] = cr2 + ci3;
        yi[1] = ci2 + cr3;
        yi[2] = ci2 - cr3;
        break;
      }
      case 4: {
        const float ti1 = xi[0] - xi[2], ti2 = xi[0] + xi[2], ti3 = xi[1] + xi[3], tr4 = xi[1] - xi[3];
        const float tr1 = xr[0] - xr[2], tr2 = xr[0] + xr[2], ti4 = xr[3] - xr[1], tr3 = xr[1] + xr[3];
        yr[0] = tr2 + tr3;
        yi[0] = ti2 + ti3;
        yr[2] = tr2 - tr3;
        yi[2] = ti2 - ti3;
        yr[1] = tr1 + tr4;
        yr[3] = tr1 - tr4;
        yi[1] = ti1 + ti4;
        yi[3] = ti1 - ti4;
        break;
      }
      default: {
        const float tr11 = 0.309017003f, ti11 = -0.95105654f, tr12 = -0.809017003f, ti12 = -0.587785244f;
        const float ti5 = xi[1] - xi[4], ti2 = xi[1] + xi[4], ti4 = xi[2] - xi[3], ti3 = xi[2] + xi[3];
        const float tr5 = xr[1] - xr[4], tr2 = xr[1] + xr[4], tr4 = xr[2] - xr[3], tr3 = xr[2] + xr[3];
        yr[0] = xr[0] + tr2 + tr3;
        yi[0] = xi[0] + ti2 + ti3;
        const float cr2 = xr[0] + tr11 * tr2 + tr12 * tr3, ci2 = xi[0] + tr11 * ti2 + tr12 * ti3;
        const float cr3 = xr[0] + tr12 * tr2 + tr11 * tr3, ci3 = xi[0] + tr12 * ti2 + tr11 * ti3;
        const float cr5 = ti11 * tr5 + ti12 * tr4, ci5 = ti11 * ti5 + ti12 * ti4;
        const float cr4 = ti12 * tr5 - ti11 * tr4, ci4 = ti12 * ti5 - ti11 * ti4;
        yr[2] = cr3 - ci4;
        yr[3] = cr3 + ci4;
        yi[2] = ci3 + cr4;
        yi[3] = ci3 - cr4;
        yr[4] = cr2 + ci5;
        yr[1] = cr2 - ci5;
        yi[4] = ci2 - cr5;
        yi[1] = ci2 + cr5;
        break;
      }
    }
  }

  // Self-sorting passes: input (i, j, k) at i + ido (j + ip k), output
  // (i, k, j) at i + ido (k + l1 j); output j of butterfly i times the
  // conjugate of the twiddle pair (cos, sin) that the plan keeps as ido
  // cosines and then ido sines for each j of each pass.
  void forward(std::vector<float>& re, std::vector<float>& im) const {
    const int n = plan_.n;
    std::vector<float> cr(n), ci(n);
    const float* wa = plan_.wsave.data();
    int l1 = 1;
    for (int q = 0; q < plan_.ifac[1]; ++q) {
      const int ip = plan_.ifac[q + 2];
      const int ido = n / (l1 * ip);
      for (int k = 0; k < l1; ++k) {
        for (int i = 0; i < ido; ++i) {
          float xr[5], xi[5], yr[5], yi[5];
          for (int j = 0; j < ip; ++j) {
            xr[j] = re[i + ido * (j + ip * k)];
            xi[j] = im[i + ido * (j + ip * k)];
          }
          butterfly(ip, xr, xi, yr, yi);
          for (int j = 0; j < ip; ++j) {
            float vr = yr[j], vi = yi[j];
            if (j > 0 && ido > 1) {
              const float c = wa[(2 * j - 2) * ido + i], s = wa[(2 * j - 1) * ido + i];
              vr = c * yr[j] + s * yi[j];
              vi = c * yi[j] - s * yr[j];
            }
            cr[i + ido * (k + l1 * j)] = vr;
            ci[i + ido * (k + l1 * j)] = vi;
          }
        }
      }
      re.swap(cr);
      im.swap(ci);
      wa += 2 * (ip - 1) * ido;
      l1 *= ip;
    }
  }

  const FftPlan& plan_;
};

// The builds this processor can run.
std::vector<FftPasses> available_builds() {
  force_portable_fft(false);
  if (fft_passes_in_use() == FftPasses::avx2) return {FftPasses::portable, FftPasses::avx2};
  return {FftPasses::portable};
}

TEST(FftBuilds, SameBitsInEveryBuildAndAsOneButterflyAtATime) {
  // Every length up to 64 and longer ones for the arrangements of the
  // vectorised passes: short odd ido (3, 5) with and without a partial group,
  // ido = 4 with odd l1, ido = 1 with l1 not a multiple of eight, windows
  // whose rows or frequencies do not fill whole groups, arrays beyond the
  // first-level cache, and general odd radices with ido > 1. Where the plain
  // transform lacks a radix (7 and above), the portable build is the
  // reference for the AVX2 build.
  std::vector<int> lengths;
  for (int n = 2; n <= 64; ++n) lengths.push_back(n);
  // Lengths transformed by chirp-z (127, 254, 393, 2042) are compared
  // between the builds.
  for (int n : {77, 100, 120, 127, 162, 243, 254, 256, 393, 486, 896, 960, 1000, 1001, 1024, 2042, 7680, 8192})
    lengths.push_back(n);
  const std::vector<FftPasses> builds = available_builds();
  int checked = 0;
  for (int n : lengths) {
    FftPlan plan;
    fft_setup(n, plan);
    const PlainTransform plain(plan);
    FftWork work;
    fft_work_allocate(work, std::span<const FftPlan>(&plan, 1));
    for (int nch = 1; nch <= nchmx; ++nch) {
      const std::vector<float> x = noise_window(n, 1000 * n + nch);
      std::vector<std::vector<float>> got;  // one result per build, the portable one first
      for (FftPasses b : builds) {
        force_portable_fft(b == FftPasses::portable);
        got.push_back(x);
        multichannel_fft(view(got.back(), nch), n, work, plan);
      }
      std::vector<float> want = x;
      if (plain.covers()) {
        plain(nch, want);
      } else {
        want = got[0];
      }
      for (std::size_t b = 0; b < builds.size(); ++b) {
        int differ = 0;
        for (std::size_t v = 0; v < want.size(); ++v) {
          if (std::memcmp(&got[b][v], &want[v], sizeof(float)) != 0) ++differ;
        }
        EXPECT_EQ(differ, 0) << "n=" << n << " nch=" << nch << " build " << build_name(builds[b]);
      }
    }
    if (plain.covers()) ++checked;
  }
  force_portable_fft(false);
  EXPECT_GT(checked, 30);
}

TEST(MultichannelFftArguments, LengthOneStoresNothing) {
  FftPlan plan;
  fft_setup(1, plan);
  FftWork work;
  fft_work_allocate(work, 1);
  const std::vector<float> before = noise_window(1, 7);
  std::vector<float> w = before;
  multichannel_fft(view(w, 6), 1, work, plan);
  EXPECT_EQ(w, before);
}

TEST_P(MultichannelFft, OddLengthHasNoNyquistTermAndKeepsLastSample) {
  // n = 127: 63 coefficients in columns 0..125; column 126 still holds the
  // last sample. Checked inside worst_relative_error for every channel.
  EXPECT_LT(worst_relative_error(127, {6}, all_frequencies(127)), tolerance(127));
}

TEST_P(MultichannelFft, LoneLastChannelEqualsPairMember) {
  for (int n : {96, 100, 113, 127, 254}) {  // 127 and 254 by chirp-z
    FftPlan plan;
    fft_setup(n, plan);
    FftWork work;
    fft_work_allocate(work, std::span<const FftPlan>(&plan, 1));
    const std::vector<float> x = noise_window(n, 11);
    std::vector<float> odd = x, even = x;
    multichannel_fft(view(odd, 5), n, work, plan);
    multichannel_fft(view(even, 6), n, work, plan);
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

TEST_P(MultichannelFft, PureCosineGivesHalfAmplitudeTimesLength) {
  const int n = 240;
  const int k0 = 17;
  const float amp = 2.5f;
  FftPlan plan;
  fft_setup(n, plan);
  FftWork work;
  fft_work_allocate(work, n);
  std::vector<float> w(std::size_t(n + nwspare) * nchmx, 0.0f);
  for (int t = 0; t < n; ++t) w[widx(0, t)] = amp * float(std::cos(2.0 * pi * k0 * t / n));
  multichannel_fft(view(w, 1), n, work, plan);
  const double peak = amp * n / 2.0;
  EXPECT_NEAR(w[wre(0, k0)], peak, 1e-5 * peak);
  EXPECT_NEAR(w[wim(0, k0)], 0.0, 1e-5 * peak);
  for (int k = 1; k <= n / 2; ++k) {
    if (k == k0) continue;
    EXPECT_LT(std::abs(coefficient(w, 0, k)), 1e-5 * peak) << "k=" << k;
  }
}

TEST(MultichannelFftArguments, RefusesMismatchedPlanWorkOrWindowArray) {
  FftPlan plan;
  fft_setup(64, plan);
  FftWork work;
  fft_work_allocate(work, 64);
  std::vector<float> w(std::size_t(128 + nwspare) * nchmx, 0.0f);
  EXPECT_THROW(multichannel_fft(view(w, 2), 128, work, plan), Error);
  EXPECT_THROW(multichannel_fft(WindowArray(w.data(), 2, 63), 64, work, plan), Error);
  FftWork small;
  fft_work_allocate(small, 32);
  EXPECT_THROW(multichannel_fft(view(w, 2), 64, small, plan), Error);
  // A chirp-z plan needs the work array of its convolution length, which
  // the allocation for the plans gives it.
  FftPlan chirp;
  fft_setup(127, chirp);
  fft_work_allocate(small, 127);
  EXPECT_THROW(multichannel_fft(view(w, 2), 127, small, chirp), Error);
  const FftPlan plans[] = {plan, chirp};
  fft_work_allocate(small, plans);
  EXPECT_NO_THROW(multichannel_fft(view(w, 2), 127, small, chirp));
}

}  // namespace
}  // namespace qv
