// Preparing a window for its transform: clearing each channel of its mean and
// multiplying it by the prolate taper (the zeroth-order prolate spheroidal
// wave function for bandwidth parameter pi, normalised to unit energy), which
// keeps the leakage of strong low frequencies into weak high ones small.
#pragma once

#include "common/window_array.hpp"

namespace qv {

// Subtracts from samples 0..m-1 of each channel of the window array the
// channel's mean over those m samples. The sum runs in double precision and
// the mean is rounded to single precision once, so that a window riding on an
// offset of millions of counts keeps its sub-count signal. Samples from m on
// are untouched. Raises Error unless 1 <= m <= the array's samples.
void remove_mean(const WindowArray& w, int m);

// Multiplies samples 0..n-1 of each channel by the taper weights of the level.
// When taper_flag is set, first fills taper_table[0..n-1] (the level's table,
// allocated by the caller with at least n floats) and clears the flag; later
// windows of the level reuse the table. Raises Error unless 1 <= n <= the
// array's samples and n <= 524288.
void apply_taper(const WindowArray& w, int n, bool& taper_flag, float* taper_table);

// The same with the level's table filled beforehand (taper_weights).
void apply_taper(const WindowArray& w, int n, const float* taper_table);

// The taper's n weights (their squares sum to 1 within about 1/n^2), as
// apply_taper uses them; w holds n floats.
void taper_weights(int n, float* w);

}  // namespace qv
