// make_sample_station: writes the recording of the bundled sample station, a
// synthetic five-channel magnetotelluric time series, twice: as the data
// logger records it (QEL binary, 24-bit counts) and in the generic ASCII
// layout (three header lines, then one line per sample: Ex Ey Hx Hy Hz).
//
//   make_sample_station FOLDER [SAMPLES [qel]]
//
// FOLDER is required (the bundled station is examples/sample_station), SAMPLES
// defaults to 38400 (5 minutes at 128 Hz). The outputs are "sample_qel.bin" and "sample.asc" in that folder;
// with "qel" only the logger's file (for long soak recordings: it is written
// packet by packet, so a month needs no more memory than five minutes).
// Both carry the same physical values: the logger counts 0.01 microvolt on the
// electric lines and 0.001 nT on the magnetometer, the precision the text
// shows. Only the text marks missing samples; the logger has no marker and
// holds the generated value there. The generator has its own random numbers
// (xorshift64* and Box-Muller) and a fixed seed, so the same command always
// writes the same files.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "input/qel_writer.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDt = 0.0078125;  // sample interval, seconds (128 Hz)
constexpr long kDefaultSamples = 38400;
constexpr long kMaxSamples = 1000000000;  // about 90 days
constexpr const char* kMissing = "2147483647";  // missing-value marker of the text recording

// The recording session: 14 March 2014 from 10:00:00, at the station of
// sample.sp. The text file counts its time from midnight; the logger's header
// states the date, so the reference field gives the declination for it.
constexpr int kYear = 2014, kMonth = 3, kDay = 14;
constexpr double kLatitude = -31.50, kLongitude = 138.60;

// The logger names the second before its first scan (09:59:59) and stamps the
// scan 1 s + stamp / 50 MHz after it; its filters have delayed the samples by
// 39 intervals (39/128 s = 0.3046875 s). A stamp of 0.304688 s (15234400
// ticks) puts the first sample half a microsecond after 10:00:00, so the start
// time in whole microseconds is 10:00:00 whatever the rounding on the way.
constexpr std::int64_t kStamp = 15234400;

// The natural field: red noise whose power falls as 1/f^2 between the two
// corner frequencies and faster above the upper one (the quiet band of
// natural signals above about 1 Hz).
constexpr double kLowCornerHz = 0.005;
constexpr double kHighCornerHz = 1.0;

// Earth response: E = Z * H with Z(f) = a * (1 + i 2 pi f tau), in mV/km per
// nT, i.e. E = a * (H + tau dH/dt). The phase rises from 0 to 90 degrees and
// passes 45 degrees at 1/(2 pi tau) = 0.32 Hz. Ey carries the opposite sign
// (phase in the third quadrant), as for a 1-D Earth.
constexpr double kZxy = 3.0;   // Ex from Hy, mV/km per nT
constexpr double kZyx = -1.5;  // Ey from Hx, mV/km per nT
constexpr double kTau = 0.5;   // seconds

// Electrode lines and their recording: microvolts across the line.
constexpr double kExLineKm = 0.100;
constexpr double kEyLineKm = 0.095;
constexpr double kMicrovoltsPerMillivolt = 1000.0;

// 50 Hz mains pick-up on the electric lines: amplitude (microvolts), phase.
constexpr double kMainsHz = 50.0;
constexpr double kMainsEx = 40.0, kMainsPhaseEx = 0.3;
constexpr double kMainsEy = 25.0, kMainsPhaseEy = 1.9;

// Missing samples (sample number from 0, channel 0..4 = Ex Ey Hx Hy Hz).
// Positions beyond the requested length are left out.
struct Gap {
  long first;
  int channel;
  int length;
};
constexpr Gap kGaps[] = {{15001, 3, 1}, {20000, 0, 1}, {22222, 4, 1}, {27000, 2, 3}, {31000, 1, 1}};

// xorshift64* (Vigna): small, fast and the same on every platform.
struct Rng {
  std::uint64_t s;
  std::uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
  }
  // Uniform in (0, 1]: the top 53 bits, never zero.
  double uniform() { return (static_cast<double>(next() >> 11) + 1.0) / 9007199254740992.0; }
  // Standard normal deviate (Box-Muller, cosine branch only).
  double gauss() {
    double r = std::sqrt(-2.0 * std::log(uniform()));
    return r * std::cos(2.0 * kPi * uniform());
  }
};

// Red noise of unit standard deviation (in the steady state): white noise
// through two one-pole low-passes. Started 5 time constants of the low corner
// before the record, so the record begins in the steady state.
class RedNoise {
 public:
  explicit RedNoise(Rng& rng) : rng_(rng) {
    const double b = 1.0 - a2_;
    // Variance of the two-pole process driven by unit white noise.
    const double var = b * b * (1.0 + a1_ * a2_) / ((1.0 - a1_ * a2_) * (1.0 - a1_ * a1_) * (1.0 - a2_ * a2_));
    norm_ = 1.0 / std::sqrt(var);
    const long burn_in = static_cast<long>(5.0 / (2.0 * kPi * kLowCornerHz * kDt));
    for (long i = 0; i < burn_in; ++i) next();
  }
  double next() {
    y1_ = a1_ * y1_ + rng_.gauss();
    y2_ = a2_ * y2_ + (1.0 - a2_) * y1_;
    return y2_ * norm_;
  }

 private:
  Rng& rng_;
  double a1_ = std::exp(-2.0 * kPi * kLowCornerHz * kDt);
  double a2_ = std::exp(-2.0 * kPi * kHighCornerHz * kDt);
  double y1_ = 0, y2_ = 0, norm_ = 1;
};

// The true horizontal field (nT): two independent sources, partly polarised.
struct Field {
  double hx, hy;
};
Field next_field(RedNoise& s1, RedNoise& s2) {
  const double u1 = s1.next(), u2 = s2.next();
  return {3.0 * u1 + 0.8 * u2, -0.6 * u1 + 2.2 * u2};
}

bool is_missing(long i, int channel) {
  for (const Gap& g : kGaps)
    if (g.channel == channel && i >= g.first && i < g.first + g.length) return true;
  return false;
}

// Logger counts of a value as the text shows it ("-1234.56" with two
// decimals is -123456 counts of 0.01 microvolt): the digits without the point,
// so both files hold exactly the same number.
std::int32_t counts_of(const char* text) {
  std::string digits;
  for (const char* p = text; *p; ++p)
    if (*p != '.') digits += *p;
  std::int32_t v = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size())
    throw qv::Error(std::string("value '") + text + "' does not give a count");
  return v;
}

long parse_count(const std::string& text) {
  long n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > kMaxSamples)
    throw qv::Error("sample count '" + text + "': expected a whole number from 1 to " + std::to_string(kMaxSamples));
  return n;
}

// The logger's header: 128 Hz, five channels (mask 0x1F) in packets of 12
// blocks of 256 scans, 46080 data bytes.
qv::QelHeaderFields logger_header() {
  qv::QelHeaderFields h;
  h.fpga = qv::qel::first_new_fpga;
  h.position = qv::qel_position_text(kLatitude, kLongitude);
  h.date_time = qv::qel_date_time_text(kYear, kMonth, kDay, 9, 59, 59.0);
  h.divisor = "50";
  h.sampfreq = 128;
  h.stamp = kStamp;
  h.data_bytes = 12 * qv::qel::scans_per_block * 5 * qv::qel::bytes_per_sample;
  h.mask = 0x1F;
  return h;
}

void write_station(const std::string& folder, long n, bool with_text) {
  std::filesystem::create_directories(folder);
  const std::string path = (std::filesystem::path(folder) / "sample.asc").string();
  const std::string qel_path = (std::filesystem::path(folder) / "sample_qel.bin").string();
  std::FILE* f = nullptr;
  if (with_text) {
    f = std::fopen(path.c_str(), "w");
    if (!f) throw qv::Error("cannot create " + path);
    // Header: sample interval (seconds), start time, reference time of the
    // window grid (midnight of the recording day).
    std::fprintf(f, "0.0078125\n%d %d %d 10 0 0\n%d %d %d 0 0 0\n", kYear, kMonth, kDay, kYear, kMonth, kDay);
  }
  qv::QelStreamWriter logger(qel_path, logger_header());

  Rng rng{0x5EEDC0DE12345678ULL};
  RedNoise s1(rng), s2(rng);
  const double ex_gain = kZxy * kExLineKm * kMicrovoltsPerMillivolt;  // microvolts per nT
  const double ey_gain = kZyx * kEyLineKm * kMicrovoltsPerMillivolt;
  // The field one sample before, at and after sample i, for dH/dt by central differences.
  Field prev = next_field(s1, s2), cur = next_field(s1, s2);
  double v[5];
  for (long i = 0; i < n; ++i) {
    const Field nxt = next_field(s1, s2);
    const double dhx = (nxt.hx - prev.hx) / (2.0 * kDt), dhy = (nxt.hy - prev.hy) / (2.0 * kDt);
    const double t = static_cast<double>(i) * kDt;
    // Electric lines: induced field, electrode offsets, mains, 3 microvolts of noise.
    v[0] = ex_gain * (cur.hy + kTau * dhy) + 1250.0 + kMainsEx * std::cos(2.0 * kPi * kMainsHz * t + kMainsPhaseEx) +
           3.0 * rng.gauss();
    v[1] = ey_gain * (cur.hx + kTau * dhx) - 830.0 + kMainsEy * std::cos(2.0 * kPi * kMainsHz * t + kMainsPhaseEy) +
           3.0 * rng.gauss();
    // Magnetometer: offset-compensated fluxgate with a 0.01 nT noise floor;
    // the vertical field follows the horizontal one (a lateral conductor).
    v[2] = cur.hx + 15.0 + 0.01 * rng.gauss();
    v[3] = cur.hy - 7.5 + 0.01 * rng.gauss();
    v[4] = 0.12 * cur.hx - 0.08 * cur.hy + 40.0 + 0.01 * rng.gauss();
    for (int c = 0; c < 5; ++c) {
      char text[32];
      std::snprintf(text, sizeof text, c < 2 ? "%.2f" : "%.3f", v[c]);  // 0.01 microvolt, 0.001 nT
      logger.add(counts_of(text));
      if (!f) continue;
      if (c > 0) std::fputc(' ', f);
      std::fputs(is_missing(i, c) ? kMissing : text, f);
    }
    if (f) std::fputc('\n', f);
    prev = cur;
    cur = nxt;
  }
  logger.close();
  if (f) {
    const bool failed = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failed) throw qv::Error("cannot write " + path + " (disk full?)");
    std::cout << "wrote " << path << " and ";
  } else {
    std::cout << "wrote ";
  }
  std::cout << qel_path << ": " << n << " samples of Ex Ey Hx Hy Hz at 128 Hz\n";
}

}  // namespace

int main(int argc, char** argv) {
  static constexpr const char* kUsage =
      "usage: make_sample_station FOLDER [SAMPLES [qel]]\n"
      "  writes the sample station's recording, five channels at 128 Hz, into FOLDER\n"
      "  (examples/sample_station for the bundled one): sample_qel.bin in the data\n"
      "  logger's QEL format and sample.asc as generic ASCII; SAMPLES scans (default\n"
      "  38400, 5 minutes); with qel only sample_qel.bin, written packet by packet.\n"
      "  -h, --help     this text\n"
      "  --version      the version\n";
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::guarded_main({"make_sample_station", kUsage}, args, std::cout, std::cerr, [&] {
    const bool qel_only = args.size() == 3 && args[2] == "qel";
    if (args.empty() || args.size() > 3 || (args.size() == 3 && !qel_only)) {
      std::cerr << kUsage;
      return 1;
    }
    const long n = args.size() > 1 ? parse_count(args[1].c_str()) : kDefaultSamples;
    write_station(args[0], n, !qel_only);
    return 0;
  });
}
