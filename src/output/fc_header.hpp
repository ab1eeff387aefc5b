// The text header of the Fourier-coefficient file: channel count, the levels
// that stored coefficients (identifier, window length, sample interval), the
// channels (identifier, orientation, tilt), the station position and the
// declination, as fixed-width fields in records 1 to 20.
#pragma once

#include <array>
#include <string>

#include "common/dec_setup.hpp"
#include "common/limits.hpp"
#include "common/station_description.hpp"

namespace qv {

struct FcHeader {
  int nch = 0;      // channels in every record
  int nlevels = 0;  // listed levels: those with nfreq >= 1, in level order
  int nfmx = 0;     // frequency blocks per level in the body
  std::array<int, ndmx + 1> level_id{};  // entries 1..nlevels: levoff + level
  std::array<int, ndmx + 1> nwin{};      // window length, samples of the level
  std::array<float, ndmx + 1> dr{};      // sample interval of the level, seconds
  std::array<std::string, nchmx> chid{};  // channel identifiers, 6 characters
  std::array<float, nchmx> orient{};      // azimuth, degrees
  std::array<float, nchmx> tilt{};        // degrees
  float lat = 0, lon = 0, decl = 0;       // degrees
};

// Level identifiers levoff + level are written into the 8-character fields of
// the header; wider ones would show as asterisks and the file could not be
// read back. The set-up refuses a level offset that leads outside, and a
// reader takes no identifier outside as a level of the file.
inline constexpr int fc_level_id_min = -9999999;
inline constexpr int fc_level_id_max = 99999999;

// Capacity of the header text; records 1..20 take its first 20 * L characters.
inline constexpr int fc_header_capacity = 1040;

// Length of the header text: 76 + 28 nlevels + 20 nch characters.
int fc_header_length(const FcHeader& h);

// The header text, formatted field by field ("nch" I5, "nd" I6, "nfmx" I8,
// "mwin" with I8 I8 per level, "dr  " with E12.4 per level, "ch,orien" with
// A6 F6.1 F8.2 per channel, "scor" F8.4 F8.4, "decl" F8.4). A value too wide
// for its field shows as asterisks.
std::string fc_header_text(const FcHeader& h);

// The header of a run: nch channels; the levels of the set-up with nfreq >= 1,
// compacted to the front in level order, with their sample intervals dr
// (seconds, index = level); channels, position and declination from sp.
FcHeader make_fc_header(int nch, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                        const SystemParameters& sp);

}  // namespace qv
