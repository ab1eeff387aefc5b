#include "output/fc_pack.hpp"

#include <bit>
#include <cmath>
#include <limits>

namespace qv {

namespace {

// Nearest integer of v, halves away from zero (what nint gives), for
// |v| < 2^23 without a library call: the conversion truncates toward zero and
// v minus that whole part is exact (both lie in one binade or the part is 0),
// so comparing it with one half decides the rounding as round() does.
int nearest(float v) {
  const int i = static_cast<int>(v);
  const float f = v - static_cast<float>(i);
  return i + (f >= 0.5f ? 1 : 0) - (f <= -0.5f ? 1 : 0);
}

// Mantissa of a reduced part, |t| < 1. 4096 t - 0.5 is formed in single
// precision like the rest of the packing; for t just above -1 that sum rounds
// to -4096.5 and would give -4097, which spills into the neighbouring bit
// field, so the result is held to the 13-bit range.
int mantissa(float t) {
  const float v = 4096.0f * t - 0.5f;
  int m = nearest(v);
  if (m < -4096) m = -4096;
  if (m > 4095) m = 4095;
  return m;
}

// The reduction one step at a time: divide by 10 while the magnitude is 1 or
// more; -1 after an eighth division, or for NaN.
int reduce_stepwise(float x, float& t) {
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

// Number of divisions by 10 that bring |a| < 10^7 below 1 (see reduce_part):
// the count of 10^0 .. 10^6 that are <= a. A binade [2^j, 2^(j+1)) holds at
// most one power of ten, so the powers below the binade, counted once per
// binade, and one comparison with the power inside it (if any) give that
// count from the exponent field of a. All of 10^0..10^7 are exact in single
// precision.
struct DecadeTable {
  signed char below[256] = {};  // powers 10^0..10^6 below 2^j
  float inside[256] = {};       // the power in [2^j, 2^(j+1)), or infinity
};
constexpr DecadeTable make_decade_table() {
  DecadeTable t;
  for (int j = 0; j < 256; ++j) {
    double lo = 1.0;  // 2^(j - 127), the binade's bottom (j = 0: the subnormals, all below 1)
    for (int i = j; i < 127; ++i) lo /= 2.0;
    for (int i = 127; i < j; ++i) lo *= 2.0;
    t.inside[j] = std::numeric_limits<float>::infinity();
    double p = 1.0;
    for (int i = 0; i <= 6; ++i, p *= 10.0) {
      if (p < lo) ++t.below[j];
      else if (p < 2.0 * lo) t.inside[j] = static_cast<float>(p);
    }
  }
  return t;
}
inline constexpr DecadeTable decades = make_decade_table();

inline int divisions(float a) {
  const unsigned j = std::bit_cast<std::uint32_t>(a) >> 23;  // a >= 0: the biased exponent
  return decades.below[j] + (a >= decades.inside[j]);
}

// The same result as reduce_stepwise without a loop whose length the data
// decide. A correctly rounded division by 10 never decreases as its operand
// grows, and 10^i / 10 = 10^(i-1) exactly for i <= 7, so the part after i
// divisions has a magnitude of 1 or more exactly when |x| >= 10^i: the number
// of divisions follows from comparisons with |x|. The divisions themselves
// are all made, one after the other as before, and the right one is taken.
// Parts of 10^7 or more (and NaN) go the stepwise way, which also gives the
// part as reduced so far for the overflow report.
inline int reduce_part(float x, float& t) {
  const float a = std::fabs(x);
  if (!(a < 1.0e7f)) return reduce_stepwise(x, t);
  const int e = divisions(a);
  float step[8];
  step[0] = x;
  for (int i = 1; i < 8; ++i) step[i] = step[i - 1] / 10.0f;
  t = step[e];
  return e;
}

// Both parts of a coefficient below 10^7 in magnitude reduced at once: the
// real and imaginary part go through the divisions side by side, each lane
// with the divisions of reduce_part.
using f4 = float __attribute__((vector_size(16)));
inline void reduce_both(float x, float y, int er, int ei, float& tr, float& ti) {
  const f4 ten = {10.0f, 10.0f, 10.0f, 10.0f};
  f4 step[8];
  step[0] = f4{x, y, 0.0f, 0.0f};
  for (int i = 1; i < 8; ++i) step[i] = step[i - 1] / ten;
  tr = step[er][0];
  ti = step[ei][1];
}

// Mantissa of a part below 10^7 in magnitude taking e divisions, without the
// divisions where that gives provably the same integer; false where it may
// not, and the divisions must be made.
//
// Let q = x / 10^e exactly, |q| < 1. The e correctly rounded divisions give
// t = q (1 + d1) ... (1 + de) with |di| <= 2^-24, e <= 7, so |t - q| < 2^-21
// |q| and |4096 t - 4096 q| < 2^-9 (4096 t itself is exact: a power of two).
// w = x * (4096 / 10^e) in double lies within 2^-39 of 4096 q, and
// u = w + 8192 (positive, so that truncation is the floor) within 2^-40 of
// w + 8192. Forming 4096 t - 0.5 in single precision errs by at most half an
// ulp of a number below 4097 in magnitude, 2^-12. So v = fl(4096 t - 0.5)
// lies within 2^-9 + 2^-12 + 2^-39 + 2^-40 < 2^-8 of u - 8192.5. When u is
// more than 2^-8 from every integer, k = floor(u) - 8192 has
// k - 0.5 < v < k + 0.5, and the nearest integer of v, halves or not, is k;
// k is within -4096..4095 there, so the clamp of mantissa() does nothing
// either. Parts near an integer of the grid (among them every zero, and the
// top and bottom of the range) go the way of the divisions. No branch
// depends on the data: the sign of a part is as likely one way as the other.
// tools/check_fc_pack.cpp confirms the agreement for every single-precision
// value.
inline bool mantissa_direct(float x, int e, int& m) {
  static constexpr double scale[8] = {4096.0,       409.6,         40.96,          4.096,
                                      0.4096,       0.04096,       0.004096,       0.0004096};
  constexpr double margin = 1.0 / 256.0;
  const double u = static_cast<double>(x) * scale[e] + 8192.0;  // within 4095..12289
  const int k = static_cast<int>(u);                               // floor: u > 0
  const double f = u - static_cast<double>(k);                     // exact: k is u's whole part
  m = k - 8192;
  return (f > margin) & (f < 1.0 - margin);
}

double pow10(int e) {
  static constexpr double p[8] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7};
  return p[e];
}

}  // namespace

int reduce_fc_part(float x, float& t) { return reduce_part(x, t); }

std::uint32_t pack_fc(float x, float y, bool& overflow, float* reduced_real) {
  float tr = 0, ti = 0;
  int er, ei, mr, mi;
  const float ax = std::fabs(x), ay = std::fabs(y);
  if (ax < 1.0e7f && ay < 1.0e7f) {
    er = divisions(ax);
    ei = divisions(ay);
    const bool direct_r = mantissa_direct(x, er, mr);
    const bool direct_i = mantissa_direct(y, ei, mi);
    if (!(direct_r & direct_i)) [[unlikely]] {
      reduce_both(x, y, er, ei, tr, ti);
      mr = mantissa(tr);
      mi = mantissa(ti);
    }
  } else {
    er = reduce_part(x, tr);
    if (reduced_real) *reduced_real = tr;
    ei = er < 0 ? -1 : reduce_part(y, ti);
    if (er < 0 || ei < 0) {
      overflow = true;
      return fc_sentinel;
    }
    mr = mantissa(tr);
    mi = mantissa(ti);
  }
  overflow = false;
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
