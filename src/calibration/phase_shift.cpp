#include "calibration/phase_shift.hpp"

#include <cmath>

#include "common/limits.hpp"

namespace qv {

namespace {

// The rotation itself, in single precision. The constant 6.28318 (not the
// closest float to 2 pi) is the one the processing has always used; keeping
// it keeps files comparable with earlier results.
void rotate(float tau, float* window, int m, int nch, float dr, int nwin) {
  const float phi0 = -6.28318f * tau / (static_cast<float>(nwin) * dr);
  for (int k = 1; k <= m; ++k) {
    const float phi = static_cast<float>(k) * phi0;
    const float cs = std::cos(phi);
    const float sn = std::sin(phi);
    for (int c = 0; c < nch; ++c) {
      float& x = window[wre(c, k)];
      float& y = window[wim(c, k)];
      const float xr = x * cs - y * sn;
      const float yr = x * sn + y * cs;
      x = xr;
      y = yr;
    }
  }
}

}  // namespace

void shift_grid(float tau0, float* window, int m, int nch, float dr, int nwin) {
  rotate(tau0, window, m, nch, dr, nwin);
}

void shift_time(float* window, int m, int nch, float dr, int nwin, float a, float b) {
  rotate(a * b, window, m, nch, dr, nwin);
}

}  // namespace qv
