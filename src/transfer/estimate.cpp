#include "transfer/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/error.hpp"
#include "transfer/errors.hpp"
#include "transfer/hermitian2.hpp"

namespace qv::tf {

namespace {

// For complex Gaussian residuals of variance sigma^2 = E|r|^2, |r| is
// Rayleigh and |r|^2 exponential with mean sigma^2: the median of |r|^2 is
// sigma^2 ln 2. So median(|r|^2) / ln 2 estimates sigma^2 without bias, and
// the median absolute residual becomes a scale in units of sigma.
constexpr double ln2 = 0.69314718055994530942;

std::string band_name(const Band& b) {
  return "band of level " + std::to_string(b.level_id) + ", harmonics " + std::to_string(b.first_harmonic) + "-" +
         std::to_string(b.last_harmonic);
}

void check_rows(const Band& band, const BandRows& rows, const EstimateOptions& options) {
  const auto n = std::size_t(std::max(rows.n, 0));
  if (rows.nout != 2 && rows.nout != 3)
    throw Error(band_name(band) + ": expected 2 or 3 outputs (Ex, Ey[, Hz]), found " + std::to_string(rows.nout));
  if (rows.n < 0 || rows.y.size() != n * std::size_t(rows.nout) || rows.x.size() != n * nin ||
      rows.window.size() != n || rows.harmonic.size() != n)
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
    const auto dz = power.solve(v0, v1);
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
  sums.reserve(g * 3 * 5);
  deleted.reserve(g * 3 * nin);
}

namespace {

// Least squares: the normal equations of every output in one pass, solved
// into est. Returns the inputs' power matrix for the leverage weights.
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

// The robust estimate of every output, starting from the least-squares one
// in est: leverage weights from the inputs, Huber reweighting, then the
// redescending weights when asked for.
void robust_estimate(const Band& band, const BandRows& rows, const EstimateOptions& options, const Hermitian2& power,
                     double inflation, EstimateWork& work, BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  // Leverage weights from the hat-matrix diagonal h of the inputs, whose
  // mean is nin / n.
  if (options.leverage_cutoff > 0) {
    const double det = power.det();
    const double scale = n / double(nin) / det;
    for (int i = 0; i < n; ++i) {
      const cplx x0 = x[2 * i], x1 = x[2 * i + 1];
      const double h = (power.d * std::norm(x0) + power.a * std::norm(x1) - 2 * std::real(x0 * power.b * std::conj(x1)));
      const double normalised = h * scale;  // n h / nin, mean 1
      if (normalised > options.leverage_cutoff) work.leverage[i] = std::sqrt(options.leverage_cutoff / normalised);
    }
  }
  const Huber huber{options.huber_k * options.huber_k};
  const Biweight biweight{1 / (options.biweight_c * options.biweight_c)};
  const bool redescend = options.redescending_iterations > 0;
  for (int o = 0; o < nout; ++o) {
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

  const Hermitian2 power = least_squares(band, rows, est);

  if (options.estimator == Estimator::ols) {
    for (int o = 0; o < nout; ++o) final_weights(rows, o, Unit{}, work, est.out[o], inflation);
  } else {
    robust_estimate(band, rows, options, power, inflation, work, est);
  }

  parametric_errors(rows, inflation, work, est);
  if (options.errors == ErrorMethod::jackknife) {
    if (est.windows < jackknife_min_windows)
      throw Error(band_name(band) + ": the jackknife needs at least " + std::to_string(jackknife_min_windows) +
                  " windows, the band's rows come from " + std::to_string(est.windows));
    jackknife_errors(rows, est.windows, work, est);
  }
  return est;
}

}  // namespace qv::tf
