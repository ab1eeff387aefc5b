// Nearest-integer rounding as the processing needs it: halves away from zero.
#pragma once

#include <cmath>
#include <cstdint>

namespace qv {

// Rounds to the nearest integer, halves away from zero (Fortran NINT).
inline std::int64_t nint64(double x) { return static_cast<std::int64_t>(std::round(x)); }
inline int nint(double x) { return static_cast<int>(std::round(x)); }
inline int nint(float x) { return static_cast<int>(std::round(x)); }

}  // namespace qv
