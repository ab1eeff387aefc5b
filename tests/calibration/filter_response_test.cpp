#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "calibration/filter_response.hpp"

namespace qv {
namespace {

constexpr double kPi = 3.14159265358979323846;

double degrees(std::complex<float> h) { return std::arg(std::complex<double>(h)) * 180 / kPi; }

void expect_polar(std::complex<float> h, double amp, double deg, const char* what) {
  EXPECT_NEAR(std::abs(h), amp, 2e-6) << what;
  EXPECT_NEAR(degrees(h), deg, 2e-4) << what;
}

TEST(ClosedForms, FiltersAtTheirCornersAndTheBoxcar) {
  const float s2 = std::sqrt(2.0f);
  const double r2 = 1 / std::sqrt(2.0);
  expect_polar(filter_response(ft_h1, 50, 0, 50), r2, 45, "h1");
  expect_polar(filter_response(ft_l1, 50, 0, 50), r2, -45, "l1");
  expect_polar(filter_response(ft_h2, 50, s2, 50), r2, 90, "h2");
  expect_polar(filter_response(ft_l2, 50, s2, 50), r2, -90, "l2");
  // (Away from the corners they are compared with poles and zeros.)

  // Boxcar: without averaging a pure shift of p2 = 1 s, 36 degrees at 10 s;
  // averaging over one period removes it, over half a period leaves 2/pi.
  expect_polar(filter_response(ft_bc, 0, 1, 10), 1, 36, "bc shift");
  EXPECT_NEAR(std::abs(filter_response(ft_bc, 10, 0, 10)), 0, 1e-5);
  expect_polar(filter_response(ft_bc, 5, 0, 10), 2 / kPi, 0, "bc half");

  for (int type : {0, 7, 9, 10, 11, 13, 97})
    EXPECT_EQ(filter_response(type, 50, 1, 10), std::complex<float>(1, 0)) << type;
}

TEST(FixedForms, ButterworthHighAndLowPassDerivativeAndDelay) {
  // pd: at the corner the three sections are i 1.9318, i 1.4141 and i 0.5176,
  // so the low-pass is i / (their product); elsewhere |H| = 1/sqrt(1 + x^12),
  // to the 1e-4 to which the section coefficients 2 cos(15, 45, 75 degrees)
  // are written (their errors add up to about 2e-4 near the corner).
  expect_polar(fixed_response(ft_pd, 200, 0), 1 / (1.9318 * 1.4141 * 0.5176), 90, "pd corner");
  for (double f : {0.0, 100.0, 150.0, 300.0, 400.0}) {
    const double x = f / 200;
    EXPECT_NEAR(std::abs(fixed_response(ft_pd, float(f), 0)) * std::sqrt(1 + std::pow(x, 12)), 1, 3e-4) << f;
  }

  // mx: the high-pass corner at 4 Hz and the low-pass corner at 8192 Hz,
  // each shifted in phase by the other section (the amplitudes by < 1e-7).
  const double lag = std::atan(1.0 / 2048) * 180 / kPi;
  expect_polar(fixed_response(ft_mx, 4, 0), 1 / std::sqrt(2.0), 45 - lag, "mx 4 Hz");
  expect_polar(fixed_response(ft_mx, 8192, 0), 1 / std::sqrt(2.0), -45 + lag, "mx 8192 Hz");

  EXPECT_EQ(fixed_response(ft_uc, 2, 0), std::complex<float>(0, 2));
  // A delay of 0.05 s at 2 Hz: a tenth of a period.
  expect_polar(fixed_response(ft_dt, 2, 0.05f), 1, -36, "dt");

  for (int type : {2, 9, 13, 98, 100})
    EXPECT_EQ(fixed_response(type, 3, 0.5f), std::complex<float>(1, 0)) << type;
}

// The fits written out once more, to be summed as powers in long double:
// type, sign of the real part, divisor, real and imaginary coefficients.
struct Fit {
  int type;
  long double sign, scale;
  std::vector<long double> re, im;
};
const Fit kFits[] = {
    {ft_ra, 1, 1, {0.9995L, 0.4884L, -540.44L, 3314.08L}, {0.0003L, -30.2821L, 131.976L, -645.841L, 56054.2L}},
    {ft_r2, 1, 1, {1.00938L, -17.4907L, -72672.1L, 5.9892e6L},
     {-0.0003034L, -363.385L, 19003.1L, -1.115e6L, 1.162e9L}},
    {ft_ma, -1, 25,
     {0.99992883L, 0.06984874L, -36.540676L, -48.0761L, 1362.2427L,
      -5500.831L, 10839.2705L, -11784.687L, 6791.731L, -1624.9681L},
     {-0.001502197L, 5.8732066L, 46.944702L, -705.7354L, 3305.1323L,
      -8326.37L, 12573.325L, -11432.567L, 5792.333L, -1259.4497L}},
    {ft_m1, 1, 1,
     {0.9997297L, 0.67992437L, -194.61833L, 1829.134L, -8241.197L,
      21653.754L, -34803.95L, 33677.68L, -17990.746L, 4066.2644L},
     {-0.02305288L, 17.501423L, -141.26L, 268.84317L, 1396.3002L,
      -9193.973L, 23246.246L, -31054.268L, 21651.844L, -6217.2446L}},
};

long double power_sum(const std::vector<long double>& a, long double f) {
  long double s = 0;
  for (std::size_t k = 0; k < a.size(); ++k) s += a[k] * std::pow(f, static_cast<long double>(k));
  return s;
}

TEST(SensorFits, ConstantTermsAtZeroAndPowerSeriesElsewhere) {
  for (const Fit& fit : kFits) {
    const std::complex<double> h0 = fit_response(fit.type, 0);
    EXPECT_DOUBLE_EQ(h0.real(), double(fit.sign * fit.re[0] / fit.scale)) << fit.type;
    EXPECT_DOUBLE_EQ(h0.imag(), double(fit.im[0] / fit.scale)) << fit.type;
    for (long double f : {0.05L, 0.3L, 0.8L}) {
      const std::complex<double> h = fit_response(fit.type, double(f));
      const long double re = fit.sign * power_sum(fit.re, f) / fit.scale;
      const long double im = power_sum(fit.im, f) / fit.scale;
      EXPECT_NEAR(h.real(), double(re), 1e-9 * (1 + std::fabs(double(re)))) << fit.type << " f=" << double(f);
      EXPECT_NEAR(h.imag(), double(im), 1e-9 * (1 + std::fabs(double(im)))) << fit.type << " f=" << double(f);
    }
  }
  for (int type : {2, 12, 17, 99}) EXPECT_EQ(fit_response(type, 0.3), std::complex<double>(1, 0)) << type;
}

}  // namespace
}  // namespace qv
