// Average amplitude spectra: per level, channel and frequency index the sum of
// |F| over the level's accepted windows, divided at the end of the run by the
// level's window count. The averages scale the packed coefficients of the
// Fourier-coefficient file.
#pragma once

#include <array>

#include "common/amplitude_sums.hpp"
#include "common/dec_setup.hpp"
#include "common/window_array.hpp"

namespace qv {

// Sizes the sums once from the levels' nfreq and sets them to zero.
void amplitude_allocate(AmplitudeSums& sums, const DecSetup& setup);

// Adds |F| of frequency indices 1..nfreq of every channel of the window
// array (calibrated coefficients) to one level's sums.
void accumulate_amplitudes(const WindowArray& w, int nfreq, float* sums);

// Divides the sums of every level with nfreq >= 1 by its window count
// (sets[level]); a level without windows keeps zeros.
void average_amplitudes(AmplitudeSums& sums, const DecSetup& setup, const std::array<int, ndmx + 1>& sets,
                        int nch);

}  // namespace qv
