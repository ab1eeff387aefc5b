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

// The value a single-precision rate or ratio of sample intervals stands for.
// Intervals are written as decimal fractions of a second (0.002, 0.016), so
// the quotient formed from them in single precision is rarely the whole
// number it means: 1 / 0.002f is 499.99997 and 1 / 0.016f 62.499996, one
// unit in the last place short. Rates are whole numbers of hertz or short
// binary fractions of them (62.5, 31.25, 7.8125 Hz), so a value within 4
// units in the last place of one is taken as that number, the coarsest such
// grid first, from whole numbers down to 1/1024; any other value is kept.
inline double nearest_short_fraction(float f) {
  if (!std::isfinite(f)) return f;
  const double ulp = static_cast<double>(std::nextafter(std::fabs(f), INFINITY)) - std::fabs(f);
  for (int k = 0; k <= 10; ++k) {
    const double q = std::ldexp(1.0, k);
    const double grid = std::round(static_cast<double>(f) * q) / q;
    if (std::fabs(grid - f) <= 4.0 * ulp) return grid;
  }
  return f;
}

// The rate in hertz a single-precision sample interval stands for, in
// double precision: 1/dr in single precision taken as the whole number or
// short binary fraction it stands for (500 Hz for 0.002f, 4000 Hz for
// 0.00025f); for other rates 1/dr in double precision (4/3 Hz for 0.75 s).
inline double nominal_rate(float dr) {
  const double r = nearest_short_fraction(1.0f / dr);
  const double q = std::ldexp(r, 10);
  return q == std::round(q) ? r : 1.0 / static_cast<double>(dr);
}

}  // namespace qv
