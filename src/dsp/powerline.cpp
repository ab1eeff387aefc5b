#include "dsp/powerline.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "common/math_constants.hpp"
#include "dsp/row_vectors.hpp"

namespace qv {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The loops over the rows of a segment run in vector registers; on machines
// with AVX2 a second build of them may take four doubles at a time. Vector
// lanes do the same IEEE operations as scalar code (no fused multiply-add),
// so both builds give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QV_VECTOR_CLONES
#endif

// Powerline periods per segment by the rounded sampling rate: short segments
// follow the disturbance closely, but a segment needs enough samples for the
// fit; the rates of common loggers have their own choice.
int periods_per_segment(float rate) {
  const float r = rate + 0.5f;
  if (!(r < 2147483648.0f)) return 3;
  const int R = static_cast<int>(r);
  if (R == 4000) return 3;
  if (R == 250) return 12;
  if (R == 10000) return 5;
  return R < 20000 ? 6 : 3;
}

// Number of harmonics below the Nyquist frequency, at most 28. When the
// sampling rate is an even multiple of the powerline frequency, the count
// (0.5 / dt) / fpl reaches a harmonic on the Nyquist frequency itself: its
// sine vanishes at every sample, the fit becomes nearly singular and its
// corrections destroy the data (200 samples/s with 50 Hz mains). That
// harmonic is left out: it cannot be told apart from a constant alternation.
int harmonics(float fpl, float dt) {
  const float k = (0.5f / dt) / fpl;
  int K = 0;
  if (!(k < static_cast<float>(powerline_harmonics_max))) K = powerline_harmonics_max;
  else if (k > 0) K = static_cast<int>(k);
  const double nyquist = 0.5 / static_cast<double>(dt);
  while (K > 0 && std::fabs(K * static_cast<double>(fpl) - nyquist) <= 1.0e-6 * nyquist) --K;
  return K;
}

std::size_t packed(int a, int b) { return static_cast<std::size_t>(a) * (a + 1) / 2 + static_cast<std::size_t>(b); }

// The normal matrix of the fit over a segment of w samples, from the basis
// values in single precision (as they have always been formed) summed in
// double, factorised by Cholesky. Only the segment length, the harmonics and
// the sample interval enter, so the factor serves every channel and segment.
void build_factor(PowerlineFit& fit, int w, int K, float fpl, float dt, Console& con) {
  const int P = 2 * K + 1;
  std::vector<float> phi(static_cast<std::size_t>(P) * w);
  for (int t = 0; t < w; ++t) phi[static_cast<std::size_t>(t)] = 1.0f;
  for (int k = 1; k <= K; ++k) {
    const float fk = static_cast<float>(k) * fpl;
    const float omega = twopi * fk * dt;
    float* c = &phi[static_cast<std::size_t>(2 * k - 1) * w];
    float* s = &phi[static_cast<std::size_t>(2 * k) * w];
    for (int t = 0; t < w; ++t) {
      const float angle = omega * static_cast<float>(t);
      c[t] = std::cos(angle);
      s[t] = std::sin(angle);
    }
    const double omega_d = kTwoPi * static_cast<double>(fk) * static_cast<double>(dt);
    fit.cos_w[static_cast<std::size_t>(k - 1)] = std::cos(omega_d);
    fit.sin_w[static_cast<std::size_t>(k - 1)] = std::sin(omega_d);
  }
  auto& L = fit.factor;
  for (int a = 0; a < P; ++a)
    for (int b = 0; b <= a; ++b) {
      const float* pa = &phi[static_cast<std::size_t>(a) * w];
      const float* pb = &phi[static_cast<std::size_t>(b) * w];
      double sum = 0;
      for (int t = 0; t < w; ++t) sum += static_cast<double>(pa[t] * pb[t]);
      L[packed(a, b)] = sum;
    }
  for (int a = 0; a < P; ++a)
    for (int b = 0; b <= a; ++b) {
      double sum = L[packed(a, b)];
      for (int k = 0; k < b; ++k) sum -= L[packed(a, k)] * L[packed(b, k)];
      if (a == b) {
        if (!(sum > 0.0)) {
          con.say("error in LOCKIN: matrix not positive definite");
          con.say("program stop");
          throw Error("powerline filter: the least-squares fit of " + std::to_string(K) + " harmonics of " +
                      Console::num(fpl) + " Hz over segments of " + std::to_string(w) +
                      " samples is singular; choose another powerline frequency with -p:");
        }
        L[packed(a, a)] = std::sqrt(sum);
      } else {
        L[packed(a, b)] = sum / L[packed(b, b)];
      }
    }
  fit.w = w;
  fit.K = K;
  fit.fpl = fpl;
  fit.dt = dt;
  // Cosines and sines of every harmonic at the sample offsets of a segment,
  // by the Chebyshev recurrence from cos 0 = 1, sin 0 = 0 and one sine-cosine
  // evaluation per harmonic: the same values for every segment and channel.
  fit.cos_t.resize(static_cast<std::size_t>(K) * nblk);
  fit.sin_t.resize(static_cast<std::size_t>(K) * nblk);
  for (int k = 0; k < K; ++k) {
    const double cw = fit.cos_w[static_cast<std::size_t>(k)], sw = fit.sin_w[static_cast<std::size_t>(k)];
    const double two_cos = 2.0 * cw;
    double* c = &fit.cos_t[static_cast<std::size_t>(k) * nblk];
    double* s = &fit.sin_t[static_cast<std::size_t>(k) * nblk];
    c[0] = 1.0;
    s[0] = 0.0;
    c[1] = cw;
    s[1] = sw;
    for (int t = 2; t < nblk; ++t) {
      c[t] = two_cos * c[t - 1] - c[t - 2];
      s[t] = two_cos * s[t - 1] - s[t - 2];
    }
  }
}

// The fit works on all channel slots of a segment's rows at once
// (row_vectors.hpp): every step below does, lane by lane, the double-precision
// operations of the one-channel fit, so each channel gets the bits it would
// get alone. Lanes of channels that are not fitted go along and are not
// written.

// Solves L L^T beta = r in place (forward, then back substitution), every
// lane with the same factor.
void solve(const PowerlineFit& fit, int P, rows::RowD* r) {
  const auto& L = fit.factor;
  for (int a = 0; a < P; ++a) {
    rows::RowD sum = r[a];
    for (int k = 0; k < a; ++k) sum = sum - rows::splat(L[packed(a, k)]) * r[k];
    r[a] = sum / rows::splat(L[packed(a, a)]);
  }
  for (int a = P - 1; a >= 0; --a) {
    rows::RowD sum = r[a];
    for (int k = a + 1; k < P; ++k) sum = sum - rows::splat(L[packed(k, a)]) * r[k];
    r[a] = sum / rows::splat(L[packed(a, a)]);
  }
}

// Right-hand sides of the n rows from x on: the sum of the samples, and for
// every harmonic the sums of x cos and x sin over them, by the backward
// second-order (Goertzel) recurrence.
QV_VECTOR_CLONES
void right_hand_sides(const PowerlineFit& fit, const float* x, int n, rows::RowD* r) {
  const int K = fit.K;
  rows::RowD sum = rows::splat(0.0);
  for (int t = 0; t < n; ++t) sum = sum + rows::widen(x + t * nchmx);
  r[0] = sum;
  rows::RowD u1[powerline_harmonics_max], u2[powerline_harmonics_max], two_cos[powerline_harmonics_max];
  for (int k = 0; k < K; ++k) {
    u1[k] = u2[k] = rows::splat(0.0);
    two_cos[k] = rows::splat(2.0 * fit.cos_w[static_cast<std::size_t>(k)]);
  }
  for (int t = n - 1; t >= 1; --t) {
    const rows::RowD xt = rows::widen(x + t * nchmx);
    for (int k = 0; k < K; ++k) {
      const rows::RowD u = xt + two_cos[k] * u1[k] - u2[k];
      u2[k] = u1[k];
      u1[k] = u;
    }
  }
  const rows::RowD x0 = rows::widen(x);
  for (int k = 0; k < K; ++k) {
    r[2 * k + 1] = x0 + rows::splat(fit.cos_w[static_cast<std::size_t>(k)]) * u1[k] - u2[k];
    r[2 * k + 2] = rows::splat(fit.sin_w[static_cast<std::size_t>(k)]) * u1[k];
  }
}

// Subtracts the fitted harmonics from the n rows from x on, harmonic after
// harmonic, every correction rounded to single precision, in the lanes of
// `fitted`. A lane with a missing sample among those rows takes no
// correction at its missing samples.
QV_VECTOR_CLONES
void subtract_harmonics(const PowerlineFit& fit, const rows::RowD* beta, float* x, int n, float threshold,
                        const rows::RowMask& fitted) {
  const rows::Row limit = rows::splat(threshold);
  rows::RowMask missing{};  // lanes with a missing sample
  for (int t = 0; t < n; ++t) missing = missing | rows::at_least(rows::load(x + t * nchmx), limit);
  for (int k = 0; k < fit.K; ++k) {
    const rows::RowD bc = beta[2 * k + 1], bs = beta[2 * k + 2];
    const double* c = &fit.cos_t[static_cast<std::size_t>(k) * nblk];
    const double* s = &fit.sin_t[static_cast<std::size_t>(k) * nblk];
    for (int t = 0; t < n; ++t) {
      float* row = x + t * nchmx;
      const rows::Row v = rows::load(row);
      const rows::Row corrected = v - rows::narrow(bc * rows::splat(c[t]) + bs * rows::splat(s[t]));
      rows::store(row, corrected, fitted & (~missing | rows::less(v, limit)));
    }
  }
}

void warn_no_frequency(Console& con) { con.say("WARNING: no meaningful frequency to filter, skip filtering!"); }

}  // namespace

void fit_and_subtract(SampleBlock& blk, int nch, int s1, int s2, int s3, float fpl, float dt, float threshold,
                      PowerlineFit& fit, Console& con) {
  if (s1 < 1 || s2 < s1 || s3 < s2 || s3 > blk.npts || blk.npts > nblk || nch < 0 || nch > nchmx)
    throw Error("powerline filter: segment rows " + std::to_string(s1) + ".." + std::to_string(s2) + ".." +
                std::to_string(s3) + " do not lie in a block of " + std::to_string(blk.npts) + " rows");
  const int K = harmonics(fpl, dt);
  const int P = 2 * K + 1;
  const int n2 = s2 - s1 + 1, n3 = s3 - s1 + 1;
  if (fit.w != n2 || fit.K != K || fit.fpl != fpl || fit.dt != dt) build_factor(fit, n2, K, fpl, dt, con);
  float* x = blk.real.data() + static_cast<std::ptrdiff_t>(s1 - 1) * nchmx;
  // A missing sample would enter the fit as a huge value and spread a
  // sinusoid over the segment: such a channel is left as it is here.
  std::array<bool, nchmx> fitted{};
  bool any = false;
  for (int c = 0; c < nch; ++c) {
    fitted[c] = true;
    for (int t = 0; t < n2; ++t)
      if (x[t * nchmx + c] >= threshold) fitted[c] = false;
    any = any || fitted[c];
  }
  if (!any) return;
  rows::RowD beta[powerline_params_max];
  right_hand_sides(fit, x, n2, beta);
  solve(fit, P, beta);
  subtract_harmonics(fit, beta, x, n3, threshold, rows::mask_of(fitted));
}

int filter_powerline(SampleBlock& blk, int nch, float fpl, float dt, float threshold, PowerlineFit& fit,
                     Console& con) {
  const int m = blk.npts;
  const float rate = 1.0f / dt;
  const float e = rate / fpl;  // samples per powerline period
  if (e <= 2.0f) {
    if (m == 0) return powerline_filtered;
    warn_no_frequency(con);
    return powerline_skipped;
  }
  const float wf = std::round(static_cast<float>(periods_per_segment(rate)) * e);
  if (!(wf < 2147483648.0f)) {
    con.say("DFTSEG-WARNING: frequency too low,     nseg too large, skip filtering");
    return powerline_skipped;
  }
  const int w = static_cast<int>(wf);
  if (m < w) {
    if (m == 0) return powerline_filtered;
    warn_no_frequency(con);
    return powerline_skipped;
  }
  const int S = m / w;
  for (int j = 1; j < S; ++j) fit_and_subtract(blk, nch, (j - 1) * w + 1, j * w, j * w, fpl, dt, threshold, fit, con);
  // The last segment's fit also covers the rest of the block (fewer than w samples).
  fit_and_subtract(blk, nch, (S - 1) * w + 1, S * w, m, fpl, dt, threshold, fit, con);
  return powerline_filtered;
}

}  // namespace qv
