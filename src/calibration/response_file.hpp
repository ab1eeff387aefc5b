// Response table files of the sensor folder: a measured instrument response
// as rows of frequency, amplitude and phase (or real and imaginary part),
// loaded once per filter and interpolated linearly at the harmonics of every
// level. The file layouts are those of the sensor makers and calibration
// benches the stations use: fixed fields of 6 characters in one or three
// groups of four amplitude and phase pairs ("TE", "TB"), a dashed header with
// frequencies in decreasing order ("PA", "05"), and plain rows after any text
// header ("AP" amplitude and phase in degrees, "RI" real and imaginary part).
#pragma once

#include <array>
#include <complex>
#include <string>

#include "common/console.hpp"

namespace qv {

inline constexpr int nrspmx = 150;  // data rows a table can hold

struct ResponseFile {
  int type = 0;      // filter type it was loaded for (7, 8, 17, 18, 98 or 99)
  std::string name;  // file it was loaded from
  // Data rows per group; group g (0-based) holds rows[g][0..nrows[g]], row 0
  // being frequency 0 with the amplitudes and phases of row 1.
  std::array<int, 3> nrows{};
  // rows[g][r]: column 0 the frequency in hertz, then pairs 1..4 as columns
  // 2j-1 (amplitude, or real part) and 2j (phase in degrees, or imaginary part).
  std::array<std::array<std::array<float, 9>, nrspmx + 1>, 3> rows{};
};

enum class RspLoad {
  loaded,   // the table holds the file's rows
  skipped,  // the user answered "none": the filter is to be left out
};

// Loads the table of filter type `type` from `path` (the sensor folder
// joined with the name). When the file cannot be opened, writes "th: cfrsp"
// with the name, "Couldn't open RSP file:" with the name and "Enter a new RSP
// file name or RETURN to stop", and reads a new name (up to 80 characters)
// from the console: "none" returns skipped; an empty answer, an answer
// beginning with a blank, or the end of input stops the run (Error); another
// name is opened as typed, and when that fails too "ERROR OPENING RSP-FILE !
// looked up in SENSORS" is written and the run stops (Error). A table that
// does not have its layout (a row count above 150 or below 0, a field that is
// not a number where the layout has one, the file ending inside a declared
// row) raises an Error naming the file and the line.
RspLoad load_response_file(int type, const std::string& path, ResponseFile& t, Console& con);

// The response at f hertz from group i (1..3) and pair j (1..4): the first
// interval freq(r) < f <= freq(r + 1), r = 0..n-1, interpolated linearly in
// amplitude and phase; for type 99 H = A + iP, otherwise H = A exp(i P pi /
// 180) with pi = 3.14159. Single precision. Returns false when no interval
// contains f.
bool response_at(const ResponseFile& t, int i, int j, float f, std::complex<float>& H);

}  // namespace qv
