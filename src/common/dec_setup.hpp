// The level tables of a run: the cascade of decimation levels, the window
// layout of each level and its pre-whitening filter length, as the
// decimation and pre-whitening set-up files give them. Read once at set-up
// and shared, read-only, by the cascade, the window scheduling, the
// pre-whitening, the calibration and the output. Levels are numbered 1..nd as
// in the set-up files; index 0 of the per-level arrays is unused.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/limits.hpp"

namespace qv {

struct LevelSetup {
  int nwin = 0;       // window length NPOINTS, samples of this level
  float olap = 0;     // overlap of consecutive windows, samples of this level (may be fractional)
  int decfac = 1;     // decimation factor DEC-FAC from the level before (level 1: from the input)
  int iphase = 0;     // decimation phase, input samples (rewritten by the start-time alignment)
  int ianchor = 0;    // window offset, input samples (rebased by the start-time alignment)
  int nspan = 1;      // samples in the neighbourhood that replaces a missing sample
  int nbadmx = 0;     // missing samples tolerated inside that neighbourhood
  int nfreq = 0;      // Fourier coefficients kept per window; <= 0 switches the level off
  int nfc = 0;        // decimation filter half-length (centre tap + taps on one side)
  std::array<float, nfcmx> coef{};  // coef[0] centre tap, coef[j] tap at distance j
  int pwlen = 1;      // pre-whitening filter length of channel 1; windows are cut pwlen-1 longer
};

struct DecSetup {
  int nd = 0;      // levels in use
  int levoff = 0;  // level identifier written to the output is levoff + level
  std::array<LevelSetup, ndmx + 1> lev{};
  // Pre-whitening filter length per level and channel (0-based channel):
  // 1 = none, L >= 2 = prediction-error filter of order L-1 or, with pwdiff,
  // the first difference (L = 2).
  std::array<std::array<int, nchmx>, ndmx + 1> pworder{};
  std::array<std::array<bool, nchmx>, ndmx + 1> pwdiff{};
};

// Cumulative factor K(lev): level-1 samples per sample of level lev
// (K(1) = 1, K(lev) = decfac(2) * ... * decfac(lev)). The set-up reader
// refuses set-ups whose factors overflow.
int cumulative_factor(const DecSetup& s, int lev);

// Sample interval of every level in seconds (index = level, 1..nd): the
// input interval dt times the decimation factors up to and including the
// level's own, in single precision. Raises an Error naming `source` (the
// file dt came from) when a product is not finite, or when a level cut into
// windows would have windows too long for their fundamental frequency
// 1 / (nwin dr) to be a normal number (every harmonic frequency and time
// shift of the level is derived from it).
std::array<float, ndmx + 1> level_intervals(const DecSetup& s, float dt, const std::string& source);

// Frequency in hertz of harmonic k of a level's window: k / (nwin dr), in
// single precision, dr the level's sample interval in seconds.
inline float harmonic_frequency(const LevelSetup& ls, float dr, int k) {
  return static_cast<float>(k) / (static_cast<float>(ls.nwin) * dr);
}

// Zero-frequency gain of the decimation filter of a level: the centre tap
// plus twice every side tap, in single precision. The cascade renormalises
// the filter by it, so it must not be zero.
float filter_dc_gain(const LevelSetup& ls);

}  // namespace qv
