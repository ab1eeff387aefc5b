#include "transfer/bootstrap.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "common/error.hpp"
#include "transfer/errors.hpp"
#include "transfer/hermitian2.hpp"

namespace qv::tf {

namespace {

// Per window and output: the cross products M = sum c' rho^H x (row-major,
// four values) and the residual sums v = sum c rho^H r (two values).
constexpr int nsum = 6;

std::uint64_t splitmix(std::uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Fills work.sums with every window's sums. The Newton step's matrix takes
// the slope of the weight function (the derivative of the estimating
// equation, as the parametric covariance and the jackknife do); should wild
// data leave an output's slopes near zero or below, its weights stand in,
// the resamples then fixed-weight least squares.
void window_sums(const BandRows& rows, EstimateWork& work, const BandEstimate& est) {
  const int n = rows.n, nout = rows.nout;
  const cplx* x = rows.x.data();
  const cplx* y = rows.y.data();
  const cplx* rho = rows.has_reference() ? rows.r.data() : x;
  const double* u = work.leverage.data();
  std::array<bool, 3> by_slope{};
  for (int o = 0; o < nout; ++o) by_slope[o] = slope_sums(work, n, nout, o).hold();
  for (int i = 0; i < n; ++i) {
    const cplx x0 = x[2 * i], x1 = x[2 * i + 1], r0 = rho[2 * i], r1 = rho[2 * i + 1];
    const cplx p00 = conj_mul(r0, x0), p01 = conj_mul(r0, x1), p10 = conj_mul(r1, x0), p11 = conj_mul(r1, x1);
    cplx* s = work.sums.data() + std::size_t(work.group[i]) * nout * nsum;
    for (int o = 0; o < nout; ++o, s += nsum) {
      const auto& z = est.out[o].z;
      const std::size_t io = std::size_t(i) * nout + o;
      const double w = u[i] * work.weight[io];
      const double c = by_slope[o] ? u[i] * work.slope[io] : w;
      const cplx r = w * (y[io] - mul(x0, z[0]) - mul(x1, z[1]));
      s[0] += c * p00;
      s[1] += c * p01;
      s[2] += c * p10;
      s[3] += c * p11;
      s[4] += conj_mul(r0, r);
      s[5] += conj_mul(r1, r);
    }
  }
}

// The sums of the first and second moments of the resamples' steps from
// the full estimate, elements (o, j) in the order o * nin + j.
struct Moments {
  std::array<cplx, 3 * nin> first{};
  std::array<cplx, 36> second{};
};

// Draws `resamples` resamples of the windows and adds their steps to the
// moments. A resample first counts how often it drew each window, then adds
// the windows' sums times their counts in window order: one pass through
// the sums in memory order instead of a jump per draw (the sums of a long
// band are several megabytes). NOUT outputs, fixed at compile time so the
// sums of a window are one short loop the compiler unrolls.
template <int NOUT>
void resample(const Band& band, int windows, int resamples, std::uint64_t seed, EstimateWork& work, Moments& mom) {
  constexpr int m = NOUT * nin, width = NOUT * nsum;
  std::mt19937_64 gen(seed);
  const double* sums = reinterpret_cast<const double*>(work.sums.data());
  int* count = work.draws.data();
  int failed = 0;
  for (int b = 0; b < resamples;) {
    std::fill(count, count + windows, 0);
    for (int k = 0; k < windows; ++k) ++count[uniform_below(gen, std::uint64_t(windows))];
    std::array<double, 2 * width> sum{};
    for (int g = 0; g < windows; ++g) {
      const double times = count[g];
      const double* s = sums + std::size_t(g) * 2 * width;
      for (int t = 0; t < 2 * width; ++t) sum[t] += times * s[t];
    }
    std::array<cplx, width> acc;
    for (int t = 0; t < width; ++t) acc[t] = {sum[2 * t], sum[2 * t + 1]};
    std::array<cplx, m> d{};
    bool solved = true;
    for (int o = 0; o < NOUT; ++o) {
      const cplx* s = acc.data() + o * nsum;
      const cplx det = s[0] * s[3] - s[1] * s[2];
      const double scale = (std::norm(s[0]) + std::norm(s[1])) * (std::norm(s[2]) + std::norm(s[3]));
      if (!(std::norm(det) > 1e-24 * scale)) {
        solved = false;
        break;
      }
      d[o * nin] = (s[3] * s[4] - s[1] * s[5]) / det;
      d[o * nin + 1] = (s[0] * s[5] - s[2] * s[4]) / det;
    }
    // A resample whose windows do not span both instruments has no
    // estimate; it is drawn again. Should that keep happening, the band
    // rests on too few windows of one direction for the bootstrap.
    if (!solved) {
      if (++failed > resamples)
        throw Error(band_name(band) + ": the resampled windows keep failing to span both magnetic inputs; "
                    "the bootstrap cannot estimate the band's errors");
      continue;
    }
    for (int a = 0; a < m; ++a) {
      mom.first[a] += d[a];
      for (int c = 0; c < m; ++c) mom.second[a * m + c] += d[a] * std::conj(d[c]);
    }
    ++b;
  }
}

}  // namespace

std::uint64_t bootstrap_seed_of(std::uint64_t seed, const Band& band) {
  std::uint64_t h = splitmix(seed);
  for (const int v : {band.level_id, band.first_harmonic, band.last_harmonic})
    h = splitmix(h ^ std::uint64_t(std::uint32_t(v)));
  return h;
}

void bootstrap_errors(const BandRows& rows, int windows, int resamples, std::uint64_t seed, EstimateWork& work,
                      BandEstimate& est) {
  const int nout = rows.nout, m = nout * nin;
  work.sums.assign(std::size_t(windows) * nout * nsum, cplx{});
  work.draws.resize(std::size_t(windows));
  window_sums(rows, work, est);
  Moments mom;
  const std::uint64_t band_seed = bootstrap_seed_of(seed, est.band);
  if (nout == 3)
    resample<3>(est.band, windows, resamples, band_seed, work, mom);
  else
    resample<2>(est.band, windows, resamples, band_seed, work, mom);
  // The sample covariance over the resamples.
  std::array<cplx, 36> cov{};
  for (int a = 0; a < m; ++a)
    for (int c = 0; c < m; ++c)
      cov[a * m + c] = (mom.second[a * m + c] - mom.first[a] * std::conj(mom.first[c]) / double(resamples)) /
                       double(resamples - 1);
  for (int o = 0; o < nout; ++o)
    for (int j = 0; j < nin; ++j) est.out[o].var[j] = cov[(o * nin + j) * m + o * nin + j].real();
  match_residual_cov(cov.data(), est);
}

}  // namespace qv::tf
