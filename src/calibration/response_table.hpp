// The response table: for every level, harmonic and channel one complex factor
// that turns a raw Fourier coefficient into a calibrated one. This module
// builds its run-independent part: the channel scale factor, the spectral
// normalisation sqrt(dr), the inverse of a first-difference pre-whitening,
// the inverse of the decimation filters the level's data passed through, and
// the system time delay. The correction step multiplies coefficient k of
// channel c by entry (k, c).
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <vector>

#include "common/dec_setup.hpp"
#include "common/limits.hpp"
#include "common/station_description.hpp"

namespace qv {

struct ResponseTable {
  // Per level (1..nd) nfreq * nchmx factors: harmonic k (1-based) and channel
  // c (0-based) at rtidx(c, k). Only the coefficients a level stores are
  // corrected, so a level with nfreq <= 0 has none.
  std::array<std::vector<std::complex<float>>, ndmx + 1> lev;
};

inline std::size_t rtidx(int c, int k) { return static_cast<std::size_t>(k - 1) * nchmx + c; }

// Sizes the table once from the levels' nfreq.
void response_table_allocate(ResponseTable& rt, const DecSetup& setup);

// Fills the table for channels 0..nch-1 (the others get 0). dr: sample
// interval of every level in seconds (index = level). Entry k of level L
// belongs to f = k / (nwin(L) dr(L)) hertz.
void build_response_table(ResponseTable& rt, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                          const SystemParameters& sp, int nch);

}  // namespace qv
