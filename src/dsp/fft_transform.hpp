// Internal to the FFT: the transform of one window, shared by its builds
// (fft_portable.cpp, fft_avx2.cpp) as templates over a build type: the passes
// in the order of the plan, the channel pairs taken from the window rows and
// their coefficients written back, and the vectors of four floats both builds
// use. transform_window<Build> is the whole transform.
//
// A build type says, in always-inlined static members, what the build does
// in groups; the rest is done here one at a time:
//   forward(n, ifac, first, zr, zi, sr, si, wa): a complex transform from
//     pass `first` on (forward_passes on the build's lane type, see
//     fft_passes.hpp), returning the arrays that hold the result;
//   load_row_groups<NP>(n, window, lone, zr, zi): window rows 0..t-1 into the
//     NP pairs (see load_rows), returning t;
//   store_row_groups(n, nch, fr, fi, window): the coefficients of k < k0 of
//     all channels (see store_channels), returning k0;
//   has_window_first_pass: whether the build can take the first pass straight
//     from the window rows. If so, first_pass_fits(n, ip0) tells whether it
//     does for a first pass of radix ip0, and first_pass(n, ip0, p, lone,
//     window, cr, ci, wa) makes it for pair p into (cr, ci).
//
// Everything here, in fft_passes.hpp and in fft_butterflies.hpp has internal
// linkage and is inlined into the entry function of each build, or for the
// passes into a function of the build's own (see avx2_forward), so that each
// build uses its own instruction set throughout and the linker cannot swap
// code of one build into another. No build fuses multiplications with
// additions, and every vector lane does the same single-precision operations
// on the same operands as the plain one-value code, so all builds give the
// same results to the bit.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <utility>

#include "common/limits.hpp"
#include "dsp/fft.hpp"
#include "dsp/fft_builds.hpp"
#include "dsp/fft_butterflies.hpp"
#include "dsp/fft_passes.hpp"

namespace qv {
namespace {

// Vectors of four floats (GCC and Clang vector extensions), for both builds.
// The shuffles only move values; arithmetic on the vectors is elementwise.
#if defined(__GNUC__)
#define QV_SIMD 1
using f4 = float __attribute__((vector_size(16)));
using d2 = double __attribute__((vector_size(16)));

QV_INLINE f4 load4(const float* p) {
  f4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
QV_INLINE void store4(float* p, f4 v) { std::memcpy(p, &v, sizeof v); }
QV_INLINE f4 reversed(f4 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }
// Two 64-bit units of two floats each, from p0 and p1, as (p0[0], p0[1], p1[0], p1[1]).
QV_INLINE f4 load_units(const float* p0, const float* p1) {
  double u0, u1;
  std::memcpy(&u0, p0, sizeof u0);
  std::memcpy(&u1, p1, sizeof u1);
  return reinterpret_cast<f4>(d2{u0, u1});
}
// Lanes 0, 1 of v to p0[0], p0[1] and lanes 2, 3 to p1[0], p1[1], as two
// 64-bit units.
QV_INLINE void store_units(float* p0, float* p1, f4 v) {
  const d2 u = reinterpret_cast<d2>(v);
  const double u0 = u[0], u1 = u[1];
  std::memcpy(p0, &u0, sizeof u0);
  std::memcpy(p1, &u1, sizeof u1);
}
#else
#define QV_SIMD 0
#endif

// Complex forward transform of the split sequence (zr, zi) of n values from
// pass `first` on, using (sr, si) as the second array of the passes, with
// the radix 2 to 5 passes on lanes of L. Returns the arrays holding the
// result, which may be either pair.
template <class L>
QV_INLINE std::pair<const float*, const float*> forward_passes(int n, const std::array<int, 15>& ifac, int first,
                                                               float* zr, float* zi, float* sr, float* si,
                                                               const float* wa) {
  float* ar = zr;
  float* ai = zi;
  float* cr = sr;
  float* ci = si;
  const int nf = ifac[1];
  int l1 = 1;
  for (int q = 0; q < first; ++q) {  // passes already made
    const int ip = ifac[q + 2];
    wa += 2 * idx_t(ip - 1) * (n / (l1 * ip));
    l1 *= ip;
  }
  for (int q = first; q < nf; ++q) {
    const int ip = ifac[q + 2];
    const int l2 = l1 * ip;
    const int ido = n / l2;
    bool swap = true;
    switch (ip) {
      case 4: radix_dispatch<L, Radix4>(ido, l1, ar, ai, cr, ci, wa); break;
      case 2: radix_dispatch<L, Radix2>(ido, l1, ar, ai, cr, ci, wa); break;
      case 3: radix_dispatch<L, Radix3>(ido, l1, ar, ai, cr, ci, wa); break;
      case 5: radix_dispatch<L, Radix5>(ido, l1, ar, ai, cr, ci, wa); break;
      default: swap = passg(ip, ido, l1, ar, ai, cr, ci, wa); break;
    }
    if (swap) {
      std::swap(ar, cr);
      std::swap(ai, ci);
    }
    wa += 2 * idx_t(ip - 1) * ido;
    l1 = l2;
  }
  return {ar, ai};
}

// Channels 2p and 2p + 1 of the window rows into the real and imaginary parts
// of pair p, for the np pairs in use. A lone last channel (lone) gets zero
// imaginary parts. The build loads what rows it can in groups, the rest go
// one at a time.
template <int NP, class Build>
QV_INLINE void load_rows(int n, const float* __restrict window, bool lone, float* const (&zr)[3],
                         float* const (&zi)[3]) {
  for (idx_t t = Build::template load_row_groups<NP>(n, window, lone, zr, zi); t < n; ++t) {
    for (int p = 0; p < NP; ++p) {
      zr[p][t] = window[widx(2 * p, t)];
      zi[p][t] = lone && p == NP - 1 ? 0.0f : window[widx(2 * p + 1, t)];
    }
  }
}

template <class Build>
QV_INLINE void load_channels(int n, int np, const float* __restrict window, bool lone,
                             float* const (&zr)[3], float* const (&zi)[3]) {
  switch (np) {
    case 1: load_rows<1, Build>(n, window, lone, zr, zi); break;
    case 2: load_rows<2, Build>(n, window, lone, zr, zi); break;
    default: load_rows<3, Build>(n, window, lone, zr, zi); break;
  }
}

// Separates the transform Z of the pair (a, a + 1) into the coefficients of
// both channels, k = k0..n/2, and writes them to the window.
QV_INLINE void store_pair(int n, int k0, const float* __restrict fr, const float* __restrict fi,
                          float* __restrict window, int a) {
  const int nhalf = n / 2;
  int k = k0;
#if QV_SIMD
  // Four frequencies at a time; Z(n - k) is read backwards. The two
  // channels' values of one frequency are neighbours in the window and go
  // out as one 64-bit unit.
  for (; k + 3 <= nhalf; k += 4) {
    const f4 zkr = load4(fr + k), zki = load4(fi + k);
    const f4 zmr = reversed(load4(fr + (n - k - 3))), zmi = reversed(load4(fi + (n - k - 3)));
    const f4 rea = (zkr + zmr) / 2;
    const f4 ima = (zki - zmi) / 2;
    const f4 reb = (zki + zmi) / 2;
    const f4 imb = (zmr - zkr) / 2;
    const f4 re01 = __builtin_shufflevector(rea, reb, 0, 4, 1, 5);
    const f4 re23 = __builtin_shufflevector(rea, reb, 2, 6, 3, 7);
    const f4 im01 = __builtin_shufflevector(ima, imb, 0, 4, 1, 5);
    const f4 im23 = __builtin_shufflevector(ima, imb, 2, 6, 3, 7);
    store_units(window + wre(a, k), window + wre(a, k + 1), re01);
    store_units(window + wre(a, k + 2), window + wre(a, k + 3), re23);
    store_units(window + wim(a, k), window + wim(a, k + 1), im01);
    store_units(window + wim(a, k + 2), window + wim(a, k + 3), im23);
  }
#endif
  for (; k <= nhalf; ++k) {
    const float zkr = fr[k], zki = fi[k];
    const float zmr = fr[n - k], zmi = fi[n - k];
    float* re = window + wre(a, k);
    float* im = window + wim(a, k);
    re[0] = (zkr + zmr) / 2;
    im[0] = (zki - zmi) / 2;
    re[1] = (zki + zmi) / 2;
    im[1] = (zmr - zkr) / 2;
  }
}

// A lone channel takes its coefficients straight from Z.
QV_INLINE void store_single(int n, int k0, const float* __restrict fr, const float* __restrict fi,
                            float* __restrict window, int a) {
  const int nhalf = n / 2;
  for (int k = k0; k <= nhalf; ++k) {
    window[wre(a, k)] = fr[k];
    window[wim(a, k)] = fi[k];
  }
}

// Coefficients of all pairs into the window: what frequencies the build
// stores by rows, then the rest pair by pair.
template <class Build>
QV_INLINE void store_channels(int n, int nch, const float* const (&fr)[3], const float* const (&fi)[3],
                              float* __restrict window) {
  const int np = (nch + 1) / 2;
  const int k0 = Build::store_row_groups(n, nch, fr, fi, window);
  for (int p = 0; p < np; ++p) {
    if (2 * p + 1 < nch) {
      store_pair(n, k0, fr[p], fi[p], window, 2 * p);
    } else {
      store_single(n, k0, fr[p], fi[p], window, 2 * p);
    }
  }
}

// x(t) times conj w(t), in place, t < count.
QV_INLINE void times_conj(idx_t count, float* __restrict xr, float* __restrict xi, const float* __restrict wr,
                          const float* __restrict wi) {
#pragma GCC ivdep
  for (idx_t t = 0; t < count; ++t) {
    const float ur = xr[t], ui = xi[t];
    xr[t] = ur * wr[t] + ui * wi[t];
    xi[t] = ui * wr[t] - ur * wi[t];
  }
}

// conj(x(t) w(t)), in place, t < count.
QV_INLINE void conj_of_product(idx_t count, float* __restrict xr, float* __restrict xi, const float* __restrict wr,
                               const float* __restrict wi) {
#pragma GCC ivdep
  for (idx_t t = 0; t < count; ++t) {
    const float ur = xr[t], ui = xi[t];
    xr[t] = ur * wr[t] - ui * wi[t];
    xi[t] = -(ur * wi[t] + ui * wr[t]);
  }
}

// The complex DFT Z of the n values (zr, zi) by the chirp-z method, with
// b(t) = exp(i pi t^2 / n): a(t) = z(t) conj b(t), zero from n to m; A its
// transform; G the transform of conj(A F), F the transform of b divided by m
// (the plan's filter), so that conj G is the circular convolution of a with
// b; and Z(k) = conj b(k) conj G(k). Both inverse steps are forward passes
// on conjugates. (zr, zi) and (sr, si) hold m values each and are both
// overwritten; returns the arrays whose first n values hold Z.
template <class Build>
QV_INLINE std::pair<const float*, const float*> chirpz_forward(int n, const ChirpZ& cz, float* zr, float* zi,
                                                               float* sr, float* si) {
  const int m = cz.m;
  const float* br = cz.chirp.data();
  const float* bi = br + n;
  times_conj(n, zr, zi, br, bi);
  std::fill(zr + n, zr + m, 0.0f);
  std::fill(zi + n, zi + m, 0.0f);
  // The passes leave their result in either pair of arrays; the products go
  // back in place and the next transform runs from there.
  const bool a_in_z = Build::forward(m, cz.ifac, 0, zr, zi, sr, si, cz.wsave.data()).first == zr;
  float* ar = a_in_z ? zr : sr;
  float* ai = a_in_z ? zi : si;
  float* tr = a_in_z ? sr : zr;
  float* ti = a_in_z ? si : zi;
  conj_of_product(m, ar, ai, cz.filter.data(), cz.filter.data() + m);
  const bool g_in_a = Build::forward(m, cz.ifac, 0, ar, ai, tr, ti, cz.wsave.data()).first == ar;
  float* gr = g_in_a ? ar : tr;
  float* gi = g_in_a ? ai : ti;
  conj_of_product(n, gr, gi, br, bi);
  return {gr, gi};
}

// The transform of one window, all steps inlined into it, with the groups of
// the build (see the build types in fft_portable.cpp and fft_avx2.cpp).
template <class Build>
QV_INLINE void transform_window(int n, int nch, float* window, float* z, const FftPlan& plan) {
  // Two real channels a, b go through one complex transform of z = x_a + i x_b;
  // since x_a and x_b are real, F_a(k) = (Z(k) + conj Z(n-k)) / 2 and
  // F_b(k) = (Z(k) - conj Z(n-k)) / 2i.
  const int np = (nch + 1) / 2;
  const bool lone = nch % 2 == 1;
  const float* fr[3] = {};
  const float* fi[3] = {};
  if (plan.chirpz.m > 0) {
    // The pairs as always, each complex transform by chirp-z in arrays of
    // the convolution length.
    const int m = plan.chirpz.m;
    float* zr[3] = {};
    float* zi[3] = {};
    for (int p = 0; p < np; ++p) {
      const PairArrays pa = pair_arrays(z, m, p);
      zr[p] = pa.zr;
      zi[p] = pa.zi;
    }
    load_channels<Build>(n, np, window, lone, zr, zi);
    for (int p = 0; p < np; ++p) {
      const PairArrays pa = pair_arrays(z, m, p);
      std::tie(fr[p], fi[p]) = chirpz_forward<Build>(n, plan.chirpz, pa.zr, pa.zi, pa.sr, pa.si);
    }
    store_channels<Build>(n, nch, fr, fi, window);
    return;
  }
  if constexpr (Build::has_window_first_pass) {
    // Where the build can, the first pass takes its inputs from the window
    // rows, and the sequences are never stored as such.
    const int ip0 = plan.ifac[2];  // radix of the first pass, read once for all pairs
    if (Build::first_pass_fits(n, ip0)) {
      for (int p = 0; p < np; ++p) {
        const PairArrays pa = pair_arrays(z, n, p);
        Build::first_pass(n, ip0, p, lone && p == np - 1, window, pa.sr, pa.si, plan.wsave.data());
        std::tie(fr[p], fi[p]) = Build::forward(n, plan.ifac, 1, pa.sr, pa.si, pa.zr, pa.zi, plan.wsave.data());
      }
      store_channels<Build>(n, nch, fr, fi, window);
      return;
    }
  }
  float* zr[3] = {};
  float* zi[3] = {};
  for (int p = 0; p < np; ++p) {
    const PairArrays pa = pair_arrays(z, n, p);
    zr[p] = pa.zr;
    zi[p] = pa.zi;
  }
  load_channels<Build>(n, np, window, lone, zr, zi);
  for (int p = 0; p < np; ++p) {
    const PairArrays pa = pair_arrays(z, n, p);
    std::tie(fr[p], fi[p]) = Build::forward(n, plan.ifac, 0, pa.zr, pa.zi, pa.sr, pa.si, plan.wsave.data());
  }
  store_channels<Build>(n, nch, fr, fi, window);
}

}  // namespace
}  // namespace qv
