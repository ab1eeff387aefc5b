// Powerline noise removal. Channels recorded near power lines carry a
// sinusoid at the powerline frequency and at all its harmonics. Each block of
// input samples is cut into segments of a whole number of powerline periods;
// in each segment a constant plus a cosine and a sine at every harmonic below
// the Nyquist frequency is fitted to every channel by least squares, and the
// fitted harmonics (not the constant) are subtracted. Renewing the fit segment
// by segment follows slow changes of the disturbance's amplitude and phase.
#pragma once

#include <array>
#include <vector>

#include "common/console.hpp"
#include "common/sample_block.hpp"

namespace qv {

inline constexpr int powerline_harmonics_max = 28;
inline constexpr int powerline_params_max = 2 * powerline_harmonics_max + 1;

// The least-squares set-up of one segment length: the Cholesky factor of the
// normal matrix (it depends only on the segment length, the harmonics and the
// sample interval, so every channel and every segment of that length shares
// it) and the cosines and sines of the harmonics at every sample offset. Kept
// by the run and rebuilt only when the segment length, powerline frequency or
// sample interval changes.
struct PowerlineFit {
  int w = 0;  // segment length the factor belongs to; 0 before the first fit
  int K = 0;  // harmonics fitted
  float fpl = 0, dt = 0;
  std::array<double, powerline_params_max*(powerline_params_max + 1) / 2> factor{};  // packed lower triangle
  std::array<double, powerline_harmonics_max> cos_w{}, sin_w{};  // cos and sin of each harmonic's step
  std::vector<double> cos_t, sin_t;  // per harmonic, cos and sin of every sample offset of a block
};

// Result of filter_powerline.
enum : int {
  powerline_filtered = 0,  // filtered (or an empty block)
  powerline_skipped = 1,   // cannot filter: the run switches the filter off
};

// Filters channels 0..nch-1 of the block's real samples (blk.npts rows) in
// place for the powerline fundamental fpl (Hz) and the sample interval dt (s).
// Samples at or above the missing-value threshold are missing: a channel with
// a missing sample among a segment's fitted samples is not fitted or changed
// in that segment, and a missing sample is never changed. Returns
// powerline_skipped, with a warning and the block unchanged, when a powerline
// period spans at most 2 samples, the segment length overflows (fpl zero or
// nearly zero) or the block is shorter than one segment. A normal matrix that
// is not positive definite writes "error in LOCKIN" and raises an Error.
int filter_powerline(SampleBlock& blk, int nch, float fpl, float dt, float threshold, PowerlineFit& fit,
                     Console& con);

// Fits the harmonics over rows s1..s2 (1-based) and subtracts them from rows
// s1..s3 of every channel (s3 >= s2: rows after s2 get the fit extrapolated).
void fit_and_subtract(SampleBlock& blk, int nch, int s1, int s2, int s3, float fpl, float dt, float threshold,
                      PowerlineFit& fit, Console& con);

}  // namespace qv
