// The AVX2 build of the window transform: explicit vectors of eight floats.
// The loops of the passes are those of fft_passes.hpp on the lanes below;
// this file holds what is particular to eight floats: the transpositions
// that turn the inputs of eight butterflies round, the layouts of the short
// passes, and the window rows taken and written eight at a time.
// Only the entry function and the passes it calls (avx2_forward) are
// compiled for AVX2, with the rest of the transform inlined into them; the
// rest of the program keeps to the baseline instruction set and runs on
// processors without AVX2. Every lane does the same single-precision
// operations on the same operands as the one-at-a-time butterflies, so the
// results are those of the portable build to the bit.
#include "dsp/fft_builds.hpp"

#if QV_FFT_AVX2_BUILD
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "common/limits.hpp"
#include "dsp/fft_passes.hpp"
#include "dsp/fft_transform.hpp"

namespace qv {
// Internal linkage throughout (see fft_builds.hpp).
namespace {

// Vectors of eight floats, one AVX register each, alongside the vectors of
// four of fft_transform.hpp. Shuffles that work within halves of four lanes map
// to single instructions. The helpers are always inlined and the two AVX2
// functions take no vectors, so the note that 32-byte vector arguments are
// passed differently with and without AVX does not apply (the build turns it
// off for this file).
using f8 = float __attribute__((vector_size(32)));
using i8 = int __attribute__((vector_size(32)));

QV_INLINE f8 load8(const float* p) {
  f8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
QV_INLINE void store8(float* p, f8 v) { std::memcpy(p, &v, sizeof v); }
QV_INLINE f8 join(f4 lo, f4 hi) { return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7); }
QV_INLINE f8 lower_halves(f8 a, f8 b) { return __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11); }
QV_INLINE f8 upper_halves(f8 a, f8 b) { return __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15); }
QV_INLINE f8 reversed8(f8 v) { return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0); }
// Lower half of a, upper half of b.
QV_INLINE f8 lo_hi(f8 a, f8 b) { return __builtin_shufflevector(a, b, 0, 1, 2, 3, 12, 13, 14, 15); }
// Upper half of a, then lower half of b.
QV_INLINE f8 hi_lo(f8 a, f8 b) { return __builtin_shufflevector(a, b, 4, 5, 6, 7, 8, 9, 10, 11); }
// Lane i of each half from b where bit i of M is set, else from a.
template <int M>
QV_INLINE f8 blend(f8 a, f8 b) {
  return __builtin_shufflevector(a, b, M & 1 ? 8 : 0, M & 2 ? 9 : 1, M & 4 ? 10 : 2, M & 8 ? 11 : 3,
                                 M & 1 ? 12 : 4, M & 2 ? 13 : 5, M & 4 ? 14 : 6, M & 8 ? 15 : 7);
}
// Lane i of each half takes lane Pi of the same half.
template <int P0, int P1, int P2, int P3>
QV_INLINE f8 permute(f8 a) {
  return __builtin_shufflevector(a, a, P0, P1, P2, P3, P0 + 4, P1 + 4, P2 + 4, P3 + 4);
}

// Eight butterflies of an odd radix IP with ido = 1 take their inputs from
// 8 * IP consecutive floats, input j of butterfly kk at IP * kk + j. These
// helpers turn them round into IP vectors, vector j holding input j of the
// eight butterflies in order.
//
// First u[s] collects quad s of the floats (butterflies 0..3) in its lower
// half and quad IP + s (butterflies 4..7) in its upper half. Within a half,
// input j of butterfly l is then float j + IP * l, which lies in lane
// (j + IP * l) % 4 of u[(j + IP * l) / 4]; for odd IP these four lanes
// differ, so blends gather them into one vector and a permutation within
// the halves puts them in butterfly order.
template <int IP, int J>
QV_INLINE f8 odd_input(const f8* u) {
  constexpr int e0 = J, e1 = J + IP, e2 = J + 2 * IP, e3 = J + 3 * IP;
  f8 b = u[e0 / 4];
  if constexpr (e1 / 4 != e0 / 4) b = blend<1 << (e1 % 4)>(b, u[e1 / 4]);
  if constexpr (e2 / 4 != e0 / 4) b = blend<1 << (e2 % 4)>(b, u[e2 / 4]);
  if constexpr (e3 / 4 != e0 / 4) b = blend<1 << (e3 % 4)>(b, u[e3 / 4]);
  return permute<e0 % 4, e1 % 4, e2 % 4, e3 % 4>(b);
}

template <int IP, int... S>
QV_INLINE void odd_inputs(const float* x, f8* v, std::integer_sequence<int, S...>) {
  const f8 w[IP] = {load8(x + 8 * S)...};
  const f8 u[IP] = {(S % 2 == 0 ? lo_hi(w[S / 2], w[(IP + S) / 2]) : hi_lo(w[S / 2], w[(IP + S) / 2]))...};
  ((v[S] = odd_input<IP, S>(u)), ...);
}

// Radix 4: input j of butterfly kk at 4 kk + j. The halves are first given
// butterflies 0..3 and 4..7, then each half is a 4 x 4 transposition.
QV_INLINE void quad_inputs(const float* x, f8* v) {
  const f8 w0 = load8(x), w1 = load8(x + 8), w2 = load8(x + 16), w3 = load8(x + 24);
  const f8 u0 = __builtin_shufflevector(w0, w2, 0, 1, 2, 3, 8, 9, 10, 11);  // k 0 | 4
  const f8 u1 = __builtin_shufflevector(w0, w2, 4, 5, 6, 7, 12, 13, 14, 15);  // k 1 | 5
  const f8 u2 = __builtin_shufflevector(w1, w3, 0, 1, 2, 3, 8, 9, 10, 11);  // k 2 | 6
  const f8 u3 = __builtin_shufflevector(w1, w3, 4, 5, 6, 7, 12, 13, 14, 15);  // k 3 | 7
  const f8 t0 = __builtin_shufflevector(u0, u1, 0, 8, 1, 9, 4, 12, 5, 13);  // j 0, 1 of k 0, 1
  const f8 t1 = __builtin_shufflevector(u0, u1, 2, 10, 3, 11, 6, 14, 7, 15);  // j 2, 3 of k 0, 1
  const f8 t2 = __builtin_shufflevector(u2, u3, 0, 8, 1, 9, 4, 12, 5, 13);  // j 0, 1 of k 2, 3
  const f8 t3 = __builtin_shufflevector(u2, u3, 2, 10, 3, 11, 6, 14, 7, 15);  // j 2, 3 of k 2, 3
  v[0] = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
  v[1] = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
  v[2] = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  v[3] = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
}

// The lanes of this build: eight floats, one AVX register. Besides the
// loops of fft_passes.hpp, the short passes get layouts of their own.
struct Avx2Lanes {
  using V = f8;
  static constexpr int width = 8;
  // 4096 complex values: the inputs, outputs and twiddle factors of a pass
  // still fit the first-level cache.
  static constexpr idx_t twiddles_kept_max = 4096;
  QV_INLINE static V load(const float* p) { return load8(p); }
  QV_INLINE static void store(float* p, V v) { store8(p, v); }

  // Odd radix and radix 4 (radix 2 with ido = 1 is only the whole of a
  // transform of length 2).
  template <int IP>
  static constexpr bool gathers_k = IP % 2 == 1 || IP == 4;
  template <int IP>
  QV_INLINE static void k_inputs(const float* x, V* v) {
    if constexpr (IP == 4) {
      quad_inputs(x, v);
    } else {
      odd_inputs<IP>(x, v, std::make_integer_sequence<int, IP>{});
    }
  }

  // ido = 4: two k of four i each; ido = 3, 5: successive outputs.
  template <class B, int IDO>
  QV_INLINE static void short_ido_groups(idx_t ido, idx_t l1, const float* __restrict ar, const float* __restrict ai,
                                         float* __restrict cr, float* __restrict ci, const float* __restrict wa,
                                         idx_t& k_done) {
    if constexpr (IDO == 4) {
      four_i_groups<B>(l1, ar, ai, cr, ci, wa, k_done);
    } else if constexpr (IDO == 3 || IDO == 5) {
      output_order_groups<B, IDO>(ido * l1, l1, ar, ai, cr, ci, wa, k_done);
    }
  }

 private:
  // Four i of k in the lower half, of k + 1 in the upper half; the outputs
  // of k and k + 1 are neighbours.
  template <class B>
  QV_INLINE static void four_i_groups(idx_t l1, const float* __restrict ar, const float* __restrict ai,
                                      float* __restrict cr, float* __restrict ci, const float* __restrict wa,
                                      idx_t& k_done) {
    constexpr int ip = B::ip;
    if (l1 < 2) return;
    const idx_t so = 4 * l1;
    f8 wr[ip], wi[ip];
#pragma GCC unroll 8
    for (int j = 1; j < ip; ++j) {
      wr[j] = join(load4(wa + (2 * j - 2) * 4), load4(wa + (2 * j - 2) * 4));
      wi[j] = join(load4(wa + (2 * j - 1) * 4), load4(wa + (2 * j - 1) * 4));
    }
    for (idx_t k0 = 0; k0 < l1; k0 += 2) {
      const idx_t k = last_group<2>(k0, l1);
      const float* a0r = ar + ip * 4 * k;
      const float* a0i = ai + ip * 4 * k;
      f8 xr[ip], xi[ip], yr[ip], yi[ip];
#pragma GCC unroll 8
      for (int j = 0; j < ip; ++j) {
        xr[j] = join(load4(a0r + 4 * j), load4(a0r + 4 * j + 4 * ip));
        xi[j] = join(load4(a0i + 4 * j), load4(a0i + 4 * j + 4 * ip));
      }
      B{}(xr, xi, yr, yi);
      twiddled_outputs<Avx2Lanes, ip>(so, cr + 4 * k, ci + 4 * k, yr, yi, wr, wi);
    }
    k_done = l1;
  }

  // Short odd ido D: the butterflies are taken in the order of their
  // outputs, m = i + D k, eight at a time; the outputs of one j are
  // neighbours. The eight lanes belong to up to T successive k, and the
  // inputs of each k are a run of neighbours, so an input vector is blended
  // from one load per k. The twiddle factors repeat with period D and are
  // laid out repeatedly so that those of any eight lanes are one load.
  template <class B, int D>
  QV_INLINE static void output_order_groups(idx_t so, idx_t l1, const float* __restrict ar,
                                            const float* __restrict ai, float* __restrict cr,
                                            float* __restrict ci, const float* __restrict wa, idx_t& k_done) {
    constexpr int ip = B::ip;
    constexpr int T = (D + 6) / D + 1;
    const idx_t nm = D * l1;  // = so
    if (nm < 8) return;
    // k - k0 of lane m - m0 for m0 % D = r: group[r + lane].
    static constexpr std::array<int, 8 + D> group = [] {
      std::array<int, 8 + D> g{};
      for (int q = 0; q < 8 + D; ++q) g[q] = q / D;
      return g;
    }();
    float wext[ip][2][8 + D];
#pragma GCC unroll 8
    for (int j = 1; j < ip; ++j) {
      for (int q = 0; q < 8 + D; q += D) {
        const std::size_t len = sizeof(float) * std::size_t(q + D <= 8 + D ? D : 8 + D - q);
        std::memcpy(wext[j][0] + q, wa + (2 * j - 2) * D, len);
        std::memcpy(wext[j][1] + q, wa + (2 * j - 1) * D, len);
      }
    }
    for (idx_t mb = 0; mb < nm; mb += 8) {
      const idx_t m0 = last_group<8>(mb, nm);
      const idx_t k0 = m0 / D;
      const int r = int(m0 % D);
      i8 g;
      std::memcpy(&g, group.data() + r, sizeof g);
      f8 xr[ip], xi[ip], yr[ip], yi[ip];
#pragma GCC unroll 8
      for (int j = 0; j < ip; ++j) {
        const float* pr = ar + m0 + (ip - 1) * D * k0 + D * j;
        const float* pi = ai + m0 + (ip - 1) * D * k0 + D * j;
        f8 vr = load8(pr), vi = load8(pi);
#pragma GCC unroll 4
        for (int t = 1; t < T; ++t) {
          if (r + 7 < t * D) break;  // no lane of this k
          const i8 in_t = g == i8{} + t;
          vr = in_t ? load8(pr + (ip - 1) * D * t) : vr;
          vi = in_t ? load8(pi + (ip - 1) * D * t) : vi;
        }
        xr[j] = vr;
        xi[j] = vi;
      }
      B{}(xr, xi, yr, yi);
      f8 wr[ip], wi[ip];
#pragma GCC unroll 8
      for (int j = 1; j < ip; ++j) {
        wr[j] = load8(wext[j][0] + r);
        wi[j] = load8(wext[j][1] + r);
      }
      twiddled_outputs<Avx2Lanes, ip>(so, cr + m0, ci + m0, yr, yi, wr, wi);
    }
    k_done = l1;
  }
};

// Floats 4q..4q+3 of the four window rows from x on in the lower half, of the
// next four rows in the upper half.
QV_INLINE f8 row_quads(const float* x, int q) { return join(load4(x + 4 * q), load4(x + 24 + 4 * q)); }

// Channels 2P and 2P + 1 of the eight window rows from x on, as the real and
// imaginary parts of pair P. The two samples of a pair are neighbours in a
// row; two shuffles within the halves of the row quads gather those of rows
// 0, 1 (4, 5) and of rows 2, 3 (6, 7), and two more split them into real and
// imaginary parts.
template <int P>
QV_INLINE void pair_rows(const float* x, f8& re, f8& im) {
  f8 u, v;
  if constexpr (P == 0) {
    u = blend<0b1100>(row_quads(x, 0), row_quads(x, 1));
    v = blend<0b1100>(row_quads(x, 3), row_quads(x, 4));
  } else if constexpr (P == 1) {
    u = __builtin_shufflevector(row_quads(x, 0), row_quads(x, 2), 2, 3, 8, 9, 6, 7, 12, 13);
    v = __builtin_shufflevector(row_quads(x, 3), row_quads(x, 5), 2, 3, 8, 9, 6, 7, 12, 13);
  } else {
    u = blend<0b1100>(row_quads(x, 1), row_quads(x, 2));
    v = blend<0b1100>(row_quads(x, 4), row_quads(x, 5));
  }
  re = __builtin_shufflevector(u, v, 0, 2, 8, 10, 4, 6, 12, 14);
  im = __builtin_shufflevector(u, v, 1, 3, 9, 11, 5, 7, 13, 15);
}

// The first pass (l1 = 1, ido = n / ip at least eight) of pair P, its inputs
// taken straight from the window rows instead of from the work array: the
// same butterflies on the same values as radix_pass, eight i at a time (the
// last eight overlapping the group before).
template <class B, int P>
QV_INLINE void first_pass_from_window(int n, bool lone, const float* __restrict window, float* __restrict cr,
                                      float* __restrict ci, const float* __restrict wa) {
  constexpr int ip = B::ip;
  const idx_t ido = n / ip;
  for (idx_t i0 = 0; i0 < ido; i0 += 8) {
    const idx_t i = last_group<8>(i0, ido);
    f8 xr[ip], xi[ip], yr[ip], yi[ip];
#pragma GCC unroll 8
    for (int j = 0; j < ip; ++j) {
      pair_rows<P>(window + wld * (i + j * ido), xr[j], xi[j]);
      if (lone) xi[j] = f8{};
    }
    B{}(xr, xi, yr, yi);
    table_twiddled_outputs<Avx2Lanes, ip>(ido, cr + i, ci + i, yr, yi, ido, i, wa);
  }
}

template <class B>
QV_INLINE void first_pass_of_pair(int n, int p, bool lone, const float* window, float* cr, float* ci,
                                  const float* wa) {
  switch (p) {
    case 0: first_pass_from_window<B, 0>(n, lone, window, cr, ci, wa); break;
    case 1: first_pass_from_window<B, 1>(n, lone, window, cr, ci, wa); break;
    default: first_pass_from_window<B, 2>(n, lone, window, cr, ci, wa); break;
  }
}

// Eight rows at a time, the last eight overlapping the group before (see
// last_group); returns the rows loaded: all n, or none if n < 8.
template <int NP>
QV_INLINE idx_t load_rows_by_eight(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                                   float* const (&zi)[3]) {
  for (idx_t t0 = 0; n >= 8 && t0 < n; t0 += 8) {
    const idx_t t = last_group<8>(t0, n);
    const float* x = window + wld * t;
    f8 re, im;
    pair_rows<0>(x, re, im);
    store8(zr[0] + t, re);
    store8(zi[0] + t, lone && NP == 1 ? f8{} : im);
    if constexpr (NP >= 2) {
      pair_rows<1>(x, re, im);
      store8(zr[1] + t, re);
      store8(zi[1] + t, lone && NP == 2 ? f8{} : im);
    }
    if constexpr (NP >= 3) {
      pair_rows<2>(x, re, im);
      store8(zr[2] + t, re);
      store8(zi[2] + t, lone ? f8{} : im);
    }
  }
  return n >= 8 ? n : 0;
}

// The coefficients of two or three pairs written together, eight frequencies
// at a time (the last eight overlapping the group before); returns the first
// k left over: 1 if there are fewer than eight, else n/2 + 1. A row pair of the window for one
// frequency holds 12 floats, the real parts of channels 0..5 and then their
// imaginary parts, written as three quads. With MASK set the quads keep what
// they held in the channels from nch on (a lone last channel's partner and
// the channels of a missing third pair).
template <int NP, bool MASK>
QV_INLINE int store_rows(int n, int nch, const float* const (&fr)[3], const float* const (&fi)[3],
                         float* __restrict window) {
  // Channel of every lane of the three vectors of 8 floats that two
  // successive frequencies fill, and the lanes to keep.
  constexpr int lane_channel[3][8] = {{0, 1, 2, 3, 4, 5, 0, 1}, {2, 3, 4, 5, 0, 1, 2, 3}, {4, 5, 0, 1, 2, 3, 4, 5}};
  i8 keep[3];
  for (int v = 0; v < 3; ++v) {
    for (int l = 0; l < 8; ++l) keep[v][l] = lane_channel[v][l] >= nch ? -1 : 0;
  }
  const bool lone = nch % 2 == 1;
  const int nhalf = n / 2;
  for (int kb = 1; nhalf >= 8 && kb <= nhalf; kb += 8) {
    const int k = 1 + int(last_group<8>(kb - 1, nhalf));
    // Real and imaginary parts of channels 2p and 2p + 1, frequencies k..k+7.
    f8 re[6], im[6];
    for (int p = 0; p < 3; ++p) {
      if (p >= NP) {
        re[2 * p] = re[2 * p + 1] = im[2 * p] = im[2 * p + 1] = f8{};
        continue;
      }
      const f8 zkr = load8(fr[p] + k), zki = load8(fi[p] + k);
      if (lone && p == NP - 1) {
        re[2 * p] = zkr;
        im[2 * p] = zki;
        re[2 * p + 1] = im[2 * p + 1] = f8{};
        continue;
      }
      const f8 zmr = reversed8(load8(fr[p] + (n - k - 7))), zmi = reversed8(load8(fi[p] + (n - k - 7)));
      re[2 * p] = (zkr + zmr) / 2;
      im[2 * p] = (zki - zmi) / 2;
      re[2 * p + 1] = (zki + zmi) / 2;
      im[2 * p + 1] = (zmr - zkr) / 2;
    }
    // Neighbouring channels as 64-bit units, (0, 1), (2, 3), (4, 5): lo[]
    // for frequencies k, k+1 (k+4, k+5 in the upper halves), hi[] for k+2, k+3.
    // Units 0..2 are real parts, 3..5 imaginary parts.
    f8 lo[6], hi[6];
    for (int c = 0; c < 3; ++c) {
      lo[c] = __builtin_shufflevector(re[2 * c], re[2 * c + 1], 0, 8, 1, 9, 4, 12, 5, 13);
      hi[c] = __builtin_shufflevector(re[2 * c], re[2 * c + 1], 2, 10, 3, 11, 6, 14, 7, 15);
      lo[3 + c] = __builtin_shufflevector(im[2 * c], im[2 * c + 1], 0, 8, 1, 9, 4, 12, 5, 13);
      hi[3 + c] = __builtin_shufflevector(im[2 * c], im[2 * c + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    // Quad q of a frequency is made of units 2q and 2q + 1. Two successive
    // frequencies fill 24 neighbouring floats, three vectors.
    for (int g = 0; g < 4; g += 2) {
      const f8* u = g == 0 ? lo : hi;
      f8 qa[3], qb[3];  // quads of frequencies k + g and k + g + 1 (k + g + 4 and k + g + 5)
      for (int q = 0; q < 3; ++q) {
        qa[q] = __builtin_shufflevector(u[2 * q], u[2 * q + 1], 0, 1, 8, 9, 4, 5, 12, 13);
        qb[q] = __builtin_shufflevector(u[2 * q], u[2 * q + 1], 2, 3, 10, 11, 6, 7, 14, 15);
      }
      const f8 out[2][3] = {{lower_halves(qa[0], qa[1]), lower_halves(qa[2], qb[0]), lower_halves(qb[1], qb[2])},
                            {upper_halves(qa[0], qa[1]), upper_halves(qa[2], qb[0]), upper_halves(qb[1], qb[2])}};
      for (int h = 0; h < 2; ++h) {
        float* d = window + wre(0, k + g + 4 * h);
        for (int v = 0; v < 3; ++v) {
          f8 x = out[h][v];
          if (MASK) x = keep[v] ? load8(d + 8 * v) : x;
          store8(d + 8 * v, x);
        }
      }
    }
  }
  return nhalf >= 8 ? nhalf + 1 : 1;
}

// The coefficients of two to six channels by rows (store_rows); returns the
// first k left over. One or two channels are left to store_pair entirely.
QV_INLINE int store_rows_of_channels(int n, int nch, const float* const (&fr)[3], const float* const (&fi)[3],
                                     float* __restrict window) {
  switch (nch) {
    case 3: return store_rows<2, true>(n, nch, fr, fi, window);
    case 4: return store_rows<2, true>(n, nch, fr, fi, window);
    case 5: return store_rows<3, true>(n, nch, fr, fi, window);
    case 6: return store_rows<3, false>(n, nch, fr, fi, window);
    default: return 1;
  }
}

// The passes of one complex transform on lanes of eight floats: one
// function, which every transform of the window calls, rather than inlined
// at each of the four places transform_window and chirpz_forward make one.
// Four inlined copies of all the passes made fft_window_avx2 so large that
// GCC gave up its full register allocation for it (beyond about 2^26 used
// pseudo-registers times basic blocks it allocates without a conflict graph
// and without splitting live ranges at loops), and the pass loops then kept
// their array pointers and strides on the stack. On its own the function
// is far below that size; a call per transform costs nothing measurable.
[[gnu::noinline]] __attribute__((target("avx2"))) std::pair<const float*, const float*> avx2_forward(
    int n, const std::array<int, 15>& ifac, int first, float* zr, float* zi, float* sr, float* si, const float* wa) {
  return forward_passes<Avx2Lanes>(n, ifac, first, zr, zi, sr, si, wa);
}

// What the AVX2 build does in groups of eight, for transform_window.
struct Avx2Build {
  QV_INLINE static std::pair<const float*, const float*> forward(int n, const std::array<int, 15>& ifac, int first,
                                                                 float* zr, float* zi, float* sr, float* si,
                                                                 const float* wa) {
    return avx2_forward(n, ifac, first, zr, zi, sr, si, wa);
  }

  template <int NP>
  QV_INLINE static idx_t load_row_groups(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                                         float* const (&zi)[3]) {
    return load_rows_by_eight<NP>(n, window, lone, zr, zi);
  }

  QV_INLINE static int store_row_groups(int n, int nch, const float* const (&fr)[3], const float* const (&fi)[3],
                                        float* __restrict window) {
    return store_rows_of_channels(n, nch, fr, fi, window);
  }

  // When the first pass (radix 2 to 5) has eight i or more, it takes its
  // inputs straight from the window rows.
  static constexpr bool has_window_first_pass = true;
  QV_INLINE static bool first_pass_fits(int n, int ip0) { return ip0 <= 5 && n / ip0 >= 8; }
  QV_INLINE static void first_pass(int n, int ip0, int p, bool lone, const float* window, float* cr, float* ci,
                                   const float* wa) {
    switch (ip0) {
      case 4: first_pass_of_pair<Radix4>(n, p, lone, window, cr, ci, wa); break;
      case 2: first_pass_of_pair<Radix2>(n, p, lone, window, cr, ci, wa); break;
      case 3: first_pass_of_pair<Radix3>(n, p, lone, window, cr, ci, wa); break;
      default: first_pass_of_pair<Radix5>(n, p, lone, window, cr, ci, wa); break;
    }
  }
};

}  // namespace

__attribute__((target("avx2"))) void fft_window_avx2(int n, int nch, float* window, float* z,
                                                     const FftPlan& plan) {
  transform_window<Avx2Build>(n, nch, window, z, plan);
}

}  // namespace qv
#endif
