#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>

#include "calibration/filter_response.hpp"
#include "calibration/pole_zero.hpp"

namespace qv {
namespace {

using cd = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

TEST(PoleZero, ReadsCountsGainAndComplexValuesInFreeFormat) {
  PoleZero pz;
  std::string why;
  ASSERT_TRUE(parse_pole_zero("1 2 1.5D+02 ( 1.0 , 0.0 ) (-1.0E1,2.5), (-3d0 , -4.0)  calibrated 2019 (x", pz, why))
      << why;
  EXPECT_EQ(pz.nz, 1);
  EXPECT_EQ(pz.np, 2);
  EXPECT_EQ(pz.K, 150.0);
  EXPECT_EQ(pz.z[0], cd(1, 0));
  EXPECT_EQ(pz.p[0], cd(-10, 2.5));
  EXPECT_EQ(pz.p[1], cd(-3, -4));

  // The all-pass (s - 1) / (s + 1) at s = i: (i - 1) / (i + 1) = i.
  ASSERT_TRUE(parse_pole_zero(" 1,1, 1 (1,0) (-1,0)", pz, why)) << why;
  EXPECT_NEAR(std::abs(pz_response(pz, 1 / (2 * kPi)) - cd(0, 1)), 0, 1e-15);
}

TEST(PoleZero, RejectsMalformedLinesSayingWhy) {
  const char* const cases[][2] = {
      {"2 3 1.0 (0,0) (1,1) (2,2) (3,3)", "expected 2 zeros and 3 poles after the gain, found 4 complex values"},
      {"101 0 1.0", "the number of zeros must be 0 to 100, found 101"},
      {"0 -1 1.0", "the number of poles must be 0 to 100, found -1"},
      {"1", "expected the number of poles, found the end of the line"},
      {"0 0 gain", "expected the gain, found 'gain'"},
      {"1 0 1.0 abc", "expected a complex value (real,imaginary), found 'abc'"},
      {"1 0 1.0 (1.0 2.0)", "expected a complex value (real,imaginary), found '(1.0 2.0)'"},
      {"0 1 1.0 (1.0,2x)", "expected a complex value (real,imaginary), found '(1.0,2x)'"},
  };
  for (const auto& c : cases) {
    PoleZero pz;
    std::string why;
    EXPECT_FALSE(parse_pole_zero(c[0], pz, why)) << c[0];
    EXPECT_EQ(why, c[1]) << c[0];
  }
}

// First- and second-order sections as poles and zeros, the corner at wc =
// 2 pi / Tc: h1 = s / (s + wc), l1 = wc / (s + wc), and with the damping d,
// h2 = s^2 / q(s), l2 = wc^2 / q(s), q(s) = s^2 + d wc s + wc^2. They must
// give the closed forms at every frequency.
TEST(PoleZero, SectionsAsPolesAndZerosMatchTheClosedForms) {
  const double Tc = 10, d = 0.7, wc = 2 * kPi / Tc;
  const cd q(-wc * d / 2, wc * std::sqrt(1 - d * d / 4));
  const struct {
    int type, nz, np;
    double K;
    cd p0, p1;
  } sections[] = {{ft_h1, 1, 1, 1, -wc, 0}, {ft_l1, 0, 1, wc, -wc, 0},
                  {ft_h2, 2, 2, 1, q, std::conj(q)}, {ft_l2, 0, 2, wc * wc, q, std::conj(q)}};
  for (const auto& sec : sections) {
    PoleZero pz;  // the zeros, if any, at 0
    pz.nz = sec.nz;
    pz.np = sec.np;
    pz.K = sec.K;
    pz.p[0] = sec.p0;
    pz.p[1] = sec.p1;
    for (double f = 1e-3; f < 1e2; f *= 1.37) {
      const cd want = filter_response(sec.type, float(Tc), float(d), float(1 / f));
      EXPECT_NEAR(std::abs(pz_response(pz, f) - want), 0, 2e-5 * std::abs(want) + 1e-7) << sec.type << " f=" << f;
    }
  }
}

}  // namespace
}  // namespace qv
