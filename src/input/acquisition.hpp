// What the header of a time-series file says about the recording: channel
// count, sample interval, start time on the run's time axis and the
// missing-value marker. The header readers of every format fill it; the run
// driver takes its set-up values from it.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct Acquisition {
  std::int32_t msval = 2147483647;      // missing-value marker
  float threshold = 2147473664.0f;      // msval - 10000 in single precision
  int nch = 0;                          // channels found by the header reader
  float dr = 0;                         // input sample interval, seconds
  float sampfreq = 0;                   // 1/dr, Hz
  std::int64_t time_int = 0;            // start of the data, microseconds after the reference time
  float reference_declination = 0;      // from the recorder's header, 0 when the format has none
  bool input_error = false;             // the header of a binary file could not be read
  std::string error_name;               // file named in the input-error message
  std::string error_hint;               // what the file seems to be instead, for that message (may be empty)
};

}  // namespace qv
