// The response table: for every level, harmonic and channel one complex factor
// that turns a raw Fourier coefficient into a calibrated one: the channel
// scale factor, the spectral normalisation sqrt(dr), the inverse of a
// first-difference pre-whitening, the inverse of the decimation filters the
// level's data passed through, the system time delay, and the inverse of
// every analog filter and instrument response of the channel. Built once per
// run; the correction step multiplies coefficient k of channel c by entry
// (k, c).
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/console.hpp"
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

// What the builder divided by: g H(f) of filter j (0-based) of channel c
// (0-based) at harmonic k of level L. For the response program.
using FilterSink = std::function<void(int c, int j, int L, int k, std::complex<double> gH)>;

// Fills the table for channels 0..nch-1 (the others get 0). dr: sample
// interval of every level in seconds (index = level). Entry k of level L
// belongs to f = k / (nwin(L) dr(L)) hertz. The channel filters are read from
// their parameter lines and their files from sensor_dir; the console shows
// the names of the files opened, the dialogue of a table file that cannot be
// opened, and a line per evaluated frequency of a table filter. Raises an
// Error naming the channel and the filter for a filter that cannot be used
// (see prepare_filter), a table that does not reach a harmonic ("resptbl
// failed" on the console), and a response of zero.
void build_response_table(ResponseTable& rt, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                          const SystemParameters& sp, int nch, const std::string& sensor_dir, Console& con,
                          const FilterSink& sink = {});

}  // namespace qv
