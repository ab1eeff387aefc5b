#include "dsp/amplitude.hpp"

#include <cmath>

namespace qv {

void amplitude_allocate(AmplitudeSums& sums, const DecSetup& setup) {
  for (int l = 0; l <= ndmx; ++l) {
    const int nfreq = (l >= 1 && l <= setup.nd) ? setup.lev[l].nfreq : 0;
    sums.lev[l].assign(nfreq > 0 ? static_cast<std::size_t>(nfreq) * nchmx : 0, 0.0f);
  }
}

void accumulate_amplitudes(const WindowArray& w, int nfreq, float* sums) {
  w.require_coefficients(nfreq, "amplitude sums");
  const int nch = w.nch();
  for (int k = 1; k <= nfreq; ++k) {
    float* s = sums + static_cast<std::size_t>(k - 1) * nchmx;
    for (int c = 0; c < nch; ++c) {
      const float re = w.re(c, k);
      const float im = w.im(c, k);
      const float p = re * re + im * im;
      s[c] += p > 0.0f ? std::sqrt(p) : 0.0f;
    }
  }
}

void average_amplitudes(AmplitudeSums& sums, const DecSetup& setup, const std::array<int, ndmx + 1>& sets,
                        int nch) {
  for (int l = 1; l <= setup.nd; ++l) {
    const int nfreq = setup.lev[l].nfreq;
    // A level that stored no window has no coefficient records; its scale
    // records stay zero instead of 0/0.
    if (nfreq < 1 || sets[l] <= 0) continue;
    const float n = static_cast<float>(sets[l]);
    std::vector<float>& s = sums.lev[l];
    for (int k = 1; k <= nfreq && static_cast<std::size_t>(k) * nchmx <= s.size(); ++k)
      for (int c = 0; c < nch; ++c) s[static_cast<std::size_t>(k - 1) * nchmx + c] /= n;
  }
}

}  // namespace qv
