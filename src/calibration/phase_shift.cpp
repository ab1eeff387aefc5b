#include "calibration/phase_shift.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/console.hpp"
#include "common/error.hpp"

namespace qv {

namespace {

// The rotation itself, in single precision. The constant 6.28318 (not the
// closest float to 2 pi) is the one the processing has always used; keeping
// it keeps files comparable with earlier results.
float phase_step(float tau, float dr, int nwin) { return -6.28318f * tau / (static_cast<float>(nwin) * dr); }

// cos and sin of coefficient k's phase k phi0.
inline void rotation(int k, float phi0, float& cs, float& sn) {
  const float phi = static_cast<float>(k) * phi0;
  cs = std::cos(phi);
  sn = std::sin(phi);
}

void require_finite(float tau, int m, float dr, int nwin) {
  // A phase that is not finite would turn every coefficient into NaN.
  if (!finite_phase(tau, m, dr, nwin))
    throw Error("phase correction: a time shift of " + Console::num(tau) + " s of windows of " +
                std::to_string(nwin) + " samples of " + Console::num(dr) + " s gives no finite phase");
}

void rotate_by(int k, float cs, float sn, const WindowArray& w) {
  const int nch = w.nch();
  for (int c = 0; c < nch; ++c) {
    float& x = w.re(c, k);
    float& y = w.im(c, k);
    const float xr = x * cs - y * sn;
    const float yr = x * sn + y * cs;
    x = xr;
    y = yr;
  }
}

void rotate(float tau, const WindowArray& w, int m, float dr, int nwin) {
  w.require_coefficients(m, "phase shift");
  require_finite(tau, m, dr, nwin);
  const float phi0 = phase_step(tau, dr, nwin);
  for (int k = 1; k <= m; ++k) {
    float cs, sn;
    rotation(k, phi0, cs, sn);
    rotate_by(k, cs, sn, w);
  }
}

}  // namespace

bool finite_phase(float tau, int m, float dr, int nwin) {
  return std::isfinite(phase_step(tau, dr, nwin) * static_cast<float>(std::max(m, 1)));
}

void phase_factors(float tau, int m, float dr, int nwin, PhaseFactors& f) {
  f.cs.clear();
  f.sn.clear();
  if (m < 1 || !finite_phase(tau, m, dr, nwin)) return;
  f.cs.resize(static_cast<std::size_t>(m));
  f.sn.resize(static_cast<std::size_t>(m));
  const float phi0 = phase_step(tau, dr, nwin);
  for (int k = 1; k <= m; ++k) rotation(k, phi0, f.cs[k - 1], f.sn[k - 1]);
}

void shift_grid(float tau0, const WindowArray& w, int m, float dr, int nwin, const PhaseFactors* factors) {
  if (!factors || factors->cs.size() < static_cast<std::size_t>(std::max(m, 0))) {
    rotate(tau0, w, m, dr, nwin);
    return;
  }
  w.require_coefficients(m, "phase shift");
  require_finite(tau0, m, dr, nwin);
  for (int k = 1; k <= m; ++k) rotate_by(k, factors->cs[k - 1], factors->sn[k - 1], w);
}

void shift_time(const WindowArray& w, int m, float dr, int nwin, float a, float b) { rotate(a * b, w, m, dr, nwin); }

}  // namespace qv
