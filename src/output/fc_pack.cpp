#include "output/fc_pack.hpp"

#include <cmath>
#include <limits>

#include "common/rounding.hpp"

namespace qv {

namespace {

// Mantissa of a reduced part, |t| < 1. 4096 t - 0.5 is formed in single
// precision like the rest of the packing; for t just above -1 that sum rounds
// to -4096.5 and would give -4097, which spills into the neighbouring bit
// field, so the result is held to the 13-bit range.
int mantissa(float t) {
  const float v = 4096.0f * t - 0.5f;
  int m = nint(v);
  if (m < -4096) m = -4096;
  if (m > 4095) m = 4095;
  return m;
}

double pow10(int e) {
  static constexpr double p[8] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7};
  return p[e];
}

}  // namespace

int reduce_fc_part(float x, float& t) {
  t = x;
  if (std::isnan(x)) return -1;
  int e = 0;
  while (std::fabs(t) >= 1.0f) {
    t = t / 10.0f;
    ++e;
    if (e > 7) return -1;
  }
  return e;
}

std::uint32_t pack_fc(float x, float y, bool& overflow, float* reduced_real) {
  float tr = 0, ti = 0;
  const int er = reduce_fc_part(x, tr);
  if (reduced_real) *reduced_real = tr;
  const int ei = er < 0 ? -1 : reduce_fc_part(y, ti);
  if (er < 0 || ei < 0) {
    overflow = true;
    return fc_sentinel;
  }
  overflow = false;
  const int mr = mantissa(tr);
  const int mi = mantissa(ti);
  // e_r + 8 (m_r + 4096) + 65536 e_i + 524288 m_i in 32-bit two's complement.
  return static_cast<std::uint32_t>(er) + 8u * static_cast<std::uint32_t>(mr + 4096) +
         65536u * static_cast<std::uint32_t>(ei) + 524288u * static_cast<std::uint32_t>(mi);
}

void unpack_fc(std::uint32_t w, float& x, float& y) {
  if (w == fc_sentinel) {
    x = y = std::numeric_limits<float>::quiet_NaN();
    return;
  }
  const int er = static_cast<int>(w & 7u);
  const int mr = static_cast<int>((w >> 3) & 0x1FFFu) - 4096;
  const int ei = static_cast<int>((w >> 16) & 7u);
  int mi = static_cast<int>((w >> 19) & 0x1FFFu);
  if (mi >= 4096) mi -= 8192;
  // A mantissa m stands for 4096 t in [m, m + 1): take the middle.
  x = static_cast<float>((mr + 0.5) / 4096.0 * pow10(er));
  y = static_cast<float>((mi + 0.5) / 4096.0 * pow10(ei));
}

}  // namespace qv
