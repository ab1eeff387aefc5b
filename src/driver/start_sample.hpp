// The start of the data on the window grid: how many input samples lie
// between the reference time and the first sample. Two stations whose
// coefficients are joined (a remote reference) must give window N the same
// stretch of time to a fraction of a sample, so a start far from its
// reference is counted exactly; a start whose usual single-precision count
// lies within a tenth of a sample of the exact one keeps that count, and
// with it the bytes of earlier results.
//
// Public operations: described_start_sample, exact_start_sample,
// settle_start_sample.
#pragma once

#include <cstdint>

namespace qv {

// The start in both counts the header readers give (microseconds after the
// reference time): as the clock-reset values have always been reduced
// (through single precision for the text formats and NIMS binary), and as
// exact whole microseconds; and the recording's sample interval (seconds),
// whose rate the exact start sample counts with.
struct StartTime {
  std::int64_t time_int = 0;
  std::int64_t time_int_exact = 0;
  float dr = 0;
};

struct StartSample {
  std::int64_t time_int = 0;   // the microseconds the run uses (grid, bad records, console)
  double c = 0;                // start sample of the grid, input samples after the reference time
  bool exact = false;          // true: both are the exact counts
  double c_exact = 0;          // the exact start sample, whichever the run uses
};

// time_int x (sampfreq / 10^6), the quotient formed in single precision and
// the product in double precision.
double described_start_sample(std::int64_t time_int, float sampfreq);

// time_int x rate / 10^6 for a rate in hertz held exactly in a double (the
// rate a single-precision sampfreq stands for), within a few units in the
// last place of the result: 3e-5 samples a year after the reference at
// 4000 Hz.
double exact_start_sample(std::int64_t time_int, double rate);

// The start the run uses: the described count (time_int, sampfreq) unless it
// lies more than a tenth of a sample from the exact one (time_int_exact at
// the rate dr stands for) or either is not finite; then the exact one.
StartSample settle_start_sample(const StartTime& t, float sampfreq);

}  // namespace qv
