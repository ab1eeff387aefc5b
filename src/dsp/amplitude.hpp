// Average amplitude spectra: per level, channel and frequency index the sum of
// |F| over the level's accepted windows, divided at the end of the run by the
// level's window count. The averages scale the packed coefficients of the
// Fourier-coefficient file.
#pragma once

#include <array>
#include <vector>

#include "common/limits.hpp"
#include "driver/decset.hpp"

namespace qv {

struct AmplitudeSums {
  // Per level (1..nd) nfreq * nchmx sums, frequency index k (1-based) and
  // channel c (0-based) at (k - 1) * nchmx + c; empty for a level with
  // nfreq <= 0.
  std::array<std::vector<float>, ndmx + 1> lev;
};

// Sizes the sums once from the levels' nfreq and sets them to zero.
void amplitude_allocate(AmplitudeSums& sums, const DecSetup& setup);

// Adds |F| of frequency indices 1..nfreq and channels 0..nch-1 of the window
// array (calibrated coefficients) to one level's sums.
void accumulate_amplitudes(const float* window, int nch, int nfreq, float* sums);

// Divides the sums of every level with nfreq >= 1 by its window count
// (sets[level]); a level without windows keeps zeros.
void average_amplitudes(AmplitudeSums& sums, const DecSetup& setup, const std::array<int, ndmx + 1>& sets,
                        int nch);

}  // namespace qv
