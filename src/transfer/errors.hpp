// The errors of a band's estimate and the number of independent rows behind
// it, from the final weights the estimator leaves in its work buffers.
//
//   group_windows       the windows of a band's rows (one group per window)
//   variance_inflation  how much the correlation of neighbouring harmonics of
//                       one tapered window inflates the variance
//   slope_sums          whether the weight function's slopes can stand for its
//                       derivative in the errors, or the weights must
//   parametric_errors   the covariance as residual covariance of the outputs
//                       times the inverse signal power of the inputs
//   jackknife_errors    the variance from deleting one window at a time
//   match_residual_cov  the residual covariance nearest a full covariance
//
// The covariance of an M-estimate (Huber 1981, ch. 7), for complex
// residuals r and a weight function w of u = |r| / s (s the robust scale):
//   cov(z_o, z_p) = s_o s_p E[psi_o conj(psi_p)] / (E[psi'_o] E[psi'_p]) * Q
// with psi = w(u) r / s, psi' = w(u) + u w'(u) / 2 the derivative of the
// estimating equation averaged over the phase of r (the radial and the
// tangential response), and Q = (X^H U X)^-1 (X^H U^2 X) (X^H U X)^-1 the
// inverse signal power under the leverage weights U (just (X^H X)^-1 for
// least squares, where psi' = 1 and the whole is the textbook
// sigma^2 (X^H X)^-1). Leverage weights depend on the inputs alone, so Q is
// one matrix for every output and the covariance factorises exactly into
// residual_cov (outputs) times inverse_power (inputs).
//
// With a remote reference the estimate solves the instrumental-variable
// equations sum_i u_i w_i r_i^H (y_i - x_i z) = 0, r_i the reference's field
// (the instruments), x_i the local one. To first order in the residuals e,
// dz = (R^H W X)^-1 R^H W e; with the weights' response to dz linearised as
// above (E[psi']) and E[psi psi*] the residuals' weighted covariance,
//   cov(z_o, z_p) = s_o s_p E[psi_o conj(psi_p)] / (E[psi'_o] E[psi'_p]) * Q,
//   Q = (R^H U X)^-1 (R^H U^2 R) (X^H U R)^-1,
// the same residual covariance times the inverse signal power of the
// instruments against the inputs (Q reduces to the single-station one for
// R = X). The leverage weights U, from the hat matrix of R, again depend on
// neither the outputs nor the estimate, so the factorisation stays exact.
// The jackknife's one Newton step is that of the same equations.
#pragma once

#include <span>

#include "transfer/estimate.hpp"
#include "transfer/transfer_function.hpp"

namespace qv::tf {

// Fills work.group (each row's window index), work.by_group and work.start
// (rows ordered by window) and returns the number of windows.
int group_windows(const BandRows& rows, EstimateWork& work);

// The factor f >= 1 by which correlated neighbouring harmonics inflate the
// variance of an estimate over independent rows: sum over windows of
// sum_{j,l} rho2[|h_j - h_l|] over its rows' harmonics, divided by the rows.
// The rows count as n / f independent ones. Needs group_windows first.
double variance_inflation(const BandRows& rows, std::span<const double> rho2, int windows, EstimateWork& work);

// The sums over the rows of output o's weight-function slopes and weights.
// The slopes hold unless wild data leave them near zero or below (rows
// between c / sqrt(3) and c have a negative biweight slope); then the errors
// take the weights instead, as for a fixed-weight least squares.
struct SlopeSums {
  double slope = 0, weight = 0;
  bool hold() const { return slope > 0.1 * weight; }
};
SlopeSums slope_sums(const EstimateWork& work, int n, int nout, int o);

// Sets est.residual_cov, est.inverse_power and every out[o].var from the
// final estimate est.out[o].z and the weights in work, the residual variance
// divided by the degrees of freedom n - 2 f and the inverse power multiplied
// by f. Raises Error naming the band when fewer than 2 f rows are left over.
void parametric_errors(const BandRows& rows, double inflation, EstimateWork& work, BandEstimate& est);

// Replaces every out[o].var by the delete-one-window jackknife variance
// (G - 1) / G sum_g |z_(g) - mean|^2 over the G windows, and residual_cov by
// the residual covariance that, times the parametric inverse_power, best
// matches the jackknife covariance (tr(P^-1 C_op) / 2). Each delete-one
// estimate is one Newton step of the estimating equation from the full
// estimate with the window's rows removed (the one-step jackknife; exact for
// least squares). Needs group_windows and parametric_errors first.
void jackknife_errors(const BandRows& rows, int windows, EstimateWork& work, BandEstimate& est);

// Sets residual_cov to the residual covariance R that, times the parametric
// inverse_power P, comes nearest the covariance C of the estimate's elements
// (o, j) in the order o * nin + j, row-major (nout * nin squared values):
// R_op = tr(P^-1 C_op) / 2, so that the files' covariance R x P stays
// consistent with variances taken from C. Needs parametric_errors first.
void match_residual_cov(const cplx* cov, BandEstimate& est);

}  // namespace qv::tf
