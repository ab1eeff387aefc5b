// The station's transfer functions as a SEG EDI 1.0 file, the exchange
// format every MT interpretation program reads: the site and its
// measurements, the impedance Z in (mV/km)/nT and, when Hz was recorded, the
// tipper, with the variance of every complex element, one value per band in
// order of decreasing frequency.
//
//   write_edi       the result of a run as an EDI file
//   edi_degrees     an angle in degrees as the EDI's [-]d:m:s.ss text
//   edi_file_time   the time a file's FILEDATE states: SOURCE_DATE_EPOCH or now
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "transfer/transfer_function.hpp"

namespace qv::tf {

// The value the file gives a number it does not have (EMPTY in >HEAD).
inline constexpr double edi_empty = 1.0e32;

// Writes the blocks >HEAD, >INFO, >=DEFINEMEAS, >=MTSECT, >FREQ, >ZROT, the
// impedance blocks, the tipper blocks (when the site has Hz or a band has a
// tipper) and >END. FILEDATE is the UTC date of file_unix_s. A value that is
// not finite, and the tipper of a band estimated without Hz, is written as
// edi_empty; a position that is not finite (not known) and an elevation not
// known are left out.
void write_edi(const Result& result, std::ostream& out, std::int64_t file_unix_s);

// -34.91348 -> "-34:54:48.53": whole degrees and minutes, seconds to two
// decimals (rounded as a whole, so 10.999999 gives "11:00:00.00"), the sign
// in front of the degrees even when they are 0 ("-0:30:00.00"). Empty for a
// value that is not finite or beyond 1e9 degrees.
std::string edi_degrees(double deg);

// Seconds since 1970: the environment's SOURCE_DATE_EPOCH when it holds a
// whole number (so that a run can be repeated to the byte), otherwise now.
std::int64_t edi_file_time();

// The same, dated now (or SOURCE_DATE_EPOCH).
inline void write_edi(const Result& result, std::ostream& out) { write_edi(result, out, edi_file_time()); }

}  // namespace qv::tf
