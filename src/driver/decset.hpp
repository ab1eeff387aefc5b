// Decimation and pre-whitening set-up of a run: the cascade of decimation
// levels, the window layout of each level and the pre-whitening filter length,
// read once from the decimation set-up file ("decset.cfg") and the
// pre-whitening set-up file ("pwset.cfg"). Levels are numbered 1..nd as in the
// set-up files; index 0 of the per-level arrays is unused.
#pragma once

#include <array>
#include <string>

#include "common/console.hpp"
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
// (K(1) = 1, K(lev) = decfac(2) * ... * decfac(lev)).
int cumulative_factor(const DecSetup& s, int lev);

// Status of cf_decset, as the run reports it.
enum : int {
  decset_ok = 0,
  decset_too_many_levels = 1,     // nd > ndmx
  decset_level_too_large = -1,    // nwin > window limit or nfc > nfcmx
  decset_pw_level_mismatch = -2,  // level count of the pre-whitening file differs from nd
};

// Reads both set-up files into `setup` and writes the set-up messages.
// Returns the status above. A missing file, an unreadable value, or a value
// later steps cannot handle raises an Error that names file, level and value.
int cf_decset(const std::string& decset_name, const std::string& pwset_name, int window_limit, int nch,
              DecSetup& setup, Console& con);

}  // namespace qv
