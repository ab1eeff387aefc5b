// Cost of estimating one band: 100 000 rows (5000 windows of 20 harmonics), and
// 10 000 (whose rows stay in the core's own cache), with
// Ex, Ey and Hz, robust with parametric errors (the default), robust with the
// jackknife, and least squares, reported per row. A 32 Hz station-day makes a
// few million rows in all.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

#include "transfer/estimate.hpp"

namespace {

using qv::tf::cplx;

qv::tf::BandRows band_rows(int n) {
  std::mt19937_64 gen(11);
  std::normal_distribution<double> g(0.0, 1.0);
  auto c = [&] { return cplx(g(gen), g(gen)); };
  const cplx z[3][2] = {{{0.3, 0.2}, {2.0, -1.5}}, {{-1.8, 1.1}, {-0.25, -0.1}}, {{0.12, -0.05}, {-0.08, 0.2}}};
  qv::tf::BandRows rows;
  rows.nout = 3;
  rows.n = n;
  for (int i = 0; i < n; ++i) {
    const cplx hx = c(), hy = 0.5 * hx + c();
    // As the coefficient file holds them: harmonic by harmonic, every window
    // at each. Gaussian noise, and strong noise in one window of twenty.
    const int window = i % (n / 20), harmonic = 40 + i / (n / 20);
    const double sd = window % 20 == 3 ? 50.0 : 0.5;
    rows.x.push_back(hx);
    rows.x.push_back(hy);
    for (int o = 0; o < 3; ++o) rows.y.push_back(z[o][0] * hx + z[o][1] * hy + sd * c());
    rows.window.push_back(window);
    rows.harmonic.push_back(harmonic);
  }
  return rows;
}

void estimate(benchmark::State& state, qv::tf::Estimator e, qv::tf::ErrorMethod m) {
  const int n = int(state.range(0));
  const qv::tf::BandRows rows = band_rows(n);
  const std::vector<double> rho2 = {1.0, 0.45, 0.04, 0.001};
  qv::tf::Band band;
  band.first_harmonic = 40;
  band.last_harmonic = 59;
  qv::tf::EstimateOptions options;
  options.estimator = e;
  options.errors = m;
  options.rho2 = rho2;
  qv::tf::EstimateWork work;
  work.reserve(n, n / 20);
  int iterations = 0;
  for (auto _ : state) {
    const qv::tf::BandEstimate est = qv::tf::estimate_band(band, rows, options, work);
    iterations = est.iterations;
    benchmark::DoNotOptimize(est.out[0].z[0]);
  }
  state.counters["ns_per_row"] =
      benchmark::Counter(double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["iterations"] = iterations;
}

void BM_BandRobustParametric(benchmark::State& state) {
  estimate(state, qv::tf::Estimator::robust, qv::tf::ErrorMethod::parametric);
}
BENCHMARK(BM_BandRobustParametric)->Arg(100000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BandRobustJackknife(benchmark::State& state) {
  estimate(state, qv::tf::Estimator::robust, qv::tf::ErrorMethod::jackknife);
}
BENCHMARK(BM_BandRobustJackknife)->Arg(100000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BandLeastSquares(benchmark::State& state) {
  estimate(state, qv::tf::Estimator::ols, qv::tf::ErrorMethod::parametric);
}
BENCHMARK(BM_BandLeastSquares)->Arg(100000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
