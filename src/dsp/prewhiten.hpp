// Pre-whitening of a window and its undoing in the spectrum. Before the taper,
// each channel passes through a first difference or through a short
// prediction-error filter fitted to that very window (autoregressive
// pre-whitening), which flattens the spectrum so that the taper leaks less
// power from strong low frequencies into weak high ones. After the transform,
// each coefficient is divided by the frequency response of the filter used
// and multiplied by the channel's calibration factor.
#pragma once

#include <array>
#include <complex>

#include "common/limits.hpp"
#include "common/window_array.hpp"

namespace qv {

// Prediction-error filters of the current window: h[c][m-1] = h(c, m),
// m = 1..L, h(c, 1) = 1. Overwritten by every pre-whitened window.
struct PwFilters {
  std::array<std::array<float, pwlenmx>, nchmx> h{};
};

// Scratch for fitting a filter of order p = L - 1 <= 40; fixed size, so that
// no window allocates.
struct PwWork {
  static constexpr int pmax = pwlenmx - 1;
  static constexpr int npacked = pmax * (pmax + 1) / 2;
  std::array<std::array<double, pmax + 1>, nchmx> lag{};  // per channel, lag sums r(0..p) as accumulated
  std::array<float, pmax + 1> r{};    // lag sums r(0..p), then divided by n
  std::array<float, npacked> a{};     // normal matrix, lower triangle packed by rows
  std::array<float, npacked> g{};     // its Cholesky factor, same packing
  std::array<float, pmax> b{};        // right-hand side r(1..p) / n
  std::array<float, pmax> y{};        // forward substitution
  std::array<float, pmax> alpha{};    // prediction coefficients a(1..p)
};

// Pre-whitens the channels of the window array, which holds n + L - 1
// samples per channel, leaving n filtered samples:
// channels with pwdiff[c] are first-differenced; with L >= 2 the others get
// the prediction-error filter of order L - 1 fitted to the window (identity
// filter, samples untouched, when the fit is singular, i.e. an all-zero
// channel); with L = 1 they are left alone. Writes the filters used to h.
// Raises Error if L is outside 1..41, n < 1, the array holds fewer than
// n + L - 1 samples, or a first-differenced channel has no extra sample
// (L = 1).
void prewhiten(const WindowArray& w, int n, const std::array<bool, nchmx>& pwdiff, int L, PwFilters& h,
               PwWork& work);

// The phase factors exp(+i w (L - m)), m = 1..L, w = 2 pi k / n, that the
// response of a filter of length L is summed from at the frequency indices
// k = 1..nfreq of a window of n samples: the same for every window of a
// level, so a run works them out once per level. Writes nfreq * L values,
// entry (k - 1) * L + (m - 1), exactly as correct_coefficients forms them.
void pw_phase_table(int nfreq, int L, int n, std::complex<float>* table);

// Corrects coefficients k = 1..nfreq of every channel in place:
// F <- (F * R) / H, with R = response[(k-1) * nchmx + c] (the level's response
// table) and H the response of the channel's pre-whitening filter at
// frequency index k of a window of n samples (H = 1 for a first difference,
// which the response table accounts for, and for L = 1). phases, when given,
// is the pw_phase_table of (nfreq, L, n); without it the factors are formed
// here, with the same result. Raises Error if nfreq exceeds n/2 or L is
// outside 1..41.
void correct_coefficients(const WindowArray& w, int nfreq, const std::complex<float>* response, const PwFilters& h,
                          int L, int n, const std::array<bool, nchmx>& pwdiff,
                          const std::complex<float>* phases = nullptr);

}  // namespace qv
