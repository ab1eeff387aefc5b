// Whole-station runs of every input format, checked through the metadata
// file beside the Fourier-coefficient file: every field against what the test
// wrote into the station's files, window counts and numbers against the
// coefficient file, its hash recomputed from the file's bytes. The recordings
// are cosines of UTC time, so the phase of the tone's harmonic in a stored
// window tells the instant its coefficients refer to, which must be the time
// the metadata gives that window number.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "input/qel_writer.hpp"
#include "output/fc_reader.hpp"
#include "support/nims_file.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::WorkingDirectory;
using testing_support::write_file;
using DateTime = std::array<int, 6>;

constexpr double kTwoPi = 2 * std::numbers::pi;

// ---------------------------------------------------------------------------
// Calendar and hash, from their definitions.

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int month_days(int y, int m) {
  static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return d[m - 1] + (m == 2 && leap(y));
}

std::int64_t unix_of(const DateTime& t) {
  std::int64_t days = t[2] - 1;
  for (int y = 1970; y < t[0]; ++y) days += leap(y) ? 366 : 365;
  for (int m = 1; m < t[1]; ++m) days += month_days(t[0], m);
  return days * 86400 + t[3] * 3600 + t[4] * 60 + t[5];
}

// ISO 8601 UTC with microseconds, counting days forward from 1970.
std::string iso_of(double unix_s) {
  const auto us = static_cast<std::int64_t>(std::llround(unix_s * 1e6));
  std::int64_t days = us / 86400000000LL;
  const std::int64_t t = us - days * 86400000000LL;
  int y = 1970, m = 1;
  while (days >= (leap(y) ? 366 : 365)) days -= leap(y++) ? 366 : 365;
  while (days >= month_days(y, m)) days -= month_days(y, m++);
  const int d = static_cast<int>(days) + 1, sec = static_cast<int>(t / 1000000), us_of_sec = static_cast<int>(t % 1000000);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", y, m, d, sec / 3600, sec / 60 % 60, sec % 60,
                us_of_sec);
  return buf;
}

// The sum over the file's little-endian words j of splitmix64(j * 2^32 + word).
std::string word_sum_hash(const std::string& bytes) {
  std::uint64_t sum = 0;
  for (std::size_t j = 0; 4 * j < bytes.size(); ++j) {
    std::uint32_t w = 0;
    for (int b = 3; b >= 0; --b) w = w << 8 | static_cast<unsigned char>(bytes[4 * j + b]);
    std::uint64_t z = (static_cast<std::uint64_t>(j) << 32 | w) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    sum += z ^ (z >> 31);
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(sum));
  return buf;
}

// ---------------------------------------------------------------------------
// The stations: three channels (Ex; Hy; Hz behind a low-pass), levels of 64
// samples every 48, decimated by 4 from level 2 on.

enum class Fmt { qel, ascii_header, ascii_clock, ascii_nims, nims_binary };

struct Format {
  const char* option;  // "" for the default format, QEL
  const char* file;
  const char* name;    // as the metadata names it
  const char* clock;   // where the clock is read
  int channels;        // in the file: NIMS binary holds five, the station uses three
  int first_mark;      // NIMS binary numbers its scans from 1
  bool real;           // real-valued samples, which lose an offset
};

const Format kFormats[] = {
    {"", "st.bin", "QEL binary", "the QEL header of st.bin", 3, 0, true},
    {"-A", "st.asc", "generic ASCII", "the header lines of st.asc", 3, 0, true},
    {"-a", "st.asc", "generic ASCII", "st.clk", 3, 0, true},
    {"-N", "st.txt", "ASCII NIMS", "the '#' header lines of st.txt", 3, 0, false},
    {"-B", "st.bin", "NIMS binary", "the NIMS header of st.bin", 5, 1, false},
};

struct Case {
  const char* name;
  Fmt fmt;
  double dt;              // sample interval, exact in binary
  DateTime start, ref;    // as written (QEL: the header's date and time; 1 January)
  std::vector<int> nfreq = {20, 18};  // per level; 0 switches a level off
  int levoff = 0;
  std::array<int, 2> ianchor{}, pw{};  // of levels 1 and 2 (0 above)
  std::vector<std::string> options{};
  bool bad_file = false;
  const Format& format() const { return kFormats[static_cast<int>(fmt)]; }
};

// The QEL header's 00:10:38 with a time stamp of 781250 ticks of 50 MHz
// (15.625 ms) names a first scan 1 s later less the logger's filter delay of
// 39 samples: 00:10:36.578125, a quarter sample off the 16 Hz grid.
constexpr double kQelStampShift = 0.015625 + 1.0 - 39.0 / 16.0;

const Case kCases[] = {
    {.name = "qel", .fmt = Fmt::qel, .dt = 0.0625, .start = {2024, 3, 2, 0, 10, 38}, .ref = {2024, 1, 1, 0, 0, 0}},
    // The logger's day count takes 2100 for a leap year: the run's grid counts
    // a day more than the calendar from 1 January to 2 March.
    {.name = "qel_2100", .fmt = Fmt::qel, .dt = 0.0625, .start = {2100, 3, 2, 0, 10, 38}, .ref = {2100, 1, 1, 0, 0, 0}},
    // 10810 s at 0.75 s: the start lies a third of a sample off the grid.
    {.name = "ascii_header", .fmt = Fmt::ascii_header, .dt = 0.75, .start = {2026, 5, 17, 3, 0, 10},
     .ref = {2026, 5, 17, 0, 0, 0}, .levoff = 10, .bad_file = true},
    // Across the leap day from a reference on the day before.
    {.name = "ascii_clock", .fmt = Fmt::ascii_clock, .dt = 0.5, .start = {2028, 3, 1, 6, 0, 7},
     .ref = {2028, 2, 28, 12, 0, 0}, .options = {"--max-sets=100000"}},
    // Grids shifted by window offsets of 20 and -30 input samples.
    {.name = "ascii_nims", .fmt = Fmt::ascii_nims, .dt = 0.25, .start = {2026, 1, 1, 0, 16, 40},
     .ref = {2026, 1, 1, 0, 0, 0}, .ianchor = {20, -30}},
    {.name = "nims_binary", .fmt = Fmt::nims_binary, .dt = 0.125, .start = {2013, 3, 2, 1, 0, 0},
     .ref = {2013, 3, 1, 0, 0, 0}, .options = {"--elevation=812.5"}},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr int kScans = 6000;
// Just below a quarter of the window: the taper leaks 3e-5 of the tone from
// -f into it (nothing at exactly a quarter), and 15 cycles in 64 samples
// tell every shift by whole samples or windows.
constexpr std::array<int, 2> kHarmonic = {15, 15};
constexpr std::array<double, 3> kOffset = {123456, -7890, 42};
constexpr double kT0 = 1356998400.3;  // 2013-01-01T00:00:00.3Z, the tones' time origin
const char* kLowPass = "1.0 0.05   first-order low-pass, corner 0.05 s";

// The coefficient file is named after the recording's channels.
std::string fc_name(const Case& c) { return "st.f" + std::to_string(c.format().channels); }
int factor(int lev) { return 1 << (2 * (lev - 1)); }

std::vector<std::string> args_of(const Case& c) {
  std::vector<std::string> a;
  if (*c.format().option) a.push_back(c.format().option);
  a.push_back(std::string("-f:") + c.format().file);
  a.insert(a.end(), c.options.begin(), c.options.end());
  return a;
}

double start_after_reference(const Case& c) {
  return static_cast<double>(unix_of(c.start) - unix_of(c.ref)) + (c.fmt == Fmt::qel ? kQelStampShift : 0.0);
}

// Channel 1: harmonic 15 of a level-1 window, channel 2 of a level-2 window.
double frequency(const Case& c, int lev) { return kHarmonic[lev - 1] / (64 * c.dt * factor(lev)); }
double tau0(const Case& c) { return kT0 - static_cast<double>(unix_of(c.ref)); }

double sample(const Case& c, int ch, int j) {
  const double t = start_after_reference(c) + j * c.dt - tau0(c);
  if (ch < 2) return kOffset[ch] + 1e6 * std::cos(kTwoPi * frequency(c, ch + 1) * t);
  return kOffset[2] + 3e5 * std::sin(kTwoPi * frequency(c, 1) * t) + 2e5 * std::cos(0.01 * j * j);
}

std::string sample_text(const Case& c, int ch, int j) {
  char buf[32];
  if (c.fmt == Fmt::ascii_nims) std::snprintf(buf, sizeof buf, "%ld", std::lround(sample(c, ch, j)));
  else std::snprintf(buf, sizeof buf, "%.3f", sample(c, ch, j));
  return buf;
}

// The three clock lines: sample interval, start, reference time.
std::string clock_lines(const Case& c, const char* prefix) {
  std::ostringstream s;
  s << prefix << c.dt << "\n";
  for (const DateTime* t : {&c.start, &c.ref}) {
    s << prefix;
    for (int v : *t) s << ' ' << v;
    s << "\n";
  }
  return s.str();
}

void write_station(const fs::path& dir, const Case& c) {
  std::ostringstream dec, pw;
  const int nd = static_cast<int>(c.nfreq.size());
  dec << nd << " " << c.levoff << "\n64 16 1 0 " << c.ianchor[0] << " 5 2 " << c.nfreq[0] << " 1\n1.0\n";
  pw << nd << "\n" << c.pw[0] << "\n";
  for (int lev = 2; lev <= nd; ++lev) {
    dec << "64 16 4 0 " << (lev == 2 ? c.ianchor[1] : 0) << " 5 2 " << c.nfreq[lev - 1] << " 2\n0.5 0.25\n";
    pw << (lev == 2 ? c.pw[1] : 0) << "\n";
  }
  write_file(dir / "decset.cfg", dec.str());
  write_file(dir / "pwset.cfg", pw.str());
  std::ostringstream sp;
  sp << "META ST\n-33.25 -70.5\n4.5\n3\n" << c.dt << "\n0 0\nEx\n80 10 0 4\n2.5 0\nHy\n100 1.5\n0.5 0\n"
     << "Hz\n0 90\n2 1\nl1\n" << kLowPass << "\n";
  write_file(dir / "st.sp", sp.str());
  if (c.bad_file)  // a stretch that rejects windows, and one that is only counted
    write_file(dir / "st.bad", "st: stretches\n2 1.0\n11000 11010 1\n11500 11600 2\n3\n");
  const fs::path rec = dir / c.format().file;
  std::vector<std::int32_t> counts;
  for (int j = 0; j < kScans; ++j)
    for (int ch = 0; ch < 3; ++ch) counts.push_back(static_cast<std::int32_t>(std::lround(sample(c, ch, j))));
  if (c.fmt == Fmt::qel) {
    QelHeaderFields h;
    h.position = qel_position_text(-33.25, -70.5);
    h.date_time = qel_date_time_text(c.start[0], c.start[1], c.start[2], c.start[3], c.start[4], c.start[5]);
    h.sampfreq = 16;
    h.stamp = 781250;
    h.mask = 0x07;
    write_qel_file(rec.string(), h, counts);
  } else if (c.fmt == Fmt::nims_binary) {
    testing_support::NimsFile n;  // five channels a scan, of which the station uses three
    n.dr = static_cast<float>(c.dt);
    std::copy(c.start.begin(), c.start.end(), n.start.begin());
    std::copy(c.ref.begin(), c.ref.end(), n.ref.begin());
    n.scans = kScans;
    std::vector<std::int32_t> w = n.words();
    const std::size_t first = w.size() - 5 * static_cast<std::size_t>(kScans);
    for (std::size_t j = 0; j < kScans; ++j) std::copy_n(&counts[3 * j], 3, &w[first + 5 * j]);
    std::string bytes;
    for (std::int32_t v : w)
      for (int b = 0; b < 4; ++b) bytes += static_cast<char>(static_cast<std::uint32_t>(v) >> (8 * b));
    write_file(rec, bytes);
  } else {
    std::string text = c.fmt == Fmt::ascii_header ? clock_lines(c, "")
                       : c.fmt == Fmt::ascii_nims ? "# a NIMS text recording\n" + clock_lines(c, "#")
                                                  : std::string();
    if (c.fmt == Fmt::ascii_clock) write_file(dir / "st.clk", clock_lines(c, ""));
    for (int j = 0; j < kScans; ++j)
      text += sample_text(c, 0, j) + " " + sample_text(c, 1, j) + " " + sample_text(c, 2, j) + "\n";
    write_file(rec, text);
  }
}

struct RunResult {
  int status;
  std::string out, err;
  double started, finished;  // Unix seconds around the run
};

double now_s() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

// A run of the program; with a memory budget for the coefficients, a run
// whose coefficients leave memory for a temporary file (it succeeds or throws).
RunResult run_in(const fs::path& dir, const std::vector<std::string>& args, std::int64_t budget = -1) {
  const WorkingDirectory inside(dir);
  std::ostringstream out, err;
  std::istringstream in("\n");  // no paths file: everything in this folder
  Console con(out, err, in);
  const double t0 = now_s();
  const int status = budget < 0 ? run_main(args, con) : run(args, con, budget);
  return {status, out.str(), err.str(), t0, now_s()};
}

// The coefficient records of a level's block of frequency index 1, which
// holds every window of the level.
std::vector<FcCoefRecord> windows_of(FcReader& reader, int level_id) {
  std::vector<FcCoefRecord> recs;
  for (const FcBlockInfo& b : reader.blocks())
    if (b.level_id == level_id && b.findex == 1) reader.read_records(b, recs);
  return recs;
}

json metadata(const fs::path& fc) { return json::parse(read_file(fs::path(fc.string() + ".json"))); }

// A value against its expectation: objects key for key, none more or less;
// numbers that are not both whole to single precision below 1e4, and to a
// microsecond above (times since 1970, sample counts).
void expect_like(const json& got, const json& want, const std::string& path) {
  if (want.is_object() && got.is_object()) {
    std::set<std::string> g, w;
    for (auto it = got.begin(); it != got.end(); ++it) g.insert(it.key());
    for (auto it = want.begin(); it != want.end(); ++it) w.insert(it.key());
    EXPECT_EQ(g, w) << path;
    for (auto it = want.begin(); it != want.end(); ++it)
      if (got.contains(it.key())) expect_like(got[it.key()], it.value(), path + "." + it.key());
  } else if (want.is_array() && got.is_array() && want.size() == got.size()) {
    for (std::size_t i = 0; i < want.size(); ++i) expect_like(got[i], want[i], path + "[" + std::to_string(i) + "]");
  } else if (want.is_number_float() && got.is_number()) {
    const double w = want.get<double>();
    EXPECT_NEAR(got.get<double>(), w, std::fabs(w) < 1e4 ? 2e-7 * std::fabs(w) : 1e-6) << path;
  } else {
    EXPECT_EQ(got, want) << path;
  }
}

// ---------------------------------------------------------------------------
// The expected window grid and metadata.

struct Grid {
  std::int64_t us;  // start, microseconds after the reference, as the run counts it
  std::int64_t h;   // window step, input samples
  std::int64_t r;   // window offset within the step
  double c;         // start sample as the run forms it
  double c_exact;   // the exact start sample
  bool exact;       // the run counts the start exactly
  double window1;   // unix_s of window 1
  // Input samples from the reference to the grid start of window N.
  double a(int N) const { return static_cast<double>(r == 0 ? (N - 1) * h : r + (N - 2) * h); }
};

// The run counts the start in microseconds (through single precision for
// the text formats; the logger's day count takes every fourth year for a
// leap year) and multiplies that by the rate per microsecond formed in single
// precision. Window N starts a(N) input samples after the reference on that
// count; its coefficients refer to the recording's own time of that sample:
// the exact start plus its distance from the start sample, one sample less
// for NIMS binary, whose marks count from 1.
Grid grid_of(const Case& c, int lev) {
  const double S = start_after_reference(c);
  Grid g;
  const bool julian_day = c.start[0] % 100 == 0 && c.start[0] % 400 != 0 && c.start[1] > 2;
  const std::int64_t exact_us = std::llround((S + (c.fmt == Fmt::qel && julian_day ? 86400 : 0)) * 1e6);
  g.us = c.fmt == Fmt::qel ? exact_us : static_cast<std::int64_t>(static_cast<float>(S) * 1.0e6f);
  const float rate = c.fmt == Fmt::qel ? 16.0f : 1.0f / static_cast<float>(c.dt);
  g.h = 48 * factor(lev);
  g.r = ((lev <= 2 ? c.ianchor[lev - 1] : 0) + g.h) % g.h;
  g.c = static_cast<double>(g.us) * static_cast<double>(rate / 1.0e6f);
  // Where that count lies more than a tenth of a sample from the exact one
  // (the microseconds of the clock fields times the rate), the run counts
  // exactly.
  g.c_exact = static_cast<double>(exact_us) * 1e-6 / c.dt;
  g.exact = !(std::fabs(g.c - g.c_exact) <= 0.1);
  if (g.exact) g.us = exact_us, g.c = g.c_exact;
  g.window1 = static_cast<double>(unix_of(c.ref)) + (g.a(1) + S / c.dt - g.c - c.format().first_mark) * c.dt;
  return g;
}

json moment(double unix_s) { return {{"utc", iso_of(unix_s)}, {"unix_s", unix_s}}; }

json expected_metadata(const Case& c, const fs::path& dir) {
  const double ref = static_cast<double>(unix_of(c.ref));
  const double S = start_after_reference(c);
  const std::string bytes = read_file(dir / fc_name(c));
  json m = {{"format", "qel_vort fc metadata"},
            {"version", 1},
            {"program", {{"name", "qel_vort"}, {"version", "4.2"}, {"date", "2014-08-13"}}},
            {"fc_file",
             {{"name", fc_name(c)}, {"size_bytes", bytes.size()}, {"hash", word_sum_hash(bytes)},
              {"hash_method", "qel_vort word sum 64"}}},
            {"station",
             {{"name", "META ST"}, {"latitude_deg", -33.25}, {"longitude_deg", 289.5},  // west kept east of Greenwich
              {"declination_deg", 4.5}, {"declination_source", "system parameter file"},
              {"elevation_m", c.fmt == Fmt::nims_binary ? json(812.5) : json(nullptr)}}}};
  const Grid g1 = grid_of(c, 1);
  m["recording"] = {{"file", c.format().file}, {"format", c.format().name},
                    {"sample_interval_s", c.dt}, {"system_parameter_sample_interval_s", c.dt},
                    {"channels_in_file", c.format().channels}, {"first_sample_number", c.format().first_mark},
                    {"first_sample", moment(ref + S)}, {"reference_time", moment(ref)},
                    {"start_after_reference_s", S}, {"run_start_after_reference_us", g1.us},
                    {"run_start_sample", g1.c}, {"run_start_exact", g1.exact},
                    {"exact_start_sample", g1.c_exact}};
  const char* ids[] = {"Ex", "Hy", "Hz"};
  const double orient[] = {10, 100, 0}, tilt[] = {0, 1.5, 90}, counts[] = {2.5, 0.5, 2};
  const double scale[] = {1 / (2.5 * 4 * 0.08), 1 / 0.5, 1 / 2.0};
  for (int i = 0; i < 3; ++i) {
    const bool e = i == 0;
    m["channels"].push_back(
        {{"number", i + 1}, {"id", ids[i]}, {"kind", e ? "electric" : "magnetic"}, {"orientation_deg", orient[i]},
         {"tilt_deg", tilt[i]}, {"coefficient_unit", e ? "mV/km" : "nT"},
         {"unit_assumes", e ? "S counts per mV of the electrode line's voltage" : "S counts per nT"},
         {"S", counts[i]}, {"G", e ? json(4.0) : json(nullptr)}, {"line_length_m", e ? json(80.0) : json(nullptr)},
         {"scale_factor", scale[i]},
         {"filters", i == 2 ? json::array({{{"code", "l1"}, {"parameters", kLowPass}}}) : json::array()}});
  }
  FcReader reader((dir / fc_name(c)).string());
  int stored = 0;
  for (int lev = 1; lev <= static_cast<int>(c.nfreq.size()); ++lev) {
    const int K = factor(lev), nfreq = c.nfreq[lev - 1], pw = lev <= 2 ? c.pw[lev - 1] : 0;
    const char* method = pw == -1 ? "first difference" : std::abs(pw) <= 1 ? "none" : "autoregressive prediction-error filter";
    const double dr = c.dt * K;
    const std::vector<FcCoefRecord> recs = windows_of(reader, c.levoff + lev);
    stored += static_cast<int>(recs.size());
    const Grid g = grid_of(c, lev);
    json L = {{"level", lev}, {"level_id", c.levoff + lev}, {"sample_interval_s", dr}, {"decfac", lev == 1 ? 1 : 4},
              {"cumulative_factor", K}, {"nwin", 64}, {"olap", 16.0}, {"step_samples", 48.0}, {"nfreq", nfreq},
              {"first_frequency_hz", nfreq ? json(1 / (64 * dr)) : json(nullptr)},
              {"last_frequency_hz", nfreq ? json(nfreq / (64 * dr)) : json(nullptr)},
              {"prewhitening",
               {{"method", method}, {"filter_length", pw == -1 ? 2 : std::max(1, std::abs(pw))}}},
              {"windows_stored", recs.size()},
              {"first_window", recs.empty() ? json(nullptr) : json(recs.front().window)},
              {"last_window", recs.empty() ? json(nullptr) : json(recs.back().window)},
              {"window_time", nfreq ? json({{"rule", "unix_s(N) = window1_unix_s + (N - 1) * step_s"},
                                            {"window1_unix_s", g.window1}, {"step_s", g.h * c.dt},
                                            {"step_input_samples", g.h}})
                                    : json(nullptr)}};
    if (!recs.empty()) {
      L["first_window_start"] = moment(g.window1 + (recs.front().window - 1) * g.h * c.dt);
      L["last_window_start"] = moment(g.window1 + (recs.back().window - 1) * g.h * c.dt);
    }
    m["levels"].push_back(L);
  }
  json powerline = nullptr, limit = nullptr;  // -p: (a filter that can run) and --max-sets=
  for (const std::string& o : c.options) {
    if (o.rfind("-p:", 0) == 0) powerline = std::stod(o.substr(3));
    if (o.rfind("--max-sets=", 0) == 0) limit = std::stoi(o.substr(11));
  }
  json clk = {{"source", c.format().clock}, {"sample_interval_s", c.dt}};
  if (c.fmt != Fmt::qel) clk["start"] = c.start, clk["reference"] = c.ref;
  json offsets;  // a real-valued recording loses the first sample of each channel, rounded
  for (int ch = 0; ch < 3; ++ch)
    offsets.push_back(c.format().real ? json(std::round(std::stod(sample_text(c, ch, 0)))) : json(nullptr));
  m["processing"] = {
      {"powerline_hz", powerline},
      {"bad_records", c.bad_file ? json({{"file", "st.bad"}, {"intervals_list1", 1}, {"intervals_list2", 1},
                                         {"ioff_marks", 3}})
                                 : json(nullptr)},
      {"clock_reset", clk},
      {"set_limit", limit},
      {"set_limit_reached", limit.is_number() && limit == stored},
      {"offsets_subtracted_counts", offsets}};
  return m;
}

// Every field of a run's metadata; the run's own three against the run.
void check_metadata(const Case& c, const fs::path& dir, const RunResult& run) {
  SCOPED_TRACE(c.name);
  json m = metadata(dir / fc_name(c));
  const json r = m["run"];
  m.erase("run");
  expect_like(m, expected_metadata(c, dir), "");
  std::vector<std::string> cmd = {"qel_vort"};
  for (const std::string& a : args_of(c)) cmd.push_back(a);
  EXPECT_EQ(r["command_line"], json(cmd));
  EXPECT_EQ(fs::path(r["working_folder"].get<std::string>()), fs::canonical(dir));
  const std::string fin = r["finished_utc"];  // 2026-01-02T03:04:05.678Z
  ASSERT_EQ(fin.size(), 24u) << fin;
  DateTime t;
  for (int i = 0; i < 6; ++i) t[i] = std::stoi(fin.substr(i == 0 ? 0 : 2 + 3 * i, i == 0 ? 4 : 2));
  const double fin_s = static_cast<double>(unix_of(t)) + std::stod(fin.substr(19, 4));
  EXPECT_GE(fin_s, run.started - 0.001);
  EXPECT_LE(fin_s, run.finished + 0.001);
}

// ---------------------------------------------------------------------------

class MetadataOfFormat : public testing::TestWithParam<Case> {};

TEST_P(MetadataOfFormat, StatesTheStationsFilesAndTheTimeEveryWindowRefersTo) {
  const Case& c = GetParam();
  const TempFolder folder("meta");
  write_station(folder.path(), c);
  const RunResult run = run_in(folder.path(), args_of(c));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("FILTERING"), std::string::npos);  // no powerline filter on the tones
  check_metadata(c, folder.path(), run);

  const json m = metadata(folder / fc_name(c));
  FcReader reader((folder / fc_name(c)).string());
  std::vector<FcCoefRecord> recs;
  for (int lev = 1; lev <= 2; ++lev) {
    SCOPED_TRACE("level " + std::to_string(lev));
    const json& w = m["levels"][lev - 1]["window_time"];
    const double w1 = w["window1_unix_s"].get<double>() - static_cast<double>(unix_of(c.ref));
    const double step = w["step_s"];
    const Grid g = grid_of(c, lev);
    for (const FcBlockInfo& b : reader.blocks()) {
      if (b.level_id != c.levoff + lev || b.findex != kHarmonic[lev - 1]) continue;
      reader.read_records(b, recs);
      EXPECT_GE(recs.size(), 10u);
      // No filter, no pre-whitening: the calibration is a positive factor,
      // and the symmetric taper keeps the phase 2 pi f (t(N) - T0) of the
      // cosine at the instant the coefficients refer to. The file packs each
      // part to 1 in 8192 of its decade: some 1e-4 rad.
      double worst = 0;
      for (const FcCoefRecord& rc : recs) {
        float re = 0, im = 0;
        decode_fc(rc.word[lev - 1], b.scale[lev - 1], re, im);
        const double t = w1 + (rc.window - 1) * step;
        worst = std::max(worst, std::fabs(std::remainder(
                                    std::atan2(im, re) - kTwoPi * frequency(c, lev) * (t - tau0(c)), kTwoPi)));
        if (lev > 1) continue;
        // t(N) is the recording's time of the window's first sample, the one
        // nearest its grid start; the first window is the first whole one.
        const double j = std::round(g.a(rc.window) - g.c) - c.format().first_mark;
        EXPECT_NEAR(t, start_after_reference(c) + j * c.dt, 0.5 * c.dt) << "window " << rc.window;
        EXPECT_GE(j, 0) << "window " << rc.window;
        EXPECT_LE(j + 64, kScans) << "window " << rc.window;
        if (&rc == &recs.front()) {
          EXPECT_LT(j - g.h, 0) << "an earlier whole window was left out";
        }
      }
      EXPECT_LT(worst, 3e-4) << "phase of harmonic " << kHarmonic[lev - 1] << " at t(N), rad";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, MetadataOfFormat, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------

// The phase of the tone's harmonic in every stored window of a level, by
// window number.
std::map<int, double> tone_phases(const fs::path& dir, const Case& c, int lev) {
  FcReader reader((dir / fc_name(c)).string());
  std::map<int, double> phases;
  std::vector<FcCoefRecord> recs;
  for (const FcBlockInfo& b : reader.blocks()) {
    if (b.level_id != c.levoff + lev || b.findex != kHarmonic[lev - 1]) continue;
    reader.read_records(b, recs);
    for (const FcCoefRecord& rc : recs) {
      float re = 0, im = 0;
      decode_fc(rc.word[lev - 1], b.scale[lev - 1], re, im);
      phases[rc.window] = std::atan2(im, re);
    }
  }
  return phases;
}

// Two stations of a survey recording one source at 4000 Hz a month after
// their reference time, the second a second later (83 window steps of level 1
// and 16 samples). Window N must name the same stretch of time at both, to a
// fraction of a sample, so that their coefficients can be joined: the tone's
// phase in window N is the source's phase at the nominal grid time (N - 1) h
// dt after the reference at both stations. A start counted in single
// precision lies 500 samples off here.
TEST(Metadata, TwoStationsAMonthFromTheirReferenceShareTheWindowGrid) {
  const Case a = {.name = "month_a", .fmt = Fmt::ascii_header, .dt = 0.00025, .start = {2026, 2, 1, 6, 0, 0},
                  .ref = {2026, 1, 1, 0, 0, 0}, .options = {"-p:0"}};  // no powerline fit to bend the tones
  Case b = a;
  b.name = "month_b";
  b.start[5] = 1;
  std::array<std::map<int, double>, 3> phases_a, phases_b;
  for (const Case* c : {&a, static_cast<const Case*>(&b)}) {
    SCOPED_TRACE(c->name);
    const TempFolder folder(c->name);
    write_station(folder.path(), *c);
    const RunResult run = run_in(folder.path(), args_of(*c));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const double S = start_after_reference(*c);  // whole seconds: 2700000 and 2700001
    const json rec = metadata(folder / fc_name(*c))["recording"];
    EXPECT_EQ(rec["run_start_exact"], true);
    EXPECT_EQ(rec["run_start_after_reference_us"].get<std::int64_t>(), static_cast<std::int64_t>(S) * 1000000);
    EXPECT_EQ(rec["run_start_sample"].get<double>(), S * 4000);
    EXPECT_EQ(rec["exact_start_sample"].get<double>(), S * 4000);
    EXPECT_NE(run.err.find(" " + std::to_string(static_cast<std::int64_t>(S) * 1000000) + " 3999.9998\n"),
              std::string::npos)
        << run.err;  // the start in microseconds, the rate 1 / 0.00025f
    for (int lev = 1; lev <= 2; ++lev) {
      const std::map<int, double> p = tone_phases(folder.path(), *c, lev);
      const std::int64_t h = 48 * factor(lev);
      double worst = 0;
      for (const auto& [N, phase] : p) {
        const double t = static_cast<double>((N - 1) * h) * c->dt;  // the nominal grid start of window N
        worst = std::max(worst, std::fabs(std::remainder(phase - kTwoPi * frequency(*c, lev) * (t - tau0(*c)), kTwoPi)));
      }
      // The tone's argument is some 2e12 rad here, which double precision
      // holds to 5e-4 rad; 2e-3 rad is 0.0014 samples of level 1.
      EXPECT_LT(worst, 2e-3) << "level " << lev << ": phase at the nominal grid time, rad";
      (c == &a ? phases_a : phases_b)[lev] = p;
    }
  }
  // The windows both stations hold agree window for window.
  for (int lev = 1; lev <= 2; ++lev) {
    int common = 0;
    for (const auto& [N, phase] : phases_a[lev]) {
      if (!phases_b[lev].count(N)) continue;
      ++common;
      EXPECT_LT(std::fabs(std::remainder(phase - phases_b[lev][N], kTwoPi)), 2e-3) << "level " << lev << ", window " << N;
    }
    EXPECT_GE(common, lev == 1 ? 30 : 5) << "level " << lev;
  }
}

// ---------------------------------------------------------------------------

// Clock-reset file, powerline filter, pre-whitening, a set limit that ends
// the run before level 3 has a window, and a level switched off.
const Case kRepeat = {.name = "repeat", .fmt = Fmt::ascii_clock, .dt = 0.5, .start = {2026, 7, 4, 12, 0, 0},
                      .ref = {2026, 7, 4, 0, 0, 0}, .nfreq = {20, 18, 18, 0}, .pw = {-1, 3},
                      .options = {"-p:0.25", "--max-sets=20"}};

std::string without_run(const std::string& text) {
  nlohmann::ordered_json m = nlohmann::ordered_json::parse(text);
  for (const char* key : {"finished_utc", "command_line", "working_folder"}) m["run"].erase(key);
  return m.dump(2);
}

TEST(Metadata, TwoRunsOfOneInputDifferOnlyInWhenWhereAndHowTheyRan) {
  const TempFolder folder("metarepeat");
  const fs::path a = folder / "a", b = folder / "b";
  write_station(a, kRepeat);
  write_station(b, kRepeat);
  const RunResult ra = run_in(a, args_of(kRepeat));
  std::vector<std::string> args = args_of(kRepeat);
  args.push_back("-b1");  // an option without effect
  const RunResult rb = run_in(b, args, 2000);  // the coefficients in a temporary file, in chunks
  ASSERT_EQ(ra.status, 0) << ra.out << ra.err;
  ASSERT_EQ(rb.status, 0) << rb.out << rb.err;
  EXPECT_NE(ra.out.find("FILTERING"), std::string::npos);
  check_metadata(kRepeat, a, ra);
  const json levels = metadata(a / "st.f3")["levels"];
  EXPECT_EQ(levels[2]["windows_stored"], 0);  // stopped before its first window
  EXPECT_EQ(levels[3]["window_time"], nullptr);  // switched off
  const std::string ma = read_file(a / "st.f3.json"), mb = read_file(b / "st.f3.json");
  EXPECT_NE(ma, mb);
  EXPECT_EQ(without_run(ma), without_run(mb));
}

std::set<fs::path> files(const fs::path& dir) {
  std::set<fs::path> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}

TEST(Metadata, AFailedRunLeavesTheEarlierPairAsItWas) {
  const TempFolder folder("metafail");
  const Case& c = *std::find_if(std::begin(kCases), std::end(kCases),
                                [](const Case& k) { return k.fmt == Fmt::ascii_header; });
  write_station(folder.path(), c);
  ASSERT_EQ(run_in(folder.path(), args_of(c)).status, 0);
  const std::string fc = read_file(folder / "st.f3"), meta = read_file(folder / "st.f3.json");
  ASSERT_FALSE(meta.empty());
  const std::set<fs::path> before = files(folder.path());
  // A set-up that cannot work, and then a sample that cannot be read after
  // windows have been processed.
  const std::string decset = read_file(folder / "decset.cfg"), recording = read_file(folder / "st.asc");
  write_file(folder / "decset.cfg", "2 0\n64 16 1 0 0 5 2 40 1\n1.0\n64 16 4 0 0 5 2 18 2\n0.5 0.25\n");
  const RunResult setup = run_in(folder.path(), args_of(c));
  write_file(folder / "decset.cfg", decset);
  write_file(folder / "st.asc", recording + "1.0 x 2.0\n");
  const RunResult reading = run_in(folder.path(), args_of(c));
  for (const RunResult* r : {&setup, &reading}) {
    EXPECT_EQ(r->status, 1);
    EXPECT_EQ(files(folder.path()), before);
    EXPECT_TRUE(read_file(folder / "st.f3") == fc);
    EXPECT_EQ(read_file(folder / "st.f3.json"), meta);
  }
  EXPECT_NE(setup.err.find("nfreq = 40"), std::string::npos) << setup.err;
  EXPECT_NE(reading.err.find("line 6004"), std::string::npos) << reading.err;
}

// ---------------------------------------------------------------------------
// Two stations of a survey: three levels with steps of 24, 96 and 384 s.

struct Survey {
  json levels;
  std::vector<std::vector<int>> windows;  // per level, from the coefficient file
};

Survey survey_station(const fs::path& dir, const Case& c) {
  write_station(dir, c);
  const RunResult r = run_in(dir, args_of(c));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  check_metadata(c, dir, r);
  Survey s{metadata(dir / "st.f3")["levels"], {}};
  FcReader reader((dir / "st.f3").string());
  for (int lev = 1; lev <= 3; ++lev) {
    s.windows.emplace_back();
    for (const FcCoefRecord& rc : windows_of(reader, lev)) s.windows.back().push_back(rc.window);
  }
  return s;
}

double window1(const Survey& s, int lev) { return s.levels[lev - 1]["window_time"]["window1_unix_s"]; }
double step(const Survey& s, int lev) { return s.levels[lev - 1]["window_time"]["step_s"]; }

TEST(Metadata, StationsOnOneReferenceTimeShareWindowNumbersAndAShiftedOneOnlyByWholeSteps) {
  const TempFolder folder("metasurvey");
  const Case a = {.name = "a", .fmt = Fmt::ascii_header, .dt = 0.5, .start = {2026, 6, 1, 9, 0, 0},
                 .ref = {2026, 6, 1, 0, 0, 0}, .nfreq = {20, 18, 18}};
  Case b = a;
  b.name = "b";
  b.start = {2026, 6, 1, 9, 3, 17};  // another recording of the same hours
  const Survey sa = survey_station(folder / "a", a), sb = survey_station(folder / "b", b);
  for (int lev = 1; lev <= 3; ++lev) {
    SCOPED_TRACE("level " + std::to_string(lev));
    const double st = step(sa, lev);
    EXPECT_EQ(step(sb, lev), st);
    // The UTC time of A's window N is that of B's window N (to the
    // milliseconds by which single precision moves each start).
    EXPECT_NEAR(window1(sb, lev), window1(sa, lev), 5e-3);
    int shared = 0;
    for (int N : sa.windows[lev - 1])
      shared += static_cast<int>(std::count(sb.windows[lev - 1].begin(), sb.windows[lev - 1].end(), N));
    EXPECT_GE(shared, 2) << "windows both stations hold";
  }

  // B's recording on a reference 768 s earlier, a multiple of every step, and
  // 96 s earlier, a multiple of the steps of levels 1 and 2 only.
  for (const DateTime& ref : {DateTime{2026, 5, 31, 23, 47, 12}, DateTime{2026, 5, 31, 23, 58, 24}}) {
    Case moved = b;
    moved.ref = ref;
    const Survey sm = survey_station(folder / std::to_string(ref[4]), moved);
    const double D = static_cast<double>(unix_of(b.ref) - unix_of(ref));
    for (int lev = 1; lev <= 3; ++lev) {
      SCOPED_TRACE("level " + std::to_string(lev) + ", reference " + std::to_string(D) + " s earlier");
      const double st = step(sm, lev);
      const std::int64_t h = sm.levels[lev - 1]["window_time"]["step_input_samples"];
      const bool whole = static_cast<std::int64_t>(D / 0.5) % h == 0;
      EXPECT_EQ(whole, lev < 3 || D == 768);
      const double steps = (window1(sb, lev) - window1(sm, lev)) / st;  // the grids' distance, in steps
      if (whole) {
        EXPECT_NEAR(steps * st, D, 5e-3);
        std::vector<int> shifted;
        for (int N : sb.windows[lev - 1]) shifted.push_back(N + static_cast<int>(D / st));
        EXPECT_EQ(sm.windows[lev - 1], shifted);
      } else {
        // 96 s of 384: no window of one station begins where one of the other does.
        EXPECT_NEAR((steps - std::floor(steps)) * st, 96, 5e-3);
      }
    }
  }
}

}  // namespace
}  // namespace qv
