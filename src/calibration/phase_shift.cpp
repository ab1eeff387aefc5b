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

void rotate(float tau, const WindowArray& w, int m, float dr, int nwin) {
  w.require_coefficients(m, "phase shift");
  // A phase that is not finite would turn every coefficient into NaN.
  if (!finite_phase(tau, m, dr, nwin))
    throw Error("phase correction: a time shift of " + Console::num(tau) + " s of windows of " +
                std::to_string(nwin) + " samples of " + Console::num(dr) + " s gives no finite phase");
  const int nch = w.nch();
  const float phi0 = phase_step(tau, dr, nwin);
  for (int k = 1; k <= m; ++k) {
    const float phi = static_cast<float>(k) * phi0;
    const float cs = std::cos(phi);
    const float sn = std::sin(phi);
    for (int c = 0; c < nch; ++c) {
      float& x = w.re(c, k);
      float& y = w.im(c, k);
      const float xr = x * cs - y * sn;
      const float yr = x * sn + y * cs;
      x = xr;
      y = yr;
    }
  }
}

}  // namespace

bool finite_phase(float tau, int m, float dr, int nwin) {
  return std::isfinite(phase_step(tau, dr, nwin) * static_cast<float>(std::max(m, 1)));
}

void shift_grid(float tau0, const WindowArray& w, int m, float dr, int nwin) { rotate(tau0, w, m, dr, nwin); }

void shift_time(const WindowArray& w, int m, float dr, int nwin, float a, float b) { rotate(a * b, w, m, dr, nwin); }

}  // namespace qv
