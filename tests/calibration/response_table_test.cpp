#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>

#include "calibration/response_table.hpp"
#include "common/error.hpp"

namespace qv {
namespace {

using cd = std::complex<double>;
const double pi = std::acos(-1.0);

// Four levels from 0.1 s input samples; the decimation filters' taps do not
// sum to one (1.3 and 1.1), the last level is switched off.
struct Fixture {
  DecSetup s;
  std::array<float, ndmx + 1> dr{};
  SystemParameters sp;
  Fixture() {
    s.nd = 4;
    s.lev[1] = {};
    s.lev[1].nwin = 64;
    s.lev[1].nfreq = 10;
    s.lev[2].nwin = 64;
    s.lev[2].nfreq = 8;
    s.lev[2].decfac = 4;
    s.lev[2].nfc = 3;
    s.lev[2].coef = {0.5f, 0.3f, 0.1f};
    s.lev[3].nwin = 32;
    s.lev[3].nfreq = 6;
    s.lev[3].decfac = 2;
    s.lev[3].nfc = 2;
    s.lev[3].coef = {0.6f, 0.25f};
    s.lev[4].nwin = 32;
    s.lev[4].nfreq = 0;
    s.lev[4].decfac = 2;
    s.lev[4].nfc = 1;
    s.lev[4].coef = {1.0f};
    dr = {0.0f, 0.1f, 0.4f, 0.8f, 1.6f};
    sp.ch[0].scale = 2.5f;
    sp.ch[1].scale = 0.04f;
    sp.ch[2].scale = 1.0f;
    s.pwdiff[1][1] = true;
    s.pwdiff[2][1] = true;
  }
  void build(ResponseTable& rt, int nch) const {
    std::ostringstream out;
    std::istringstream in;
    Console con(out, out, in);
    build_response_table(rt, s, dr, sp, nch, "sensors", con);
  }
  // The decimation filter of level L normalised to unit gain at zero
  // frequency, in double precision, at f hertz.
  double hn(int L, double f) const {
    const LevelSetup& lv = s.lev[L];
    double h = lv.coef[0], g = lv.coef[0];
    for (int j = 1; j < lv.nfc; ++j) {
      h += 2 * lv.coef[j] * std::cos(2 * pi * f * j * dr[L - 1]);
      g += 2 * lv.coef[j];
    }
    return h / g;
  }
  // The expected factor, computed directly.
  cd expected(int c, int M, int k, double tau_s) const {
    const double f = k / (s.lev[M].nwin * static_cast<double>(dr[M]));
    cd r = sp.ch[c].scale * std::sqrt(static_cast<double>(dr[M]));
    if (s.pwdiff[M][c]) r /= std::exp(cd(0, 2 * pi * k / s.lev[M].nwin)) - 1.0;
    for (int L = 2; L <= M; ++L) r /= hn(L, f);
    return r * std::exp(cd(0, 2 * pi * f * tau_s));
  }
};

void expect_table(const Fixture& fx, const ResponseTable& rt, int nch, double tau_s) {
  for (int M = 1; M <= 3; ++M)
    for (int k = 1; k <= fx.s.lev[M].nfreq; ++k)
      for (int c = 0; c < nchmx; ++c) {
        const cd got = rt.lev[M][rtidx(c, k)];
        const cd want = c < nch ? fx.expected(c, M, k, tau_s) : cd(0);
        EXPECT_LE(std::abs(got - want), 2e-6 * std::abs(want)) << "level " << M << " k " << k << " c " << c;
      }
}

TEST(ResponseTable, ScaleSqrtDrAndNormalisedDecimationFilters) {
  Fixture fx;
  ResponseTable rt;
  response_table_allocate(rt, fx.s);
  EXPECT_EQ(rt.lev[1].size(), 10u * nchmx);
  EXPECT_TRUE(rt.lev[4].empty());  // nfreq 0 stores nothing
  fx.build(rt, 3);
  expect_table(fx, rt, 3, 0.0);
  // Level 1, no filter: exactly the real factor s sqrt(dr).
  EXPECT_EQ(rt.lev[1][rtidx(0, 7)], std::complex<float>(2.5f * std::sqrt(0.1f), 0.0f));
  // A hand value: level 2, k = 1, channel 0. f = 1/(64 * 0.4) = 0.0390625 Hz,
  // taps 0.1 s apart: H = (0.5 + 0.6 cos(2 pi f 0.1) + 0.2 cos(2 pi f 0.2)) / 1.3.
  const double f = 0.0390625;
  const double h = (0.5 + 0.6 * std::cos(2 * pi * f * 0.1) + 0.2 * std::cos(2 * pi * f * 0.2)) / 1.3;
  EXPECT_NEAR(rt.lev[2][rtidx(0, 1)].real(), 2.5 * std::sqrt(0.4) / h, 1e-6);
  EXPECT_NEAR(rt.lev[2][rtidx(0, 1)].imag(), 0.0, 1e-12);
}

TEST(ResponseTable, FirstDifferenceIsInverted) {
  Fixture fx;
  ResponseTable rt;
  response_table_allocate(rt, fx.s);
  fx.build(rt, 2);
  // Times the difference response exp(i w) - 1 it gives back s sqrt(dr).
  for (int k = 1; k <= 10; ++k) {
    const cd diff = std::exp(cd(0, 2 * pi * k / 64)) - 1.0;
    const cd back = cd(rt.lev[1][rtidx(1, k)]) * diff;
    EXPECT_NEAR(back.real(), 0.04 * std::sqrt(0.1), 1e-7) << k;
    EXPECT_NEAR(back.imag(), 0.0, 1e-7) << k;
  }
  // Level 3 has no first difference for that channel.
  EXPECT_NEAR(rt.lev[3][rtidx(1, 2)].imag(), 0.0, 1e-12);
}

TEST(ResponseTable, SystemDelayTurnsThePhase) {
  Fixture fx;
  fx.sp.sysdelay = 0.05f;
  ResponseTable rt;
  response_table_allocate(rt, fx.s);
  fx.build(rt, 3);
  expect_table(fx, rt, 3, 0.05);
  // Channel 0 of level 1 is otherwise real: its phase is 2 pi f tau_s.
  for (int k = 1; k <= 10; ++k)
    EXPECT_NEAR(std::arg(rt.lev[1][rtidx(0, k)]), 2 * pi * (k / 6.4) * 0.05, 1e-6) << k;
}

}  // namespace
}  // namespace qv
