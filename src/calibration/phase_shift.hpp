// Phase corrections that refer every window's coefficients to the common time
// grid: each is a pure time shift, coefficient k of every channel multiplied
// by exp(-i 2 pi f_k tau) with f_k = k / (nwin dr) hertz, which moves the
// window's time origin by tau seconds.
#pragma once

#include <vector>

#include "common/window_array.hpp"

namespace qv {

// True when a shift by tau seconds gives finite phases 2 pi f_k tau for the
// coefficients k = 1..m of windows of nwin samples of dr seconds. The shifts
// below raise an Error otherwise; callers that can name the cause test first.
bool finite_phase(float tau, int m, float dr, int nwin);

// cos and sin of the phase of coefficients k = 1..m under one fixed shift.
// The grid residual is the same for every window of a run, so the factors of
// the grid shift are worked out once per level instead of once per window.
struct PhaseFactors {
  std::vector<float> cs, sn;  // entry k - 1
};

// The factors of a shift by tau seconds of windows of nwin samples of dr
// seconds, exactly as shift_grid forms them (allocates; for the set-up). A
// shift without finite phases leaves f empty.
void phase_factors(float tau, int m, float dr, int nwin, PhaseFactors& f);

// Shift by the grid residual tau0 (seconds) of the level-1 window grid.
// w: the window array holding m coefficients of every channel; dr is the
// level's sample interval in seconds, nwin its window length in samples.
// factors, when given, are the phase_factors of (tau0, m or more, dr, nwin)
// and save the sine and cosine evaluations; the result is the same.
void shift_grid(float tau0, const WindowArray& w, int m, float dr, int nwin, const PhaseFactors* factors = nullptr);

// Shift by a * b seconds: the clock drift (a = drift rate in seconds per
// second, b = window centre time in seconds) or the window misfit (a = 1,
// b = -misfit in level-1 samples times dr(1)).
void shift_time(const WindowArray& w, int m, float dr, int nwin, float a, float b);

}  // namespace qv
