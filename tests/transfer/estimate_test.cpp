#include "transfer/estimate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "dsp/window_prep.hpp"
#include "support/allocation_counter.hpp"
#include "support/window_view.hpp"

namespace qv::tf {
namespace {

constexpr double pi = 3.14159265358979323846;

// A 2-D-like site: Zxy, Zyx large, the diagonal small, a tipper; in
// (mV/km)/nT and dimensionless.
struct Model {
  std::array<std::array<cplx, 2>, 3> z{{{cplx(0.3, 0.2), cplx(2.0, -1.5)},
                                        {cplx(-1.8, 1.1), cplx(-0.25, -0.1)},
                                        {cplx(0.12, -0.05), cplx(-0.08, 0.2)}}};
};

struct Noise {
  std::mt19937_64 gen;
  std::normal_distribution<double> normal{0.0, 1.0};
  explicit Noise(unsigned seed) : gen(seed) {}
  // Circular complex Gaussian with E|c|^2 = 1.
  cplx complex() {
    const double re = normal(gen), im = normal(gen);
    return cplx(re, im) / std::sqrt(2.0);
  }
};

void add_row(BandRows& rows, const Model& m, int window, int harmonic, cplx hx, cplx hy, const cplx* noise) {
  rows.x.push_back(hx);
  rows.x.push_back(hy);
  for (int o = 0; o < rows.nout; ++o) rows.y.push_back(m.z[o][0] * hx + m.z[o][1] * hy + noise[o]);
  rows.window.push_back(window);
  rows.harmonic.push_back(harmonic);
  ++rows.n;
}

// Rows of `windows` windows of k harmonics each, independent complex
// Gaussian inputs (Hy partly coherent with Hx) and output noise of the given
// size (Ex and Ey noise correlated 0.6), window numbers from 1000 on.
BandRows gaussian_rows(const Model& m, int nout, int windows, int k, double noise_sd, Noise& g) {
  BandRows rows;
  rows.nout = nout;
  for (int w = 0; w < windows; ++w)
    for (int h = 0; h < k; ++h) {
      const cplx hx = g.complex(), hy = 0.5 * hx + 0.9 * g.complex();
      const cplx a = g.complex(), b = g.complex();
      const cplx noise[3] = {noise_sd * a, noise_sd * (0.6 * a + 0.8 * b), noise_sd * g.complex()};
      add_row(rows, m, 1000 + w, 10 + h, hx, hy, noise);
    }
  return rows;
}

Band band_of(int first, int last) {
  Band b;
  b.level_id = 2;
  b.first_harmonic = first;
  b.last_harmonic = last;
  return b;
}

EstimateOptions options(Estimator e, ErrorMethod m, std::span<const double> rho2 = {}) {
  EstimateOptions o;
  o.estimator = e;
  o.errors = m;
  o.rho2 = rho2;
  return o;
}

// How often the true value lies within 1 and 2 standard errors of the
// estimate, per real and imaginary part.
struct Coverage {
  int n = 0, in1 = 0, in2 = 0;
  double squares = 0;  // of the errors in units of their standard error
  void add(cplx error, double var) {
    const double sd = std::sqrt(var / 2);
    for (double e : {error.real(), error.imag()}) {
      ++n;
      squares += e * e / (sd * sd);
      in1 += std::abs(e) <= sd;
      in2 += std::abs(e) <= 2 * sd;
    }
  }
  void add(const BandEstimate& est, const Model& m) {
    for (std::size_t o = 0; o < est.out.size(); ++o)
      for (int j = 0; j < nin; ++j) add(est.out[o].z[j] - m.z[o][j], est.out[o].var[j]);
  }
  // Zxy + Zyx, whose variance needs the covariance of elements of two
  // outputs: residual_cov[Ex][Ey] * inverse_power[y][x].
  void add_sum(const BandEstimate& est, const Model& m) {
    const int nout = int(est.out.size());
    const double var = est.out[0].var[1] + est.out[1].var[0] +
                       2 * std::real(est.residual_cov[0 * nout + 1] * est.inverse_power[1 * nin + 0]);
    add(est.out[0].z[1] + est.out[1].z[0] - m.z[0][1] - m.z[1][0], var);
  }
  double p1() const { return double(in1) / n; }
  double p2() const { return double(in2) / n; }
  // The scatter of the estimates over the variance the errors claim: 1 when
  // they are right.
  double ratio() const { return squares / n; }
};

std::string name(Estimator e, ErrorMethod m) {
  return std::string(e == Estimator::ols ? "least squares" : "robust") +
         (m == ErrorMethod::parametric ? ", parametric" : m == ErrorMethod::jackknife ? ", jackknife" : ", bootstrap");
}

void expect_coverage(const Coverage& c, const std::string& what) {
  EXPECT_GE(c.p1(), 0.60) << what;
  EXPECT_LE(c.p1(), 0.76) << what;
  EXPECT_GE(c.p2(), 0.91) << what;
  EXPECT_LE(c.p2(), 0.98) << what;
}

constexpr Estimator estimators[] = {Estimator::ols, Estimator::robust};
constexpr ErrorMethod methods[] = {ErrorMethod::parametric, ErrorMethod::jackknife, ErrorMethod::bootstrap};
constexpr int nmethods = 3;

TEST(EstimateBand, NoiseFreeRowsGiveTheModelToRounding) {
  const Model m;
  Noise g(1);
  const BandRows rows = gaussian_rows(m, 3, 12, 9, 0.0, g);
  EstimateWork work;
  for (Estimator e : estimators)
    for (ErrorMethod method : methods) {
      const BandEstimate est = estimate_band(band_of(10, 18), rows, options(e, method), work);
      ASSERT_EQ(est.out.size(), 3u);
      EXPECT_EQ(est.rows, 108);
      EXPECT_EQ(est.windows, 12);
      for (int o = 0; o < 3; ++o) {
        for (int j = 0; j < nin; ++j) {
          EXPECT_LT(std::abs(est.out[o].z[j] - m.z[o][j]), 1e-13) << name(e, method) << " output " << o;
          EXPECT_LT(est.out[o].var[j], 1e-26) << name(e, method) << " output " << o;
        }
        EXPECT_NEAR(est.out[o].coherence2, 1.0, 1e-13);
        // (The robust weights of rounding errors mean nothing.)
        if (e == Estimator::ols) {
          EXPECT_EQ(est.out[o].rows_used, 108);
        }
      }
    }
}

// Least squares against the textbook solution of the 2 x 2 normal equations
// by Cramer's rule on the auto- and cross-powers, its variance
// sigma^2 (X^H X)^-1 with sigma^2 = sum |r|^2 / (n - 2), and the jackknife
// against refitting with each window left out.
TEST(EstimateBand, LeastSquaresIsTheClosedFormSolution) {
  const Model m;
  Noise g(2);
  const int windows = 15, k = 4, n = windows * k;
  const BandRows rows = gaussian_rows(m, 3, windows, k, 0.7, g);

  struct Fit {
    std::array<std::array<cplx, 2>, 3> z;
    double hxhx = 0, hyhy = 0;
    cplx hxhy;
  };
  auto fit = [&](int skip_window) {
    Fit f;
    std::array<cplx, 3> exhx{}, exhy{};
    for (int i = 0; i < n; ++i) {
      if (rows.window[i] == skip_window) continue;
      const cplx hx = rows.x[2 * i], hy = rows.x[2 * i + 1];
      f.hxhx += std::norm(hx);
      f.hyhy += std::norm(hy);
      f.hxhy += hx * std::conj(hy);
      for (int o = 0; o < 3; ++o) {
        exhx[o] += rows.y[3 * i + o] * std::conj(hx);
        exhy[o] += rows.y[3 * i + o] * std::conj(hy);
      }
    }
    const double det = f.hxhx * f.hyhy - std::norm(f.hxhy);
    for (int o = 0; o < 3; ++o) {
      f.z[o][0] = (exhx[o] * f.hyhy - exhy[o] * std::conj(f.hxhy)) / det;
      f.z[o][1] = (exhy[o] * f.hxhx - exhx[o] * f.hxhy) / det;
    }
    return f;
  };
  const Fit all = fit(-1);
  const double det = all.hxhx * all.hyhy - std::norm(all.hxhy);
  std::array<cplx, 9> rr{};
  std::array<double, 3> yy{};
  for (int i = 0; i < n; ++i) {
    std::array<cplx, 3> r;
    for (int o = 0; o < 3; ++o) {
      r[o] = rows.y[3 * i + o] - all.z[o][0] * rows.x[2 * i] - all.z[o][1] * rows.x[2 * i + 1];
      yy[o] += std::norm(rows.y[3 * i + o]);
    }
    for (int o = 0; o < 3; ++o)
      for (int p = 0; p < 3; ++p) rr[o * 3 + p] += r[o] * std::conj(r[p]);
  }

  EstimateWork work;
  const BandEstimate est = estimate_band(band_of(10, 13), rows, options(Estimator::ols, ErrorMethod::parametric), work);
  for (int o = 0; o < 3; ++o) {
    const double sigma2 = rr[o * 3 + o].real() / (n - 2);
    for (int j = 0; j < nin; ++j) EXPECT_LT(std::abs(est.out[o].z[j] - all.z[o][j]), 1e-12) << o << j;
    EXPECT_NEAR(est.out[o].var[0], sigma2 * all.hyhy / det, 1e-12);
    EXPECT_NEAR(est.out[o].var[1], sigma2 * all.hxhx / det, 1e-12);
    EXPECT_NEAR(est.out[o].coherence2, 1 - rr[o * 3 + o].real() / yy[o], 1e-12);
    EXPECT_NEAR(est.out[o].residual_power, rr[o * 3 + o].real() / n, 1e-12);
    EXPECT_NEAR(est.out[o].dof, 2.0 * (n - 2), 1e-9);
    EXPECT_EQ(est.out[o].rows_downweighted, 0);
    for (int p = 0; p < 3; ++p) EXPECT_LT(std::abs(est.residual_cov[o * 3 + p] - rr[o * 3 + p] / double(n - 2)), 1e-12);
  }
  // (X^H X)^-1 with X^H X = [[hxhx, conj(hxhy)], [hxhy, hyhy]].
  EXPECT_NEAR(est.inverse_power[0].real(), all.hyhy / det, 1e-14);
  EXPECT_NEAR(est.inverse_power[3].real(), all.hxhx / det, 1e-14);
  EXPECT_LT(std::abs(est.inverse_power[1] + std::conj(all.hxhy) / det), 1e-14);
  EXPECT_LT(std::abs(est.inverse_power[2] + all.hxhy / det), 1e-14);

  // Neighbouring harmonics correlated: each window's four harmonics sum
  // rho2 over the 16 pairs to 4 + 2 (3 * 0.5 + 2 * 0.1 + 1 * 0.02) = 7.44,
  // so the rows count as n / 1.86 independent ones.
  const std::vector<double> rho2 = {1.0, 0.5, 0.1, 0.02};
  const double f = 7.44 / 4;
  const BandEstimate corr =
      estimate_band(band_of(10, 13), rows, options(Estimator::ols, ErrorMethod::parametric, rho2), work);
  for (int o = 0; o < 3; ++o) {
    const double sigma2 = rr[o * 3 + o].real() / (n - 2 * f);
    EXPECT_NEAR(corr.out[o].var[0], f * sigma2 * all.hyhy / det, 1e-12);
    EXPECT_NEAR(corr.out[o].var[1], f * sigma2 * all.hxhx / det, 1e-12);
    EXPECT_NEAR(corr.out[o].dof, 2.0 * (n / f - 2), 1e-9);
  }

  const BandEstimate jack = estimate_band(band_of(10, 13), rows, options(Estimator::ols, ErrorMethod::jackknife), work);
  std::vector<Fit> deleted;
  for (int w = 0; w < windows; ++w) deleted.push_back(fit(1000 + w));
  for (int o = 0; o < 3; ++o)
    for (int j = 0; j < nin; ++j) {
      cplx mean{};
      for (const Fit& d : deleted) mean += d.z[o][j];
      mean /= double(windows);
      double var = 0;
      for (const Fit& d : deleted) var += std::norm(d.z[o][j] - mean);
      var *= double(windows - 1) / windows;
      EXPECT_NEAR(jack.out[o].var[j], var, 1e-12 * var) << o << j;
      EXPECT_EQ(jack.out[o].z[j], est.out[o].z[j]);
    }
}

// Independent rows, Gaussian noise on the outputs: the errors are what the
// scatter of the estimates over many trials says they are.
TEST(EstimateBand, ErrorsCoverTheModelOnGaussianRows) {
  const Model m;
  Noise g(3);
  EstimateWork work;
  Coverage c[2][nmethods], sum[2][nmethods];
  for (int trial = 0; trial < 300; ++trial) {
    const BandRows rows = gaussian_rows(m, 3, 30, 8, 0.8, g);
    for (int e = 0; e < 2; ++e)
      for (int k = 0; k < nmethods; ++k) {
        const BandEstimate est = estimate_band(band_of(10, 17), rows, options(estimators[e], methods[k]), work);
        c[e][k].add(est, m);
        sum[e][k].add_sum(est, m);
      }
  }
  for (int e = 0; e < 2; ++e)
    for (int k = 0; k < nmethods; ++k) {
      const std::string what = name(estimators[e], methods[k]);
      std::cout << what << ": within 1 sigma " << c[e][k].p1() << ", 2 sigma " << c[e][k].p2()
                << "; Zxy + Zyx " << sum[e][k].p1() << ", " << sum[e][k].p2() << "\n";
      expect_coverage(c[e][k], what);
      expect_coverage(sum[e][k], what + ", Zxy + Zyx");
    }
}

// Rows whose inputs carry noise of their own (0.4 of the field's size) and a
// remote reference: another measurement of the same field, its axes turned
// and scaled, with independent noise. The outputs follow the true field.
BandRows reference_rows(const Model& m, int windows, int k, Noise& g) {
  BandRows rows;
  rows.nout = 3;
  for (int w = 0; w < windows; ++w)
    for (int h = 0; h < k; ++h) {
      const cplx hx = g.complex(), hy = 0.5 * hx + 0.9 * g.complex();
      const cplx a = g.complex(), b = g.complex();
      const cplx noise[3] = {0.8 * a, 0.8 * (0.6 * a + 0.8 * b), 0.8 * g.complex()};
      add_row(rows, m, 1000 + w, 10 + h, hx, hy, noise);
      rows.x[rows.x.size() - 2] += 0.4 * g.complex();
      rows.x[rows.x.size() - 1] += 0.4 * g.complex();
      rows.r.push_back(0.8 * hx + 0.3 * hy + 0.4 * g.complex());
      rows.r.push_back(-0.2 * hx + 0.7 * hy + 0.4 * g.complex());
    }
  return rows;
}

TEST(EstimateBand, RemoteReferenceErrorsCoverTheModelUnderNoiseOnTheInputs) {
  // Noise on the inputs biases the single-station estimate towards zero
  // (by S / (S + N) per input); with the reference as the instruments the
  // estimate is unbiased, and its errors (the instrumental-variable
  // covariance, or the jackknife) cover the model as Gaussian errors should.
  const Model m;
  Noise g(11);
  EstimateWork work;
  Coverage c[2][2], single;
  for (int trial = 0; trial < 300; ++trial) {
    BandRows rows = reference_rows(m, 30, 8, g);
    for (int e = 0; e < 2; ++e)
      for (int k = 0; k < 2; ++k)
        c[e][k].add(estimate_band(band_of(10, 17), rows, options(estimators[e], methods[k]), work), m);
    rows.r.clear();
    single.add(estimate_band(band_of(10, 17), rows, options(Estimator::ols, ErrorMethod::parametric), work), m);
  }
  for (int e = 0; e < 2; ++e)
    for (int k = 0; k < 2; ++k) {
      const std::string what = "remote reference, " + name(estimators[e], methods[k]);
      std::cout << what << ": within 1 sigma " << c[e][k].p1() << ", 2 sigma " << c[e][k].p2() << "\n";
      expect_coverage(c[e][k], what);
    }
  std::cout << "single station on the same rows: within 2 sigma " << single.p2() << "\n";
  EXPECT_LT(single.p2(), 0.6);
}

// The project's prolate taper for a window of n samples.
std::vector<double> prolate(int n) {
  std::vector<float> table(static_cast<std::size_t>(n));
  std::vector<float> ones(std::size_t(n + nwspare) * nchmx, 1.0f);
  bool flag = true;
  apply_taper(testing_support::view(ones, 1), n, flag, table.data());
  return std::vector<double>(table.begin(), table.end());
}

// The Hann taper, whose wider main lobe correlates neighbours more.
std::vector<double> hann(int n) {
  std::vector<double> w(static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t) w[t] = std::sin(pi * (t + 0.5) / n) * std::sin(pi * (t + 0.5) / n);
  return w;
}

// Rows as a tapered window makes them: white noise in the time domain, the
// taper, a direct DFT at k neighbouring harmonics. The output noise is white
// too, so its coefficients are correlated across harmonics exactly as
// rho(m) = sum_t w(t)^2 exp(-2 pi i m t / N) / sum_t w(t)^2 says. With rho2
// the errors cover the model (the bootstrap, which resamples whole windows,
// takes the correlation along without it); taking the rows as independent
// understates the variance by the factor sum_{j,l} rho2[|j - l|] / K.
TEST(EstimateBand, DegreesOfFreedomAccountForNeighbouringHarmonicsOfATaperedWindow) {
  const int len = 64, first = 10, k = 8, windows = 30, nout = 3;
  for (const bool prolate_taper : {true, false}) {
    const std::vector<double> w = prolate_taper ? prolate(len) : hann(len);
    const std::string taper = prolate_taper ? "prolate taper" : "Hann taper";
    std::vector<cplx> kernel(std::size_t(k) * len);  // w(t) exp(-2 pi i h t / N)
    for (int h = 0; h < k; ++h)
      for (int t = 0; t < len; ++t) kernel[h * len + t] = w[t] * std::polar(1.0, -2 * pi * (first + h) * t / len);
    std::vector<double> rho2(12);
    double energy = 0;
    for (double v : w) energy += v * v;
    for (std::size_t mm = 0; mm < rho2.size(); ++mm) {
      cplx r{};
      for (int t = 0; t < len; ++t) r += w[t] * w[t] * std::polar(1.0, -2 * pi * double(mm) * t / len);
      rho2[mm] = std::norm(r / energy);
    }
    double inflation = 0;
    for (int j = 0; j < k; ++j)
      for (int l = 0; l < k; ++l) inflation += std::abs(j - l) < 12 ? rho2[std::abs(j - l)] : 0.0;
    inflation /= k;
    std::cout << taper << ": rho2[1] " << rho2[1] << ", rho2[2] " << rho2[2] << ", variance inflation " << inflation
              << "\n";
    ASSERT_GT(inflation, prolate_taper ? 1.25 : 1.7);

    const Model m;
    Noise g(4);
    EstimateWork work;
    Coverage with[2][nmethods], without;
    std::vector<double> series(std::size_t(5) * len);
    for (int trial = 0; trial < 300; ++trial) {
      BandRows rows;
      rows.nout = nout;
      for (int win = 0; win < windows; ++win) {
        for (int t = 0; t < len; ++t) {
          const double hx = g.normal(g.gen);
          series[t] = hx;
          series[len + t] = 0.5 * hx + 0.9 * g.normal(g.gen);
          for (int o = 0; o < nout; ++o) series[(2 + o) * len + t] = 0.8 * g.normal(g.gen);
        }
        for (int h = 0; h < k; ++h) {
          cplx c[5] = {};
          for (int s = 0; s < 5; ++s)
            for (int t = 0; t < len; ++t) c[s] += kernel[h * len + t] * series[s * len + t];
          add_row(rows, m, win, first + h, c[0], c[1], c + 2);
        }
      }
      const Band band = band_of(first, first + k - 1);
      for (int e = 0; e < 2; ++e)
        for (int mm = 0; mm < nmethods; ++mm)
          with[e][mm].add(estimate_band(band, rows, options(estimators[e], methods[mm], rho2), work), m);
      without.add(estimate_band(band, rows, options(Estimator::robust, ErrorMethod::parametric), work), m);
    }
    for (int e = 0; e < 2; ++e)
      for (int mm = 0; mm < nmethods; ++mm) {
        const std::string what = name(estimators[e], methods[mm]) + ", " + taper;
        std::cout << what << ": within 1 sigma " << with[e][mm].p1() << ", 2 sigma " << with[e][mm].p2()
                  << ", scatter / claimed variance " << with[e][mm].ratio() << "\n";
        expect_coverage(with[e][mm], what);
        EXPECT_NEAR(with[e][mm].ratio(), 1.0, 0.1) << what;
      }
    std::cout << "robust, parametric, " << taper << ", rows taken as independent: within 1 sigma " << without.p1()
              << ", 2 sigma " << without.p2() << ", scatter / claimed variance " << without.ratio() << "\n";
    EXPECT_NEAR(without.ratio(), inflation, 0.1 * inflation) << taper;
    if (!prolate_taper) {
      EXPECT_LT(without.p1(), 0.60);
      EXPECT_LT(without.p2(), 0.91);
    }
  }
}

double relative_error(const OutputEstimate& out, const std::array<cplx, 2>& z) {
  return std::sqrt((std::norm(out.z[0] - z[0]) + std::norm(out.z[1] - z[1])) / (std::norm(z[0]) + std::norm(z[1])));
}

// Strong noise on the outputs in 5 % of the windows: the robust estimate
// sets those rows aside, least squares follows them.
TEST(EstimateBand, RobustEstimateSetsBurstsAside) {
  const Model m;
  Noise g(5);
  const int windows = 200, k = 10;
  BandRows rows;
  rows.nout = 3;
  for (int w = 0; w < windows; ++w) {
    const double sd = w % 20 == 7 ? 60.0 : 0.2;
    for (int h = 0; h < k; ++h) {
      const cplx hx = g.complex(), hy = 0.5 * hx + 0.9 * g.complex();
      const cplx noise[3] = {sd * g.complex(), sd * g.complex(), sd * g.complex()};
      add_row(rows, m, w, 20 + h, hx, hy, noise);
    }
  }
  EstimateWork work;
  const BandEstimate robust = estimate_band(band_of(20, 29), rows, options(Estimator::robust, ErrorMethod::parametric), work);
  const BandEstimate ols = estimate_band(band_of(20, 29), rows, options(Estimator::ols, ErrorMethod::parametric), work);
  for (int o = 0; o < 2; ++o) {
    const double r = relative_error(robust.out[o], m.z[o]), l = relative_error(ols.out[o], m.z[o]);
    std::cout << (o == 0 ? "Ex" : "Ey") << ": robust off by " << 100 * r << " %, least squares by " << 100 * l
              << " %; rows downweighted " << robust.out[o].rows_downweighted << " of " << robust.rows << "\n";
    EXPECT_LT(r, 0.03);
    EXPECT_GT(l, 0.10);
    // The 100 burst rows and hardly any other.
    EXPECT_GE(robust.out[o].rows_downweighted, 100);
    EXPECT_LE(robust.out[o].rows_downweighted, 110);
    // Its errors still cover the model, those of least squares are inflated
    // by the bursts.
    for (int j = 0; j < nin; ++j) {
      EXPECT_LT(std::abs(robust.out[o].z[j] - m.z[o][j]), 3 * std::sqrt(robust.out[o].var[j]));
      EXPECT_GT(ols.out[o].var[j], 100 * robust.out[o].var[j]);
    }
  }
  EXPECT_LT(relative_error(robust.out[2], m.z[2]), 0.1);  // the tipper, a tenth the size
}

// On clean Gaussian rows the robust estimate gives up little: it differs from
// least squares by a fraction of its error, with an error barely larger.
TEST(EstimateBand, RobustAgreesWithLeastSquaresOnGaussianRows) {
  const Model m;
  Noise g(6);
  const BandRows rows = gaussian_rows(m, 3, 100, 20, 1.0, g);
  EstimateWork work;
  const BandEstimate robust = estimate_band(band_of(10, 29), rows, options(Estimator::robust, ErrorMethod::parametric), work);
  const BandEstimate ols = estimate_band(band_of(10, 29), rows, options(Estimator::ols, ErrorMethod::parametric), work);
  for (int o = 0; o < 3; ++o) {
    for (int j = 0; j < nin; ++j) {
      const double sd = std::sqrt(ols.out[o].var[j] / 2);
      EXPECT_LT(std::abs(robust.out[o].z[j].real() - ols.out[o].z[j].real()), 0.5 * sd);
      EXPECT_LT(std::abs(robust.out[o].z[j].imag() - ols.out[o].z[j].imag()), 0.5 * sd);
      EXPECT_GT(robust.out[o].var[j], 0.97 * ols.out[o].var[j]);
      EXPECT_LT(robust.out[o].var[j], 1.10 * ols.out[o].var[j]);
    }
    EXPECT_LT(robust.out[o].rows_downweighted, 20);  // of 2000
    // Weighted, a little higher: the rows of the largest residuals weigh less.
    EXPECT_GE(robust.out[o].coherence2, ols.out[o].coherence2);
    EXPECT_LT(robust.out[o].coherence2, ols.out[o].coherence2 + 0.02);
  }
  EXPECT_GE(robust.iterations, 2);
  EXPECT_LE(robust.iterations, 15);
}

TEST(EstimateBand, BandsOfAnySizeWithinTheReserveAllocateOnlyTheResult) {
  if (!testing_support::allocations_counted()) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
  const Model m;
  Noise g(7);
  const BandRows large = gaussian_rows(m, 3, 60, 20, 0.5, g), small = gaussian_rows(m, 2, 5, 7, 0.5, g);
  const std::vector<double> rho2 = {1.0, 0.4, 0.05};
  EstimateWork work;
  work.reserve(large.n, 60);
  for (const BandRows* rows : {&large, &small, &large})
    for (Estimator e : estimators)
      for (ErrorMethod method : methods) {
        testing_support::AllocationCounter counter;
        const BandEstimate est = estimate_band(band_of(10, 29), *rows, options(e, method, rho2), work);
        EXPECT_EQ(counter.count(), 2) << name(e, method);  // est.out and est.residual_cov
      }
}

TEST(EstimateBand, RefusesRowsItCannotEstimate) {
  const Model m;
  Noise g(8);
  EstimateWork work;
  const EstimateOptions robust = options(Estimator::robust, ErrorMethod::parametric);
  auto message = [&](const BandRows& rows, const EstimateOptions& opt) -> std::string {
    try {
      estimate_band(band_of(5, 9), rows, opt, work);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  BandRows rows = gaussian_rows(m, 2, 4, 5, 0.3, g);
  BandRows parallel = rows;  // Hy = 2 Hx: no second direction
  for (int i = 0; i < parallel.n; ++i) parallel.x[2 * i + 1] = 2.0 * parallel.x[2 * i];
  EXPECT_EQ(message(parallel, robust),
            "band of level 2, harmonics 5-9: the magnetic inputs Hx and Hy are not independent over the band's 20 rows "
            "(zero, or coherence 1)");
  BandRows short_y = rows;
  short_y.y.pop_back();
  EXPECT_EQ(message(short_y, robust), "band of level 2, harmonics 5-9: the rows' arrays do not match its 20 rows of 2 outputs");
  BandRows nan = rows;
  nan.y[7] = cplx(std::nan(""), 0);
  EXPECT_EQ(message(nan, robust), "band of level 2, harmonics 5-9: the rows hold a coefficient that is not a finite number");
  const BandRows two = gaussian_rows(m, 2, 1, 2, 0.3, g);
  EXPECT_EQ(message(two, robust).substr(0, 60), "band of level 2, harmonics 5-9: 2 rows count as 2.000000 ind");
  const BandRows two_windows = gaussian_rows(m, 2, 2, 10, 0.3, g);
  EXPECT_EQ(message(two_windows, options(Estimator::ols, ErrorMethod::jackknife)),
            "band of level 2, harmonics 5-9: the jackknife needs at least 3 windows, the band's rows come from 2");
  const std::vector<double> bad_rho2 = {0.9, 0.3};
  EXPECT_EQ(message(rows, options(Estimator::ols, ErrorMethod::parametric, bad_rho2)),
            "band of level 2, harmonics 5-9: the harmonics' squared correlations must start with 1 and lie in 0..1, "
            "found 0.900000 first");
}

}  // namespace
}  // namespace qv::tf
