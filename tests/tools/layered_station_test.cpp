// The layered-Earth station generator (tools/make_layered_station): its
// impedance against the closed form of a half-space and the limits of two
// layers, and the stations it writes: processed by qel_vort, the Fourier
// coefficients give back the model's impedance and tipper; stations of one
// source seed share the source field exactly and differ by their noise alone;
// bursts are where model.json says; the logger's recording holds the counts
// of the text and starts at the requested time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "output/fc_reader.hpp"
#include "support/built_program.hpp"
#include "support/shell_run.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using cplx = std::complex<double>;
using testing_support::read_file;
using testing_support::TempFolder;

const fs::path kTool = testing_support::built_program("make_layered_station");
const fs::path kVort = testing_support::built_program("qel_vort");
constexpr double kPi = std::numbers::pi;
constexpr double kMu0 = 4e-7 * kPi;

const auto run = testing_support::run_in_folder;

// A program in single quotes for the shell, followed by its arguments.
std::string command(const fs::path& program, const std::string& args) {
  std::string c = "'";
  c += program.string();
  c += "' ";
  c += args;
  return c;
}
std::string generator(const std::string& args) { return command(kTool, args); }

struct ModelPoint {
  double f;
  cplx zxy, zyx;
  double rho_a, phase_xy, phase_yx;
};

// The generator's --impedance table at the frequencies given.
std::vector<ModelPoint> model_impedance(const fs::path& folder, const std::string& layers,
                                        const std::vector<double>& freqs) {
  std::string list;
  for (double f : freqs) {
    std::ostringstream s;
    s.precision(17);
    s << f;
    if (!list.empty()) list += ',';
    list += s.str();
  }
  const auto [status, out] = run(folder, generator("--layers '" + layers + "' --impedance " + list));
  EXPECT_EQ(status, 0) << out;
  std::istringstream in(out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "frequency_hz,period_s,zxy_re,zxy_im,zyx_re,zyx_im,rho_a_ohm_m,phase_xy_deg,phase_yx_deg");
  std::vector<ModelPoint> points;
  while (std::getline(in, line)) {
    std::array<double, 9> v{};
    std::istringstream row(line);
    for (double& x : v) {
      row >> x;
      row.ignore(1);
    }
    points.push_back({v[0], {v[2], v[3]}, {v[4], v[5]}, v[6], v[7], v[8]});
  }
  EXPECT_EQ(points.size(), freqs.size());
  return points;
}

std::vector<double> log_spaced(double from, double to, int n) {
  std::vector<double> f;
  for (int i = 0; i < n; ++i) f.push_back(from * std::pow(to / from, i / (n - 1.0)));
  return f;
}

class LayeredStation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kTool) || !fs::exists(kVort)) GTEST_SKIP() << "make_layered_station or qel_vort not built";
    tmp_.emplace("layered");
  }
  fs::path dir() const { return tmp_->path(); }
  std::optional<TempFolder> tmp_;
};

TEST_F(LayeredStation, HalfSpaceHasItsResistivityAndPhase45AtEveryFrequency) {
  const std::vector<double> freqs = log_spaced(1e-5, 1e4, 19);
  for (const char* layers : {"1", "100", "30000", "100,500;100,3000;100"}) {
    SCOPED_TRACE(layers);
    const double rho = std::atof(layers);
    for (const ModelPoint& p : model_impedance(dir(), layers, freqs)) {
      // Closed form: Z = sqrt(omega mu0 rho) exp(i pi/4) ohm, 1e-3/mu0 (mV/km)/nT per ohm.
      const cplx z = std::sqrt(2 * kPi * p.f * kMu0 * rho) * std::polar(1.0, kPi / 4) * (1e-3 / kMu0);
      EXPECT_NEAR(std::abs(p.zxy - z) / std::abs(z), 0.0, 1e-7) << p.f << " Hz";
      EXPECT_NEAR(std::abs(p.zyx + z) / std::abs(z), 0.0, 1e-7) << p.f << " Hz";
      EXPECT_NEAR(p.rho_a / rho, 1.0, 1e-7) << p.f << " Hz";
      EXPECT_NEAR(p.phase_xy, 45.0, 1e-5) << p.f << " Hz";
      EXPECT_NEAR(p.phase_yx, -135.0, 1e-5) << p.f << " Hz";
    }
  }
}

TEST_F(LayeredStation, TwoLayersGiveTheTopAtHighAndTheBottomAtLowFrequency) {
  // A 1 km layer over a half-space 100 times more (or less) resistive. The
  // skin depth 503 sqrt(rho / f) m is 5 m in the top layer at 10 kHz and far
  // beyond it at 1e-7 Hz. In between, the phase departs from 45 degrees
  // against the slope of rho_a with period (phi ~ 45 (1 - dlog rho_a / dlog T)):
  // below 45 where rho_a rises, above where it falls, overshoot included.
  const std::vector<double> freqs = log_spaced(1e-7, 1e4, 45);
  struct Case {
    const char* layers;
    double top, bottom;
  };
  for (const Case& c : {Case{"10,1000;1000", 10, 1000}, Case{"1000,1000;10", 1000, 10}}) {
    SCOPED_TRACE(c.layers);
    const auto p = model_impedance(dir(), c.layers, freqs);
    ASSERT_EQ(p.size(), freqs.size());
    EXPECT_NEAR(p.back().rho_a / c.top, 1.0, 0.01);
    EXPECT_NEAR(p.back().phase_xy, 45.0, 0.5);
    EXPECT_NEAR(p.front().rho_a / c.bottom, 1.0, 0.02);
    EXPECT_NEAR(p.front().phase_xy, 45.0, 1.0);
    double lowest = 90, highest = 0;
    for (std::size_t i = 1; i + 1 < p.size(); ++i) {
      // Slope of log rho_a against log period (frequencies ascend).
      const double slope = -std::log(p[i + 1].rho_a / p[i - 1].rho_a) / std::log(p[i + 1].f / p[i - 1].f);
      if (std::abs(slope) > 0.25) {
        EXPECT_EQ(p[i].phase_xy<45.0, slope> 0) << p[i].f << " Hz: slope " << slope << ", phase " << p[i].phase_xy;
      }
      EXPECT_NEAR(p[i].phase_yx, p[i].phase_xy - 180.0, 1e-5);
      lowest = std::min(lowest, p[i].phase_xy);
      highest = std::max(highest, p[i].phase_xy);
    }
    if (c.bottom > c.top)
      EXPECT_LT(lowest, 20.0);
    else
      EXPECT_GT(highest, 70.0);
  }
}

// The least-squares transfer functions of one harmonic of one level: every
// output channel on Hx and Hy over all windows, and the mean squared residual.
struct HarmonicFit {
  int level = 0, findex = 0, windows = 0;
  double f = 0;
  std::array<std::array<cplx, 2>, 3> t{};  // Ex, Ey, Hz on Hx, Hy
  std::array<double, 3> residual{};        // mean |residual|^2
  std::array<double, 3> coherence{};       // squared multiple coherence
};

std::vector<HarmonicFit> fit_harmonics(const fs::path& fc_file, double dt) {
  FcReader fc(fc_file.string());
  std::vector<HarmonicFit> fits;
  std::vector<FcCoefRecord> recs;
  const int nch = fc.header().nch;
  for (const FcBlockInfo& b : fc.blocks()) {
    fc.read_records(b, recs);
    const int pos = fc.listed(b.level_id);
    HarmonicFit h;
    h.level = b.level_id;
    h.findex = b.findex;
    h.f = b.findex / (fc.header().nwin[pos] * dt * std::pow(4.0, b.level_id - 1));
    cplx a[2][2] = {}, r[3][2] = {};
    double ee[3] = {};
    std::vector<std::array<cplx, 5>> rows;
    for (const FcCoefRecord& rec : recs) {
      std::array<cplx, 5> c{};
      bool ok = true;
      for (int ch = 0; ch < nch; ++ch) {
        float re = 0, im = 0;
        decode_fc(rec.word[ch], b.scale[ch], re, im);
        ok = ok && std::isfinite(re) && std::isfinite(im);
        c[ch] = {re, im};
      }
      if (!ok) continue;
      rows.push_back(c);
      const cplx hh[2] = {c[2], c[3]};
      const cplx out[3] = {c[0], c[1], c[4]};
      for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) a[i][j] += std::conj(hh[i]) * hh[j];
        for (int o = 0; o < 3; ++o) r[o][i] += std::conj(hh[i]) * out[o];
      }
      for (int o = 0; o < 3; ++o) ee[o] += std::norm(out[o]);
    }
    h.windows = static_cast<int>(rows.size());
    if (h.windows < 4) continue;
    const cplx det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    for (int o = 0; o < 3; ++o) {
      h.t[o][0] = (a[1][1] * r[o][0] - a[0][1] * r[o][1]) / det;
      h.t[o][1] = (a[0][0] * r[o][1] - a[1][0] * r[o][0]) / det;
      double res = 0;
      for (const auto& c : rows) res += std::norm((o == 2 ? c[4] : c[o]) - h.t[o][0] * c[2] - h.t[o][1] * c[3]);
      h.residual[o] = res / h.windows;
      h.coherence[o] = ee[o] > 0 ? 1.0 - res / ee[o] : 0.0;
    }
    fits.push_back(h);
  }
  return fits;
}

TEST_F(LayeredStation, QelVortGivesBackTheModelImpedanceTipperAndNoise) {
  // Three hours at 10 Hz over three layers in the logger's format: four
  // levels, periods 0.4 s to 14 min. One station with white noise on E, one
  // without; otherwise the same source and seeds.
  const std::string layers = "100,2000;10,8000;1000";
  const double dt = 0.1, noise_e = 0.02;
  const std::string common =
      "--rate 10 --hours 3 --format qel --layers '" + layers + "' --tipper 0.2,-0.15 --seed-source 7";
  for (const char* st : {"noisy", "clean"}) {
    const std::string name = st;
    auto [status, out] = run(dir(), generator(common + " --name " + name + (name == "noisy" ? " --noise-e 0.02" : "")));
    ASSERT_EQ(status, 0) << out;
    std::tie(status, out) = run(dir() / name, command(kVort, "-f:" + name + ".bin < /dev/null"));
    ASSERT_EQ(status, 0) << out;
  }
  const auto fits = fit_harmonics(dir() / "noisy" / "noisy.f5", dt);
  std::vector<double> freqs;
  for (const auto& h : fits) freqs.push_back(h.f);
  const auto model = model_impedance(dir(), layers, freqs);
  ASSERT_EQ(model.size(), fits.size());
  int checked = 0;
  double worst = 0;
  for (std::size_t i = 0; i < fits.size(); ++i) {
    const HarmonicFit& h = fits[i];
    const ModelPoint& m = model[i];
    // Good signal: harmonics 4 on (the taper and the mean removal spoil the
    // lowest) on the levels of 60 windows or more (1 to 3).
    if (h.findex < 4 || h.windows < 60) continue;
    std::ostringstream where;
    where << "level " << h.level << " harmonic " << h.findex << ", " << h.f << " Hz";
    SCOPED_TRACE(where.str());
    ++checked;
    const double zxy_err = std::abs(h.t[0][1] - m.zxy) / std::abs(m.zxy);
    const double zyx_err = std::abs(h.t[1][0] - m.zyx) / std::abs(m.zyx);
    EXPECT_LT(zxy_err, 0.02) << h.t[0][1] << " against " << m.zxy;
    EXPECT_LT(zyx_err, 0.02) << h.t[1][0] << " against " << m.zyx;
    EXPECT_LT(std::abs(h.t[0][0]) / std::abs(m.zxy), 0.02) << "Zxx " << h.t[0][0];
    EXPECT_LT(std::abs(h.t[1][1]) / std::abs(m.zyx), 0.02) << "Zyy " << h.t[1][1];
    EXPECT_LT(std::abs(h.t[2][0] - 0.2), 0.004) << "Tx " << h.t[2][0];
    EXPECT_LT(std::abs(h.t[2][1] + 0.15), 0.004) << "Ty " << h.t[2][1];
    worst = std::max({worst, zxy_err, zyx_err});
  }
  EXPECT_GE(checked, 3 * 29);
  std::cout << checked << " harmonics: largest impedance error " << worst * 100 << " %\n";

  // The noise is what the two stations' E coefficients differ by: white, std
  // 0.02 mV/km per sample, a two-sided power spectral density of std^2 dt in
  // the file's units on every level.
  FcReader noisy((dir() / "noisy" / "noisy.f5").string()), clean((dir() / "clean" / "clean.f5").string());
  ASSERT_EQ(noisy.blocks().size(), clean.blocks().size());
  std::map<int, std::array<double, 3>> power;  // level: sums of |dEx|^2, |dEy|^2 and the count
  std::vector<FcCoefRecord> a, b;
  for (std::size_t i = 0; i < noisy.blocks().size(); ++i) {
    const FcBlockInfo &bn = noisy.blocks()[i], &bc = clean.blocks()[i];
    if (bn.findex < 4) continue;
    noisy.read_records(bn, a);
    clean.read_records(bc, b);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t w = 0; w < a.size(); ++w) {
      ASSERT_EQ(a[w].window, b[w].window);
      for (int ch : {0, 1}) {
        float re1, im1, re2, im2;
        decode_fc(a[w].word[ch], bn.scale[ch], re1, im1);
        decode_fc(b[w].word[ch], bc.scale[ch], re2, im2);
        power[bn.level_id][ch] += std::norm(cplx(re1 - re2, im1 - im2));
      }
      power[bn.level_id][2] += 1;
    }
  }
  ASSERT_EQ(power.size(), 4u);
  power.erase(4);  // 16 windows: too few for a 10 % check
  for (const auto& [level, p] : power)
    for (int ch : {0, 1})
      EXPECT_NEAR(p[ch] / p[2] / (noise_e * noise_e * dt), 1.0, 0.1) << "level " << level << ", channel " << ch + 1;
}

// A generated station's recording in physical units (mV/km, nT), read from
// its text file with the scale factors and line lengths of its model.json.
struct Recording {
  nlohmann::json model;
  std::vector<std::array<double, 5>> values;
  std::array<std::int64_t, 5> first_counts{};
};

Recording read_station(const fs::path& folder, const std::string& name) {
  Recording r;
  r.model = nlohmann::json::parse(read_file(folder / "model.json"));
  const auto& channels = r.model["station"]["channels"];
  std::array<double, 5> unit{};
  for (std::size_t c = 0; c < channels.size(); ++c)
    unit[c] =
        c < 2 ? 1.0 / (channels[c]["counts_per_mv"].get<double>() * channels[c]["line_length_m"].get<double>() / 1000)
              : 1.0 / channels[c]["counts_per_nt"].get<double>();
  std::ifstream in(folder / (name + ".asc"));
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::array<double, 5> v{};
    for (std::size_t c = 0; c < channels.size(); ++c) {
      std::int64_t count = 0;
      row >> count;
      if (r.values.empty()) r.first_counts[c] = count;
      v[c] = static_cast<double>(count) * unit[c];
    }
    r.values.push_back(v);
  }
  return r;
}

TEST_F(LayeredStation, StationsOfOneSourceDifferByTheirNoiseAlone) {
  // Three stations of one source field: A with noise on E and H and bursts
  // on E, B with noise on H from another noise seed, C without noise.
  const std::string common = "--rate 10 --samples 20000 --format ascii --channels 4 --seed-source 5 ";
  for (const std::string& args : {std::string("--name A --seed-noise 1 --noise-e 0.05 --noise-h 0.01 --bursts 0.1:3"),
                                  std::string("--name B --seed-noise 2 --noise-h 0.01"), std::string("--name C")}) {
    const auto [status, out] = run(dir(), generator(common + args));
    ASSERT_EQ(status, 0) << args << ": " << out;
  }
  const Recording a = read_station(dir() / "A", "A"), b = read_station(dir() / "B", "B"),
                  c = read_station(dir() / "C", "C");
  ASSERT_EQ(a.values.size(), 20000u);
  ASSERT_EQ(b.values.size(), 20000u);
  ASSERT_EQ(c.values.size(), 20000u);

  // B's E is C's, count for count: the same source and no noise on E.
  int e_differs = 0;
  for (std::size_t i = 0; i < c.values.size(); ++i)
    e_differs += b.values[i][0] != c.values[i][0] || b.values[i][1] != c.values[i][1];
  EXPECT_EQ(e_differs, 0);

  // H of A and B is C's plus noise of 0.01 nT, independent between the stations and channels.
  for (int ch : {2, 3}) {
    double saa = 0, sbb = 0, sab = 0, sxy = 0;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      const double da = a.values[i][ch] - c.values[i][ch], db = b.values[i][ch] - c.values[i][ch];
      const double other = a.values[i][5 - ch] - c.values[i][5 - ch];
      saa += da * da, sbb += db * db, sab += da * db, sxy += da * other;
    }
    const double n = static_cast<double>(c.values.size());
    EXPECT_NEAR(std::sqrt(saa / n), 0.01, 0.0003) << "channel " << ch + 1;
    EXPECT_NEAR(std::sqrt(sbb / n), 0.01, 0.0003) << "channel " << ch + 1;
    EXPECT_LT(std::abs(sab) / std::sqrt(saa * sbb), 0.05) << "A and B share noise on channel " << ch + 1;
    EXPECT_LT(std::abs(sxy) / saa, 0.05) << "A's Hx and Hy share noise";
  }

  // Bursts: round(0.1 * 156) = 16 of the 156 stretches of 128 samples, as
  // model.json lists them; there E has 3 mV/km of noise besides the 0.05.
  const auto& bursts = a.model["noise"]["bursts"];
  EXPECT_EQ(bursts["stretches"], 156);
  std::vector<long> listed = bursts["first_samples"].get<std::vector<long>>();
  EXPECT_EQ(listed.size(), 16u);
  std::vector<long> found;
  for (long s = 0; s + 128 <= 20000; s += 128) {
    double var[2] = {};
    for (long i = s; i < s + 128; ++i)
      for (int ch : {0, 1}) var[ch] += std::pow(a.values[i][ch] - c.values[i][ch], 2) / 128;
    if (var[0] > 1.0 && var[1] > 1.0) {
      found.push_back(s);
      EXPECT_NEAR(std::sqrt((var[0] + var[1]) / 2), 3.0, 0.5) << "burst at " << s;
    } else {
      EXPECT_LT(std::sqrt((var[0] + var[1]) / 2), 0.07) << "stretch at " << s;
    }
  }
  EXPECT_EQ(found, listed);
}

TEST_F(LayeredStation, LoggerFormatHoldsTheTextsCountsAndStartsAtTheGivenTime) {
  // 32 Hz, 30 blocks of 256 scans (whole blocks, as the logger reader takes
  // them), starting at 13:07:42 on 5 January 2019.
  const std::string common = "--rate 32 --samples 7680 --seed-noise 3 --noise-h 0.002 --start '2019 1 5 13 7 42' ";
  for (const char* f : {"ascii", "qel"}) {
    const auto [status, out] = run(dir(), generator(common + "--name " + f + " --format " + f));
    ASSERT_EQ(status, 0) << out;
  }
  const std::string text = read_file(dir() / "ascii" / "ascii.asc");
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1),
            "0.03125\n2019 1 5 13 7 42\n2019 1 5 0 0 0\n");
  // The logger's samples: 24-bit big-endian counts after every 1024-byte
  // header, in packets of 12 blocks.
  const std::string bin = read_file(dir() / "qel" / "qel.bin");
  std::vector<std::int64_t> counts;
  for (std::size_t packet = 0; packet < bin.size(); packet += 1024 + 12 * 256 * 5 * 3)
    for (std::size_t p = packet + 1024; p + 3 <= std::min(bin.size(), packet + 1024 + 12 * 256 * 5 * 3); p += 3) {
      const auto u = static_cast<std::uint32_t>(static_cast<unsigned char>(bin[p])) << 16 |
                     static_cast<std::uint32_t>(static_cast<unsigned char>(bin[p + 1])) << 8 |
                     static_cast<unsigned char>(bin[p + 2]);
      counts.push_back(static_cast<std::int64_t>(u) - (u & 0x800000u ? 0x1000000 : 0));
    }
  std::vector<std::int64_t> text_counts;
  std::istringstream rows(text.substr(text.find("0 0 0\n") + 6));
  for (std::int64_t v; rows >> v;) text_counts.push_back(v);
  ASSERT_EQ(text_counts.size(), 7680u * 5);
  EXPECT_TRUE(counts == text_counts) << "the QEL recording does not hold the text's counts";
  const auto after_name = [](const std::string& sp) { return sp.substr(sp.find('\n')); };
  EXPECT_EQ(after_name(read_file(dir() / "ascii" / "ascii.sp")), after_name(read_file(dir() / "qel" / "qel.sp")));

  // Both runs place the first sample at the given time; the logger counts
  // from 1 January.
  for (const char* f : {"ascii", "qel"}) {
    SCOPED_TRACE(f);
    const std::string name = f;
    const auto [status, out] =
        run(dir() / name, command(kVort, (name == "ascii" ? "-A -f:" : "-f:") + name +
                                             (name == "ascii" ? ".asc" : ".bin") + " < /dev/null"));
    ASSERT_EQ(status, 0) << out;
    const auto meta = nlohmann::json::parse(read_file(dir() / name / (name + ".f5.json")));
    EXPECT_NEAR(meta["recording"]["first_sample"]["unix_s"].get<double>(), 1546693662.0, 1e-5);
    EXPECT_EQ(meta["recording"]["reference_time"]["utc"],
              name == "ascii" ? "2019-01-05T00:00:00.000000Z" : "2019-01-01T00:00:00.000000Z");
  }
}

TEST_F(LayeredStation, SetUpIsTheOneQvNewStationWrites) {
  if (std::system("python3 -c '' > /dev/null 2>&1") != 0) GTEST_SKIP() << "no python3 for tools/qv-new-station";
  const fs::path script = fs::path(QV_SOURCE_DIR) / "tools" / "qv-new-station";
  struct Case {
    const char* rate;
    const char* hours;
    const char* more;  // options both programs take
  };
  for (const Case& k :
       {Case{"10", "3", ""}, Case{"32", "2", "--max-windows 300"}, Case{"128", "0.5", "--min-windows 30"}}) {
    const std::string args = std::string("--rate ") + k.rate + " --hours " + k.hours + " " + k.more;
    SCOPED_TRACE(args);
    const std::string tag = std::string(k.rate) + "hz";
    auto [status, out] = run(dir(), generator(args + " --channels 4 --name g" + tag));
    ASSERT_EQ(status, 0) << out;
    std::tie(status, out) = run(dir(), "python3 " + command(script, args + " --channels Ex,Ey,Hx,Hy --name p" + tag));
    ASSERT_EQ(status, 0) << out;
    for (const char* f : {"decset.cfg", "pwset.cfg", "paths.cfg"})
      EXPECT_EQ(read_file(dir() / ("g" + tag) / f), read_file(dir() / ("p" + tag) / f)) << f;
  }
}

}  // namespace
}  // namespace qv
