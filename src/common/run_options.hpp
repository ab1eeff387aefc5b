// Options of a run, set from the command line and read-only afterwards.
#pragma once

#include <optional>
#include <string>

#include "common/limits.hpp"

namespace qv {

inline constexpr int no_set_limit = 0;

struct RunOptions {
  bool ascii = false;             // time series is a text file
  bool nims = false;              // NIMS layout
  bool clock_in_headers = false;  // clock-reset information in the data file headers, not a ".clk" file
  bool real_numbers = true;       // text samples are reals (otherwise integers)
  bool name_given = false;        // the time-series file name came from "-f:"
  std::string ts_name;            // time-series file name from "-f:"
  float powerline = 60.0f;        // powerline fundamental, Hz
  int single_digit = 2;           // set by "-b"; no further effect
  // Windows (sets) stored over all levels before processing stops
  // ("--max-sets=N"); no_set_limit: the whole recording. Coefficients leave
  // memory for a temporary file, so a run needs no cap by default.
  int max_sets = no_set_limit;
  // Elevation of the station in metres ("--elevation=M"), for the metadata
  // file; the station's files hold none.
  std::optional<double> elevation_m;
  // Threads of the run ("--threads=N", 1 or 2): with two, reading and the
  // decimation cascade run on one, the transform and storing of the windows
  // on the other. 0 until parse_options settles the default.
  int threads = 0;
};

}  // namespace qv
