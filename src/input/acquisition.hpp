// What the header of a time-series file says about the recording: channel
// count, sample interval, start time on the run's time axis and the
// missing-value marker. The header readers of every format fill it; the run
// driver takes its set-up values from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qv {

// The recording's own clock as its header (or clock-reset file) states it,
// for the metadata file: the run itself works with time_int, the start
// reduced to microseconds the way it has always been (through single
// precision for the text formats), while this is the start as written.
struct RecordingClock {
  bool known = false;                   // set by every header reader that succeeded
  std::string format;                   // "QEL binary", "generic ASCII", "ASCII NIMS", "NIMS binary"
  std::string source;                   // where the clock came from: "the header lines of st.asc", "st.clk", ...
  std::int64_t reference_unix_s = 0;    // reference time, seconds since 1970 (UTC)
  double start_after_reference_s = 0;   // the first sample, seconds after the reference time
  std::int64_t first_index = 0;         // the sample number the reader gives the first sample (1 for NIMS binary)
  bool has_fields = false;              // the clock-reset values below were read (not QEL)
  std::array<int, 6> start_fields{};    // year month day hour minute second, as read
  std::array<int, 6> reference_fields{};
};

// Where and when the recorder says it stood, for the reference-field
// declination the run derives from it (QEL binary headers only).
struct StationFix {
  bool known = false;                   // the header carries a position
  float latitude = 0;                   // degrees, north positive
  float longitude = 0;                  // degrees, east positive
  float year = 0;                       // start year plus month / 12
};

struct Acquisition {
  std::int32_t msval = 2147483647;      // missing-value marker
  float threshold = 2147473664.0f;      // msval - 10000 in single precision
  int nch = 0;                          // channels found by the header reader
  float dr = 0;                         // input sample interval, seconds
  float sampfreq = 0;                   // 1/dr, Hz
  std::int64_t time_int = 0;            // start of the data, microseconds after the reference time
  std::int64_t time_int_exact = 0;      // the same start in exact whole microseconds (time_int for QEL)
  StationFix fix;                       // the recorder's position and epoch, when its header has them
  float reference_declination = 0;      // from the reference field at fix, 0 when there is none
  RecordingClock clock;                 // the recording's clock as written
};

}  // namespace qv
