#include "transfer/errors.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "transfer/hermitian2.hpp"

namespace qv::tf {

namespace {

// The mean of the weight function's derivative over the rows: the factor by
// which downweighting slows the estimating equation's response to a change
// of the estimate. Least squares has 1. Where the slopes do not hold (see
// slope_sums) the mean weight stands in: the covariance of a fixed-weight
// least squares.
double mean_slope(const EstimateWork& work, int n, int nout, int o) {
  const SlopeSums sums = slope_sums(work, n, nout, o);
  return sums.hold() ? sums.slope / n : sums.weight / n;
}

// The inverse signal power of the instrumental-variable estimate,
// (R^H U H)^-1 (R^H U^2 R) (H^H U R)^-1 (see errors.hpp).
Matrix2 reference_inverse_power(const BandRows& rows, const double* u) {
  const cplx* x = rows.x.data();
  const cplx* q = rows.r.data();
  Matrix2 cross{};
  Hermitian2 instruments2;
  for (int i = 0; i < rows.n; ++i) {
    add_cross(cross, u[i], q[2 * i], q[2 * i + 1], x[2 * i], x[2 * i + 1]);
    instruments2.add(u[i] * u[i], q[2 * i], q[2 * i + 1]);
  }
  const Matrix2 inv = inverse2(cross);
  return inv * instruments2.matrix() * adjoint2(inv);
}

}  // namespace

SlopeSums slope_sums(const EstimateWork& work, int n, int nout, int o) {
  SlopeSums sums;
  for (int i = 0; i < n; ++i) {
    sums.slope += work.slope[std::size_t(i) * nout + o];
    sums.weight += work.weight[std::size_t(i) * nout + o];
  }
  return sums;
}

int group_windows(const BandRows& rows, EstimateWork& work) {
  const int n = rows.n;
  const int* window = rows.window.data();
  work.group.resize(std::size_t(n));
  work.by_group.resize(std::size_t(n));
  int windows = 0;
  const auto [lo, hi] = std::minmax_element(window, window + n);
  const std::int64_t range = std::int64_t(*hi) - *lo + 1;
  if (range <= std::max<std::int64_t>(4 * std::int64_t(n) + 64, std::int64_t(work.slot.capacity()))) {
    // Window numbers of one level are nearly contiguous: a table from
    // number to index, indices in the order the windows first appear.
    work.slot.assign(std::size_t(range), -1);
    for (int i = 0; i < n; ++i) {
      int& s = work.slot[std::size_t(window[i] - *lo)];
      if (s < 0) s = windows++;
      work.group[i] = s;
    }
  } else {
    // Widely scattered numbers: sort the rows by window instead.
    for (int i = 0; i < n; ++i) work.by_group[i] = i;
    std::sort(work.by_group.begin(), work.by_group.end(),
              [&](int a, int b) { return window[a] != window[b] ? window[a] < window[b] : a < b; });
    for (int k = 0; k < n; ++k) {
      const int i = work.by_group[k];
      if (k > 0 && window[i] != window[work.by_group[k - 1]]) ++windows;
      work.group[i] = windows;
    }
    ++windows;
  }
  // Rows ordered by window, in their own order within one.
  work.start.assign(std::size_t(windows) + 1, 0);
  for (int i = 0; i < n; ++i) ++work.start[work.group[i] + 1];
  for (int g = 0; g < windows; ++g) work.start[g + 1] += work.start[g];
  for (int i = 0; i < n; ++i) work.by_group[work.start[work.group[i]]++] = i;
  for (int g = windows; g > 0; --g) work.start[g] = work.start[g - 1];
  work.start[0] = 0;
  return windows;
}

double variance_inflation(const BandRows& rows, std::span<const double> rho2, int windows, EstimateWork& work) {
  const auto reach = int(rho2.size());
  if (reach <= 1) return 1.0;
  double total = 0;
  for (int g = 0; g < windows; ++g) {
    const int begin = work.start[g], k = work.start[g + 1] - begin;
    work.harmonics.resize(std::size_t(k));
    int* h = work.harmonics.data();
    for (int j = 0; j < k; ++j) h[j] = rows.harmonic[work.by_group[begin + j]];
    // Rows of one window come in harmonic order, or nearly: insertion sort.
    for (int j = 1; j < k; ++j)
      for (int l = j; l > 0 && h[l - 1] > h[l]; --l) std::swap(h[l - 1], h[l]);
    total += k;
    for (int j = 0; j < k; ++j)
      for (int l = j + 1; l < k && h[l] - h[j] < reach; ++l) total += 2 * rho2[std::size_t(h[l] - h[j])];
  }
  return total / rows.n;
}

void parametric_errors(const BandRows& rows, double inflation, EstimateWork& work, BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* y = rows.y.data();
  const double* u = work.leverage.data();

  // The inverse signal power under the leverage weights.
  Matrix2 q;
  if (rows.has_reference()) {
    q = reference_inverse_power(rows, u);
  } else {
    Hermitian2 power, power2;
    for (int i = 0; i < n; ++i) {
      power.add(u[i], x[2 * i], x[2 * i + 1]);
      power2.add(u[i] * u[i], x[2 * i], x[2 * i + 1]);
    }
    const Matrix2 inv = power.inverse();
    q = inv * power2.matrix() * inv;
  }

  // The residual covariance: sum of w_o r_o conj(w_p r_p) over the degrees
  // of freedom, divided by the mean slopes.
  std::array<cplx, 9> sum{};
  std::array<cplx, 3> a{};
  for (int i = 0; i < n; ++i) {
    for (int o = 0; o < nout; ++o) {
      const auto& z = est.out[o].z;
      a[o] = work.weight[std::size_t(i) * nout + o] * (y[i * nout + o] - mul(x[2 * i], z[0]) - mul(x[2 * i + 1], z[1]));
    }
    for (int o = 0; o < nout; ++o)
      for (int p = o; p < nout; ++p) sum[o * 3 + p] += conj_mul(a[p], a[o]);
  }
  const double dof = n - nin * inflation;
  if (!(dof > 0))
    throw Error(band_name(est.band) + ": too few independent rows for the errors of two inputs");
  std::array<double, 3> slope{};
  for (int o = 0; o < nout; ++o) slope[o] = mean_slope(work, n, nout, o);
  est.residual_cov.assign(std::size_t(nout) * nout, cplx{});
  for (int o = 0; o < nout; ++o)
    for (int p = o; p < nout; ++p) {
      const cplx c = sum[o * 3 + p] / (dof * slope[o] * slope[p]);
      est.residual_cov[o * nout + p] = c;
      est.residual_cov[p * nout + o] = std::conj(c);
    }
  for (int k = 0; k < 4; ++k) est.inverse_power[k] = inflation * q[k];
  // Exactly Hermitian, with a real diagonal.
  est.inverse_power[0] = est.inverse_power[0].real();
  est.inverse_power[3] = est.inverse_power[3].real();
  est.inverse_power[2] = std::conj(est.inverse_power[1]);
  for (int o = 0; o < nout; ++o) {
    est.residual_cov[o * nout + o] = est.residual_cov[o * nout + o].real();
    for (int j = 0; j < nin; ++j)
      est.out[o].var[j] = est.residual_cov[o * nout + o].real() * est.inverse_power[j * nin + j].real();
  }
}

namespace {

// The single-station delete-one estimates into work.deleted, and their sum.
std::array<cplx, 3 * nin> deleted_single(const BandRows& rows, int windows, EstimateWork& work, const BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* y = rows.y.data();
  const double* u = work.leverage.data();
  constexpr int nsum = 5;  // per window and output: the slope-weighted power (a, d, b), the weighted residual sums
  work.sums.assign(std::size_t(windows) * nout * nsum, cplx{});
  std::array<Hermitian2, 3> total{};
  for (int i = 0; i < n; ++i) {
    const cplx x0 = x[2 * i], x1 = x[2 * i + 1];
    cplx* s = work.sums.data() + std::size_t(work.group[i]) * nout * nsum;
    for (int o = 0; o < nout; ++o, s += nsum) {
      const auto& z = est.out[o].z;
      const std::size_t io = std::size_t(i) * nout + o;
      const double c = u[i] * work.slope[io];
      const cplx r = u[i] * work.weight[io] * (y[i * nout + o] - mul(x0, z[0]) - mul(x1, z[1]));
      s[0] += c * std::norm(x0);
      s[1] += c * std::norm(x1);
      s[2] += c * conj_mul(x0, x1);
      s[3] += conj_mul(x0, r);
      s[4] += conj_mul(x1, r);
      total[o].add(c, x0, x1);
    }
  }
  // The delete-one estimates and their sum.
  work.deleted.resize(std::size_t(windows) * nout * nin);
  std::array<cplx, 3 * nin> mean{};
  for (int g = 0; g < windows; ++g)
    for (int o = 0; o < nout; ++o) {
      const cplx* s = work.sums.data() + (std::size_t(g) * nout + o) * nsum;
      Hermitian2 rest = total[o];
      rest -= Hermitian2{s[0].real(), s[1].real(), s[2]};
      if (!rest.well_posed())
        throw Error(band_name(est.band) + ": without one of its windows the band's rows do not span both magnetic "
                    "inputs; the jackknife cannot delete it");
      const auto step = rest.solve(s[3], s[4]);
      cplx* d = work.deleted.data() + (std::size_t(g) * nout + o) * nin;
      for (int j = 0; j < nin; ++j) {
        d[j] = est.out[o].z[j] - step[j];
        mean[o * nin + j] += d[j];
      }
    }
  return mean;
}

// The same with a remote reference: per window the slope-weighted cross
// power of instruments and inputs and the weighted residual sums against
// the instruments; each delete-one estimate one step of the
// instrumental-variable equations.
std::array<cplx, 3 * nin> deleted_reference(const BandRows& rows, int windows, EstimateWork& work,
                                            const BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* q = rows.r.data();
  const cplx* y = rows.y.data();
  const double* u = work.leverage.data();
  constexpr int nsum = 6;  // per window and output: the cross power (row-major), the residual sums
  work.sums.assign(std::size_t(windows) * nout * nsum, cplx{});
  std::array<Matrix2, 3> total{};
  for (int i = 0; i < n; ++i) {
    const cplx x0 = x[2 * i], x1 = x[2 * i + 1], r0 = q[2 * i], r1 = q[2 * i + 1];
    cplx* s = work.sums.data() + std::size_t(work.group[i]) * nout * nsum;
    for (int o = 0; o < nout; ++o, s += nsum) {
      const auto& z = est.out[o].z;
      const std::size_t io = std::size_t(i) * nout + o;
      const double c = u[i] * work.slope[io];
      const cplx r = u[i] * work.weight[io] * (y[i * nout + o] - mul(x0, z[0]) - mul(x1, z[1]));
      Matrix2 part{s[0], s[1], s[2], s[3]};
      add_cross(part, c, r0, r1, x0, x1);
      add_cross(total[o], c, r0, r1, x0, x1);
      for (int k = 0; k < 4; ++k) s[k] = part[k];
      s[4] += conj_mul(r0, r);
      s[5] += conj_mul(r1, r);
    }
  }
  work.deleted.resize(std::size_t(windows) * nout * nin);
  std::array<cplx, 3 * nin> mean{};
  for (int g = 0; g < windows; ++g)
    for (int o = 0; o < nout; ++o) {
      const cplx* s = work.sums.data() + (std::size_t(g) * nout + o) * nsum;
      Matrix2 rest = total[o];
      for (int k = 0; k < 4; ++k) rest[k] -= s[k];
      if (!well_posed2(rest))
        throw Error(band_name(est.band) + ": without one of its windows the remote reference's field is not "
                    "coherent with both magnetic inputs; the jackknife cannot delete it");
      const auto step = solve2(rest, s[4], s[5]);
      cplx* d = work.deleted.data() + (std::size_t(g) * nout + o) * nin;
      for (int j = 0; j < nin; ++j) {
        d[j] = est.out[o].z[j] - step[j];
        mean[o * nin + j] += d[j];
      }
    }
  return mean;
}

}  // namespace

void jackknife_errors(const BandRows& rows, int windows, EstimateWork& work, BandEstimate& est) {
  const int nout = rows.nout;
  std::array<cplx, 3 * nin> mean = rows.has_reference() ? deleted_reference(rows, windows, work, est)
                                                        : deleted_single(rows, windows, work, est);
  const int m = nout * nin;
  for (int k = 0; k < m; ++k) mean[k] /= windows;
  std::array<cplx, 36> cov{};  // (o, j) x (p, k)
  for (int g = 0; g < windows; ++g) {
    const cplx* d = work.deleted.data() + std::size_t(g) * m;
    for (int a = 0; a < m; ++a)
      for (int b = 0; b < m; ++b) cov[a * m + b] += (d[a] - mean[a]) * std::conj(d[b] - mean[b]);
  }
  const double factor = double(windows - 1) / windows;
  for (cplx& c : cov) c *= factor;
  for (int o = 0; o < nout; ++o)
    for (int j = 0; j < nin; ++j) est.out[o].var[j] = cov[(o * nin + j) * m + o * nin + j].real();
  match_residual_cov(cov.data(), est);
}

void match_residual_cov(const cplx* cov, BandEstimate& est) {
  const int nout = int(est.out.size()), m = nout * nin;
  // The residual covariance that, times the parametric inverse power P,
  // comes nearest the covariance C: tr(P^-1 C_op) / 2.
  const auto& p = est.inverse_power;
  const Matrix2 pinv = Hermitian2{p[0].real(), p[3].real(), p[1]}.inverse();
  for (int o = 0; o < nout; ++o)
    for (int q = 0; q < nout; ++q) {
      cplx tr{};
      for (int j = 0; j < nin; ++j)
        for (int k = 0; k < nin; ++k) tr += pinv[j * nin + k] * cov[(o * nin + k) * m + q * nin + j];
      est.residual_cov[o * nout + q] = tr / 2.0;
    }
  for (int o = 0; o < nout; ++o) est.residual_cov[o * nout + o] = est.residual_cov[o * nout + o].real();
}

}  // namespace qv::tf
