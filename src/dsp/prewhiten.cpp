#include "dsp/prewhiten.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "common/math_constants.hpp"
#include "dsp/row_vectors.hpp"

namespace qv {
namespace {

// Element (row, col), row >= col, of a packed lower triangle.
constexpr int packed(int row, int col) { return row * (row + 1) / 2 + col; }

// x(t) <- x(t + 1) - x(t), t = 0..n-1, in increasing t.
void first_difference(float* window, int c, int n) {
  for (std::int64_t t = 0; t < n; ++t) window[widx(c, t)] = window[widx(c, t + 1)] - window[widx(c, t)];
}

// Lag sums r(j) = sum_{t<n} x(t) x(t+j), j = 0..p, of every channel slot of
// the window (w.lag[c][j]), accumulated in double precision (the products of
// single-precision samples are exact there) and rounded once: a long window
// would otherwise lose the low bits of its power to the running sum. The
// channels of a sample row lie side by side, so each step adds a row of
// products to a row of running sums, and up to four lags go along together;
// every sum still takes its terms one by one in increasing t, as a loop over
// one channel and lag would. Slots of channels that are not fitted are summed
// as well and not used.
template <int G>
void lag_group(const float* window, int n, int j, PwWork& w) {
  rows::RowD s[G] = {};
  for (std::int64_t t = 0; t < n; ++t) {
    const rows::RowD a = rows::widen(window + t * wld);
    for (int g = 0; g < G; ++g) s[g] = s[g] + a * rows::widen(window + (t + j + g) * wld);
  }
  for (int g = 0; g < G; ++g)
    for (int c = 0; c < nchmx; ++c) w.lag[c][j + g] = rows::lane(s[g], c);
}

void lag_sums(const float* window, int n, int p, PwWork& w) {
  int j = 0;
  for (; j + 4 <= p + 1; j += 4) lag_group<4>(window, n, j, w);
  switch (p + 1 - j) {
    case 3: lag_group<3>(window, n, j, w); break;
    case 2: lag_group<2>(window, n, j, w); break;
    case 1: lag_group<1>(window, n, j, w); break;
    default: break;
  }
}

// Fits the prediction-error filter of order p to samples 0..n+p-1 of channel c
// (least squares over the n predictions of samples p..n+p-1, with the normal
// equations loaded on the diagonal by 1 % of the power), given its lag sums
// in w.lag[c], and writes it to hc. Returns false, leaving hc alone, when the
// normal matrix is not positive definite.
bool fit_filter(const float* window, int c, int n, int p, float* hc, PwWork& w) {
  auto x = [&](std::int64_t t) { return static_cast<double>(window[widx(c, t)]); };
  const std::array<double, PwWork::pmax + 1>& lag = w.lag[c];
  for (int j = 0; j <= p; ++j) w.r[j] = static_cast<float>(lag[j]);

  // A(R, C) = sum_{s<n} x(s+C) x(s+R): the lag sum of R - C with the C
  // products at the start taken out and the C products past n put in.
  for (int row = 0; row < p; ++row) {
    for (int col = 0; col <= row; ++col) {
      const int j = row - col;
      double s = lag[j];
      for (int t = 0; t < col; ++t) s -= x(t) * x(t + j);
      for (std::int64_t t = n; t < std::int64_t(n) + col; ++t) s += x(t) * x(t + j);
      w.a[packed(row, col)] = static_cast<float>(s);
    }
  }

  const float fn = static_cast<float>(n);
  for (int i = 0; i < packed(p, 0); ++i) w.a[i] /= fn;
  for (int j = 0; j <= p; ++j) w.r[j] /= fn;
  for (int row = 0; row < p; ++row) w.b[row] = w.r[row + 1];
  const float load = 0.01f * w.r[0];
  for (int row = 0; row < p; ++row) w.a[packed(row, row)] += load;

  // Cholesky factor A = G G^T, row by row.
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j) {
      float s = w.a[packed(i, j)];
      for (int k = 0; k < j; ++k) s -= w.g[packed(j, k)] * w.g[packed(i, k)];
      w.g[packed(i, j)] = s / w.g[packed(j, j)];
    }
    float d = w.a[packed(i, i)];
    for (int k = 0; k < i; ++k) d -= w.g[packed(i, k)] * w.g[packed(i, k)];
    if (!(d > 0.0f)) return false;  // also refuses a NaN from non-finite samples
    w.g[packed(i, i)] = std::sqrt(d);
  }

  // G y = b, then G^T alpha = y.
  for (int i = 0; i < p; ++i) {
    float s = w.b[i];
    for (int k = 0; k < i; ++k) s -= w.g[packed(i, k)] * w.y[k];
    w.y[i] = s / w.g[packed(i, i)];
  }
  for (int i = p - 1; i >= 0; --i) {
    float s = w.y[i];
    for (int k = i + 1; k < p; ++k) s -= w.g[packed(k, i)] * w.alpha[k];
    w.alpha[i] = s / w.g[packed(i, i)];
  }

  hc[0] = 1.0f;
  for (int k = 1; k <= p; ++k) hc[k] = -w.alpha[k - 1];
  return true;
}

// The phase factor exp(+i w (L - m)) of the filter response at frequency
// index k, w = dw k: one expression for the per-level table and for a
// window without one, so that both give the same bits.
std::complex<float> pw_phase(float dw, int k, int L, int m) {
  const float w = dw * static_cast<float>(k);
  return std::exp(std::complex<float>(0.0f, w * static_cast<float>(L - m)));
}

// (a + i b) / (c + i d) in double precision, the quotient std::complex<double>
// gives: the C runtime's division (Smith's method with scaling, libgcc's
// __divdc3). Its operands here are single-precision values, and for finite
// ones with a divisor other than 0 what that routine does reduces to the
// plain Smith division below: its scaling steps multiply all four operands by
// one power of two, which changes no rounding where nothing can overflow or
// underflow (products of single-precision values cannot in double), and its
// other order of operations for a ratio below the smallest normal number is
// taken only for a ratio of exactly 0, where it gives the same value and
// sign. So the same bits come without a library call per coefficient. Any
// other operand takes the library's path.
inline void divide(float a, float b, float c, float d, double& x, double& y) {
  if (!(std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d)) ||
      (c == 0.0f && d == 0.0f)) [[unlikely]] {
    const std::complex<double> q = std::complex<double>(a, b) / std::complex<double>(c, d);
    x = q.real();
    y = q.imag();
    return;
  }
  const double ad = a, bd = b, cd = c, dd = d;
  if (std::fabs(cd) < std::fabs(dd)) {
    const double ratio = cd / dd;
    const double denom = cd * ratio + dd;
    x = (ad * ratio + bd) / denom;
    y = (bd * ratio - ad) / denom;
  } else {
    const double ratio = dd / cd;
    const double denom = dd * ratio + cd;
    x = (bd * ratio + ad) / denom;
    y = (bd - ad * ratio) / denom;
  }
}

// y(t) = sum_{m<L} h(m) x(t + L-1 - m), t = 0..n-1, in increasing t, for the
// channel slots with filtered[c]: output t needs samples t..t+L-1 only, none
// of them overwritten yet. The slots of a row go along side by side, every
// output summed over m in the same order; the other slots keep their values.
void apply_filters(float* window, int n, int L, const PwFilters& h, const std::array<bool, nchmx>& filtered) {
  rows::Row hm[pwlenmx];  // tap m of every slot; zero where not filtered
  for (int m = 0; m < L; ++m) {
    float v[nchmx];
    for (int c = 0; c < nchmx; ++c) v[c] = filtered[c] ? h.h[c][m] : 0.0f;
    hm[m] = rows::load(v);
  }
  const rows::RowMask mask = rows::mask_of(filtered);
  for (std::int64_t t = 0; t < n; ++t) {
    rows::Row s = rows::splat(0.0f);
    for (int m = 0; m < L; ++m) s = s + hm[m] * rows::load(window + (t + L - 1 - m) * wld);
    rows::store(window + t * wld, s, mask);
  }
}

}  // namespace

void prewhiten(const WindowArray& win, int n, const std::array<bool, nchmx>& pwdiff, int L, PwFilters& h,
               PwWork& work) {
  if (L < 1 || L > pwlenmx) {
    throw Error("prewhiten: filter length " + std::to_string(L) + " is outside 1.." + std::to_string(pwlenmx));
  }
  if (n < 1) throw Error("prewhiten: window length " + std::to_string(n) + " is below 1");
  win.require_samples(std::int64_t(n) + L - 1, "prewhiten");
  const int nch = win.nch();
  float* window = win.data();
  bool any_fit = false;
  for (int c = 0; c < nch; ++c) {
    if (pwdiff[c] && L < 2) {
      throw Error("prewhiten: channel " + std::to_string(c + 1) +
                  " is first-differenced but the window has no extra sample (filter length 1)");
    }
    any_fit = any_fit || (!pwdiff[c] && L >= 2);
  }
  // The lag sums of every channel are taken before any channel is changed;
  // each channel's filtering reads only that channel.
  if (any_fit) lag_sums(window, n, L - 1, work);
  std::array<bool, nchmx> filtered{};
  for (int c = 0; c < nch; ++c) {
    float* hc = h.h[c].data();
    if (pwdiff[c]) {
      first_difference(window, c, n);
      hc[0] = 1.0f;
      hc[1] = -1.0f;
      continue;
    }
    hc[0] = 1.0f;
    if (L < 2) continue;
    if (fit_filter(window, c, n, L - 1, hc, work)) {
      filtered[c] = true;
    } else {
      for (int m = 1; m < L; ++m) hc[m] = 0.0f;  // identity filter, channel left as it is
    }
  }
  if (any_fit) apply_filters(window, n, L, h, filtered);
}

void pw_phase_table(int nfreq, int L, int n, std::complex<float>* table) {
  const float dw = twopi / static_cast<float>(n);
  for (int k = 1; k <= nfreq; ++k)
    for (int m = 1; m <= L; ++m) table[std::int64_t(k - 1) * L + (m - 1)] = pw_phase(dw, k, L, m);
}

void correct_coefficients(const WindowArray& win, int nfreq, const std::complex<float>* response, const PwFilters& h,
                          int L, int n, const std::array<bool, nchmx>& pwdiff, const std::complex<float>* phases) {
  if (L < 1 || L > pwlenmx) {
    throw Error("correct_coefficients: filter length " + std::to_string(L) + " is outside 1.." +
                std::to_string(pwlenmx));
  }
  if (n < 1 || nfreq > n / 2) {
    throw Error("correct_coefficients: " + std::to_string(nfreq) + " coefficients asked of a window of " +
                std::to_string(n) + " samples, which has " + std::to_string(n / 2));
  }
  win.require_coefficients(nfreq, "correct_coefficients");
  const int nch = win.nch();
  float* window = win.data();
  const float dw = twopi / static_cast<float>(n);  // radians per frequency index
  // exp(+i w (L - m)) for m = 1..L, shared by all channels of a frequency.
  std::array<std::complex<float>, pwlenmx> own{};
  for (int k = 1; k <= nfreq; ++k) {
    const std::complex<float>* e = own.data();
    if (L >= 2) {
      if (phases) {
        e = phases + std::int64_t(k - 1) * L;
      } else {
        for (int m = 1; m <= L; ++m) own[m - 1] = pw_phase(dw, k, L, m);
      }
    }
    for (int c = 0; c < nch; ++c) {
      float hr = 1.0f;
      float hi = 0.0f;
      if (L >= 2 && !pwdiff[c]) {
        hr = 0.0f;
        for (int m = 1; m <= L; ++m) {
          const float hm = h.h[c][m - 1];
          hr += hm * e[m - 1].real();
          hi += hm * e[m - 1].imag();
        }
      }
      float* re = window + wre(c, k);
      float* im = window + wim(c, k);
      const std::complex<float> r = response[std::int64_t(k - 1) * nchmx + c];
      const float pr = *re * r.real() - *im * r.imag();
      const float pi = *re * r.imag() + *im * r.real();
      double fr, fi;
      divide(pr, pi, hr, hi, fr, fi);
      *re = static_cast<float>(fr);
      *im = static_cast<float>(fi);
    }
  }
}

}  // namespace qv
