// Mathematical constants as the processing uses them.
#pragma once

namespace qv {

// 2 pi as the nearest single-precision value, the constant that the twiddle
// factors, the pre-whitening response and the calibration are computed with.
inline constexpr float twopi = 6.2831855f;

}  // namespace qv
