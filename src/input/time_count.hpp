// Start time of a recording on the run's time axis: whole days between two
// calendar dates and the start of the data in microseconds after the
// reference time, with the single-precision steps the clock-reset values have
// always been reduced with (so time marks agree with earlier processing).
#pragma once

#include <array>
#include <cstdint>

#include "input/acquisition.hpp"

namespace qv {

// Calendar time: year, month (1..12), day, hour, minute, second.
using DateTime = std::array<int, 6>;

// Whole days from the reference date to the start date. Leap years are the
// years divisible by 4; a reference year later than the start year
// contributes no year term. Raises an Error for a month outside 1..12 or a
// year outside 0..9999.
std::int64_t day_count(const DateTime& start, const DateTime& ref);

// Start time in microseconds after the reference time. The second count is
// formed in single precision and multiplied by 10^6 in single precision, so
// the result moves in steps of 8192 microseconds one day after the reference.
std::int64_t time_int(const DateTime& start, const DateTime& ref);

// The same start as an exact count of whole microseconds, in 64-bit integers:
// what the clock fields say, without the single-precision steps. A recording
// far from its reference (a month at 4000 Hz is 0.13 s, hundreds of samples)
// needs it to put its windows where another station's windows of the same
// number lie. Raises an Error when the count leaves the 64-bit range.
std::int64_t exact_time_int(const DateTime& start, const DateTime& ref);

// The clock of the metadata from the start and reference time as read:
// seconds since 1970 by the Gregorian calendar, the start exactly.
void set_recording_clock(const DateTime& start, const DateTime& ref, RecordingClock& clock);

}  // namespace qv
