// The bundled sample station (examples/sample_station) must stay a station the
// program can process and must have the content its README advertises, in its
// logger recording as in its text copy.
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
#include <iterator>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/console.hpp"
#include "common/limits.hpp"
#include "common/text_reader.hpp"
#include "driver/decset.hpp"
#include "input/qel_header.hpp"
#include "support/built_program.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

const std::string kStation = std::string(QV_SOURCE_DIR) + "/examples/sample_station/";
constexpr int kSamples = 38400;
constexpr double kDt = 0.0078125;  // seconds
constexpr double kMissing = 2147483647.0;
enum { Ex, Ey, Hx, Hy, Hz };

struct Recording {
  std::vector<std::string> header;             // the three header lines
  std::vector<std::array<double, 5>> samples;  // one row per data line
  std::vector<std::string> layout_faults;      // "line N: ..." for malformed lines
};

// Reads the recording once for all tests of this file.
const Recording& recording() {
  static const Recording rec = [] {
    Recording r;
    std::ifstream in(kStation + "sample.asc");
    std::string line;
    int no = 0;
    while (std::getline(in, line)) {
      ++no;
      if (no <= 3) {
        r.header.push_back(line);
        continue;
      }
      std::string_view tok[6];
      const int n = split_values(line, tok);
      std::array<double, 5> row{};
      bool ok = n == 5 && line.find("  ") == std::string::npos && line.front() != ' ' && line.back() != ' ';
      for (int c = 0; ok && c < 5; ++c) ok = parse_real(tok[c], row[c]) && std::isfinite(row[c]);
      if (!ok) r.layout_faults.push_back("line " + std::to_string(no) + ": '" + line + "'");
      r.samples.push_back(row);
    }
    return r;
  }();
  return rec;
}

// Fourier coefficient of a Hann-tapered, mean-free stretch at frequency index
// k, summed directly in double precision.
std::complex<double> dft(int ch, int first, int n, int k) {
  const auto& s = recording().samples;
  double mean = 0;
  for (int t = 0; t < n; ++t) mean += s[first + t][ch];
  mean /= n;
  std::complex<double> sum = 0;
  for (int t = 0; t < n; ++t) {
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * t / n);
    const double phase = -2 * std::numbers::pi * static_cast<double>((static_cast<long>(k) * t) % n) / n;
    sum += w * (s[first + t][ch] - mean) * std::polar(1.0, phase);
  }
  return sum;
}

// The first 15000 samples have no missing value on any channel; the spectral
// checks use the first 8192 (64 s, frequency step 1/64 Hz).
constexpr int kClean = 8192;

TEST(SampleStation, RecordingIsGenericAsciiWithFiveChannels) {
  const Recording& r = recording();
  ASSERT_EQ(r.header.size(), 3u);
  EXPECT_EQ(r.header[0], "0.0078125");
  EXPECT_EQ(r.header[1], "2014 3 14 10 0 0");
  EXPECT_EQ(r.header[2], "2014 3 14 0 0 0");
  EXPECT_EQ(r.samples.size(), static_cast<size_t>(kSamples));
  EXPECT_TRUE(r.layout_faults.empty()) << r.layout_faults.size() << " malformed lines, first "
                                       << r.layout_faults.front();
  // Present values are microvolts and nanotesla of ordinary size, far below
  // the missing-value threshold 2147473664.
  double largest = 0;
  for (const auto& row : r.samples)
    for (double v : row)
      if (v != kMissing) largest = std::max(largest, std::abs(v));
  EXPECT_LT(largest, 1.0e5);
}

TEST(SampleStation, MissingSamplesAreTheAdvertisedOnes) {
  std::set<std::pair<int, int>> found;  // (sample number from 0, channel)
  const auto& s = recording().samples;
  for (int i = 0; i < static_cast<int>(s.size()); ++i)
    for (int c = 0; c < 5; ++c)
      if (s[i][c] == kMissing) found.insert({i, c});
  const std::set<std::pair<int, int>> expected = {{15001, Hy}, {20000, Ex}, {22222, Hz}, {27000, Hx},
                                                  {27001, Hx}, {27002, Hx}, {31000, Ey}};
  EXPECT_EQ(found, expected);
}

TEST(SampleStation, MainsToneOnTheElectricLinesOnly) {
  // 50 Hz is frequency index 800 of 2048 samples at 128 Hz. Compare it with
  // the median amplitude of the indices between 45 and 55 Hz away from it.
  const int n = 2048, k50 = 800;
  for (int ch : {Ex, Ey, Hx, Hy, Hz}) {
    std::vector<double> around;
    for (int k = k50 - 80; k <= k50 + 80; ++k)
      if (std::abs(k - k50) > 4) around.push_back(std::abs(dft(ch, 0, n, k)));
    std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
    const double ratio = std::abs(dft(ch, 0, n, k50)) / around[around.size() / 2];
    if (ch == Ex || ch == Ey)
      EXPECT_GT(ratio, 50.0) << "channel " << ch;
    else
      EXPECT_LT(ratio, 5.0) << "channel " << ch;
  }
  // Amplitude of the tone in microvolts: a Hann-tapered sinusoid on a
  // frequency index has |X| = amplitude * N / 4.
  EXPECT_NEAR(std::abs(dft(Ex, 0, n, k50)) * 4 / n, 40.0, 1.0);
  EXPECT_NEAR(std::abs(dft(Ey, 0, n, k50)) * 4 / n, 25.0, 1.0);
}

TEST(SampleStation, ElectricFieldFollowsTheDesignedImpedance) {
  // Zero-lag correlation: Ex rises with Hy, Ey falls with Hx.
  auto corr = [](int a, int b) {
    const auto& s = recording().samples;
    double ma = 0, mb = 0;
    for (int t = 0; t < kClean; ++t) ma += s[t][a], mb += s[t][b];
    ma /= kClean, mb /= kClean;
    double sab = 0, saa = 0, sbb = 0;
    for (int t = 0; t < kClean; ++t) {
      sab += (s[t][a] - ma) * (s[t][b] - mb);
      saa += (s[t][a] - ma) * (s[t][a] - ma);
      sbb += (s[t][b] - mb) * (s[t][b] - mb);
    }
    return sab / std::sqrt(saa * sbb);
  };
  EXPECT_GT(corr(Ex, Hy), 0.9);
  EXPECT_LT(corr(Ey, Hx), -0.9);

  // Band-averaged impedance in mV/km per nT (counts are microvolts across
  // lines of 0.100 and 0.095 km) against Z(f) = a (1 + i 2 pi f tau), a = 3.0
  // for Zxy and -1.5 for Zyx, tau = 0.5 s.
  for (double f : {0.1, 0.32, 1.0}) {
    const int kc = static_cast<int>(std::lround(f * kClean * kDt));
    std::complex<double> exhy = 0, eyhx = 0;
    double hyhy = 0, hxhx = 0;
    for (int k = kc - 3; k <= kc + 3; ++k) {
      const auto ex = dft(Ex, 0, kClean, k), ey = dft(Ey, 0, kClean, k);
      const auto hx = dft(Hx, 0, kClean, k), hy = dft(Hy, 0, kClean, k);
      exhy += ex * std::conj(hy), hyhy += std::norm(hy);
      eyhx += ey * std::conj(hx), hxhx += std::norm(hx);
    }
    const std::complex<double> zxy = exhy / hyhy / 100.0, zyx = eyhx / hxhx / 95.0;
    const std::complex<double> shape(1.0, 2 * std::numbers::pi * f * 0.5);
    const std::complex<double> wxy = 3.0 * shape, wyx = -1.5 * shape;
    EXPECT_NEAR(std::abs(zxy) / std::abs(wxy), 1.0, 0.07) << f << " Hz";
    EXPECT_NEAR(std::arg(zxy / wxy) * 180 / std::numbers::pi, 0.0, 5.0) << f << " Hz";
    EXPECT_NEAR(std::abs(zyx) / std::abs(wyx), 1.0, 0.07) << f << " Hz";
    EXPECT_NEAR(std::arg(zyx / wyx) * 180 / std::numbers::pi, 0.0, 5.0) << f << " Hz";
  }
}

TEST(SampleStation, MagneticSpectrumIsRedBelowOneHertz) {
  // Power falls about as 1/f^2 between 0.05 and 0.5 Hz: a decade in
  // frequency costs about two decades in power.
  auto band_power = [](int ch, double f) {
    const int kc = static_cast<int>(std::lround(f * kClean * kDt));
    double p = 0;
    for (int k = kc - 2; k <= kc + 2; ++k) p += std::norm(dft(ch, 0, kClean, k));
    return p;
  };
  for (int ch : {Hx, Hy}) {
    const double slope = std::log10(band_power(ch, 0.5) / band_power(ch, 0.05));
    EXPECT_GT(slope, -2.8) << "channel " << ch;
    EXPECT_LT(slope, -1.5) << "channel " << ch;
  }
}

TEST(SampleStation, SetUpFilesFitTheRecording) {
  // paths.cfg puts every file of the run into the station folder.
  std::ifstream paths(kStation + "paths.cfg");
  std::vector<std::string> lines;
  for (std::string l; std::getline(paths, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 7u);
  for (int i : {0, 1, 2, 5}) EXPECT_EQ(lines[i], ".") << "paths.cfg line " << i + 1;
  EXPECT_EQ(lines[6], "sensors");

  // The decimation set-up is accepted by the program's own reader.
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  DecSetup setup;
  cf_decset(kStation + lines[3], kStation + lines[4], nwmx, 5, setup, con);
  ASSERT_EQ(setup.nd, 4);
  for (int lev = 1; lev <= setup.nd; ++lev) {
    const LevelSetup& l = setup.lev[lev];
    SCOPED_TRACE("level " + std::to_string(lev));
    EXPECT_EQ(l.pwlen, 3);  // prediction-error filter of order 2
    // Kept frequencies stay in the lower half of the band, where the
    // decimation filters have not yet cut in.
    EXPECT_GE(l.nfreq, 1);
    EXPECT_LE(l.nfreq, l.nwin / 4);
    if (lev >= 2) {
      // Unit gain at zero frequency: centre tap plus twice the side taps.
      double gain = l.coef[0];
      for (int j = 1; j < l.nfc; ++j) gain += 2 * l.coef[j];
      EXPECT_NEAR(gain, 1.0, 1e-6);
    }
    // The recording gives every level several windows.
    const double level_samples = static_cast<double>(kSamples) / cumulative_factor(setup, lev);
    EXPECT_GE((level_samples - l.nwin) / (l.nwin - l.olap), 3.0);
  }
  EXPECT_EQ(setup.lev[1].decfac, 1);

  // The system parameter file describes the recorded channels.
  TextReader sp;
  ASSERT_TRUE(sp.open(kStation + "sample.sp"));
  std::string_view name;
  ASSERT_TRUE(sp.next_line(name));
  EXPECT_EQ(name, "SAMPLE");
  float lat = 0, lon = 0, decl = 0, dt = 0, delay = -1, drift = -1;
  int nch = 0;
  sp.require(sp.read(lat, lon), "coordinates");
  sp.require(sp.read(decl), "declination");
  sp.require(sp.read(nch), "channels");
  sp.require(sp.read(dt), "sample interval");
  sp.require(sp.read(delay, drift), "delay and drift");
  EXPECT_NE(decl, 0.0f);  // a given declination, no reference-field look-up
  EXPECT_EQ(nch, 5);
  EXPECT_EQ(dt, 0.0078125f);
  EXPECT_EQ(delay, 0.0f);
  EXPECT_EQ(drift, 0.0f);
  for (const char* id : {"Ex", "Ey", "Hx", "Hy", "Hz"}) {
    std::string_view line;
    ASSERT_TRUE(sp.next_line(line));
    EXPECT_EQ(line, id);
    float v[4];
    if (id[0] == 'E')
      sp.require(sp.read(v[0], v[1], v[2], v[3]), "line length, orientation, tilt, gain");
    else
      sp.require(sp.read(v[0], v[1]), "orientation, tilt");
    float scale = 0;
    int nfilt = -1;
    sp.require(sp.read(scale, nfilt), "scale and number of filters");
    EXPECT_GT(scale, 0.0f) << id;
    EXPECT_EQ(nfilt, 0) << id;
  }
  std::string_view rest;
  EXPECT_FALSE(sp.next_line(rest));
}

TEST(SampleStation, LoggerRecordingHoldsTheSameValuesAndStartsAtTenOClock) {
  // Packets of a 1024-byte header and 46080 data bytes (12 blocks of 256
  // scans); the samples are 24-bit big-endian two's complement counts of
  // 0.01 microvolt (Ex, Ey) and 0.001 nT (Hx, Hy, Hz), scan after scan.
  std::ifstream in(kStation + "sample_qel.bin", std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<std::int32_t> counts;
  for (std::size_t packet = 0; packet < bytes.size(); packet += 1024 + 46080)
    for (std::size_t p = packet + 1024; p + 3 <= std::min(bytes.size(), packet + 1024 + 46080); p += 3) {
      const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])); };
      const std::uint32_t u = b(p) << 16 | b(p + 1) << 8 | b(p + 2);
      counts.push_back(static_cast<std::int32_t>(u) - (u & 0x800000u ? 0x1000000 : 0));
    }
  ASSERT_EQ(counts.size(), static_cast<std::size_t>(kSamples) * 5);
  const auto& s = recording().samples;
  int mismatches = 0;
  for (int i = 0; i < kSamples; ++i)
    for (int c = 0; c < 5; ++c) {
      const double value = counts[std::size_t(i) * 5 + c] / (c < Hx ? 100.0 : 1000.0);
      if (s[i][c] != kMissing) {
        mismatches += value != s[i][c];
      } else {
        // The logger has no marker: a value like the nearest present ones
        // (the mains swings E by up to 80 microvolts from sample to sample).
        int before = i - 1, after = i + 1;
        while (s[before][c] == kMissing) --before;
        while (s[after][c] == kMissing) ++after;
        EXPECT_NEAR(value, 0.5 * (s[before][c] + s[after][c]), c < Hx ? 100.0 : 0.1) << "sample " << i << ", " << c;
      }
    }
  EXPECT_EQ(mismatches, 0);

  // The header puts the first sample at 10:00:00 on 14 March 2014, day 72
  // from 1 January, at 128 Hz.
  std::ostringstream out, err;
  std::istringstream answers;
  Console con(out, err, answers);
  Acquisition acq;
  QelLayout layout;
  std::FILE* f = std::fopen((kStation + "sample_qel.bin").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  rdhdrQEL(f, "sample_qel.bin", acq, layout, con);
  std::fclose(f);
  EXPECT_EQ(acq.time_int, (72 * 86400LL + 10 * 3600LL) * 1000000LL);
  EXPECT_EQ(acq.sampfreq, 128.0f);
  EXPECT_EQ(acq.nch, 5);
  EXPECT_EQ(layout.nbytes_packet, 1024 + 46080);
}

TEST(SampleStation, GeneratorRewritesTheCommittedRecording) {
  const std::filesystem::path tool = testing_support::built_program("make_sample_station");
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "make_sample_station not built";
  const testing_support::TempFolder folder("regen");
  const std::filesystem::path dir = folder / "station";
  std::string cmd = "'";
  cmd.append(tool.string()).append("' '").append(dir.string()).append("' > /dev/null");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto slurp = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  for (const char* name : {"sample.asc", "sample_qel.bin"})
    EXPECT_TRUE(slurp(dir / name) == slurp(kStation + name))
        << name << " differs; regenerate with: make_sample_station examples/sample_station";
}

}  // namespace
}  // namespace qv
