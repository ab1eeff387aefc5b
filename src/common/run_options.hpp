// Options of a run, set from the command line and read-only afterwards.
#pragma once

#include <string>

#include "common/limits.hpp"

namespace qv {

struct RunOptions {
  bool ascii = false;             // time series is a text file
  bool nims = false;              // NIMS layout
  bool clock_in_headers = false;  // clock-reset information in the data file headers, not a ".clk" file
  bool real_numbers = true;       // text samples are reals (otherwise integers)
  bool name_given = false;        // the time-series file name came from "-f:"
  std::string ts_name;            // time-series file name from "-f:"
  float powerline = 60.0f;        // powerline fundamental, Hz
  int single_digit = 2;           // set by "-b"; no further effect
  int max_sets = NSMAX;           // windows stored before processing stops ("--max-sets=")
};

}  // namespace qv
