// A row of the window array (the six channel slots of one sample, channel
// fastest) as short vectors, so that a window step can work on every channel
// of a row at once instead of walking one channel down the rows. Each lane
// does the IEEE operation that a loop over one channel would do on the same
// operands (the build does not fuse multiply-adds), so the results are those
// of the one-channel loops to the bit. Slots of channels that are not in use
// go along in the arithmetic; a store writes them back with the bits they had.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "common/limits.hpp"

namespace qv::rows {

static_assert(nchmx == 6, "a row is six slots: a vector of four and one of two");

using f4 = float __attribute__((vector_size(16)));
using f2 = float __attribute__((vector_size(8)));
using i4 = std::int32_t __attribute__((vector_size(16)));
using i2 = std::int32_t __attribute__((vector_size(8)));
using d2 = double __attribute__((vector_size(16)));

// Six floats: slots 0-3 and 4-5.
struct Row {
  f4 a;
  f2 b;
};

// Six doubles: slots 0-1, 2-3, 4-5.
struct RowD {
  d2 v[3];
};

// Which slots a store writes: all bits set for the slots in use.
struct RowMask {
  i4 a;
  i2 b;
};

inline Row load(const float* p) {
  Row r;
  std::memcpy(&r.a, p, sizeof r.a);
  std::memcpy(&r.b, p + 4, sizeof r.b);
  return r;
}

inline Row splat(float v) { return Row{f4{v, v, v, v}, f2{v, v}}; }
inline Row operator+(Row x, Row y) { return Row{x.a + y.a, x.b + y.b}; }
inline Row operator-(Row x, Row y) { return Row{x.a - y.a, x.b - y.b}; }
inline Row operator*(Row x, Row y) { return Row{x.a * y.a, x.b * y.b}; }
inline Row operator/(Row x, Row y) { return Row{x.a / y.a, x.b / y.b}; }
// The six slots, into v[0..5].
inline void to_slots(const Row& x, float* v) {
  std::memcpy(v, &x.a, sizeof x.a);
  std::memcpy(v + 4, &x.b, sizeof x.b);
}

// Six floats widened to double (exactly). Written element by element, which
// the compiler turns into two-lane conversions.
inline RowD widen(const float* p) {
  RowD r;
  for (int i = 0; i < 3; ++i) r.v[i] = d2{p[2 * i], p[2 * i + 1]};
  return r;
}

inline RowD splat(double v) { return RowD{{d2{v, v}, d2{v, v}, d2{v, v}}}; }
inline RowD operator+(RowD x, RowD y) { return RowD{{x.v[0] + y.v[0], x.v[1] + y.v[1], x.v[2] + y.v[2]}}; }
inline RowD operator-(RowD x, RowD y) { return RowD{{x.v[0] - y.v[0], x.v[1] - y.v[1], x.v[2] - y.v[2]}}; }
inline RowD operator*(RowD x, RowD y) { return RowD{{x.v[0] * y.v[0], x.v[1] * y.v[1], x.v[2] * y.v[2]}}; }
inline RowD operator/(RowD x, RowD y) { return RowD{{x.v[0] / y.v[0], x.v[1] / y.v[1], x.v[2] / y.v[2]}}; }
// Slot c.
inline double lane(const RowD& x, int c) { return x.v[c / 2][c % 2]; }

// Six doubles rounded to float.
inline Row narrow(const RowD& x) {
  return Row{f4{static_cast<float>(x.v[0][0]), static_cast<float>(x.v[0][1]), static_cast<float>(x.v[1][0]),
                static_cast<float>(x.v[1][1])},
             f2{static_cast<float>(x.v[2][0]), static_cast<float>(x.v[2][1])}};
}

// Slots c < nch, or the slots flagged in use.
inline RowMask mask_first(int nch) {
  RowMask m;
  for (int c = 0; c < 4; ++c) m.a[c] = c < nch ? -1 : 0;
  for (int c = 0; c < 2; ++c) m.b[c] = c + 4 < nch ? -1 : 0;
  return m;
}
inline RowMask mask_of(const std::array<bool, nchmx>& in_use) {
  RowMask m;
  for (int c = 0; c < 4; ++c) m.a[c] = in_use[c] ? -1 : 0;
  for (int c = 0; c < 2; ++c) m.b[c] = in_use[c + 4] ? -1 : 0;
  return m;
}

// Slots where x < y, or x >= y (all bits set), as a mask.
inline RowMask less(Row x, Row y) { return RowMask{x.a < y.a, x.b < y.b}; }
inline RowMask at_least(Row x, Row y) { return RowMask{x.a >= y.a, x.b >= y.b}; }
inline RowMask operator&(const RowMask& x, const RowMask& y) { return RowMask{x.a & y.a, x.b & y.b}; }
inline RowMask operator|(const RowMask& x, const RowMask& y) { return RowMask{x.a | y.a, x.b | y.b}; }
inline RowMask operator~(const RowMask& x) { return RowMask{~x.a, ~x.b}; }
// The six slots, into v[0..5]: -1 (all bits) where the mask is set, 0 where
// not (or the counts a caller keeps in the slots).
inline void to_slots(const RowMask& m, std::int32_t* v) {
  std::memcpy(v, &m.a, sizeof m.a);
  std::memcpy(v + 4, &m.b, sizeof m.b);
}
// Whether any slot of the mask is set.
inline bool any(const RowMask& m) {
  std::int32_t v[nchmx];
  to_slots(m, v);
  bool set = false;
  for (int c = 0; c < nchmx; ++c) set |= v[c] != 0;
  return set;
}
// The slots of x where the mask is set; +0 in the others.
inline Row masked(Row x, const RowMask& m) {
  return Row{reinterpret_cast<f4>(reinterpret_cast<i4>(x.a) & m.a),
             reinterpret_cast<f2>(reinterpret_cast<i2>(x.b) & m.b)};
}

// Writes the slots of the mask from v and leaves the others as they are
// (their bits are copied back unchanged).
inline void store(float* p, Row v, const RowMask& m) {
  i4 old_a, new_a;
  i2 old_b, new_b;
  std::memcpy(&old_a, p, sizeof old_a);
  std::memcpy(&old_b, p + 4, sizeof old_b);
  std::memcpy(&new_a, &v.a, sizeof new_a);
  std::memcpy(&new_b, &v.b, sizeof new_b);
  const i4 a = (new_a & m.a) | (old_a & ~m.a);
  const i2 b = (new_b & m.b) | (old_b & ~m.b);
  std::memcpy(p, &a, sizeof a);
  std::memcpy(p + 4, &b, sizeof b);
}

}  // namespace qv::rows
