// make_layered_station: a synthetic magnetotelluric station over a layered
// (1-D) Earth, written as a complete station folder that qel_vort processes
// as it is: the recording, its system parameter file, decset.cfg, pwset.cfg,
// paths.cfg, qel_vort.args and model.json (the model and every parameter of
// the generator).
//
//   make_layered_station --rate 10 --hours 24 --layers "100,2000;10,8000;1000" --name site1
//   make_layered_station --layers "100" --impedance 0.01,0.1,1
//
// The Earth: layers of resistivity rho (ohm m) and thickness h (m) over a
// half-space. Its impedance comes from the upward recursion of Wait (1954)
// and Cagniard: the half-space has Z_N = i omega mu0 / k_N, k = sqrt(i omega
// mu0 / rho); every layer above turns the impedance below it into
//   Z_j = z_j (Z_{j+1} + z_j t_j) / (z_j + Z_{j+1} t_j),  z_j = i omega mu0 / k_j,
//   t_j = tanh(k_j h_j),
// with the time dependence exp(+i omega t) of qel_vort's forward transform
// exp(-i omega t): a half-space has Zxy at +45 degrees. Z is kept in the
// units of the coefficient file, (mV/km)/nT = 795.77 ohm; a 1-D Earth has
// Zxy = Z, Zyx = -Z and no diagonal elements.
//
// The source: two independent Gaussian processes Hx and Hy with red spectra
// (power falling as 1/f^2 above a corner), drawn in the frequency domain
// from the source seed over an FFT length of a power of two at least as long
// as the recording. E is formed there, Ex = Zxy Hy and Ey = Zyx Hx, and one
// inverse FFT in double precision turns each pair of channels into time
// series. Hz = Tx Hx + Ty Hy with a constant real tipper. Noise is added in
// the time domain from the noise seed: white Gaussian noise on every channel
// (mV/km on E, nT on H) and, optionally, bursts of strong noise on both E
// channels in a fraction of the stretches the length of a level-1 window.
// The source and the noise have their own random streams, so stations made
// with the same source seed, rate and length share the source field exactly
// (a station and its remote reference), whatever their noise, and every
// channel's noise is its own stream (a shorter recording has a prefix of the
// noise of a longer one). With --source-origin the source is drawn on a time
// line that starts at that instant, and a recording starting later takes its
// part of it: stations of one source seed, rate, origin and FFT length
// (model.json's recording.fft_length, a power of two at least as long as
// the span from the origin to the recording's end) see the same field at
// the same time, whenever each starts (a remote reference that began 17
// minutes later). Without it the origin is the recording's first scan.
//
// The recording holds whole counts: millivolts across the electrode lines and
// nanotesla times a power of ten per channel (S of the system parameter
// file, counts per mV and per nT), chosen so that the largest value stays
// below 4 000 000 counts, inside the logger's 24 bits. The text (-A) and the
// logger's QEL recording of one command hold the same counts. The set-up
// follows docs/decimation-guide.md with the level rule of tools/qv-new-station.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "input/qel_writer.hpp"

namespace {

namespace fs = std::filesystem;
using cplx = std::complex<double>;
using qv::Error;

constexpr double kPi = std::numbers::pi;
constexpr double kMu0 = 4.0e-7 * kPi;  // H/m
// (mV/km)/nT per ohm: E of 1 mV/km is 1e-6 V/m, B of 1 nT is H = 1e-9/mu0 A/m.
constexpr double kFieldUnitsPerOhm = 1.0e-3 / kMu0;

// ---------------------------------------------------------------------------
// The layered Earth.

struct Layer {
  double rho = 0;        // ohm m
  double thickness = 0;  // m; 0 for the half-space at the bottom
};

// Zxy of the layered Earth at frequency f (Hz), in (mV/km)/nT.
cplx impedance(const std::vector<Layer>& layers, double f) {
  const double omega = 2.0 * kPi * f;
  const cplx iwm(0.0, omega * kMu0);
  auto wavenumber = [&](double rho) { return std::sqrt(iwm / rho); };  // principal root: Re k > 0
  cplx z = iwm / wavenumber(layers.back().rho);
  for (std::size_t j = layers.size() - 1; j-- > 0;) {
    const cplx k = wavenumber(layers[j].rho);
    const cplx zj = iwm / k;
    // tanh(k h) through exp(-2 k h), |exp(-2 k h)| < 1: no overflow for thick layers.
    const cplx e = std::exp(-2.0 * k * layers[j].thickness);
    const cplx t = (1.0 - e) / (1.0 + e);
    z = zj * (z + zj * t) / (zj + z * t);
  }
  return z * kFieldUnitsPerOhm;
}

// rho_a = |Z|^2 / (omega mu0) with Z in ohm: 0.2 T |Z|^2 in the file's units.
double apparent_resistivity(cplx z_field, double f) {
  const double z_ohm = std::abs(z_field) / kFieldUnitsPerOhm;
  return z_ohm * z_ohm / (2.0 * kPi * f * kMu0);
}

double phase_deg(cplx z) { return std::arg(z) * 180.0 / kPi; }

// ---------------------------------------------------------------------------
// Random numbers: xorshift64* (Vigna) seeded through splitmix64, so that a
// seed and a purpose give a stream of their own; normal deviates by
// Box-Muller (cosine branch).

std::uint64_t splitmix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

class Rng {
 public:
  Rng(std::uint64_t seed, std::uint64_t purpose) : s_(splitmix64(splitmix64(seed) ^ purpose)) {
    if (s_ == 0) s_ = 0x2545F4914F6CDD1DULL;
  }
  std::uint64_t next() {
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1DULL;
  }
  double uniform() { return (static_cast<double>(next() >> 11) + 1.0) / 9007199254740992.0; }  // (0, 1]
  double gauss() { return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform()); }

 private:
  std::uint64_t s_;
};

// Purposes of the streams (any distinct numbers).
enum Stream : std::uint64_t {
  kSourceStream = 0x50,
  kNoiseStream = 0x60,  // + channel index 0..4 (Ex Ey Hx Hy Hz)
  kBurstPick = 0x70,
  kBurstEx = 0x71,
  kBurstEy = 0x72,
};

// ---------------------------------------------------------------------------
// A small radix-2 FFT in double precision, in place:
// x[n] <- sum_k x[k] exp(sign * 2 pi i k n / M), unnormalised.

void fft(std::vector<cplx>& x, int sign) {
  const std::size_t m = x.size();
  for (std::size_t i = 1, j = 0; i < m; ++i) {
    std::size_t bit = m >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  // Twiddles computed one by one (no recurrence): exact to rounding for any length.
  std::vector<cplx> w(m / 2);
  for (std::size_t k = 0; k < m / 2; ++k) {
    const double a = 2.0 * kPi * static_cast<double>(k) / static_cast<double>(m);
    w[k] = cplx(std::cos(a), sign * std::sin(a));
  }
  for (std::size_t len = 2; len <= m; len <<= 1) {
    const std::size_t half = len / 2, stride = m / len;
    for (std::size_t i = 0; i < m; i += len)
      for (std::size_t j = 0; j < half; ++j) {
        const cplx t = w[j * stride] * x[i + j + half];
        x[i + j + half] = x[i + j] - t;
        x[i + j] += t;
      }
  }
}

// ---------------------------------------------------------------------------
// The source field: one-sided power spectral density a^2 (1 + 1/fc^2) /
// (1 + (f/fc)^2) nT^2/Hz, a^2 at 1 Hz and 1/f^2 above the corner fc.

struct SourceSpectrum {
  double amplitude_1hz;  // nT/sqrt(Hz)
  double corner_hz;
  double psd(double f) const {
    const double a2 = amplitude_1hz * amplitude_1hz;
    return a2 * (1.0 + 1.0 / (corner_hz * corner_hz)) / (1.0 + (f / corner_hz) * (f / corner_hz));
  }
};
constexpr SourceSpectrum kHxSpectrum{0.10, 0.005};
constexpr SourceSpectrum kHySpectrum{0.07, 0.010};

// ---------------------------------------------------------------------------
// The set-up of docs/decimation-guide.md, as tools/qv-new-station writes it.

constexpr int kNwin = 128, kOlap = 32, kDecfac = 4, kNfreq = 32, kNspan = 5, kNbadmx = 2, kPwlen = 3;
constexpr std::array<double, 5> kTaps = {0.1906, 0.1797, 0.1268, 0.0683, 0.0299};
constexpr int kMaxLevels = 10;
constexpr int kUsefulHarmonic = 4;

struct Level {
  int level, decfac, olap;
  long step, windows;
  double rate, dr;
};

long windows_in(long samples, long nwin, long step) { return samples < nwin ? 0 : (samples - nwin) / step + 1; }

std::string fmt_g(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

std::string fmt_period(double s) {
  if (s >= 86400) return fmt_g(s / 86400, 3) + " d";
  if (s >= 3600) return fmt_g(s / 3600, 3) + " h";
  if (s >= 60) return fmt_g(s / 60, 3) + " min";
  return fmt_g(s, 3) + " s";
}

// The shortest text that reads back as the same double.
std::string shortest(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) return fmt_g(v, 16);
  for (int p = 1; p <= 17; ++p) {
    const std::string s = fmt_g(v, p);
    if (std::strtod(s.c_str(), nullptr) == v) return s;
  }
  return fmt_g(v, 17);
}

std::vector<Level> plan_levels(double rate, long samples, long cap, long min_windows) {
  std::vector<Level> levels;
  long factor = 1;
  for (int k = 1; k <= kMaxLevels; ++k, factor *= kDecfac) {
    const long n = samples / factor;
    long step = kNwin - kOlap;
    long full = windows_in(n, kNwin, step);
    if (full < min_windows) break;
    int olap = kOlap;
    if (cap > 0 && full > cap) {
      // Space the windows apart (a negative overlap): about `cap` windows over the whole recording.
      step = (n - kNwin + cap - 2) / (cap - 1);
      olap = static_cast<int>(kNwin - step);
      full = windows_in(n, kNwin, step);
    }
    levels.push_back({k, k == 1 ? 1 : kDecfac, olap, step, full, rate / static_cast<double>(factor),
                      static_cast<double>(factor) / rate});
  }
  if (levels.empty()) {
    const long need = (min_windows - 1) * (kNwin - kOlap) + kNwin;
    throw Error("a recording of " + std::to_string(samples) + " samples at " + shortest(rate) +
                " Hz is too short: one level of windows of " + std::to_string(kNwin) + " samples needs at least " +
                std::to_string(need) + " samples (" + fmt_period(static_cast<double>(need) / rate) + ") for " +
                std::to_string(min_windows) + " windows");
  }
  return levels;
}

std::string padded(const std::string& values, const std::string& note) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%-28s %s\n", values.c_str(), note.c_str());
  return buf;
}

std::string decset_text(const std::vector<Level>& levels) {
  const int nd = static_cast<int>(levels.size());
  std::string t = std::to_string(nd) + " 0            nd levoff: " + std::to_string(nd) +
                  " decimation levels, level identifiers 1 to " + std::to_string(nd) + "\n";
  for (const Level& lv : levels) {
    char values[128];
    std::snprintf(values, sizeof values, "%d %d %d 0 0 %d %d %d %d", kNwin, lv.olap, lv.decfac, kNspan, kNbadmx, kNfreq,
                  lv.level == 1 ? 1 : static_cast<int>(kTaps.size()));
    const double f_max = kNfreq / (kNwin * lv.dr), f_useful = kUsefulHarmonic / (kNwin * lv.dr);
    t += padded(values, "level " + std::to_string(lv.level) + ": " + fmt_g(lv.rate, 6) + " Hz, windows of " +
                            fmt_period(kNwin * lv.dr) + " every " + fmt_period(static_cast<double>(lv.step) * lv.dr) +
                            ", periods " + fmt_period(1.0 / f_max) + " to " + fmt_period(1.0 / f_useful));
    if (lv.level == 1) {
      t += padded("1.0", "level 1 is the recording itself: this filter is not used");
    } else {
      std::string taps;
      for (double c : kTaps) {
        char b[16];
        std::snprintf(b, sizeof b, "%.4f", c);
        if (!taps.empty()) taps += ' ';
        taps += b;
      }
      t += padded(taps, "decimation filter: centre tap, then taps 1 to 4 on both sides");
    }
  }
  return t;
}

std::string pwset_text(const std::vector<Level>& levels) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%-6d levels (as in decset.cfg)\n", static_cast<int>(levels.size()));
  std::string t = buf;
  for (const Level& lv : levels) {
    std::snprintf(buf, sizeof buf,
                  "%-6d level %d: autoregressive pre-whitening of length %d (0 none, -1 first difference)\n", kPwlen,
                  lv.level, kPwlen);
    t += buf;
  }
  return t;
}

// ---------------------------------------------------------------------------
// Calendar arithmetic (proleptic Gregorian), for the logger's header.

using DateTime = std::array<int, 6>;  // year month day hour minute second

long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime civil_from_seconds(long long s) {
  long days = static_cast<long>(s / 86400);
  long rem = static_cast<long>(s % 86400);
  if (rem < 0) rem += 86400, --days;
  const long z = days + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return {y, m, d, static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60), static_cast<int>(rem % 60)};
}

long long seconds_of(const DateTime& t) {
  return static_cast<long long>(days_from_civil(t[0], t[1], t[2])) * 86400 + t[3] * 3600 + t[4] * 60 + t[5];
}

std::string iso(const DateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", t[0], t[1], t[2], t[3], t[4], t[5]);
  return buf;
}

std::string header_time(const DateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d %d %d %d %d %d", t[0], t[1], t[2], t[3], t[4], t[5]);
  return buf;
}

// ---------------------------------------------------------------------------
// Options.

struct Options {
  double rate = 10.0;
  std::optional<double> hours;
  std::optional<long> samples;
  std::vector<Layer> layers = {{100.0, 2000.0}, {10.0, 8000.0}, {1000.0, 0.0}};
  std::string layers_text = "100,2000;10,8000;1000";
  std::string dir, name = "layered";
  bool qel = true;
  int channels = 5;
  std::uint64_t seed_source = 1, seed_noise = 1;
  double noise_e = 0, noise_h = 0;
  double burst_fraction = 0, burst_std = 0;
  double tx = 0, ty = 0;
  DateTime start = {2019, 1, 2, 0, 0, 0};
  std::optional<DateTime> reference;
  std::optional<DateTime> source_origin;  // --source-origin: the source's time line starts here
  double lat = -31.5, lon = 138.6, declination = 7.5;
  long max_windows = 20000, min_windows = 10;
  bool force = false;
  std::vector<double> impedance_at;  // --impedance: print and exit
};

constexpr long kMaxSamples = 1L << 25;  // the FFT holds two complex arrays of up to twice this length

[[noreturn]] void bad_option(const std::string& opt, const std::string& value, const std::string& expected) {
  throw Error(opt + " '" + value + "': expected " + expected);
}

// A number of an option's value; a fault quotes the whole value (or `whole`,
// when the number is one part of it).
double to_real(const std::string& opt, std::string_view text, const std::string& expected,
               std::string_view whole = {}) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
    bad_option(opt, std::string(whole.empty() ? text : whole), expected);
  return v;
}

template <typename Int>
Int to_int(const std::string& opt, std::string_view text, const std::string& expected) {
  Int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) bad_option(opt, std::string(text), expected);
  return v;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  for (std::size_t p = 0;;) {
    const std::size_t q = s.find(sep, p);
    parts.push_back(s.substr(p, q == std::string_view::npos ? std::string_view::npos : q - p));
    if (q == std::string_view::npos) return parts;
    p = q + 1;
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<Layer> parse_layers(const std::string& text) {
  const std::string expected =
      "layers as \"rho1,h1;rho2,h2;...;rhoN\": resistivities (ohm m) and thicknesses (m) above 0, the last "
      "layer a half-space with its resistivity alone";
  std::vector<Layer> layers;
  const auto items = split(text, ';');
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto v = split(trim(items[i]), ',');
    const bool last = i + 1 == items.size();
    if (v.size() != (last ? 1u : 2u)) bad_option("--layers", text, expected);
    Layer l;
    l.rho = to_real("--layers", trim(v[0]), expected, text);
    if (!last) l.thickness = to_real("--layers", trim(v[1]), expected, text);
    if (!(l.rho > 0) || (!last && !(l.thickness > 0))) bad_option("--layers", text, expected);
    layers.push_back(l);
  }
  return layers;
}

DateTime parse_time(const std::string& opt, const std::string& text) {
  const std::string expected = "\"Y M D h m s\", six whole numbers of a date and time from 1901 to 2099";
  DateTime t{};
  std::size_t n = 0;
  std::string_view rest = text;
  while (true) {
    rest = trim(rest);
    if (rest.empty()) break;
    const std::size_t e = std::min(rest.find(' '), rest.size());
    if (n == 6) bad_option(opt, text, expected);
    t[n++] = to_int<int>(opt, rest.substr(0, e), expected);
    rest.remove_prefix(e);
  }
  if (n != 6 || t[0] < 1901 || t[0] > 2099 || t[1] < 1 || t[1] > 12 || t[3] < 0 || t[3] > 23 || t[4] < 0 || t[4] > 59 ||
      t[5] < 0 || t[5] > 59)
    bad_option(opt, text, expected);
  if (civil_from_seconds(seconds_of(t)) != t) bad_option(opt, text, "a date that exists");
  return t;
}

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string opt = args[i], value;
    if (opt.rfind("--", 0) != 0) throw Error("unexpected argument '" + opt + "' (options begin with --; see --help)");
    static constexpr std::string_view kKnown[] = {
        "--rate",        "--hours",       "--samples",     "--layers",     "--dir",      "--name",
        "--format",      "--channels",    "--seed-source", "--seed-noise", "--noise-e",  "--noise-h",
        "--bursts",      "--tipper",      "--start",       "--reference",  "--lat",      "--lon",
        "--declination", "--max-windows", "--min-windows", "--force",      "--impedance", "--source-origin"};
    const std::string_view name = std::string_view(opt).substr(0, opt.find('='));
    if (std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown))
      throw Error("unknown option '" + std::string(name) + "' (see --help)");
    if (opt != "--force") {
      const std::size_t eq = opt.find('=');
      if (eq != std::string::npos) {
        value = opt.substr(eq + 1);
        opt.resize(eq);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw Error(opt + ": a value must follow (see --help)");
      }
    }
    if (opt == "--rate") {
      o.rate = to_real(opt, value, "a sampling rate in Hz above 0");
      if (!(o.rate > 0)) bad_option(opt, value, "a sampling rate in Hz above 0");
    } else if (opt == "--hours") {
      o.hours = to_real(opt, value, "a duration in hours above 0");
      if (!(*o.hours > 0)) bad_option(opt, value, "a duration in hours above 0");
    } else if (opt == "--samples") {
      o.samples = to_int<long>(opt, value, "a number of scans from 1 to " + std::to_string(kMaxSamples));
      if (*o.samples < 1 || *o.samples > kMaxSamples)
        bad_option(opt, value, "a number of scans from 1 to " + std::to_string(kMaxSamples));
    } else if (opt == "--layers") {
      o.layers = parse_layers(value);
      o.layers_text = value;
    } else if (opt == "--dir") {
      if (value.empty()) bad_option(opt, value, "a folder name");
      o.dir = value;
    } else if (opt == "--name") {
      if (value.empty() || value.find_first_of("./ \t") != std::string::npos || value.size() > 40)
        bad_option(opt, value, "a base name of up to 40 characters without '.', '/' or blanks");
      o.name = value;
    } else if (opt == "--format") {
      if (value != "ascii" && value != "qel") bad_option(opt, value, "ascii or qel");
      o.qel = value == "qel";
    } else if (opt == "--channels") {
      if (value != "4" && value != "5") bad_option(opt, value, "4 (Ex Ey Hx Hy) or 5 (Ex Ey Hx Hy Hz)");
      o.channels = value == "4" ? 4 : 5;
    } else if (opt == "--seed-source") {
      o.seed_source = to_int<std::uint64_t>(opt, value, "a whole number from 0 to 18446744073709551615");
    } else if (opt == "--seed-noise") {
      o.seed_noise = to_int<std::uint64_t>(opt, value, "a whole number from 0 to 18446744073709551615");
    } else if (opt == "--noise-e" || opt == "--noise-h") {
      const double v = to_real(opt, value, "a standard deviation of 0 or more");
      if (!(v >= 0)) bad_option(opt, value, "a standard deviation of 0 or more");
      (opt == "--noise-e" ? o.noise_e : o.noise_h) = v;
    } else if (opt == "--bursts") {
      const std::string expected = "FRACTION:STD, a fraction from 0 to 1 and a standard deviation (mV/km) of 0 or more";
      const auto v = split(value, ':');
      if (v.size() != 2) bad_option(opt, value, expected);
      o.burst_fraction = to_real(opt, trim(v[0]), expected, value);
      o.burst_std = to_real(opt, trim(v[1]), expected, value);
      if (!(o.burst_fraction >= 0 && o.burst_fraction <= 1 && o.burst_std >= 0)) bad_option(opt, value, expected);
    } else if (opt == "--tipper") {
      const std::string expected = "TX,TY, two real numbers";
      const auto v = split(value, ',');
      if (v.size() != 2) bad_option(opt, value, expected);
      o.tx = to_real(opt, trim(v[0]), expected, value);
      o.ty = to_real(opt, trim(v[1]), expected, value);
    } else if (opt == "--start") {
      o.start = parse_time(opt, value);
    } else if (opt == "--reference") {
      o.reference = parse_time(opt, value);
    } else if (opt == "--source-origin") {
      o.source_origin = parse_time(opt, value);
    } else if (opt == "--lat" || opt == "--lon" || opt == "--declination") {
      const double limit = opt == "--lat" ? 90 : 360;
      const double v = to_real(opt, value, "degrees from -" + shortest(limit) + " to " + shortest(limit));
      if (std::fabs(v) > limit) bad_option(opt, value, "degrees from -" + shortest(limit) + " to " + shortest(limit));
      (opt == "--lat" ? o.lat : opt == "--lon" ? o.lon : o.declination) = v;
    } else if (opt == "--max-windows") {
      o.max_windows = to_int<long>(opt, value, "a number of windows, 0 for no limit");
      if (o.max_windows < 0) bad_option(opt, value, "a number of windows, 0 for no limit");
    } else if (opt == "--min-windows") {
      o.min_windows = to_int<long>(opt, value, "a number of windows of at least 1");
      if (o.min_windows < 1) bad_option(opt, value, "a number of windows of at least 1");
    } else if (opt == "--force") {
      o.force = true;
    } else if (opt == "--impedance") {
      for (std::string_view f : split(value, ',')) {
        const double v = to_real(opt, trim(f), "frequencies in Hz above 0, separated by commas", value);
        if (!(v > 0)) bad_option(opt, value, "frequencies in Hz above 0, separated by commas");
        o.impedance_at.push_back(v);
      }
    } else {
      throw Error("unknown option '" + opt + "' (see --help)");
    }
  }
  if (o.hours && o.samples) throw Error("give the length with --hours or with --samples, not both");
  if (o.max_windows > 0 && o.max_windows < o.min_windows)
    throw Error("--max-windows " + std::to_string(o.max_windows) + " is below --min-windows " +
                std::to_string(o.min_windows) + " (0: no limit)");
  if (o.dir.empty()) o.dir = o.name;
  return o;
}

long recording_samples(const Options& o) {
  if (o.samples) return *o.samples;
  const double n = std::round(o.hours.value_or(24.0) * 3600.0 * o.rate);
  if (!(n >= 1 && n <= static_cast<double>(kMaxSamples)))
    throw Error("--hours " + shortest(o.hours.value_or(24.0)) + " at " + shortest(o.rate) + " Hz gives " + shortest(n) +
                " scans; the generator makes 1 to " + std::to_string(kMaxSamples));
  return static_cast<long>(n);
}

// ---------------------------------------------------------------------------
// The logger's clock: the header names the second before the first scan and
// stamps the scan with a count of a 50 MHz clock after that second plus 1 s,
// the samples delayed by the logger's filters by 39 intervals (38 at 1000 and
// 4000 Hz). The stamp carries the delay and half a microsecond more, so the
// start in whole microseconds is the requested second whatever the rounding.

struct LoggerClock {
  std::int32_t sampfreq_field;
  DateTime named;  // the second the header names
  std::int64_t stamp;
  DateTime reference;  // the day the header's day number counts from
};

LoggerClock logger_clock(const Options& o) {
  const bool is_62_5 = o.rate == 62.5;
  if (!is_62_5 && (o.rate != std::floor(o.rate) || o.rate > 1.0e6 || o.rate == 62.0))
    throw Error("--rate " + shortest(o.rate) +
                ": the logger's QEL format records a whole number of Hz (or 62.5 Hz) up to 1000000, not 62; "
                "use --format ascii for other rates");
  LoggerClock c;
  c.sampfreq_field = is_62_5 ? 62 : static_cast<std::int32_t>(o.rate);
  const double delay = (o.rate == 1000.0 || o.rate == 4000.0 ? 38.0 : 39.0) / o.rate;
  c.named = civil_from_seconds(seconds_of(o.start) - 1);
  c.stamp = std::llround((delay + 0.5e-6) * 50.0e6);
  c.reference = {c.named[0], 1, 1, 0, 0, 0};
  if (o.rate > 1000.0 && o.rate < 40000.0) {
    c.reference[1] = c.named[1] == 1 ? 1 : c.named[1] - 1;
  } else if (o.rate >= 40000.0) {
    c.reference[1] = c.named[1];
    c.reference[2] = c.named[2];
  }
  return c;
}

// ---------------------------------------------------------------------------
// The station.

constexpr const char* kIds[5] = {"Ex", "Ey", "Hx", "Hy", "Hz"};
constexpr double kLineM[2] = {100.0, 90.0};  // electrode lines of Ex and Ey, m
constexpr double kCountLimit = 4.0e6;        // largest count: inside the 24 bits of the logger

// Counts per unit (mV across the line, nT): the largest power of ten that
// keeps the largest value within kCountLimit counts.
double counts_per_unit(double peak) {
  if (!(peak > 0)) return 1000.0;
  int k = static_cast<int>(std::floor(std::log10(kCountLimit / peak)));
  while (peak * std::pow(10.0, k) > kCountLimit) --k;
  while (peak * std::pow(10.0, k + 1) <= kCountLimit) ++k;
  return std::pow(10.0, k);
}

std::string fmt_num(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
  }
  return shortest(v);
}

std::string sp_text(const Options& o, const std::array<double, 5>& s) {
  auto line = [](const std::string& values, const std::string& note) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-20s  %s\n", values.c_str(), note.c_str());
    return std::string(buf);
  };
  std::string t = line(o.name.substr(0, 20), "<- station name: the first 20 characters of this line");
  t += line(fmt_num(o.lat) + " " + fmt_num(o.lon), "latitude and longitude in degrees (north and east positive)");
  t += line(fmt_num(o.declination), "magnetic declination in degrees east");
  t += line(std::to_string(o.channels), "number of channels");
  t += line(shortest(1.0 / o.rate), "sample interval in seconds: 1 / " + fmt_num(o.rate) + " Hz, as in the recording");
  t += line("0.0 0.0", "system delay (s) and clock drift rate (s per s)");
  for (int c = 0; c < o.channels; ++c) {
    t += line(kIds[c], "channel " + std::to_string(c + 1) + (c < 2 ? ": electric" : ": magnetic"));
    if (c < 2) {
      t += line(fmt_num(kLineM[c]) + " " + (c == 0 ? "0.0" : "90.0") + " 0.0 1.0",
                "electrode line length (m), orientation (deg), tilt (deg), gain G");
      t += line(fmt_num(s[c]) + " 0", "S = recorded counts per mV across the line; number of filters");
    } else {
      t += line(c == 2 ? "0.0 0.0" : c == 3 ? "90.0 0.0" : "0.0 90.0", "orientation (deg), tilt (deg: 90 vertical)");
      t += line(fmt_num(s[c]) + " 0", "S = recorded counts per nT; number of filters");
    }
  }
  return t;
}

// The generated time series, in the recorded units (mV across the lines, nT).
struct Series {
  std::vector<cplx> h;  // Hx + i Hy
  std::vector<cplx> e;  // line voltages of Ex + i Ey
  std::vector<double> hz;
  std::vector<long> burst_first;  // first samples of the burst stretches
  long fft_length = 0;
};

// Scans from the source's origin to the recording's first scan: 0 without
// --source-origin; a whole number of scans at or after it otherwise.
long source_offset(const Options& o, long n) {
  if (!o.source_origin) return 0;
  const double span = static_cast<double>(seconds_of(o.start) - seconds_of(*o.source_origin));
  const double scans = span * o.rate;
  if (span < 0 || std::fabs(scans - std::round(scans)) > 1e-6)
    throw Error("--source-origin " + header_time(*o.source_origin) + ": expected an instant at or before --start " +
                header_time(o.start) + ", a whole number of scans at " + shortest(o.rate) + " Hz before it");
  if (std::round(scans) + static_cast<double>(n) > static_cast<double>(kMaxSamples))
    throw Error("--source-origin " + header_time(*o.source_origin) + ": the source would span " +
                shortest(std::round(scans) + static_cast<double>(n)) + " scans; the generator makes at most " +
                std::to_string(kMaxSamples));
  return static_cast<long>(std::round(scans));
}

Series synthesise(const Options& o, long n) {
  Series s;
  const long offset = source_offset(o, n);
  long m = 1;
  while (m < offset + n) m <<= 1;
  s.fft_length = m;
  s.h.assign(static_cast<std::size_t>(m), cplx());
  s.e.assign(static_cast<std::size_t>(m), cplx());
  // Spectra of Hx and Hy packed into one complex series (x + i y), and of Ex
  // and Ey likewise; E|X_k|^2 = M fs P(f_k) / 2 for the one-sided P, so the
  // series has the variance of P integrated to the Nyquist frequency. Bins 0
  // and M/2 stay empty. The 1/M of the inverse transform is taken here.
  Rng rng(o.seed_source, kSourceStream);
  const double df = o.rate / static_cast<double>(m);
  const double lx = kLineM[0] / 1000.0, ly = kLineM[1] / 1000.0;  // km
  for (long k = 1; k < m / 2; ++k) {
    const double f = static_cast<double>(k) * df;
    const double base = std::sqrt(static_cast<double>(m) * o.rate / 4.0) / static_cast<double>(m);
    const double gx1 = rng.gauss(), gx2 = rng.gauss(), gy1 = rng.gauss(), gy2 = rng.gauss();
    const cplx hx = base * std::sqrt(kHxSpectrum.psd(f)) * cplx(gx1, gx2);
    const cplx hy = base * std::sqrt(kHySpectrum.psd(f)) * cplx(gy1, gy2);
    const cplx z = impedance(o.layers, f);
    const cplx ex = z * hy * lx, ey = -z * hx * ly;  // Zxy = Z, Zyx = -Z; mV across the lines
    const cplx i(0.0, 1.0);
    s.h[static_cast<std::size_t>(k)] = hx + i * hy;
    s.h[static_cast<std::size_t>(m - k)] = std::conj(hx) + i * std::conj(hy);
    s.e[static_cast<std::size_t>(k)] = ex + i * ey;
    s.e[static_cast<std::size_t>(m - k)] = std::conj(ex) + i * std::conj(ey);
  }
  fft(s.h, +1);
  fft(s.e, +1);
  s.h.erase(s.h.begin(), s.h.begin() + offset);
  s.e.erase(s.e.begin(), s.e.begin() + offset);
  s.h.resize(static_cast<std::size_t>(n));
  s.e.resize(static_cast<std::size_t>(n));
  s.h.shrink_to_fit();
  s.e.shrink_to_fit();

  // Bursts: a fraction of the stretches of one level-1 window, picked without repetition.
  const long stretches = n / kNwin;
  const long bursts = std::lround(o.burst_fraction * static_cast<double>(stretches));
  if (o.burst_std > 0 && bursts > 0) {
    std::vector<long> pick(static_cast<std::size_t>(stretches));
    for (long i = 0; i < stretches; ++i) pick[static_cast<std::size_t>(i)] = i;
    Rng r(o.seed_noise, kBurstPick);
    for (long i = 0; i < bursts; ++i) {
      const long j = i + static_cast<long>(r.next() % static_cast<std::uint64_t>(stretches - i));
      std::swap(pick[static_cast<std::size_t>(i)], pick[static_cast<std::size_t>(j)]);
    }
    pick.resize(static_cast<std::size_t>(bursts));
    std::sort(pick.begin(), pick.end());
    for (long p : pick) s.burst_first.push_back(p * kNwin);
  }

  // Noise, each channel its own stream; Hz from the source field before noise.
  Rng nex(o.seed_noise, kNoiseStream + 0), ney(o.seed_noise, kNoiseStream + 1);
  Rng nhx(o.seed_noise, kNoiseStream + 2), nhy(o.seed_noise, kNoiseStream + 3), nhz(o.seed_noise, kNoiseStream + 4);
  Rng bex(o.seed_noise, kBurstEx), bey(o.seed_noise, kBurstEy);
  if (o.channels == 5) s.hz.resize(static_cast<std::size_t>(n));
  std::size_t next_burst = 0;
  for (long i = 0; i < n; ++i) {
    cplx& h = s.h[static_cast<std::size_t>(i)];
    cplx& e = s.e[static_cast<std::size_t>(i)];
    if (o.channels == 5)
      s.hz[static_cast<std::size_t>(i)] = o.tx * h.real() + o.ty * h.imag() + o.noise_h * nhz.gauss();
    h += cplx(o.noise_h * nhx.gauss(), o.noise_h * nhy.gauss());
    double ex = o.noise_e * nex.gauss(), ey = o.noise_e * ney.gauss();
    while (next_burst < s.burst_first.size() && s.burst_first[next_burst] + kNwin <= i) ++next_burst;
    if (next_burst < s.burst_first.size() && i >= s.burst_first[next_burst]) {
      ex += o.burst_std * bex.gauss();
      ey += o.burst_std * bey.gauss();
    }
    e += cplx(ex * lx, ey * ly);
  }
  return s;
}

double value_of(const Series& s, long i, int c) {
  const auto k = static_cast<std::size_t>(i);
  switch (c) {
    case 0:
      return s.e[k].real();
    case 1:
      return s.e[k].imag();
    case 2:
      return s.h[k].real();
    case 3:
      return s.h[k].imag();
    default:
      return s.hz[k];
  }
}

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw Error("cannot write " + p.string());
}

void write_ascii(const fs::path& p, const Options& o, const Series& s, long n, const std::array<double, 5>& scale,
                 const DateTime& reference) {
  std::FILE* f = std::fopen(p.string().c_str(), "wb");
  if (!f) throw Error("cannot create " + p.string());
  std::fprintf(f, "%s\n%s\n%s\n", shortest(1.0 / o.rate).c_str(), header_time(o.start).c_str(),
               header_time(reference).c_str());
  std::string buf;
  buf.reserve(1 << 20);
  for (long i = 0; i < n; ++i) {
    for (int c = 0; c < o.channels; ++c) {
      char num[24];
      const auto r = std::to_chars(num, num + sizeof num, std::llround(value_of(s, i, c) * scale[c]));
      if (c > 0) buf += ' ';
      buf.append(num, r.ptr);
    }
    buf += '\n';
    if (buf.size() > (1 << 20) - 128) {
      std::fwrite(buf.data(), 1, buf.size(), f);
      buf.clear();
    }
  }
  std::fwrite(buf.data(), 1, buf.size(), f);
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) throw Error("cannot write " + p.string() + " (disk full?)");
}

void write_qel(const fs::path& p, const Options& o, const Series& s, long n, const std::array<double, 5>& scale,
               const LoggerClock& clock) {
  qv::QelHeaderFields h;
  h.fpga = qv::qel::first_new_fpga;
  h.position = qv::qel_position_text(o.lat, o.lon);
  h.date_time = qv::qel_date_time_text(clock.named[0], clock.named[1], clock.named[2], clock.named[3], clock.named[4],
                                       clock.named[5]);
  h.divisor = "50";
  h.sampfreq = clock.sampfreq_field;
  h.stamp = clock.stamp;
  h.data_bytes = 12 * qv::qel::scans_per_block * o.channels * qv::qel::bytes_per_sample;
  h.mask = (1u << o.channels) - 1u;
  qv::QelStreamWriter logger(p.string(), h);
  for (long i = 0; i < n; ++i)
    for (int c = 0; c < o.channels; ++c)
      logger.add(static_cast<std::int32_t>(std::llround(value_of(s, i, c) * scale[c])));
  logger.close();
}

nlohmann::ordered_json model_json(const Options& o, const std::vector<std::string>& args, long n, const Series& s,
                                  const std::array<double, 5>& scale, const DateTime& reference,
                                  const std::string& recording, const std::vector<Level>& levels) {
  using J = nlohmann::ordered_json;
  J layers = J::array();
  for (std::size_t i = 0; i < o.layers.size(); ++i) {
    J l = {{"resistivity_ohm_m", o.layers[i].rho}};
    if (i + 1 < o.layers.size())
      l["thickness_m"] = o.layers[i].thickness;
    else
      l["half_space"] = true;
    layers.push_back(l);
  }
  J channels = J::array();
  for (int c = 0; c < o.channels; ++c) {
    J ch = {{"id", kIds[c]}, {"column", c + 1}};
    if (c < 2) {
      ch["line_length_m"] = kLineM[c];
      ch["counts_per_mv"] = scale[c];
    } else {
      ch["counts_per_nt"] = scale[c];
    }
    ch["orientation_deg"] = c == 1 || c == 3 ? 90.0 : 0.0;
    ch["tilt_deg"] = c == 4 ? 90.0 : 0.0;
    channels.push_back(ch);
  }
  J setup = J::array();
  for (const Level& lv : levels)
    setup.push_back({{"level", lv.level},
                     {"sample_interval_s", lv.dr},
                     {"nwin", kNwin},
                     {"olap", lv.olap},
                     {"nfreq", kNfreq},
                     {"windows_expected", lv.windows}});
  const auto spectrum = [](const SourceSpectrum& sp) {
    return J{{"amplitude_at_1hz_nt_per_sqrt_hz", sp.amplitude_1hz}, {"corner_hz", sp.corner_hz}};
  };
  J burst_first = J::array();
  for (long b : s.burst_first) burst_first.push_back(b);
  J recording_part = {{"file", recording},
                      {"format", o.qel ? "qel" : "ascii"},
                      {"rate_hz", o.rate},
                      {"sample_interval_s", 1.0 / o.rate},
                      {"samples", n}};
  // qel_vort reads a QEL recording in whole blocks of 256 scans.
  if (o.qel) recording_part["samples_in_whole_blocks"] = n - n % qv::qel::scans_per_block;
  recording_part["first_sample_utc"] = iso(o.start);
  recording_part["reference_time_utc"] = iso(reference);
  recording_part["fft_length"] = s.fft_length;
  if (o.source_origin) recording_part["source_origin_utc"] = iso(*o.source_origin);
  J command = J::array();
  command.push_back("make_layered_station");
  for (const std::string& a : args) command.push_back(a);
  return J{{"generator", {{"program", "make_layered_station"}, {"version", qv::kProgramVersion}, {"command", command}}},
           {"model",
            {{"layers", layers},
             {"layers_option", o.layers_text},
             {"impedance",
              "Zxy = Z, Zyx = -Z, Zxx = Zyy = 0; Z in (mV/km)/nT (795.77 per ohm), time dependence "
              "exp(+i omega t): a half-space has Zxy at +45 degrees"},
             {"tipper", {{"tx", o.tx}, {"ty", o.ty}}}}},
           {"station",
            {{"name", o.name},
             {"latitude_deg", o.lat},
             {"longitude_deg", o.lon},
             {"declination_deg", o.declination},
             {"channels", channels}}},
           {"recording", recording_part},
           {"source",
            {{"seed", o.seed_source},
             {"psd", "one-sided a^2 (1 + 1/fc^2) / (1 + (f/fc)^2) nT^2/Hz: a^2 at 1 Hz, falling as 1/f^2 above fc"},
             {"hx", spectrum(kHxSpectrum)},
             {"hy", spectrum(kHySpectrum)}}},
           {"noise",
            {{"seed", o.seed_noise},
             {"e_std_mv_per_km", o.noise_e},
             {"h_std_nt", o.noise_h},
             {"bursts",
              {{"fraction", o.burst_fraction},
               {"e_std_mv_per_km", o.burst_std},
               {"stretch_samples", kNwin},
               {"stretches", n / kNwin},
               {"first_samples", burst_first}}}}},
           {"setup", {{"max_windows", o.max_windows}, {"min_windows", o.min_windows}, {"levels", setup}}}};
}

int print_impedance(const Options& o) {
  std::printf("frequency_hz,period_s,zxy_re,zxy_im,zyx_re,zyx_im,rho_a_ohm_m,phase_xy_deg,phase_yx_deg\n");
  for (double f : o.impedance_at) {
    const cplx z = impedance(o.layers, f);
    std::printf("%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.6f,%.6f\n", f, 1.0 / f, z.real(), z.imag(), -z.real(), -z.imag(),
                apparent_resistivity(z, f), phase_deg(z), phase_deg(-z));
  }
  return 0;
}

int generate(const Options& o, const std::vector<std::string>& args) {
  const long n = recording_samples(o);
  const std::vector<Level> levels = plan_levels(o.rate, n, o.max_windows, o.min_windows);
  std::optional<LoggerClock> clock;
  DateTime reference = o.reference.value_or(DateTime{o.start[0], o.start[1], o.start[2], 0, 0, 0});
  if (o.qel) {
    clock = logger_clock(o);
    if (o.reference && *o.reference != clock->reference)
      throw Error("--reference " + header_time(*o.reference) + ": a QEL recording at " + shortest(o.rate) +
                  " Hz counts its time from " + header_time(clock->reference) +
                  " (its header's day number); give that or leave --reference out, or use --format ascii");
    reference = clock->reference;
  } else if (seconds_of(o.start) < seconds_of(reference)) {
    throw Error("--start " + header_time(o.start) + " lies before the reference time " + header_time(reference));
  }

  const fs::path dir = o.dir;
  const std::string recording = o.name + (o.qel ? ".bin" : ".asc");
  const std::vector<std::string> names = {recording,   o.name + ".sp", "decset.cfg",   "pwset.cfg",
                                          "paths.cfg", "model.json",   "qel_vort.args"};
  if (!o.force) {
    std::string existing;
    for (const std::string& f : names)
      if (fs::exists(dir / f)) {
        if (!existing.empty()) existing += ", ";
        existing += f;
      }
    if (!existing.empty()) throw Error(o.dir + " already holds " + existing + "; --force overwrites");
  }

  const Series s = synthesise(o, n);
  std::array<double, 5> peak{}, scale{};
  for (long i = 0; i < n; ++i)
    for (int c = 0; c < o.channels; ++c) peak[c] = std::max(peak[c], std::fabs(value_of(s, i, c)));
  for (int c = 0; c < o.channels; ++c) scale[c] = counts_per_unit(peak[c]);

  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) throw Error("cannot create the folder " + o.dir);
  if (o.qel)
    write_qel(dir / recording, o, s, n, scale, *clock);
  else
    write_ascii(dir / recording, o, s, n, scale, reference);
  write_text(dir / (o.name + ".sp"), sp_text(o, scale));
  write_text(dir / "decset.cfg", decset_text(levels));
  write_text(dir / "pwset.cfg", pwset_text(levels));
  write_text(dir / "paths.cfg", ".\n.\n.\ndecset.cfg\npwset.cfg\n.\nsensors\n");
  write_text(dir / "qel_vort.args",
             std::string(o.qel ? "" : "-A\n") + "-f:" + recording + "\n" + (o.rate > 120.0 ? "-p:0\n" : ""));
  write_text(dir / "model.json", model_json(o, args, n, s, scale, reference, recording, levels).dump(2) + "\n");

  long windows = 0;
  for (const Level& lv : levels) windows += lv.windows;
  std::cout << "wrote " << o.dir << ":";
  for (const std::string& f : names) std::cout << " " << f;
  std::cout << "\n"
            << n << " scans of " << (o.channels == 5 ? "Ex Ey Hx Hy Hz" : "Ex Ey Hx Hy") << " at " << shortest(o.rate)
            << " Hz from " << iso(o.start) << "; " << levels.size() << " levels, about " << windows
            << " windows. Run in " << o.dir << ": qel_vort " << (o.qel ? "" : "-A ") << "-f:" << recording
            << (o.rate > 120.0 ? " -p:0" : "") << "\n";
  if (o.qel && n % qv::qel::scans_per_block != 0)
    std::cout << "note: qel_vort reads a QEL recording in whole blocks of " << qv::qel::scans_per_block
              << " scans; the last " << n % qv::qel::scans_per_block << " scans are not processed\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  static constexpr const char* kUsage =
      "usage: make_layered_station [options]\n"
      "  writes a synthetic station over a layered Earth into a station folder that\n"
      "  qel_vort processes as it is: the recording, NAME.sp, decset.cfg, pwset.cfg,\n"
      "  paths.cfg, qel_vort.args and model.json (the model and these parameters).\n"
      "  E = Z H in the frequency domain, Z of the layers by the impedance recursion.\n"
      "  --rate HZ             sampling rate (default 10)\n"
      "  --hours H             length of the recording (default 24), or\n"
      "  --samples N           length in scans (at most 33554432)\n"
      "  --layers \"rho1,h1;rho2,h2;...;rhoN\"\n"
      "                        resistivities (ohm m) and thicknesses (m), the last a\n"
      "                        half-space (default \"100,2000;10,8000;1000\")\n"
      "  --name NAME           base name of the recording (default layered)\n"
      "  --dir DIR             the station folder (default NAME)\n"
      "  --format ascii|qel    generic ASCII with header lines (-A) or the logger's QEL\n"
      "                        format (default qel)\n"
      "  --channels 4|5        Ex Ey Hx Hy, or with Hz (default 5)\n"
      "  --seed-source S       seed of the source field H (default 1): stations of the\n"
      "                        same seed, rate and length share it exactly\n"
      "  --seed-noise N        seed of the noise (default 1); stations of one source\n"
      "                        get independent noise from different noise seeds\n"
      "  --noise-e STD         white Gaussian noise on Ex and Ey, mV/km (default 0)\n"
      "  --noise-h STD         white Gaussian noise on Hx, Hy and Hz, nT (default 0)\n"
      "  --bursts F:STD        noise of STD mV/km on Ex and Ey in the fraction F of the\n"
      "                        stretches of one level-1 window (128 scans)\n"
      "  --tipper TX,TY        Hz = TX Hx + TY Hy (default 0,0)\n"
      "  --start \"Y M D h m s\" first scan (default \"2019 1 2 0 0 0\")\n"
      "  --source-origin \"Y M D h m s\"\n"
      "                        the source field's time line starts here (default: at\n"
      "                        --start): stations of one origin, source seed, rate and\n"
      "                        FFT length share the field in time, whatever their start\n"
      "  --reference \"Y M D h m s\"\n"
      "                        reference time of the window grid (ASCII; default\n"
      "                        midnight of the start day; a QEL recording counts from\n"
      "                        1 January of its year)\n"
      "  --lat DEG --lon DEG --declination DEG\n"
      "                        station position and declination (default -31.5 138.6 7.5)\n"
      "  --max-windows N       windows per level beyond which they are spaced apart\n"
      "                        (default 20000, 0: never)\n"
      "  --min-windows N       windows a level needs to be set up (default 10)\n"
      "  --force               overwrite the files of an existing folder\n"
      "  --impedance F1,F2,... print the model's Zxy and Zyx ((mV/km)/nT), rho_a (ohm m)\n"
      "                        and phases (degrees) at these frequencies (Hz) as CSV\n"
      "                        and write nothing\n"
      "  -h, --help            this text\n"
      "  --version             the version\n";
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::guarded_main({"make_layered_station", kUsage}, args, std::cout, std::cerr, [&] {
    const Options o = parse_options(args);
    return o.impedance_at.empty() ? generate(o, args) : print_impedance(o);
  });
}
