// Average amplitude spectra of a run: per level, channel and frequency index
// the sum of |F| over the level's accepted windows, divided at the end of the
// run by the level's window count. The signal processing fills them; the
// Fourier-coefficient file scales its packed coefficients by them.
#pragma once

#include <array>
#include <vector>

#include "common/limits.hpp"

namespace qv {

struct AmplitudeSums {
  // Per level (1..nd) nfreq * nchmx sums, frequency index k (1-based) and
  // channel c (0-based) at (k - 1) * nchmx + c; empty for a level with
  // nfreq <= 0.
  std::array<std::vector<float>, ndmx + 1> lev;
};

}  // namespace qv
