// The station folders tests/stations/e2e_*: each a station (paths, set-up
// files, system parameter file, a generic ASCII recording) with a table of
// what its Fourier-coefficient file and console must hold: every
// coefficient, every scale record and the header, found by the same analysis
// done here independently in double precision: a direct DFT, our own mean
// removal, taper, prediction-error fit, decimation, median replacement,
// calibration factor and time-grid phase factors. The station-case runner
// checks them on every test run; this file only writes them, by hand, when a
// case is added or the analysis changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/limits.hpp"
#include "driver/run.hpp"
#include "output/fc_reader.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using cd = std::complex<double>;

constexpr int kNch = 2;                      // Ex, Hy
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kMissing = 2147483647.0;  // missing-value marker in the recording

// ---------------------------------------------------------------------------
// The set-ups.

struct LevelSpec {
  int nwin;                  // samples of the level
  const char* olap;          // as written in decset.cfg (may carry a fraction)
  int decfac;                // from the level below
  int nfreq;                 // coefficients kept per window
  std::vector<double> taps;  // decimation filter: centre tap, then the taps at distance 1, 2, ...
};

struct Missing {
  int channel;  // 0 Ex, 1 Hy
  int first;    // sample number (from 0)
  int count;    // consecutive missing samples
};

struct StationCase {
  const char* name;
  const char* dt;       // input sample interval as written, seconds
  int start_after_s;    // start of the recording after the reference time, seconds
  int pw;               // pwset value of every level: 0 none, -1 first difference, p AR of length |p|
  int levoff;
  std::vector<LevelSpec> levels;
  int nsamples;
  std::vector<Missing> missing;
  // Single-precision noise of the program's processing, as a fraction of the
  // largest coefficient of the window and channel. Samples near 120 carry
  // 4e-6 of rounding, about 2e-6 of their fluctuation, and the float sums of
  // mean removal, taper and transform add their own; the worst seen is 1.5e-6,
  // so 1e-5 is allowed. The prediction-error filter is solved in single
  // precision from normal equations whose condition number the 1 % diagonal
  // loading bounds by about 100 p + 1; its coefficients may therefore differ
  // from ours by some 1e-5 (mostly undone again when the spectrum is divided
  // by the filter's response; 3e-7 seen): 3e-5 is allowed there.
  double noise;
};

// nspan 5, nbadmx 2 on every level; iphase and ianchor 0 (grid through the
// reference time).
const StationCase kCases[] = {
    {"one_level", "0.5", 0, 0, 0, {{64, "16", 1, 10, {1.0}}}, 1000, {}, 1e-5},
    {"first_difference", "0.5", 0, -1, 0, {{64, "16", 1, 10, {1.0}}}, 1000, {}, 1e-5},
    {"autoregressive", "0.5", 0, 3, 0, {{64, "16", 1, 10, {1.0}}}, 1000, {}, 3e-5},
    // Level 2 has a fractional overlap, so its windows cannot all start on a
    // level-2 sample: the misfit shift is exercised. dt 0.3 s and a start 10 s
    // after the reference give a start sample of 33.33, so the grid residual
    // is a third of a sample and both levels start at window number 2.
    {"two_levels", "0.3", 10, 0, 10, {{64, "16", 1, 10, {1.0}}, {32, "8.8", 2, 6, {0.5, 0.25}}}, 2000, {}, 1e-5},
    // A start 4 s after the reference: the grid window nearest the first
    // sample began 13.33 samples before it, so the rebased window offsets are
    // negative and the first windows are number 2; first differences on both
    // levels.
    {"two_levels_negative_offset", "0.3", 4, -1, 0,
     {{64, "16", 1, 10, {1.0}}, {32, "8.8", 2, 6, {0.5, 0.25}}}, 2000, {}, 1e-5},
    // Taps that do not sum to one: the cascade renormalises them, and so must
    // the calibration.
    {"two_levels_unnormalised_taps", "0.3", 10, 0, 10,
     {{64, "16", 1, 10, {1.0}}, {32, "8.8", 2, 6, {0.6, 0.3}}}, 2000, {}, 1e-5},
    // Isolated missing samples are replaced by the median of their five
    // neighbours; three in a row exceed nbadmx and reject window 2 (48..111).
    {"missing_samples", "0.5", 0, 0, 0, {{64, "16", 1, 10, {1.0}}}, 1000,
     {{0, 20, 1}, {1, 100, 1}, {0, 150, 2}, {1, 70, 3}}, 1e-5},
};

// Channels of the system parameter file and their scale factors (physical
// units per count): Ex 1 / (S G length in km) = 1 / (2 * 4 * 0.05); Hy 1 / S.
const std::array<double, kNch> kScale = {2.5, 2.0};

// ---------------------------------------------------------------------------
// The station folder.

// A deterministic recording: two red-noise sources and a tone per channel,
// on offsets like those of field data, written with three decimals.
std::vector<std::array<std::string, kNch>> recording_text(const StationCase& sc) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto uniform = [&state] {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<double>((state * 2685821657736338717ull) >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  };
  std::vector<std::array<std::string, kNch>> rows(static_cast<std::size_t>(sc.nsamples));
  double u1 = 0, u2 = 0;
  char buf[32];
  for (int t = 0; t < sc.nsamples; ++t) {
    u1 = 0.95 * u1 + uniform();
    u2 = 0.8 * u2 + uniform();
    const double ex = -35.0 + 4.0 * u1 + 1.5 * std::sin(kTwoPi * t / 23.0) + 0.5 * u2;
    const double hy = 120.0 + 3.0 * u2 + 2.0 * std::cos(kTwoPi * t / 9.7) + 0.2 * uniform();
    std::snprintf(buf, sizeof buf, "%.3f", ex);
    rows[t][0] = buf;
    std::snprintf(buf, sizeof buf, "%.3f", hy);
    rows[t][1] = buf;
  }
  for (const Missing& m : sc.missing)
    for (int t = m.first; t < m.first + m.count; ++t) rows[t][m.channel] = "2147483647";
  return rows;
}

void write_station(const fs::path& dir, const StationCase& sc, const std::vector<std::array<std::string, kNch>>& rows) {
  auto write = [&dir](const char* name, const std::string& text) { std::ofstream(dir / name) << text; };
  write("paths.cfg", ".\n.\n.\ndecset.cfg\npwset.cfg\n.\nsensors\n");
  std::ostringstream dec, pw;
  dec << sc.levels.size() << " " << sc.levoff << "\n";
  pw << sc.levels.size() << "\n";
  for (const LevelSpec& l : sc.levels) {
    dec << l.nwin << " " << l.olap << " " << l.decfac << " 0 0 5 2 " << l.nfreq << " " << l.taps.size() << "\n";
    for (double c : l.taps) dec << c << " ";
    dec << "\n";
    pw << sc.pw << "\n";
  }
  write("decset.cfg", dec.str());
  write("pwset.cfg", pw.str());
  write("st.sp", std::string("E2E STATION\n12.5 -70.5\n3.25\n2\n") + sc.dt +
                     "\n0.0 0.0\nEx\n50.0 10.0 0.0 4.0\n2.0 0\nHy\n100.0 1.5\n0.5 0\n");
  std::ofstream ts(dir / "st.asc");
  const int s = sc.start_after_s;
  ts << sc.dt << "\n2026 5 17 3 " << s / 60 << " " << s % 60 << "\n2026 5 17 3 0 0\n";
  for (const auto& r : rows) ts << r[0] << " " << r[1] << "\n";
}

// ---------------------------------------------------------------------------
// The independent analysis.

// One decimation level: samples with their absolute numbers (input samples
// from the first sample of the recording); NaN marks a missing value.
struct Series {
  int K = 1;  // input samples per sample of the level
  std::vector<std::int64_t> mark;
  std::vector<std::array<double, kNch>> v;
};

// Samples of the next level: centred on the samples of `below` whose absolute
// number lies on the level's decimation phase and whose whole filter support
// exists; the weights of the values present are renormalised to sum 1.
Series decimate(const Series& below, const LevelSpec& l, int K, std::int64_t phase) {
  Series out;
  out.K = K;
  const int h = static_cast<int>(l.taps.size());
  for (int i = h - 1; i + h - 1 < static_cast<int>(below.mark.size()); ++i) {
    if (((below.mark[i] - phase) % K + K) % K != 0) continue;
    std::array<double, kNch> y{};
    for (int c = 0; c < kNch; ++c) {
      double sum = 0, weight = 0;
      int absent = 0;
      for (int j = -(h - 1); j <= h - 1; ++j) {
        const double x = below.v[i + j][c];
        if (std::isnan(x)) {
          ++absent;
          continue;
        }
        sum += l.taps[std::abs(j)] * x;
        weight += l.taps[std::abs(j)];
      }
      y[c] = absent > h - 1 ? NAN : sum / weight;
    }
    out.mark.push_back(below.mark[i]);
    out.v.push_back(y);
  }
  return out;
}

// Median of the values present among the `span` samples centred on index q
// (samples before the first count as missing); false when more than nbadmx
// of them are missing.
bool median_replacement(const Series& s, int c, int q, int span, int nbadmx, double& value) {
  std::vector<double> present;
  int absent = 0;
  for (int j = q - span / 2; j <= q + span / 2; ++j) {
    const double x = j >= 0 && j < static_cast<int>(s.v.size()) ? s.v[j][c] : NAN;
    if (std::isnan(x)) ++absent;
    else present.push_back(x);
  }
  if (absent > nbadmx || present.empty()) return false;
  std::sort(present.begin(), present.end());
  const std::size_t m = present.size();
  value = m % 2 == 1 ? present[m / 2] : 0.5 * (present[m / 2 - 1] + present[m / 2]);
  return true;
}

void remove_mean(std::vector<double>& x, std::size_t m) {
  double mean = 0;
  for (std::size_t t = 0; t < m; ++t) mean += x[t];
  mean /= static_cast<double>(m);
  for (std::size_t t = 0; t < m; ++t) x[t] -= mean;
}

// Prolate taper of unit energy: P(1 - x^2) at the cell centres, times sqrt(2/n).
std::vector<double> prolate_taper(int n) {
  static const double a[] = {0.229020521,    0.434339046,    0.227537543,    0.0552806258,
                             0.00774126919,  0.000704989594, 4.50948464e-05, 2.13734097e-06,
                             7.80751037e-08, 2.26542562e-09, 5.34769382e-11};
  std::vector<double> w(static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t) {
    const double x = (2.0 * t + 1.0) / n - 1.0;
    const double u = 1.0 - x * x;
    double p = 0, upow = 1;
    for (double coef : a) {
      p += coef * upow;
      upow *= u;
    }
    w[t] = p * std::sqrt(2.0 / n);
  }
  return w;
}

// Least-squares forward predictor of order p fitted to the n prediction
// errors it will make, with 1 % of the signal power added to the diagonal.
// Returns a(1..p) in a[0..p-1].
std::vector<double> fit_predictor(const std::vector<double>& x, int n, int p) {
  std::vector<std::vector<double>> A(p, std::vector<double>(p + 1));
  double power = 0;
  for (int s = 0; s < n; ++s) power += x[s] * x[s];
  for (int r = 0; r < p; ++r) {
    for (int c = 0; c < p; ++c) {
      double sum = 0;
      for (int s = 0; s < n; ++s) sum += x[s + c] * x[s + r];
      A[r][c] = sum / n;
    }
    A[r][r] += 0.01 * power / n;
    double rhs = 0;
    for (int s = 0; s < n; ++s) rhs += x[s] * x[s + r + 1];
    A[r][p] = rhs / n;
  }
  // Gauss-Jordan with partial pivoting on the augmented matrix.
  for (int col = 0; col < p; ++col) {
    int piv = col;
    for (int r = col + 1; r < p; ++r)
      if (std::fabs(A[r][col]) > std::fabs(A[piv][col])) piv = r;
    std::swap(A[col], A[piv]);
    for (int r = 0; r < p; ++r) {
      if (r == col) continue;
      const double f = A[r][col] / A[col][col];
      for (int c = col; c <= p; ++c) A[r][c] -= f * A[col][c];
    }
  }
  std::vector<double> a(static_cast<std::size_t>(p));
  for (int r = 0; r < p; ++r) a[r] = A[r][p] / A[r][r];
  return a;
}

// Sum_t x(t) exp(-i 2 pi k t / n), t from 0.
cd dft(const std::vector<double>& x, int n, int k) {
  cd sum = 0;
  for (int t = 0; t < n; ++t) sum += x[t] * std::polar(1.0, -kTwoPi * static_cast<double>((k * t) % n) / n);
  return sum;
}

struct ExpectedWindow {
  int number = 0;
  std::int64_t first_mark = 0, last_mark = 0;
  bool usable = true;
  std::vector<std::array<cd, kNch>> F;  // frequency index k at F[k - 1]
};

struct ExpectedLevel {
  int id = 0, nwin = 0, nfreq = 0;
  double dr = 0;  // seconds
  std::vector<ExpectedWindow> windows;
};

// Everything the file should hold.
struct Expected {
  std::vector<ExpectedLevel> levels;  // levels 1..nd at [0..nd-1]
  int nfmx = 0;
  int nsets = 0;
};

// Pre-whitening filter length of the case: 1 none, 2 first difference, |pw|
// a prediction-error filter of order |pw| - 1.
int filter_length(const StationCase& sc) { return sc.pw == -1 ? 2 : std::max(1, std::abs(sc.pw)); }

// Pre-whitens the n + L - 1 samples of y into its first n; returns the
// predictor a(1..p) that was applied (empty for none or a first difference).
std::vector<double> prewhiten(std::vector<double>& y, int n, const StationCase& sc) {
  const int p = filter_length(sc) - 1;
  if (sc.pw == -1) {
    for (int t = 0; t < n; ++t) y[t] = y[t + 1] - y[t];
    return {};
  }
  if (p == 0) return {};
  const std::vector<double> a = fit_predictor(y, n, p);
  for (int t = 0; t < n; ++t) {
    double e = y[t + p];
    for (int q = 1; q <= p; ++q) e -= a[q - 1] * y[t + p - q];
    y[t] = e;
  }
  return a;
}

// Calibration factor of coefficient k of channel c on level lev: scale factor,
// sqrt(dr), the inverse of a first difference, and the inverse of every
// decimation filter from level 2 up, each at unit gain at zero frequency
// (the cascade renormalises its weights). dr: seconds, index = level.
cd calibration(const StationCase& sc, const std::vector<double>& dr, int lev, int c, int k) {
  const int n = sc.levels[lev - 1].nwin;
  const double f = k / (n * dr[lev]);  // hertz
  cd R = kScale[c] * std::sqrt(dr[lev]);
  if (sc.pw == -1) R /= std::polar(1.0, kTwoPi * k / n) - 1.0;
  for (int below = 2; below <= lev; ++below) {
    const std::vector<double>& taps = sc.levels[below - 1].taps;
    double H = taps[0], gain = taps[0];
    for (std::size_t q = 1; q < taps.size(); ++q) {
      H += 2 * taps[q] * std::cos(kTwoPi * f * static_cast<double>(q) * dr[below - 1]);
      gain += 2 * taps[q];
    }
    R /= H / gain;
  }
  return R;
}

// Coefficients 1..nfreq of one channel of a window (n + L - 1 samples):
// mean removal, pre-whitening, mean removal, taper, DFT, calibration, the
// inverse response of the fitted filter, and the phase factor that moves the
// time origin back by tau seconds to the ideal grid start. The program's
// constant for 2 pi in that factor is 6.28318.
void window_coefficients(std::vector<double> y, const StationCase& sc, const std::vector<double>& dr, int lev,
                         int c, double tau, ExpectedWindow& w) {
  const LevelSpec& l = sc.levels[lev - 1];
  const int n = l.nwin;
  remove_mean(y, y.size());
  const std::vector<double> a = prewhiten(y, n, sc);
  remove_mean(y, static_cast<std::size_t>(n));
  const std::vector<double> taper = prolate_taper(n);
  for (int t = 0; t < n; ++t) y[t] *= taper[t];
  const int p = static_cast<int>(a.size());
  for (int k = 1; k <= l.nfreq; ++k) {
    const double omega = kTwoPi * k / n;
    cd Hpw = 1;
    if (p > 0) {
      Hpw = std::polar(1.0, omega * p);
      for (int q = 1; q <= p; ++q) Hpw -= a[q - 1] * std::polar(1.0, omega * (p - q));
    }
    const double phi = -6.28318 * tau / (n * dr[lev]) * k;
    w.F[k - 1][c] = dft(y, n, k) * calibration(sc, dr, lev, c, k) / Hpw * std::polar(1.0, phi);
  }
}

// The complete analysis of one station, from the recording text.
Expected analyse(const StationCase& sc, const std::vector<std::array<std::string, kNch>>& rows) {
  Expected ex;
  const int nd = static_cast<int>(sc.levels.size());
  const float dt = std::strtof(sc.dt, nullptr);  // the program keeps it in single precision
  const int L = filter_length(sc);
  const int span = 5, nbadmx = 2;

  // Start sample: time_int (exact for whole seconds) times the rate per
  // microsecond, the quotient in single precision.
  const float per_us = (1.0f / dt) / 1.0e6f;
  const double c0 = static_cast<double>(sc.start_after_s) * 1.0e6 * static_cast<double>(per_us);

  Series level;
  for (int t = 0; t < sc.nsamples; ++t) {
    level.mark.push_back(t);
    std::array<double, kNch> v{};
    for (int c = 0; c < kNch; ++c) {
      const double x = std::strtod(rows[t][c].c_str(), nullptr);
      // The reader keeps samples in single precision.
      v[c] = x == kMissing ? NAN : static_cast<double>(static_cast<float>(x));
    }
    level.v.push_back(v);
  }

  float residual = 0;  // level 1 grid residual, input samples
  int K = 1;
  std::vector<double> dr(nd + 1);
  for (int lev = 1; lev <= nd; ++lev) {
    const LevelSpec& l = sc.levels[lev - 1];
    K *= l.decfac;
    const float olap = std::strtof(l.olap, nullptr);
    // Grid of the level: the window step h in input samples (overlap fraction
    // dropped), the grid window nearest the first sample and its offset.
    const std::int64_t h = static_cast<std::int64_t>(static_cast<float>(l.nwin) - olap) * K;
    const double o = c0 / static_cast<double>(h);
    const int first_window = static_cast<int>(std::round(o));
    const double m = static_cast<double>(h) * (first_window - o);
    const std::int64_t anchor = std::llround(m);
    if (lev == 1) residual = static_cast<float>(static_cast<double>(anchor) - m);
    if (lev > 1) level = decimate(level, l, K, anchor % K);
    dr[lev] = static_cast<double>(dt) * K;

    ExpectedLevel el;
    el.id = sc.levoff + lev;
    el.nwin = l.nwin;
    el.nfreq = l.nfreq;
    el.dr = dr[lev];
    ex.nfmx = std::max(ex.nfmx, l.nfreq);
    const int n = l.nwin;

    // Windows start at the level sample nearest to each grid position
    // anchor + j * step (input samples); a window is cut once the level
    // holds nwin + 2 L + nspan/2 samples from its start on.
    const double step = static_cast<double>((static_cast<float>(l.nwin) - olap) * static_cast<float>(K));
    const std::int64_t first = level.mark.front();
    const int size = static_cast<int>(level.mark.size());
    const int need = n + 2 * L + span / 2;
    for (int j = -1;; ++j) {
      const double pos = static_cast<double>(anchor) + j * step;
      const double rel = (pos - static_cast<double>(first)) / K;
      const int i = static_cast<int>(std::round(rel));
      if (i < 0) continue;
      if (i >= size || size - i < need) break;
      // With a fractional step the program counts the windows of a block
      // with the nominal step, not the actual starts, so a window with
      // exactly `need` samples left may go either way: keep the recording
      // length clear of that border.
      if (step != std::floor(step)) {
        EXPECT_NE(size - i, need) << "choose another recording length";
      }
      EXPECT_GT(std::fabs(std::fabs(rel - std::floor(rel)) - 0.5), 1e-3) << "grid position halfway between samples";
      ExpectedWindow w;
      w.number = j + 1 + first_window;
      w.first_mark = level.mark[i];
      w.last_mark = level.mark[i + n + L - 2];
      std::array<std::vector<double>, kNch> x;
      for (int c = 0; c < kNch && w.usable; ++c) {
        x[c].resize(static_cast<std::size_t>(n + L - 1));
        for (int t = 0; t < n + L - 1 && w.usable; ++t) {
          x[c][t] = level.v[i + t][c];
          if (std::isnan(x[c][t])) w.usable = median_replacement(level, c, i + t, span, nbadmx, x[c][t]);
        }
      }
      if (w.usable) {
        // The time origin moves back by the grid residual of the start time
        // and by the window's own misfit (ideal start minus first sample).
        const double misfit = pos - static_cast<double>(level.mark[i]);  // input samples
        double tau = static_cast<double>(residual) * static_cast<double>(dt);
        if (std::fabs(misfit) > 1e-5) tau -= misfit * static_cast<double>(dt);
        w.F.resize(static_cast<std::size_t>(l.nfreq));
        for (int c = 0; c < kNch; ++c) window_coefficients(x[c], sc, dr, lev, c, tau, w);
        ++ex.nsets;
      }
      el.windows.push_back(std::move(w));
    }
    ex.levels.push_back(std::move(el));
  }
  return ex;
}

// ---------------------------------------------------------------------------
// The case folder.

std::string num(double v, const char* fmt = "%.9g") {
  char buf[40];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// Console lines: the number of windows with coefficients, and one line for
// every rejected window and no other.
void console_rows(const Expected& ex, std::ostream& t) {
  t << "console: number of sets = " << ex.nsets << ",1,\n";
  int rejected = 0;
  for (std::size_t lev = 0; lev < ex.levels.size(); ++lev)
    for (const ExpectedWindow& w : ex.levels[lev].windows)
      if (!w.usable) {
        ++rejected;
        t << "console: bad T F " << w.first_mark << " " << w.last_mark << " " << lev + 1 << " " << w.number << ",1,\n";
      }
  t << "console*: bad ," << rejected << ",\n";
}

// The header: the station's system parameter file and the set-up.
void header_rows(const Expected& ex, std::ostream& t) {
  const int nd = static_cast<int>(ex.levels.size());
  t << "header_complete,1,\nnch," << kNch << ",\nnlevels," << nd << ",\nnfmx," << ex.nfmx << ",\n";
  for (int lev = 1; lev <= nd; ++lev) {
    const ExpectedLevel& el = ex.levels[lev - 1];
    t << "level." << lev << ".id," << el.id << ",\nlevel." << lev << ".nwin," << el.nwin << ",\n";
    t << "level." << lev << ".dr," << num(el.dr) << "," << num(1e-4 * el.dr, "%.3g") << "\n";
  }
  t << "channel.1.id,Ex    ,\nchannel.2.id,Hy    ,\nchannel.1.orient,10,\nchannel.2.orient,100,\n"
       "channel.1.tilt,0,\nchannel.2.tilt,1.5,\nlat,12.5,\nlon,289.5,\ndecl,3.25,\n";  // lon: -70.5 east
  t << "blocks," << nd * ex.nfmx << ",\n";
}

// The parts of one window's coefficient F. Packing keeps 13 bits of each part
// scaled by 1000 / A and cut to a power of ten 10^e: the decoded part lies
// within half a step, 0.5 / 4096 * 10^e, of the coefficient; twice that is
// allowed, which also covers single-precision errors of up to 1e-4 of the
// part itself. Parts much smaller than the window's largest coefficient (a
// near-zero imaginary part packs with e = 0) carry the program's
// single-precision noise, which scales with the window's signal, not with the
// part: sc.noise * largest.
void coefficient_rows(const StationCase& sc, const ExpectedWindow& w, int F, const std::string& block,
                      const FcCoefRecord& rec, const std::array<double, kNch>& mean, std::ostream& t) {
  for (int c = 0; c < kNch; ++c) {
    double largest = 0;
    for (const auto& Fk : w.F) largest = std::max(largest, std::abs(Fk[c]));
    const std::uint32_t word = rec.word[c];
    const double unit = mean[c] / 1000.0;  // physical value of one scaled unit
    const double tol_re = 2.5e-4 * std::pow(10.0, word & 7u) * unit + sc.noise * largest;
    const double tol_im = 2.5e-4 * std::pow(10.0, (word >> 16) & 7u) * unit + sc.noise * largest;
    const std::string name = "coef." + block + "." + std::to_string(w.number) + "." + std::to_string(c + 1);
    const cd want = w.F[F - 1][c];
    t << name << ".re," << num(want.real()) << "," << num(tol_re, "%.3g") << "\n";
    t << name << ".im," << num(want.imag()) << "," << num(tol_im, "%.3g") << "\n";
  }
}

// Blocks, level by level and frequency by frequency: records, their windows,
// the scale record (the mean modulus over the level's windows, kept in single
// precision: 6e-7 relative seen, 1e-5 allowed) and every coefficient. The
// tolerances of a coefficient's parts use the decade the program packed it in
// (read from the file it writes, fc).
void block_rows(const StationCase& sc, const Expected& ex, FcReader& fc, std::ostream& t) {
  std::vector<FcCoefRecord> recs;
  for (std::size_t lev = 1; lev <= ex.levels.size(); ++lev) {
    const ExpectedLevel& el = ex.levels[lev - 1];
    std::vector<const ExpectedWindow*> kept;
    for (const ExpectedWindow& w : el.windows)
      if (w.usable) kept.push_back(&w);
    ASSERT_FALSE(kept.empty());
    for (int F = 1; F <= ex.nfmx; ++F) {
      const std::string block = std::to_string(el.id) + "." + std::to_string(F);
      if (F > el.nfreq) {
        t << "block." << block << ".n,0,\nblock." << block << ".scale.1,0,\nblock." << block << ".scale.2,0,\n";
        continue;
      }
      t << "block." << block << ".n," << kept.size() << ",\nblock." << block << ".windows,";
      for (std::size_t r = 0; r < kept.size(); ++r) t << (r ? " " : "") << kept[r]->number;
      t << ",\n";
      std::array<double, kNch> mean{};
      for (int c = 0; c < kNch; ++c) {
        for (const ExpectedWindow* w : kept) mean[c] += std::abs(w->F[F - 1][c]);
        mean[c] /= static_cast<double>(kept.size());
        t << "block." << block << ".scale." << c + 1 << "," << num(mean[c]) << "," << num(1e-5 * mean[c], "%.3g") << "\n";
      }
      const FcBlockInfo* b = nullptr;
      for (const FcBlockInfo& info : fc.blocks())
        if (info.level_id == el.id && info.findex == F) b = &info;
      ASSERT_NE(b, nullptr) << "the program wrote no block " << block;
      fc.read_records(*b, recs);
      ASSERT_EQ(recs.size(), kept.size()) << block;
      for (std::size_t r = 0; r < recs.size(); ++r) coefficient_rows(sc, *kept[r], F, block, recs[r], mean, t);
    }
  }
}

// Writes the case folder tests/stations/e2e_<name>: the station, its command
// line and the table of values above. The program runs once on a copy, only
// for the decades its packing chose; expect.status and expect.stderr start
// empty, for the runner's QV_UPDATE_EXPECTED=1 to fill in.
void write_case(const StationCase& sc) {
  const fs::path dir = fs::path(QV_SOURCE_DIR) / "tests" / "stations" / (std::string("e2e_") + sc.name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto rows = recording_text(sc);
  write_station(dir, sc, rows);
  const Expected ex = analyse(sc, rows);
  if (!sc.missing.empty()) {
    ASSERT_TRUE(std::any_of(ex.levels.begin(), ex.levels.end(), [](const ExpectedLevel& l) {
      return std::any_of(l.windows.begin(), l.windows.end(), [](const ExpectedWindow& w) { return !w.usable; });
    })) << "the missing samples should reject a window";
  }
  const testing_support::TempFolder folder("e2e");
  write_station(folder.path(), sc, rows);
  std::ostringstream out, err;
  std::istringstream in;
  {
    testing_support::WorkingDirectory here(folder.path());
    Console con(out, err, in);
    ASSERT_EQ(run({"-A", "-f:st.asc"}, con), 0) << out.str() << err.str();
  }
  FcReader file((folder / "st.f2").string());
  std::ostringstream table;
  table << "name,value,tolerance\n";
  console_rows(ex, table);
  header_rows(ex, table);
  block_rows(sc, ex, file, table);
  std::ofstream(dir / "expect.csv") << table.str();
  std::ofstream(dir / "args") << "-A -f:st.asc\n";
  std::ofstream(dir / "expect.status");
  std::ofstream(dir / "expect.stderr");
}

// Run by hand to write the folders anew:
//   build/qel_vort_tests --gtest_also_run_disabled_tests --gtest_filter='EndToEndCases.*'
//   QV_UPDATE_EXPECTED=1 build/qel_vort_tests --gtest_filter='Stations/*e2e_*'
TEST(EndToEndCases, DISABLED_WriteStationFolders) {
  for (const StationCase& sc : kCases) {
    SCOPED_TRACE(sc.name);
    write_case(sc);
  }
}

}  // namespace
}  // namespace qv
