// Preparing a window for its transform: clearing each channel of its mean and
// multiplying it by the prolate taper (the zeroth-order prolate spheroidal
// wave function for bandwidth parameter pi, normalised to unit energy), which
// keeps the leakage of strong low frequencies into weak high ones small.
#pragma once

namespace qv {

// Subtracts from samples 0..m-1 of each channel 0..nch-1 of the window array
// (leading dimension 6) the channel's single-precision mean over those m
// samples. Samples from m on are untouched. Raises Error if m < 1 or nch is
// outside 1..6.
void remove_mean(float* window, int nch, int m);

// Multiplies samples 0..n-1 of each channel by the taper weights of the level.
// When taper_flag is set, first fills taper_table[0..n-1] (the level's table,
// allocated by the caller with at least n floats) and clears the flag; later
// windows of the level reuse the table. Raises Error if n < 1 or nch is
// outside 1..6.
void apply_taper(float* window, int nch, int n, bool& taper_flag, float* taper_table);

}  // namespace qv
