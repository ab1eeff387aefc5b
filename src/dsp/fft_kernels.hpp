// Internal to the FFT: the transform of one window as templates, included by
// each build of it (fft_portable.cpp, fft_avx2.cpp): vectors of four floats,
// the butterflies of radix 2, 3, 4 and 5 and of a general odd radix,
// the passes and their driver, and the channel pairs taken from the window
// rows and their coefficients written back.
//
// transform_window<Build> is the whole transform; the build type (see
// fft_portable.cpp and fft_avx2.cpp) says which butterflies, window rows and
// coefficients it takes in groups, with vectors of eight floats or plain
// loops that the compiler vectorises as far as the instruction set of the
// build allows. Everything it calls is inlined into it and has internal
// linkage, so that each build uses its own instruction set throughout and the
// linker cannot swap code of one build into another. No build fuses
// multiplications with additions, and every vector lane does the same
// single-precision operations on the same operands as the plain one-value
// code, so all builds give the same results to the bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <utility>

#include "common/limits.hpp"
#include "dsp/fft.hpp"
#include "dsp/fft_builds.hpp"

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

// The passes work on split complex sequences: real parts in one array,
// imaginary parts in another, so that the butterflies of neighbouring
// elements run side by side in vector registers.
//
// A pass of radix ip with l1 = product of the factors already applied and
// ido = n / (l1 * ip) reads element (i, j, k) of the input at
// i + ido * (j + ip * k) and writes element (i, k, j) of the output at
// i + ido * (k + l1 * j) (i < ido, j < ip, k < l1): the self-sorting
// (Stockham) arrangement, so the last pass leaves the spectrum in natural
// order. Output j of a butterfly is multiplied by the conjugate of the twiddle
// factor exp(+i * i * j * l1 * 2 pi / n), which the set-up stores for each j
// as ido cosines followed by ido sines.

// Radix 2: X0 = x0 + x1, X1 = x0 - x1.
struct Radix2 {
  static constexpr int ip = 2;
  template <class T>
  QV_INLINE void operator()(const T* xr, const T* xi, T* yr, T* yi) const {
    yr[0] = xr[0] + xr[1];
    yi[0] = xi[0] + xi[1];
    yr[1] = xr[0] - xr[1];
    yi[1] = xi[0] - xi[1];
  }
};

// Radix 3: with omega = exp(-2 pi i / 3) = -1/2 - i sqrt(3)/2,
// X1 = x0 - (x1 + x2)/2 - i sqrt(3)/2 (x1 - x2), X2 its mirror.
struct Radix3 {
  static constexpr int ip = 3;
  static constexpr float taur = -0.5f;
  static constexpr float taui = -0.866025388f;
  template <class T>
  QV_INLINE void operator()(const T* xr, const T* xi, T* yr, T* yi) const {
    const T tr2 = xr[1] + xr[2];
    const T cr2 = xr[0] + taur * tr2;
    yr[0] = xr[0] + tr2;
    const T ti2 = xi[1] + xi[2];
    const T ci2 = xi[0] + taur * ti2;
    yi[0] = xi[0] + ti2;
    const T cr3 = taui * (xr[1] - xr[2]);
    const T ci3 = taui * (xi[1] - xi[2]);
    yr[1] = cr2 - ci3;
    yr[2] = cr2 + ci3;
    yi[1] = ci2 + cr3;
    yi[2] = ci2 - cr3;
  }
};

// Radix 4: X0 = (x0 + x2) + (x1 + x3), X2 = (x0 + x2) - (x1 + x3),
// X1 = (x0 - x2) - i (x1 - x3), X3 = (x0 - x2) + i (x1 - x3).
struct Radix4 {
  static constexpr int ip = 4;
  template <class T>
  QV_INLINE void operator()(const T* xr, const T* xi, T* yr, T* yi) const {
    const T ti1 = xi[0] - xi[2], ti2 = xi[0] + xi[2], ti3 = xi[1] + xi[3], tr4 = xi[1] - xi[3];
    const T tr1 = xr[0] - xr[2], tr2 = xr[0] + xr[2], ti4 = xr[3] - xr[1], tr3 = xr[1] + xr[3];
    yr[0] = tr2 + tr3;
    yi[0] = ti2 + ti3;
    yr[2] = tr2 - tr3;
    yi[2] = ti2 - ti3;
    yr[1] = tr1 + tr4;
    yr[3] = tr1 - tr4;
    yi[1] = ti1 + ti4;
    yi[3] = ti1 - ti4;
  }
};

// Radix 5 with the single-precision cos 72, -sin 72, cos 144, -sin 144:
// X1 = x0 + cos72 (x1 + x4) + cos144 (x2 + x3) - i (sin72 (x1 - x4) + sin144 (x2 - x3)),
// X2 = x0 + cos144 (x1 + x4) + cos72 (x2 + x3) - i (sin144 (x1 - x4) - sin72 (x2 - x3)),
// X3 and X4 their mirrors.
struct Radix5 {
  static constexpr int ip = 5;
  static constexpr float tr11 = 0.309017003f;
  static constexpr float ti11 = -0.95105654f;
  static constexpr float tr12 = -0.809017003f;
  static constexpr float ti12 = -0.587785244f;
  template <class T>
  QV_INLINE void operator()(const T* xr, const T* xi, T* yr, T* yi) const {
    const T ti5 = xi[1] - xi[4], ti2 = xi[1] + xi[4], ti4 = xi[2] - xi[3], ti3 = xi[2] + xi[3];
    const T tr5 = xr[1] - xr[4], tr2 = xr[1] + xr[4], tr4 = xr[2] - xr[3], tr3 = xr[2] + xr[3];
    yr[0] = xr[0] + tr2 + tr3;
    yi[0] = xi[0] + ti2 + ti3;
    const T cr2 = xr[0] + tr11 * tr2 + tr12 * tr3;
    const T ci2 = xi[0] + tr11 * ti2 + tr12 * ti3;
    const T cr3 = xr[0] + tr12 * tr2 + tr11 * tr3;
    const T ci3 = xi[0] + tr12 * ti2 + tr11 * ti3;
    const T cr5 = ti11 * tr5 + ti12 * tr4;
    const T ci5 = ti11 * ti5 + ti12 * ti4;
    const T cr4 = ti12 * tr5 - ti11 * tr4;
    const T ci4 = ti12 * ti5 - ti11 * ti4;
    yr[2] = cr3 - ci4;
    yr[3] = cr3 + ci4;
    yi[2] = ci3 + cr4;
    yi[3] = ci3 - cr4;
    yr[4] = cr2 + ci5;
    yr[1] = cr2 - ci5;
    yi[4] = ci2 - cr5;
    yi[1] = ci2 + cr5;
  }
};

// Butterflies (i, k) for i in [i0, i1), k in [k0, k1) one at a time.
// IDO > 0 fixes ido at compile time, so that the short inner loops of the
// last passes are laid out in full and can be vectorised by the compiler.
template <class B, int IDO>
QV_INLINE void scalar_butterflies(idx_t ido_rt, idx_t l1, idx_t i0, idx_t i1, idx_t k0, idx_t k1,
                                  const float* __restrict ar, const float* __restrict ai, float* __restrict cr,
                                  float* __restrict ci, const float* __restrict wa) {
  constexpr int ip = B::ip;
  const idx_t ido = IDO > 0 ? IDO : ido_rt;
  const idx_t so = ido * l1;
  for (idx_t k = k0; k < k1; ++k) {
    const float* a0r = ar + ip * ido * k;
    const float* a0i = ai + ip * ido * k;
    float* c0r = cr + ido * k;
    float* c0i = ci + ido * k;
#pragma GCC ivdep
    for (idx_t i = i0; i < i1; ++i) {
      float xr[ip], xi[ip], yr[ip], yi[ip];
#pragma GCC unroll 8
      for (int j = 0; j < ip; ++j) {
        xr[j] = a0r[i + j * ido];
        xi[j] = a0i[i + j * ido];
      }
      B{}(xr, xi, yr, yi);
      c0r[i] = yr[0];
      c0i[i] = yi[0];
      if (ido == 1) {
#pragma GCC unroll 8
        for (int j = 1; j < ip; ++j) {
          c0r[i + j * so] = yr[j];
          c0i[i + j * so] = yi[j];
        }
        continue;
      }
#pragma GCC unroll 8
      for (int j = 1; j < ip; ++j) {
        const float wr = wa[(2 * j - 2) * ido + i];
        const float wi = wa[(2 * j - 1) * ido + i];
        c0r[i + j * so] = wr * yr[j] + wi * yi[j];
        c0i[i + j * so] = wr * yi[j] - wi * yr[j];
      }
    }
  }
}

// One pass of radix B::ip. IDO > 0 fixes ido at compile time for the short
// last passes; IDO = 0 takes it from ido_rt. The build does what butterflies
// it can in groups, the rest go one at a time.
template <class B, int IDO, class Build>
QV_INLINE void radix_pass(int ido_rt, int l1, const float* __restrict ar, const float* __restrict ai,
                          float* __restrict cr, float* __restrict ci, const float* __restrict wa) {
  const idx_t ido = IDO > 0 ? IDO : ido_rt;
  idx_t k_done = 0;  // butterflies with k < k_done are done (all i), or
  idx_t i_done = 0;  // those with i < i_done (all k); never both
  Build::template butterfly_groups<B, IDO>(ido, l1, ar, ai, cr, ci, wa, k_done, i_done);
  // The rest: either i from i_done for all k, or k from k_done for all i.
  scalar_butterflies<B, IDO>(ido, l1, i_done, ido, k_done, l1, ar, ai, cr, ci, wa);
}

template <class B, class Build>
QV_INLINE void radix_dispatch(int ido, int l1, const float* ar, const float* ai, float* cr, float* ci,
                              const float* wa) {
  switch (ido) {
    case 1: radix_pass<B, 1, Build>(ido, l1, ar, ai, cr, ci, wa); break;
    case 3: radix_pass<B, 3, Build>(ido, l1, ar, ai, cr, ci, wa); break;
    case 4: radix_pass<B, 4, Build>(ido, l1, ar, ai, cr, ci, wa); break;
    case 5: radix_pass<B, 5, Build>(ido, l1, ar, ai, cr, ci, wa); break;
    default: radix_pass<B, 0, Build>(ido, l1, ar, ai, cr, ci, wa); break;
  }
}

// General odd radix ip (a prime of 7 or more). With S_j = x_j + x_(ip-j) and
// D_j = x_j - x_(ip-j), output l is X_l = x_0 + sum_j cos(2 pi l j / ip) S_j
// - i sum_j sin(2 pi l j / ip) D_j, j = 1..(ip-1)/2. The cosines and sines of
// 2 pi m / ip are the first pair of the twiddle block of m, which the set-up
// fills for these passes. Works through the output array and, when ido > 1,
// ends in the input array; returns true when the result lies in the output
// array (c), false when it lies in the input array (a).
QV_INLINE bool passg(int ip, int ido, int l1, float* __restrict ar, float* __restrict ai, float* __restrict cr,
                     float* __restrict ci, const float* __restrict wa) {
  const idx_t idl1 = idx_t(ido) * l1;
  const int ipph = (ip + 1) / 2;
  auto wr = [&](int m) { return wa + 2 * idx_t(ido) * (m - 1); };
  auto wi = [&](int m) { return wa + 2 * idx_t(ido) * (m - 1) + ido; };

  // Symmetric sums and differences, into c in the output arrangement.
  for (idx_t k = 0; k < l1; ++k) {
    const float* xr = ar + idx_t(ip) * ido * k;
    const float* xi = ai + idx_t(ip) * ido * k;
    float* yr = cr + ido * k;
    float* yi = ci + ido * k;
    for (idx_t i = 0; i < ido; ++i) {
      yr[i] = xr[i];
      yi[i] = xi[i];
    }
    for (int j = 1; j < ipph; ++j) {
      const int jc = ip - j;
      const float* xjr = xr + idx_t(j) * ido;
      const float* xji = xi + idx_t(j) * ido;
      const float* xcr = xr + idx_t(jc) * ido;
      const float* xci = xi + idx_t(jc) * ido;
      float* sr = yr + j * idl1;
      float* si = yi + j * idl1;
      float* dr = yr + jc * idl1;
      float* di = yi + jc * idl1;
#pragma GCC ivdep
      for (idx_t i = 0; i < ido; ++i) {
        sr[i] = xjr[i] + xcr[i];
        si[i] = xji[i] + xci[i];
        dr[i] = xjr[i] - xcr[i];
        di[i] = xji[i] - xci[i];
      }
    }
  }

  // Cosine sums into row l of a, sine sums into row ip - l, as rows of idl1.
  for (int l = 1; l < ipph; ++l) {
    const int lc = ip - l;
    float* pr = ar + l * idl1;
    float* pi = ai + l * idl1;
    float* qr = ar + lc * idl1;
    float* qi = ai + lc * idl1;
    {
      const float war = wr(l)[0];
      const float wai = wi(l)[0];
      const float* s0r = cr;
      const float* s0i = ci;
      const float* s1r = cr + idl1;
      const float* s1i = ci + idl1;
      const float* d1r = cr + (ip - 1) * idl1;
      const float* d1i = ci + (ip - 1) * idl1;
#pragma GCC ivdep
      for (idx_t ik = 0; ik < idl1; ++ik) {
        pr[ik] = s0r[ik] + war * s1r[ik];
        pi[ik] = s0i[ik] + war * s1i[ik];
        qr[ik] = -wai * d1r[ik];
        qi[ik] = -wai * d1i[ik];
      }
    }
    int m = l;
    for (int j = 2; j < ipph; ++j) {
      const int jc = ip - j;
      m += l;
      if (m >= ip) m -= ip;
      const float war = wr(m)[0];
      const float wai = wi(m)[0];
      const float* sjr = cr + j * idl1;
      const float* sji = ci + j * idl1;
      const float* djr = cr + jc * idl1;
      const float* dji = ci + jc * idl1;
#pragma GCC ivdep
      for (idx_t ik = 0; ik < idl1; ++ik) {
        pr[ik] = pr[ik] + war * sjr[ik];
        pi[ik] = pi[ik] + war * sji[ik];
        qr[ik] = qr[ik] - wai * djr[ik];
        qi[ik] = qi[ik] - wai * dji[ik];
      }
    }
  }

  // The zero-frequency output: x_0 plus all symmetric sums, in order.
  for (int j = 1; j < ipph; ++j) {
    const float* sjr = cr + j * idl1;
    const float* sji = ci + j * idl1;
#pragma GCC ivdep
    for (idx_t ik = 0; ik < idl1; ++ik) {
      cr[ik] = cr[ik] + sjr[ik];
      ci[ik] = ci[ik] + sji[ik];
    }
  }

  // X_l = P_l + i Q_l and X_(ip-l) = P_l - i Q_l.
  for (int j = 1; j < ipph; ++j) {
    const int jc = ip - j;
    const float* pr = ar + j * idl1;
    const float* pi = ai + j * idl1;
    const float* qr = ar + jc * idl1;
    const float* qi = ai + jc * idl1;
    float* xr = cr + j * idl1;
    float* xi = ci + j * idl1;
    float* yr = cr + jc * idl1;
    float* yi = ci + jc * idl1;
#pragma GCC ivdep
    for (idx_t ik = 0; ik < idl1; ++ik) {
      xr[ik] = pr[ik] - qi[ik];
      yr[ik] = pr[ik] + qi[ik];
      xi[ik] = pi[ik] + qr[ik];
      yi[ik] = pi[ik] - qr[ik];
    }
  }
  if (ido == 1) return true;

  // Twiddle factors, back into a in the output arrangement; element i = 0
  // has the factor 1 and is copied.
  for (idx_t ik = 0; ik < idl1; ++ik) {
    ar[ik] = cr[ik];
    ai[ik] = ci[ik];
  }
  for (int j = 1; j < ip; ++j) {
    const float* w1r = wr(j);
    const float* w1i = wi(j);
    for (idx_t k = 0; k < l1; ++k) {
      const float* yr = cr + j * idl1 + ido * k;
      const float* yi = ci + j * idl1 + ido * k;
      float* xr = ar + j * idl1 + ido * k;
      float* xi = ai + j * idl1 + ido * k;
      xr[0] = yr[0];
      xi[0] = yi[0];
#pragma GCC ivdep
      for (idx_t i = 1; i < ido; ++i) {
        xr[i] = w1r[i] * yr[i] + w1i[i] * yi[i];
        xi[i] = w1r[i] * yi[i] - w1i[i] * yr[i];
      }
    }
  }
  return false;
}

// Complex forward transform of the split sequence (zr, zi) of n values from
// pass `first` on, using (sr, si) as the second array of the passes. Returns
// the arrays holding the result, which may be either pair.
template <class Build>
QV_INLINE std::pair<const float*, const float*> forward(int n, const std::array<int, 15>& ifac, int first, float* zr,
                                                        float* zi, float* sr, float* si, const float* wa) {
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
      case 4: radix_dispatch<Radix4, Build>(ido, l1, ar, ai, cr, ci, wa); break;
      case 2: radix_dispatch<Radix2, Build>(ido, l1, ar, ai, cr, ci, wa); break;
      case 3: radix_dispatch<Radix3, Build>(ido, l1, ar, ai, cr, ci, wa); break;
      case 5: radix_dispatch<Radix5, Build>(ido, l1, ar, ai, cr, ci, wa); break;
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
  if constexpr (Build::has_window_first_pass) {
    // Where the build can, the first pass takes its inputs from the window
    // rows, and the sequences are never stored as such.
    if (Build::first_pass_fits(n, plan)) {
      for (int p = 0; p < np; ++p) {
        const PairArrays pa = pair_arrays(z, n, p);
        Build::first_pass(n, p, lone && p == np - 1, window, pa.sr, pa.si, plan);
        std::tie(fr[p], fi[p]) = forward<Build>(n, plan.ifac, 1, pa.sr, pa.si, pa.zr, pa.zi, plan.wsave.data());
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
    std::tie(fr[p], fi[p]) = forward<Build>(n, plan.ifac, 0, pa.zr, pa.zi, pa.sr, pa.si, plan.wsave.data());
  }
  store_channels<Build>(n, nch, fr, fi, window);
}

}  // namespace
}  // namespace qv
