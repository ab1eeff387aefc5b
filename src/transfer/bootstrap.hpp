// The bootstrap over windows: the errors of a band's estimate from the
// scatter of estimates over resamples of its windows, each resample G of the
// band's G windows drawn with replacement, all rows of a drawn window
// together (a window's neighbouring harmonics are correlated, so the window
// is the unit that is independent of the others).
//
//   bootstrap_seed_of    the generator's seed for one band, from the run's seed
//   uniform_below        a uniform integer 0..bound-1 from a 64-bit generator
//   bootstrap_errors     the variances of a band's estimate by the bootstrap
//
// The weights of the full estimate, residual and leverage alike, are held
// fixed: each resample's estimate is one Newton step of the estimating
// equation sum c_i rho_i^H (y_i - x_i z) = 0 from the full estimate, over the
// drawn windows (rho the instruments: the inputs x themselves, or the remote
// reference's field). For least squares that step is the resample's own
// least-squares estimate. Since the step only needs per-window sums (the 2 x 2
// instrument-input cross products under the slope weights and the weighted
// instrument-residual 2-vectors of every output), a resample costs G small
// additions and one 2 x 2 solve per output, not a pass over the rows.
// Generator and integer mapping are spelled out (std::mt19937_64, whose
// sequence the standard fixes, and Lemire's multiply-and-reject mapping), so
// a seed gives the same resamples on every machine; every band has its own
// seed derived from the run's seed and the band, so a band's errors do not
// depend on which other bands are estimated, or in what order.
#pragma once

#include <cstdint>
#include <random>

#include "transfer/estimate.hpp"
#include "transfer/transfer_function.hpp"

namespace qv::tf {

// The seed of one band's resamples: the run's seed mixed with the band's
// level and harmonics (splitmix64's finaliser over each in turn).
std::uint64_t bootstrap_seed_of(std::uint64_t seed, const Band& band);

// A uniform integer in 0..bound-1 (bound >= 1) from the generator: the high
// word of the 128-bit product of a draw and bound, the few draws whose low
// word falls below 2^64 mod bound rejected (Lemire 2019, ACM TOMACS 29, 3).
inline std::uint64_t uniform_below(std::mt19937_64& gen, std::uint64_t bound) {
  unsigned __int128 m = static_cast<unsigned __int128>(gen()) * bound;
  auto low = static_cast<std::uint64_t>(m);
  if (low < bound) {
    const std::uint64_t threshold = (0 - bound) % bound;
    while (low < threshold) {
      m = static_cast<unsigned __int128>(gen()) * bound;
      low = static_cast<std::uint64_t>(m);
    }
  }
  return static_cast<std::uint64_t>(m >> 64);
}

// Replaces every out[o].var by the sample variance of the element over
// `resamples` bootstrap estimates, and residual_cov by the residual
// covariance that, times the parametric inverse_power, best matches the
// bootstrap covariance (as the jackknife does). Needs group_windows and
// parametric_errors first, and at least bootstrap_min_windows windows. Raises
// Error naming the band when the drawn windows keep failing to span both
// instruments.
void bootstrap_errors(const BandRows& rows, int windows, int resamples, std::uint64_t seed, EstimateWork& work,
                      BandEstimate& est);

}  // namespace qv::tf
