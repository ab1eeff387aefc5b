// Internal to the FFT: the butterflies of both builds. Radix 2, 3, 4 and 5 as
// templates over the value (one float or a vector of them; their passes are
// in fft_passes.hpp), and the pass of a general odd radix. Always inlined,
// with internal linkage, for the reason given in fft_transform.hpp.
#pragma once

#include "dsp/fft_builds.hpp"

namespace qv {
namespace {

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

// General odd radix ip (a prime of 7 or more). With S_j = x_j + x_(ip-j) and
// D_j = x_j - x_(ip-j), output l is X_l = x_0 + sum_j cos(2 pi l j / ip) S_j
// - i sum_j sin(2 pi l j / ip) D_j, j = 1..(ip-1)/2. The cosines and sines of
// 2 pi m / ip are the first pair of the twiddle block of m, which the set-up
// fills for these passes. The steps below work through the output array
// and, when ido > 1, end in the input array (passg).

// Symmetric sums S_j and differences D_j, into c in the output arrangement
// (rows of idl1 = ido l1: row 0 x_0, row j S_j, row ip - j D_j).
QV_INLINE void passg_sums(int ip, idx_t ido, idx_t l1, const float* __restrict ar, const float* __restrict ai,
                          float* __restrict cr, float* __restrict ci) {
  const idx_t idl1 = ido * l1;
  const int ipph = (ip + 1) / 2;
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
}

// Cosine sums P_l into row l of a, sine sums Q_l into row ip - l, from the
// sums and differences in c; the cosine and sine of 2 pi m / ip are
// wr(m)[0] and wi(m)[0].
template <class Wr, class Wi>
QV_INLINE void passg_rotations(int ip, idx_t idl1, float* __restrict ar, float* __restrict ai,
                               const float* __restrict cr, const float* __restrict ci, Wr wr, Wi wi) {
  const int ipph = (ip + 1) / 2;
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
}

// The zero-frequency output (x_0 plus all symmetric sums, in order) in row
// 0 of c, then X_l = P_l + i Q_l and X_(ip-l) = P_l - i Q_l in rows l and
// ip - l.
QV_INLINE void passg_outputs(int ip, idx_t idl1, const float* __restrict ar, const float* __restrict ai,
                             float* __restrict cr, float* __restrict ci) {
  const int ipph = (ip + 1) / 2;
  for (int j = 1; j < ipph; ++j) {
    const float* sjr = cr + j * idl1;
    const float* sji = ci + j * idl1;
#pragma GCC ivdep
    for (idx_t ik = 0; ik < idl1; ++ik) {
      cr[ik] = cr[ik] + sjr[ik];
      ci[ik] = ci[ik] + sji[ik];
    }
  }
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
}

// The twiddle factors, back into a in the output arrangement; element
// i = 0 has the factor 1 and is copied.
template <class Wr, class Wi>
QV_INLINE void passg_twiddles(int ip, idx_t ido, idx_t l1, float* __restrict ar, float* __restrict ai,
                              const float* __restrict cr, const float* __restrict ci, Wr wr, Wi wi) {
  const idx_t idl1 = ido * l1;
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
}

// The whole pass: returns true when the result lies in the output array
// (c), false when it lies in the input array (a).
QV_INLINE bool passg(int ip, int ido, int l1, float* __restrict ar, float* __restrict ai, float* __restrict cr,
                     float* __restrict ci, const float* __restrict wa) {
  const idx_t idl1 = idx_t(ido) * l1;
  auto wr = [&](int m) { return wa + 2 * idx_t(ido) * (m - 1); };
  auto wi = [&](int m) { return wa + 2 * idx_t(ido) * (m - 1) + ido; };
  passg_sums(ip, ido, l1, ar, ai, cr, ci);
  passg_rotations(ip, idl1, ar, ai, cr, ci, wr, wi);
  passg_outputs(ip, idl1, ar, ai, cr, ci);
  if (ido == 1) return true;
  passg_twiddles(ip, ido, l1, ar, ai, cr, ci, wr, wi);
  return false;
}

}  // namespace
}  // namespace qv
