// Internal to the FFT: the loops of a pass of radix 2, 3, 4 or 5, written
// once over a lane type, the vector a build computes with. A lane type L has
//   V, width                      the vector and the floats it holds;
//   load(p), store(p, v)          width neighbouring floats from and to p;
//   twiddles_kept_max             the longest sequence (complex values) for
//                                 which a pass keeps the twiddle factors of
//                                 one group of i in registers for all k, 0
//                                 for never;
//   gathers_k<IP>                 whether k_inputs<IP> exists;
//   k_inputs<IP>(x, v)            for ido = 1, where input j of butterfly k
//                                 is x[IP k + j]: vector j of the inputs of
//                                 butterflies 0..width-1 (a transposition);
//   short_ido_groups<B, IDO>(...) butterflies of a pass with a short ido
//                                 (below the width) in groups the lane type's
//                                 own layout allows, setting k_done to l1 if
//                                 it made them; a no-op where it has none.
// ScalarLanes, a "vector" of one float, is the portable build's and does
// the butterflies a wider type leaves over; the AVX2 build's lanes of eight
// floats are in fft_avx2.cpp with its transpositions. Every lane does the
// same single-precision operations on the same operands in the same order
// whatever the width, so all builds give the same results to the bit.
#pragma once

#include "dsp/fft_builds.hpp"
#include "dsp/fft_butterflies.hpp"

namespace qv {
// Internal linkage throughout (see fft_builds.hpp).
namespace {

// Start of the group of W items from `first` on, out of `count` (count >= W):
// the last group is moved back so that it ends with the last item and
// overlaps the one before it. The overlapped items are simply computed twice
// from the same inputs, which gives the same values, so no loop needs a
// one-at-a-time tail.
template <int W>
QV_INLINE idx_t last_group(idx_t first, idx_t count) {
  if constexpr (W == 1) {
    return first;
  } else {
    return first + W <= count ? first : count - W;
  }
}

// One float at a time: plain loops, which the compiler vectorises as far as
// the target allows (the i loop innermost, the twiddle factors loaded with
// the inputs).
struct ScalarLanes {
  using V = float;
  static constexpr int width = 1;
  static constexpr idx_t twiddles_kept_max = 0;
  QV_INLINE static V load(const float* p) { return *p; }
  QV_INLINE static void store(float* p, V v) { *p = v; }
  template <int IP>
  static constexpr bool gathers_k = true;
  template <int IP>
  QV_INLINE static void k_inputs(const float* x, V* v) {
#pragma GCC unroll 8
    for (int j = 0; j < IP; ++j) v[j] = x[j];
  }
  template <class B, int IDO>
  QV_INLINE static void short_ido_groups(idx_t, idx_t, const float*, const float*, float*, float*, const float*,
                                         idx_t&) {}
};

// Outputs of a group of butterflies, j at c + j so, as they are.
template <class L, int IP, class V = typename L::V>
QV_INLINE void plain_outputs(idx_t so, float* __restrict c0r, float* __restrict c0i, const V* yr, const V* yi) {
#pragma GCC unroll 8
  for (int j = 0; j < IP; ++j) {
    L::store(c0r + j * so, yr[j]);
    L::store(c0i + j * so, yi[j]);
  }
}

// Outputs of a group of butterflies, j at c + j so: output 0 as it is, the
// others times the conjugate twiddle factors (wr[j], wi[j]).
template <class L, int IP, class V = typename L::V>
QV_INLINE void twiddled_outputs(idx_t so, float* __restrict c0r, float* __restrict c0i, const V* yr, const V* yi,
                                const V* wr, const V* wi) {
  L::store(c0r, yr[0]);
  L::store(c0i, yi[0]);
#pragma GCC unroll 8
  for (int j = 1; j < IP; ++j) {
    L::store(c0r + j * so, wr[j] * yr[j] + wi[j] * yi[j]);
    L::store(c0i + j * so, wr[j] * yi[j] - wi[j] * yr[j]);
  }
}

// The same, each twiddle factor loaded from the table (ido cosines, then ido
// sines, for each j) as its output is made: where they are not kept in
// registers across k, this leaves the registers to the butterfly.
template <class L, int IP, class V = typename L::V>
QV_INLINE void table_twiddled_outputs(idx_t so, float* __restrict c0r, float* __restrict c0i, const V* yr,
                                      const V* yi, idx_t ido, idx_t i, const float* __restrict wa) {
  L::store(c0r, yr[0]);
  L::store(c0i, yi[0]);
#pragma GCC unroll 8
  for (int j = 1; j < IP; ++j) {
    const V wr = L::load(wa + (2 * j - 2) * ido + i);
    const V wi = L::load(wa + (2 * j - 1) * ido + i);
    L::store(c0r + j * so, wr * yr[j] + wi * yi[j]);
    L::store(c0i + j * so, wr * yi[j] - wi * yr[j]);
  }
}

// The twiddle factors of output j >= 1 for the width i from i on.
template <class L, int IP, class V = typename L::V>
QV_INLINE void load_twiddles(idx_t ido, idx_t i, const float* __restrict wa, V* wr, V* wi) {
#pragma GCC unroll 8
  for (int j = 1; j < IP; ++j) {
    wr[j] = L::load(wa + (2 * j - 2) * ido + i);
    wi[j] = L::load(wa + (2 * j - 1) * ido + i);
  }
}

// Butterflies (i, k) from (i0, k0) to (i0 + width, k0): inputs j at
// a + i + ido (j + ip k), outputs twiddled to c + i + ido k + j so, by the
// twiddle factors (wr, wi) kept in registers or, where wr is null, by those
// of the table wa.
template <class L, class B, class V = typename L::V>
QV_INLINE void twiddled_group(idx_t ido, idx_t so, idx_t i, idx_t k, const float* __restrict ar,
                              const float* __restrict ai, float* __restrict cr, float* __restrict ci, const V* wr,
                              const V* wi, const float* __restrict wa) {
  constexpr int ip = B::ip;
  const float* a0r = ar + ip * ido * k + i;
  const float* a0i = ai + ip * ido * k + i;
  V xr[ip], xi[ip], yr[ip], yi[ip];
#pragma GCC unroll 8
  for (int j = 0; j < ip; ++j) {
    xr[j] = L::load(a0r + j * ido);
    xi[j] = L::load(a0i + j * ido);
  }
  B{}(xr, xi, yr, yi);
  if (wr) {
    twiddled_outputs<L, ip>(so, cr + ido * k + i, ci + ido * k + i, yr, yi, wr, wi);
  } else {
    table_twiddled_outputs<L, ip>(so, cr + ido * k + i, ci + ido * k + i, yr, yi, ido, i, wa);
  }
}

// The butterflies of a pass of radix B::ip (see the layout in
// fft_butterflies.hpp) that lanes of L can take, of those with i >= i_done
// and k >= k_done: neighbouring k when ido = 1, neighbouring i when ido is a
// width or more, and what the lane type's layout allows for a short ido.
// Sets k_done or i_done to what it leaves; with ScalarLanes that is nothing.
// IDO > 0 fixes ido at compile time for the short last passes; IDO = 0 takes
// it from ido_rt.
template <class L, class B, int IDO>
QV_INLINE void pass_groups(idx_t ido, idx_t l1, const float* __restrict ar, const float* __restrict ai,
                           float* __restrict cr, float* __restrict ci, const float* __restrict wa, idx_t& k_done,
                           idx_t& i_done) {
  using V = typename L::V;
  constexpr int ip = B::ip;
  constexpr int W = L::width;
  const idx_t so = ido * l1;  // distance between the output blocks of j and j + 1
  if constexpr (IDO == 1) {
    // No twiddle factors; the inputs of one k lie side by side, ip apart from
    // those of the next k, and are turned round into vectors over k.
    if constexpr (L::template gathers_k<ip>) {
      if (l1 - k_done < W) return;
#pragma GCC ivdep
      for (idx_t k0 = k_done; k0 < l1; k0 += W) {
        const idx_t k = last_group<W>(k0, l1);
        V xr[ip], xi[ip], yr[ip], yi[ip];
        L::template k_inputs<ip>(ar + ip * k, xr);
        L::template k_inputs<ip>(ai + ip * k, xi);
        B{}(xr, xi, yr, yi);
        plain_outputs<L, ip>(so, cr + k, ci + k, yr, yi);
      }
      k_done = l1;
    }
  } else {
    L::template short_ido_groups<B, IDO>(ido, l1, ar, ai, cr, ci, wa, k_done);
    if (ido - i_done < W) return;
    if (L::twiddles_kept_max > 0 && ip * so <= L::twiddles_kept_max) {
      // While the arrays stay in the first-level cache the twiddle factors
      // of a group of i are kept for every k.
      for (idx_t i0 = i_done; i0 < ido; i0 += W) {
        const idx_t i = last_group<W>(i0, ido);
        V wr[ip], wi[ip];
        load_twiddles<L, ip>(ido, i, wa, wr, wi);
        for (idx_t k = k_done; k < l1; ++k) twiddled_group<L, B>(ido, so, i, k, ar, ai, cr, ci, wr, wi, wa);
      }
    } else {
      // Longer arrays are swept k after k, in storage order.
      for (idx_t k = k_done; k < l1; ++k) {
#pragma GCC ivdep
        for (idx_t i0 = i_done; i0 < ido; i0 += W) {
          const idx_t i = last_group<W>(i0, ido);
          const V* from_table = nullptr;
          twiddled_group<L, B>(ido, so, i, k, ar, ai, cr, ci, from_table, from_table, wa);
        }
      }
    }
    i_done = ido;
  }
}

// One pass of radix B::ip: what lanes of L can take in groups, then the rest
// one at a time.
template <class L, class B, int IDO>
QV_INLINE void radix_pass(int ido_rt, int l1, const float* __restrict ar, const float* __restrict ai,
                          float* __restrict cr, float* __restrict ci, const float* __restrict wa) {
  const idx_t ido = IDO > 0 ? IDO : ido_rt;
  idx_t k_done = 0;  // butterflies with k < k_done are done (all i), or
  idx_t i_done = 0;  // those with i < i_done (all k); never both
  pass_groups<L, B, IDO>(ido, l1, ar, ai, cr, ci, wa, k_done, i_done);
  if constexpr (L::width > 1) pass_groups<ScalarLanes, B, IDO>(ido, l1, ar, ai, cr, ci, wa, k_done, i_done);
}

template <class L, class B>
QV_INLINE void radix_dispatch(int ido, int l1, const float* ar, const float* ai, float* cr, float* ci,
                              const float* wa) {
  switch (ido) {
    case 1: radix_pass<L, B, 1>(ido, l1, ar, ai, cr, ci, wa); break;
    case 3: radix_pass<L, B, 3>(ido, l1, ar, ai, cr, ci, wa); break;
    case 4: radix_pass<L, B, 4>(ido, l1, ar, ai, cr, ci, wa); break;
    case 5: radix_pass<L, B, 5>(ido, l1, ar, ai, cr, ci, wa); break;
    default: radix_pass<L, B, 0>(ido, l1, ar, ai, cr, ci, wa); break;
  }
}

}  // namespace
}  // namespace qv
