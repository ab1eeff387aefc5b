// Sample intervals the run can count time with. From an interval dr (seconds)
// the processing derives, in single precision, the sampling frequency 1/dr
// (hertz) and, for the start sample, 1/dr per microsecond. Both must be
// normal numbers: an infinite rate, or one that underflows and is flushed to
// zero, would put the first sample anywhere on the time grid without a word.
#pragma once

#include <cmath>

namespace qv {

// The range of usable intervals for messages, rounded inward: every interval
// inside is usable.
inline constexpr const char* usable_interval_range = "2e-38 to 8e+31 seconds";

// True when dr is a normal positive number whose rate 1/dr and rate per
// microsecond (1/dr) / 10^6 are normal numbers too.
inline bool usable_sample_interval(float dr) {
  if (!std::isnormal(dr) || !(dr > 0.0f)) return false;
  const float rate = 1.0f / dr;
  return std::isnormal(rate) && std::isnormal(rate / 1.0e6f);
}

}  // namespace qv
