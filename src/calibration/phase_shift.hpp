// Phase corrections that refer every window's coefficients to the common time
// grid: each is a pure time shift, coefficient k of every channel multiplied
// by exp(-i 2 pi f_k tau) with f_k = k / (nwin dr) hertz, which moves the
// window's time origin by tau seconds.
#pragma once

#include "common/window_array.hpp"

namespace qv {

// True when a shift by tau seconds gives finite phases 2 pi f_k tau for the
// coefficients k = 1..m of windows of nwin samples of dr seconds. The shifts
// below raise an Error otherwise; callers that can name the cause test first.
bool finite_phase(float tau, int m, float dr, int nwin);

// Shift by the grid residual tau0 (seconds) of the level-1 window grid.
// w: the window array holding m coefficients of every channel; dr is the
// level's sample interval in seconds, nwin its window length in samples.
void shift_grid(float tau0, const WindowArray& w, int m, float dr, int nwin);

// Shift by a * b seconds: the clock drift (a = drift rate in seconds per
// second, b = window centre time in seconds) or the window misfit (a = 1,
// b = -misfit in level-1 samples times dr(1)).
void shift_time(const WindowArray& w, int m, float dr, int nwin, float a, float b);

}  // namespace qv
