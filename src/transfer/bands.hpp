// The bands of periods a transfer function is estimated in: contiguous
// harmonics of one decimation level each. The default set takes bands of
// about constant relative width (8 per decade) on one grid of frequencies
// for every level, leaves out each level's lowest harmonics, and takes each
// band from the one level that gives it the most independent data. A band
// file names bands by hand.
//
//   LevelInfo          what the coefficient file says of a level
//   default_bands      the default set, in increasing period
//   read_band_file     the bands of a band file, checked against the levels
//   write_band_file    a set in the band file's layout
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/transfer_function.hpp"

namespace qv::tf {

struct LevelInfo {
  int level_id = 0;
  int nwin = 0;              // window length, samples of the level
  double dr = 0;             // sample interval, seconds
  int nfreq = 0;             // harmonics stored, 1..nfreq
  std::int64_t windows = 0;  // windows stored (over every file read)
  // Squared correlation of the coefficients of white noise m harmonics
  // apart under the level's taper, m = 0, 1, ... (rho2[0] = 1).
  std::vector<double> rho2;

  double frequency(int k) const { return k / (nwin * dr); }
};

// Bands per decade of the default set, and its first harmonic: the taper's
// main lobe spans about two harmonics on either side, so harmonics 1 to 3
// share power with the zero frequency that mean removal took away and carry
// the largest pre-whitening corrections; a red spectrum leaks into them.
inline constexpr int bands_per_decade = 8;
inline constexpr int first_usable_harmonic = 4;
// Fewest rows a band of the default set may have.
inline constexpr int min_band_rows = 20;

// The default band set over the levels, in increasing period.
std::vector<Band> default_bands(const std::vector<LevelInfo>& levels);

// Effective number of independent rows of `windows` windows of K
// neighbouring harmonics each: windows K^2 / sum over j, l of rho2[|j - l|].
double effective_rows(std::int64_t windows, int K, const std::vector<double>& rho2);

// Bands of a band file: one band per line, "LEVEL_ID FIRST LAST" (level
// identifier, first and last harmonic), blanks or commas between; '#'
// starts a comment; blank lines are skipped. Raises an Error naming the file
// and line for a malformed line, an unknown level or harmonics outside
// 1..nfreq of the level. Returned in increasing period.
std::vector<Band> read_band_file(const std::string& path, const std::vector<LevelInfo>& levels);

// The bands in the band file's layout, with a comment on every line
// (periods and frequencies).
void write_band_file(const std::vector<Band>& bands, std::ostream& out);

// Fills in a band's centre frequency and period from its level.
void complete_band(Band& b, const LevelInfo& level);

}  // namespace qv::tf
