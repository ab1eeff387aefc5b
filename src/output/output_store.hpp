// The in-memory output store: every accepted window's calibrated Fourier
// coefficients, kept until the end of the run so that the Fourier-coefficient
// file can be written sorted by level and frequency. Windows occupy
// consecutive rows (one per frequency index 1..m) in processing order; the
// set table tells which rows belong to which window.
#pragma once

#include <cstdint>
#include <memory>

#include "common/window_array.hpp"

namespace qv {

struct OutputStore {
  int nch = 0;                 // channels per row
  int nfmx = 0;                // most coefficients one window stores
  std::int64_t rows = 0;       // capacity: windows per run x nfmx
  // Row r (0-based), channel c (0-based) at r * nch + c. Allocated without
  // initialisation: only the rows that windows fill are ever touched, so a
  // large capacity costs address space, not memory.
  std::unique_ptr<float[]> re, im;
  std::unique_ptr<std::int32_t[]> findex;  // frequency index (1-based) of each row
  std::int64_t pos = 0;        // rows stored so far
};

// One stored window, in the order the windows were processed.
struct SetRecord {
  int level_id = 0;  // levoff + level
  int ncoef = 0;     // rows (coefficients per channel) stored for the window
  int window = 0;    // window number on the level's time grid
};

// Reserves the store once at set-up for nsmax windows of at most nfmx
// coefficients and nch channels, and empties it.
void output_store_allocate(OutputStore& store, int nsmax, int nfmx, int nch);

// Appends the first m coefficients of every channel of the window array.
// Raises an Error when the window would not fit.
void store_fc(OutputStore& store, const WindowArray& w, int m);

}  // namespace qv
