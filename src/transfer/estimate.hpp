// Estimating the transfer functions of one band: every output (Ex, Ey and,
// when recorded, Hz) regressed on the horizontal magnetic field (Hx, Hy) over
// the band's rows, by ordinary least squares or by a robust bounded-influence
// M-estimate, with the errors of the estimate. Pure arithmetic over the rows:
// the caller forms them and writes the result.
//
//   estimate_band   the estimate of one band, its coherences, weights summary,
//                   degrees of freedom and errors (parametric, jackknife or
//                   bootstrap)
//
// The robust estimate follows the bounded-influence scheme of Chave &
// Thomson (2004, GJI 157, 988-1006): start from least squares; iterate
// weighted least squares with Huber weights on the residuals in units of a
// robust scale (the median absolute residual, corrected for its bias for
// complex Gaussian residuals); then a few iterations of a redescending weight
// (Tukey's biweight) from that start; throughout, rows whose inputs lie far
// out (a large hat-matrix diagonal) carry a leverage weight below 1, so that
// no single row, however large its magnetic field, can dominate the estimate.
//
// With a remote reference (BandRows::r) the same scheme solves the
// instrumental-variable equations R^H W H z = R^H W y instead, the
// reference's magnetic field R the instruments; the leverage weights then
// come from the hat matrix of R.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "transfer/transfer_function.hpp"

namespace qv::tf {

// Huber's weight w(u) = min(1, k / u) on residuals u in robust-scale units
// (Huber 1981, "Robust Statistics", ch. 7). k = 1.5 is the usual choice of
// robust MT processing (Chave & Thomson 2004 and the work they review), a
// little above the 1.345 of 95 % efficiency for real Gaussian errors; for
// complex residuals (|r| Rayleigh) it downweights 10.5 % of Gaussian rows and
// keeps 98.7 % of the efficiency of least squares.
inline constexpr double default_huber_k = 1.5;
// Tukey's biweight w(u) = (1 - (u / c)^2)^2 for u < c, else 0 (Beaton &
// Tukey 1974); c = 4.685 gives 95 % efficiency for real Gaussian errors, and
// 98.2 % for complex ones, whose modulus has the thinner Rayleigh tail.
inline constexpr double default_biweight_c = 4.685;
// Leverage: a row whose hat-matrix diagonal h exceeds chi times the mean
// diagonal p / n (p = 2 inputs) gets the weight sqrt(chi p / (n h)), a
// Mallows-type weight that bounds the row's influence at the size it would
// have on the cut-off (Hampel et al. 1986, ch. 6). chi = 2 is the
// twice-the-mean rule of Hoaglin & Welsch (1978, Am. Stat. 32, 17-22); for
// complex Gaussian inputs it touches 9.1 % of rows and costs 0.5 % in
// variance.
inline constexpr double default_leverage_cutoff = 2.0;
// Iteration limits and the convergence test (Chave & Thomson 2004): a stage
// ends when the estimate of an output changes by less than this fraction of
// its size (the Euclidean norm over its two elements).
inline constexpr int default_huber_iterations = 10;
inline constexpr int default_redescending_iterations = 5;
inline constexpr double default_tolerance = 1e-3;
// A row counts as downweighted (OutputEstimate::rows_downweighted) when its
// final weight, residual and leverage weight together, is below one half: a
// row the estimate largely set aside. Gaussian rows almost never are (0.2 %).
inline constexpr double downweighted_below = 0.5;
// The jackknife needs at least this many windows.
inline constexpr int jackknife_min_windows = 3;
// The bootstrap over windows: resamples by default and at most, the fewest
// windows it resamples, and the seed of its generator (each band's own seed
// is derived from it and the band).
inline constexpr int default_bootstrap_resamples = 1000;
inline constexpr int min_bootstrap_resamples = 10;
inline constexpr int max_bootstrap_resamples = 1000000;
inline constexpr int bootstrap_min_windows = 3;
inline constexpr std::uint64_t default_bootstrap_seed = 20260101;

struct EstimateOptions {
  Estimator estimator = Estimator::robust;
  ErrorMethod errors = ErrorMethod::parametric;
  // The correlation of the coefficients of white noise m harmonics apart in
  // one tapered window, squared: rho2[m] = |rho(m)|^2 for m = 0, 1, ...,
  // with rho2[0] = 1 and rho2[m] = 0 from rho2.size() on (the squared taper's
  // transform, normalised). Neighbouring harmonics of one window are not
  // independent rows; the parametric errors and the degrees of freedom count
  // the rows as K^2 / sum_{j,l} rho2[|h_j - h_l|] independent ones per window
  // of K harmonics. Empty: every row independent.
  std::span<const double> rho2;
  double huber_k = default_huber_k;
  double biweight_c = default_biweight_c;
  double leverage_cutoff = default_leverage_cutoff;  // 0: no leverage weights
  int huber_iterations = default_huber_iterations;
  int redescending_iterations = default_redescending_iterations;
  double tolerance = default_tolerance;
  int bootstrap_resamples = default_bootstrap_resamples;
  std::uint64_t bootstrap_seed = default_bootstrap_seed;
};

// Scratch buffers of the estimator, sized once for the largest band of a run
// (reserve) and reused for every band: estimate_band allocates nothing while
// a band fits. The members are the estimator's own; callers only reserve.
struct EstimateWork {
  void reserve(int max_rows, int max_windows);

  std::vector<double> leverage;  // per row: leverage weight u
  std::vector<double> weight;    // per row and output (like BandRows::y): final residual weight w
  std::vector<double> slope;     // per row and output: the weight function's effective derivative
  std::vector<cplx> residual;    // per row: the residual of the output being estimated
  std::vector<double> select;    // per row: squared residuals, reordered by the median search
  std::vector<int> histogram;    // the median search's buckets
  std::vector<int> group;        // per row: the window's index 0..windows-1
  std::vector<int> by_group;     // row numbers ordered by window
  std::vector<int> start;        // per window: first position in by_group (and one past the end)
  std::vector<int> slot;         // window number - the lowest one -> index; -1 when unseen
  std::vector<int> harmonics;    // one window's harmonics, sorted
  std::vector<cplx> sums;        // per window and output: the jackknife's or bootstrap's partial sums
  std::vector<cplx> deleted;     // per window and output: the delete-one estimate
  std::vector<int> draws;        // per window: how often a bootstrap resample drew it
};

// Estimates every output of the band from its rows: z, the squared multiple
// coherence, rows used and downweighted, effective degrees of freedom,
// residual power, and the errors (OutputEstimate::var, BandEstimate's
// residual_cov and inverse_power) by options.errors. Raises Error, naming the
// band, for rows of inconsistent sizes, too few independent rows for two
// inputs, magnetic inputs without two independent directions, fewer than
// jackknife_min_windows windows for the jackknife (bootstrap_min_windows for
// the bootstrap), or a malformed rho2.
BandEstimate estimate_band(const Band& band, const BandRows& rows, const EstimateOptions& options,
                           EstimateWork& work);

}  // namespace qv::tf
