#include "transfer/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/error.hpp"
#include "transfer/bootstrap.hpp"
#include "transfer/errors.hpp"
#include "transfer/hermitian2.hpp"

namespace qv::tf {

namespace {

// For complex Gaussian residuals of variance sigma^2 = E|r|^2, |r| is
// Rayleigh and |r|^2 exponential with mean sigma^2: the median of |r|^2 is
// sigma^2 ln 2. So median(|r|^2) / ln 2 estimates sigma^2 without bias, and
// the median absolute residual becomes a scale in units of sigma.
constexpr double ln2 = 0.69314718055994530942;

void check_rows(const Band& band, const BandRows& rows, const EstimateOptions& options) {
  const auto n = std::size_t(std::max(rows.n, 0));
  if (rows.nout != 2 && rows.nout != 3)
    throw Error(band_name(band) + ": expected 2 or 3 outputs (Ex, Ey[, Hz]), found " + std::to_string(rows.nout));
  if (rows.n < 0 || rows.y.size() != n * std::size_t(rows.nout) || rows.x.size() != n * nin ||
      rows.window.size() != n || rows.harmonic.size() != n || (rows.has_reference() && rows.r.size() != n * nin))
    throw Error(band_name(band) + ": the rows' arrays do not match its " + std::to_string(rows.n) +
                " rows of " + std::to_string(rows.nout) + " outputs");
  const auto& rho2 = options.rho2;
  if (!rho2.empty()) {
    bool fine = std::abs(rho2[0] - 1.0) <= 1e-6;
    for (double v : rho2) fine = fine && v >= 0 && v <= 1 + 1e-6;
    if (!fine)
      throw Error(band_name(band) + ": the harmonics' squared correlations must start with 1 and lie in 0..1, found " +
                  std::to_string(rho2[0]) + " first");
  }
}

// The weight functions of a residual q = (|r| / s)^2 in squared scale
// units: the weight w and the effective derivative psi' = w + u w'(u) / 2 of
// the estimating equation (see errors.hpp).
struct Unit {  // least squares
  static constexpr bool robust = false;
  double weight(double) const { return 1; }
  double slope(double) const { return 1; }
};

struct Huber {
  static constexpr bool robust = true;
  double k2;  // k^2
  double weight(double q) const { return q <= k2 ? 1.0 : std::sqrt(k2 / q); }
  double slope(double q) const { return q <= k2 ? 1.0 : 0.5 * std::sqrt(k2 / q); }
};

struct Biweight {
  static constexpr bool robust = true;
  double inv_c2;  // 1 / c^2
  double weight(double q) const {
    const double t = q * inv_c2;
    return t < 1 ? (1 - t) * (1 - t) : 0.0;
  }
  double slope(double q) const {
    const double t = q * inv_c2;
    return t < 1 ? (1 - t) * (1 - 3 * t) : 0.0;
  }
};

// The residual of output o of row i at z.
inline cplx residual(const BandRows& rows, int i, int o, const std::array<cplx, nin>& z) {
  const cplx* x = rows.x.data() + 2 * std::size_t(i);
  return rows.y[std::size_t(i) * rows.nout + o] - mul(x[0], z[0]) - mul(x[1], z[1]);
}

// The median search sorts values into buckets by the leading 12 bits of
// their single-precision form (sign, exponent, 3 bits of mantissa: eight
// buckets a binade), which keep the order of non-negative values, and then
// searches only the bucket that holds the median: the same element as a
// search over all values, at the cost of two passes instead of a full
// selection.
constexpr int bucket_shift = 20;
constexpr int buckets = 1 << (32 - bucket_shift);

inline unsigned bucket(double v) {
  const float f = float(v);
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits >> bucket_shift;
}

// The residuals of output o at z into work.residual, and their scale:
// median(|r|^2) / ln 2, the robust estimate of E|r|^2.
double residual_scale2(const BandRows& rows, int o, const std::array<cplx, nin>& z, EstimateWork& work) {
  const int n = rows.n;
  double* sel = work.select.data();
  cplx* res = work.residual.data();
  // Four interleaved histograms: most residuals fall into a few buckets,
  // and counting consecutive rows into one would wait on each increment.
  int* count = work.histogram.data();
  std::fill(count, count + 4 * buckets, 0);
  for (int i = 0; i < n; ++i) {
    res[i] = residual(rows, i, o, z);
    sel[i] = std::norm(res[i]);
    ++count[(i & 3) * buckets + bucket(sel[i])];
  }
  const int rank = n / 2;
  int below = 0;
  unsigned b = 0;
  auto in_bucket = [&](unsigned k) { return count[k] + count[buckets + k] + count[2 * buckets + k] + count[3 * buckets + k]; };
  while (below + in_bucket(b) <= rank) below += in_bucket(b++);
  int m = 0;
  for (int i = 0; i < n; ++i)
    if (bucket(sel[i]) == b) sel[m++] = sel[i];
  std::nth_element(sel, sel + (rank - below), sel + m);
  return sel[rank - below] / ln2;
}

// One step of the weighted instrumental-variable equations with a remote
// reference: R^H W H dz = R^H W res, W the leverage times the residual
// weights of the residuals in work.residual (the reference field R the
// instruments, the local H the inputs).
template <class W>
std::array<cplx, 2> reference_step(const Band& band, const BandRows& rows, const W& weigher, double inv_s2,
                                   const EstimateWork& work) {
  const cplx* x = rows.x.data();
  const cplx* q = rows.r.data();
  const cplx* res = work.residual.data();
  const double* u = work.leverage.data();
  Matrix2 cross{};
  cplx v0{}, v1{};
  for (int i = 0; i < rows.n; ++i) {
    const cplx r = res[i];
    const double c = u[i] * weigher.weight(std::norm(r) * inv_s2);
    add_cross(cross, c, q[2 * i], q[2 * i + 1], x[2 * i], x[2 * i + 1]);
    v0 += c * conj_mul(q[2 * i], r);
    v1 += c * conj_mul(q[2 * i + 1], r);
  }
  if (!well_posed2(cross))
    throw Error(band_name(band) + ": over the rows the robust weights keep, the remote reference's field is not "
                "coherent with both local magnetic inputs");
  return solve2(cross, v0, v1);
}

// Iterates weighted least squares for output o from z with the weight
// function until the estimate changes by less than the tolerance or the
// iterations run out; returns the iterations made, or -1 when the residuals
// vanish (an exact fit, which no weighting improves).
template <class W>
int reweight(const Band& band, const BandRows& rows, int o, const W& weigher, int iterations, double tolerance,
             EstimateWork& work, std::array<cplx, nin>& z) {
  const int n = rows.n;
  const cplx* x = rows.x.data();
  const cplx* res = work.residual.data();
  const double* u = work.leverage.data();
  for (int it = 1; it <= iterations; ++it) {
    const double s2 = residual_scale2(rows, o, z, work);
    if (!(s2 > 0)) return -1;
    const double inv_s2 = 1 / s2;
    std::array<cplx, 2> dz;
    if (rows.has_reference()) {
      dz = reference_step(band, rows, weigher, inv_s2, work);
    } else {
      Hermitian2 power;
      cplx v0{}, v1{};
      for (int i = 0; i < n; ++i) {
        const cplx x0 = x[2 * i], x1 = x[2 * i + 1], r = res[i];
        const double c = u[i] * weigher.weight(std::norm(r) * inv_s2);
        power.add(c, x0, x1);
        v0 += c * conj_mul(x0, r);
        v1 += c * conj_mul(x1, r);
      }
      if (!power.well_posed())
        throw Error(band_name(band) + ": the rows the robust weights keep do not span both magnetic inputs");
      dz = power.solve(v0, v1);
    }
    z[0] += dz[0];
    z[1] += dz[1];
    if (std::norm(dz[0]) + std::norm(dz[1]) <= tolerance * tolerance * (std::norm(z[0]) + std::norm(z[1]))) return it;
  }
  return iterations;
}

// The final weights of output o at its estimate (work.weight, work.slope),
// with the scale of its final residuals, and the summary of the weights.
template <class W>
void final_weights(const BandRows& rows, int o, const W& weigher, EstimateWork& work, OutputEstimate& out,
                   double inflation) {
  const int n = rows.n, nout = rows.nout;
  const cplx* y = rows.y.data();
  const cplx* res = work.residual.data();
  const double* u = work.leverage.data();
  double s2 = 0;
  if constexpr (W::robust) {
    s2 = residual_scale2(rows, o, out.z, work);
  } else {
    for (int i = 0; i < n; ++i) work.residual[i] = residual(rows, i, o, out.z);
  }
  // An exact fit (residuals nothing but rounding, or none) keeps every row.
  const bool weigh = W::robust && s2 > 0;
  const double inv_s2 = weigh ? 1 / s2 : 0;
  double sum_c = 0, sum_c2 = 0, sum_cr = 0, sum_cy = 0;
  int used = 0, down = 0;
  for (int i = 0; i < n; ++i) {
    const double r2 = std::norm(res[i]);
    const double w = weigh ? weigher.weight(r2 * inv_s2) : 1.0;
    const double slope = weigh ? weigher.slope(r2 * inv_s2) : 1.0;
    work.weight[std::size_t(i) * nout + o] = w;
    work.slope[std::size_t(i) * nout + o] = slope;
    const double c = u[i] * w;
    sum_c += c;
    sum_c2 += c * c;
    sum_cr += c * r2;
    sum_cy += c * std::norm(y[std::size_t(i) * nout + o]);
    used += c > 0;
    down += c < downweighted_below;
  }
  out.rows_used = used;
  out.rows_downweighted = down;
  out.residual_power = sum_c > 0 ? sum_cr / sum_c : 0;
  out.coherence2 = sum_cy > 0 ? std::clamp(1 - sum_cr / sum_cy, 0.0, 1.0) : 0;
  // Kish's effective number of rows under the weights, counted in
  // independent rows, less the two complex parameters; two real degrees of
  // freedom per complex row.
  const double effective = sum_c2 > 0 ? sum_c * sum_c / sum_c2 / inflation : 0;
  out.dof = std::max(0.0, 2 * (effective - nin));
}

// The remote-reference start: z = (R^H H)^-1 R^H y for every output, the
// reference field R the instruments (Gamble, Goubau & Clarke 1979). Noise in
// H that R does not share averages out of both cross powers, whereas in H^H H
// it adds power and so biases a single-station impedance low. Returns the
// instruments' own power R^H R, whose hat matrix gives the leverage.
Hermitian2 reference_start(const Band& band, const BandRows& rows, BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* q = rows.r.data();
  const cplx* y = rows.y.data();
  Hermitian2 instruments;
  Matrix2 cross{};
  std::array<cplx, 3 * nin> v{};
  for (int i = 0; i < n; ++i) {
    const cplx r0 = q[2 * i], r1 = q[2 * i + 1];
    instruments.add(1.0, r0, r1);
    add_cross(cross, 1.0, r0, r1, x[2 * i], x[2 * i + 1]);
    for (int o = 0; o < nout; ++o) {
      v[2 * o] += conj_mul(r0, y[i * nout + o]);
      v[2 * o + 1] += conj_mul(r1, y[i * nout + o]);
    }
  }
  if (!std::isfinite(instruments.a) || !std::isfinite(instruments.d) || !std::isfinite(std::abs(instruments.b)))
    throw Error(band_name(band) + ": the remote reference's rows hold a coefficient that is not a finite number");
  if (!instruments.well_posed())
    throw Error(band_name(band) + ": the remote reference's Hx and Hy are not independent over the band's " +
                std::to_string(n) + " rows (zero, or coherence 1)");
  if (!well_posed2(cross))
    throw Error(band_name(band) + ": the remote reference's field is not coherent with both local magnetic inputs "
                "over the band's " + std::to_string(n) + " rows");
  for (int o = 0; o < nout; ++o) {
    const auto z = solve2(cross, v[2 * o], v[2 * o + 1]);
    est.out[o].z = {z[0], z[1]};
  }
  return instruments;
}

}  // namespace

void EstimateWork::reserve(int max_rows, int max_windows) {
  const auto n = std::size_t(std::max(max_rows, 0));
  const auto g = std::size_t(std::max(max_windows, 1));
  leverage.reserve(n);
  weight.reserve(3 * n);
  slope.reserve(3 * n);
  select.reserve(n);
  residual.reserve(n);
  histogram.reserve(4 * buckets);
  group.reserve(n);
  by_group.reserve(n);
  harmonics.reserve(n);
  start.reserve(g + 1);
  slot.reserve(4 * n + 64);
  sums.reserve(g * 3 * 6);
  deleted.reserve(g * 3 * nin);
  draws.reserve(g);
}

namespace {

// Least squares: the normal equations of every output in one pass. Returns
// the inputs' power matrix and leaves the estimate in est.
Hermitian2 least_squares(const Band& band, const BandRows& rows, BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* y = rows.y.data();
  Hermitian2 power;
  std::array<cplx, 3 * nin> cross{};
  for (int i = 0; i < n; ++i) {
    const cplx x0 = x[2 * i], x1 = x[2 * i + 1];
    power.add(1.0, x0, x1);
    for (int o = 0; o < nout; ++o) {
      cross[2 * o] += conj_mul(x0, y[i * nout + o]);
      cross[2 * o + 1] += conj_mul(x1, y[i * nout + o]);
    }
  }
  bool finite = std::isfinite(power.a) && std::isfinite(power.d) && std::isfinite(std::abs(power.b));
  for (const cplx& c : cross) finite = finite && std::isfinite(std::abs(c));
  if (!finite) throw Error(band_name(band) + ": the rows hold a coefficient that is not a finite number");
  if (!power.well_posed())
    throw Error(band_name(band) + ": the magnetic inputs Hx and Hy are not independent over the band's " +
                std::to_string(n) + " rows (zero, or coherence 1)");
  for (int o = 0; o < nout; ++o) {
    const auto z = power.solve(cross[2 * o], cross[2 * o + 1]);
    est.out[o].z = {z[0], z[1]};
  }
  return power;
}

// Leverage weights from the hat-matrix diagonal h of the regressors `lever`
// (the inputs, or the instruments with a remote reference) of power matrix
// `power`, whose mean is nin / n.
void leverage_weights(int n, const cplx* lever, const Hermitian2& power, double cutoff, EstimateWork& work) {
  const double det = power.det();
  const double scale = n / double(nin) / det;
  for (int i = 0; i < n; ++i) {
    const cplx x0 = lever[2 * i], x1 = lever[2 * i + 1];
    const double h = (power.d * std::norm(x0) + power.a * std::norm(x1) - 2 * std::real(x0 * power.b * std::conj(x1)));
    const double normalised = h * scale;  // n h / nin, mean 1
    if (normalised > cutoff) work.leverage[i] = std::sqrt(cutoff / normalised);
  }
}

// The robust estimate of every output from the start in est: Huber
// iterations, then the redescending ones, then the final weights.
void robust_estimate(const Band& band, const BandRows& rows, const EstimateOptions& options, double inflation,
                     EstimateWork& work, BandEstimate& est) {
  const Huber huber{options.huber_k * options.huber_k};
  const Biweight biweight{1 / (options.biweight_c * options.biweight_c)};
  const bool redescend = options.redescending_iterations > 0;
  for (int o = 0; o < rows.nout; ++o) {
    auto& z = est.out[o].z;
    int iterations = reweight(band, rows, o, huber, options.huber_iterations, options.tolerance, work, z);
    if (iterations >= 0 && redescend) {
      const int more = reweight(band, rows, o, biweight, options.redescending_iterations, options.tolerance, work, z);
      iterations = more < 0 ? -1 : iterations + more;
    }
    est.iterations = std::max(est.iterations, iterations);
    if (redescend)
      final_weights(rows, o, biweight, work, est.out[o], inflation);
    else
      final_weights(rows, o, huber, work, est.out[o], inflation);
  }
}

// The errors by the method asked for; the parametric ones always, since
// the others keep their inverse power.
void estimate_errors(const Band& band, const BandRows& rows, const EstimateOptions& options, double inflation,
                     EstimateWork& work, BandEstimate& est) {
  parametric_errors(rows, inflation, work, est);
  if (options.errors == ErrorMethod::jackknife) {
    if (est.windows < jackknife_min_windows)
      throw Error(band_name(band) + ": the jackknife needs at least " + std::to_string(jackknife_min_windows) +
                  " windows, the band's rows come from " + std::to_string(est.windows));
    jackknife_errors(rows, est.windows, work, est);
  } else if (options.errors == ErrorMethod::bootstrap) {
    if (options.bootstrap_resamples < 2)
      throw Error(band_name(band) + ": the bootstrap needs at least 2 resamples, asked for " +
                  std::to_string(options.bootstrap_resamples));
    if (est.windows < bootstrap_min_windows)
      throw Error(band_name(band) + ": the bootstrap needs at least " + std::to_string(bootstrap_min_windows) +
                  " windows, the band's rows come from " + std::to_string(est.windows));
    bootstrap_errors(rows, est.windows, options.bootstrap_resamples, options.bootstrap_seed, work, est);
  }
}

}  // namespace

BandEstimate estimate_band(const Band& band, const BandRows& rows, const EstimateOptions& options,
                           EstimateWork& work) {
  check_rows(band, rows, options);
  const int n = rows.n, nout = rows.nout;
  BandEstimate est;
  est.band = band;
  est.rows = n;
  est.out.resize(std::size_t(nout));
  if (n == 0) throw Error(band_name(band) + ": no rows to estimate");

  work.leverage.assign(std::size_t(n), 1.0);
  work.weight.resize(std::size_t(n) * nout);
  work.slope.resize(std::size_t(n) * nout);
  work.select.resize(std::size_t(n));
  work.residual.resize(std::size_t(n));
  work.histogram.resize(4 * buckets);
  est.windows = group_windows(rows, work);
  const double inflation = variance_inflation(rows, options.rho2, est.windows, work);
  if (n - nin * inflation < 1)
    throw Error(band_name(band) + ": " + std::to_string(n) + " rows count as " + std::to_string(n / inflation) +
                " independent ones; two inputs need more than " + std::to_string(nin + 1.0 / inflation));

  Hermitian2 power = least_squares(band, rows, est);
  // With a remote reference the start is the instrumental-variable
  // solution, and the leverage is that of the instruments.
  const cplx* lever = rows.x.data();
  if (rows.has_reference()) {
    power = reference_start(band, rows, est);
    lever = rows.r.data();
  }
  if (options.estimator == Estimator::ols) {
    for (int o = 0; o < nout; ++o) final_weights(rows, o, Unit{}, work, est.out[o], inflation);
  } else {
    if (options.leverage_cutoff > 0) leverage_weights(n, lever, power, options.leverage_cutoff, work);
    robust_estimate(band, rows, options, inflation, work, est);
  }
  estimate_errors(band, rows, options, inflation, work, est);
  return est;
}

}  // namespace qv::tf
