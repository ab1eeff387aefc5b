// qel_tf on whole stations over a layered Earth: make_layered_station writes
// the recording, qel_vort its coefficients, qel_tf the transfer functions,
// and the generator's impedance recursion is the reference they are held to.
// A clean recording gives back the model and its tipper; with white noise on
// E the stated errors, parametric and bootstrap, cover the model as Gaussian
// errors should; with bursts of strong noise in a few windows the robust
// estimate holds while least squares does not; with noise on H, a
// single-station estimate is biased low by what the noise power predicts and
// a remote reference removes the bias.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/built_program.hpp"
#include "support/shell_run.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using cplx = std::complex<double>;
using nlohmann::json;
using testing_support::read_file;
using testing_support::TempFolder;

const fs::path kGenerator = testing_support::built_program("make_layered_station");
const fs::path kVort = testing_support::built_program("qel_vort");
const fs::path kTf = testing_support::built_program("qel_tf");
const std::string kLayers = "100,2000;10,8000;1000";
constexpr double kTx = 0.2, kTy = -0.15;

const auto run = testing_support::run_in_folder;

std::string program(const fs::path& p) { return "'" + p.string() + "' "; }

struct Model {
  cplx zxy, zyx;
  double rho_a, phase_xy, phase_yx;
};

// One band of BASE.tf.json with the model at its frequency.
struct Band {
  double period = 0;
  int windows = 0;
  double coh_ex = 0, coh_ey = 0;
  cplx zxy, zyx, tx, ty;
  double se_xy = 0, se_yx = 0;
  double rho_xy = 0, rho_yx = 0, phase_xy = 0, phase_yx = 0;
  Model model;
};

cplx element(const json& e) { return {e["re"].get<double>(), e["im"].get<double>()}; }

class QelTfStation : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& p : {kGenerator, kVort, kTf})
      if (!fs::exists(p)) GTEST_SKIP() << p << " not built";
    tmp_.emplace("tf_station");
  }

  // Writes station `name` with the generator's extra options and processes it.
  void make_station(const std::string& name, const std::string& hours, const std::string& extra) {
    auto [status, out] = run(tmp_->path(), program(kGenerator) + "--rate 10 --hours " + hours + " --format qel --layers '" +
                                                kLayers + "' --tipper 0.2,-0.15 --seed-source 7 --name " + name + " " +
                                                extra);
    ASSERT_EQ(status, 0) << out;
    // The generator's qel_vort.args: -f:NAME.bin, or -A -f:NAME.asc for text.
    std::tie(status, out) = run(tmp_->path() / name, program(kVort) + "$(cat qel_vort.args) < /dev/null");
    ASSERT_EQ(status, 0) << out;
  }

  // Runs qel_tf on a station's coefficient file and reads its bands, each
  // with the model's impedance at the band's frequency.
  std::vector<Band> estimate(const std::string& name, const std::string& base, const std::string& options) {
    const fs::path folder = tmp_->path() / name;
    const auto [status, out] = run(folder, program(kTf) + name + ".f5 -o " + base + " " + options);
    EXPECT_EQ(status, 0) << out;
    if (status != 0) return {};
    const json doc = json::parse(read_file(folder / (base + ".tf.json")));
    std::vector<Band> bands;
    std::string freqs;
    for (const json& b : doc["bands"]) {
      Band x;
      x.period = b["period_s"];
      x.windows = b["windows"];
      x.coh_ex = b["outputs"][0]["coherence2"];
      x.coh_ey = b["outputs"][1]["coherence2"];
      const json& z = b["impedance"];
      x.zxy = element(z["zxy"]), x.zyx = element(z["zyx"]);
      x.se_xy = z["zxy"]["se"], x.se_yx = z["zyx"]["se"];
      x.rho_xy = z["zxy"]["rho_a_ohm_m"], x.rho_yx = z["zyx"]["rho_a_ohm_m"];
      x.phase_xy = z["zxy"]["phase_deg"], x.phase_yx = z["zyx"]["phase_deg"];
      x.tx = element(b["tipper"]["tx"]), x.ty = element(b["tipper"]["ty"]);
      bands.push_back(x);
      std::ostringstream f;
      f.precision(17);
      f << b["frequency_hz"].get<double>();
      freqs += (freqs.empty() ? "" : ",") + f.str();
    }
    // The generator's --impedance table: frequency, period, Zxy, Zyx, rho_a, phases.
    const auto [mstatus, table] = run(tmp_->path(), program(kGenerator) + "--layers '" + kLayers + "' --impedance " + freqs);
    EXPECT_EQ(mstatus, 0) << table;
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    for (Band& x : bands) {
      std::array<double, 9> v{};
      EXPECT_TRUE(static_cast<bool>(std::getline(in, line))) << "model table ends early";
      std::istringstream row(line);
      for (double& d : v) row >> d, row.ignore(1);
      x.model = {{v[2], v[3]}, {v[4], v[5]}, v[6], v[7], v[8]};
    }
    return bands;
  }

  std::optional<TempFolder> tmp_;
};

double angle_diff(double a, double b) { return std::remainder(a - b, 360.0); }

double relative_error(const Band& b) {
  return std::max(std::abs(b.zxy - b.model.zxy) / std::abs(b.model.zxy),
                  std::abs(b.zyx - b.model.zyx) / std::abs(b.model.zyx));
}

TEST_F(QelTfStation, CleanRecordingGivesBackTheModelAndTipper) {
  // Three hours at 10 Hz: 22 bands from 0.4 s to 150 s over a sounding
  // curve that falls and rises again (phases 18 to 65 degrees).
  make_station("clean", "3", "");
  for (const char* options : {"", "--estimator ols", "--errors jackknife"}) {
    SCOPED_TRACE(std::string("qel_tf ") + options);
    const std::vector<Band> bands = estimate("clean", "tf", options);
    int checked = 0;
    double worst_rho = 0, worst_phase = 0;
    for (const Band& b : bands) {
      if (b.coh_ex <= 0.95 || b.coh_ey <= 0.95) continue;
      SCOPED_TRACE(std::to_string(b.period) + " s");
      ++checked;
      const double drho[] = {b.rho_xy / b.model.rho_a - 1, b.rho_yx / b.model.rho_a - 1};
      const double dphase[] = {angle_diff(b.phase_xy, b.model.phase_xy), angle_diff(b.phase_yx, b.model.phase_yx)};
      for (int e = 0; e < 2; ++e) {
        EXPECT_LT(std::abs(drho[e]), 0.02) << (e ? "Zyx" : "Zxy");
        EXPECT_LT(std::abs(dphase[e]), 1.0) << (e ? "Zyx" : "Zxy");
        worst_rho = std::max(worst_rho, std::abs(drho[e]));
        worst_phase = std::max(worst_phase, std::abs(dphase[e]));
      }
      EXPECT_LT(std::abs(b.tx - kTx), 0.002) << "Tx " << b.tx;
      EXPECT_LT(std::abs(b.ty - kTy), 0.002) << "Ty " << b.ty;
    }
    EXPECT_GE(checked, 20);
    std::cout << "clean " << (*options ? options : "(robust, parametric)") << ": " << checked
              << " bands, largest rho_a error " << 100 * worst_rho << " %, phase " << worst_phase << " deg\n";
  }
}

TEST_F(QelTfStation, ErrorsCoverTheModelUnderNoiseOnE) {
#ifndef NDEBUG
  GTEST_SKIP() << "coverage of the errors runs in the Release suite";
#endif
  // Twelve hours (26 bands) and 4 mV/km of white noise on E: the squared
  // coherence of E lies between 0.2 and 0.94 (median 0.63), so the errors
  // are many times the band estimates' departure from the model on a clean
  // recording. Every band gives four cases: re and im of Zxy and Zyx. The
  // bootstrap over windows, on this Gaussian noise, agrees with the
  // parametric errors of the same estimate within a factor 1.5.
  std::vector<Band> parametric[4];
  for (const char* options : {"", "--estimator ols", "--errors bootstrap"}) {
    const bool bootstrap = std::string(options) == "--errors bootstrap";
    int cases = 0, within1 = 0, within2 = 0;
    double lowest = 1e300, highest = 0;
    for (int seed = 1; seed <= 3; ++seed) {
      const std::string name = "noise" + std::to_string(seed);
      if (!fs::exists(tmp_->path() / name)) make_station(name, "12", "--noise-e 4 --seed-noise " + std::to_string(seed));
      const std::vector<Band> bands = estimate(name, "tf", options);
      if (!*options) parametric[seed] = bands;
      if (bootstrap) {
        ASSERT_EQ(bands.size(), parametric[seed].size());
        for (std::size_t i = 0; i < bands.size(); ++i)
          for (const double ratio : {bands[i].se_xy / parametric[seed][i].se_xy, bands[i].se_yx / parametric[seed][i].se_yx}) {
            EXPECT_GT(ratio, 1 / 1.5) << bands[i].period << " s";
            EXPECT_LT(ratio, 1.5) << bands[i].period << " s";
            lowest = std::min(lowest, ratio), highest = std::max(highest, ratio);
          }
      }
      for (const Band& b : bands) {
        const cplx d[] = {b.zxy - b.model.zxy, b.zyx - b.model.zyx};
        const double se[] = {b.se_xy, b.se_yx};
        for (int e = 0; e < 2; ++e)
          for (double part : {d[e].real(), d[e].imag()}) {
            const double t = std::abs(part) / se[e];
            ++cases;
            within1 += t <= 1;
            within2 += t <= 2;
          }
      }
    }
    const double p1 = 100.0 * within1 / cases, p2 = 100.0 * within2 / cases;
    SCOPED_TRACE(std::string("qel_tf ") + options);
    EXPECT_GE(cases, 300);
    EXPECT_GE(p1, 60.0);
    EXPECT_LE(p1, 76.0);
    EXPECT_GE(p2, 91.0);
    EXPECT_LE(p2, 98.0);
    std::cout << "coverage " << (*options ? options : "(robust)") << ": " << cases << " cases, " << p1
              << " % within 1 sigma, " << p2 << " % within 2 sigma\n";
    if (bootstrap) std::cout << "bootstrap se / parametric se from " << lowest << " to " << highest << "\n";
  }
}

TEST_F(QelTfStation, RobustEstimateHoldsThroughBurstsWhereLeastSquaresDoesNot) {
  // Bursts of 20 mV/km on E in 2.5 % of the 128-scan stretches (about 5 %
  // of the overlapping windows); the E signal is of the order of 1 mV/km.
  // Good bands: the levels of 100 windows or more (1 and 2). Level 3 has 69
  // windows, a few of them hit, and level 4 16; there the robust estimate is
  // printed but not held to 3 %.
  make_station("bursts", "3", "--bursts 0.025:20");
  const std::vector<Band> robust = estimate("bursts", "robust", "");
  const std::vector<Band> ols = estimate("bursts", "ols", "--estimator ols");
  ASSERT_EQ(robust.size(), ols.size());
  double worst_robust = 0, worst_ols = 0;
  int checked = 0;
  for (std::size_t i = 0; i < robust.size(); ++i) {
    if (robust[i].windows < 100) {
      std::cout << "  " << robust[i].period << " s, " << robust[i].windows << " windows: robust "
                << 100 * relative_error(robust[i]) << " %, least squares " << 100 * relative_error(ols[i]) << " %\n";
      continue;
    }
    ++checked;
    EXPECT_LT(relative_error(robust[i]), 0.03) << robust[i].period << " s";
    worst_robust = std::max(worst_robust, relative_error(robust[i]));
    worst_ols = std::max(worst_ols, relative_error(ols[i]));
  }
  EXPECT_GE(checked, 11);
  EXPECT_GT(worst_ols, 2 * worst_robust);
  EXPECT_GT(worst_ols, 0.03);
  std::cout << "bursts over " << checked << " bands: largest |Z - Zmodel| / |Zmodel| robust " << 100 * worst_robust
            << " %, least squares " << 100 * worst_ols << " %\n";
}

// The generator's source spectra (one-sided, nT^2/Hz): a^2 (1 + 1/fc^2) /
// (1 + (f/fc)^2), Hx a = 0.10, fc = 0.005 Hz, Hy a = 0.07, fc = 0.010 Hz.
double source_psd(double a, double fc, double f) { return a * a * (1 + 1 / (fc * fc)) / (1 + (f / fc) * (f / fc)); }

TEST_F(QelTfStation, RemoteReferenceRemovesTheBiasOfNoiseOnH) {
#ifndef NDEBUG
  GTEST_SKIP() << "the remote-reference station pair runs in the Release suite";
#endif
  // One source field on a common time line, two stations: the site from
  // 00:00 in the logger's format (window numbers from 1 January), the
  // reference from 00:17 as text whose window numbers count from 23:53:36 of
  // 1 January, 86016 s (140 steps of level 4) later: a whole number of steps
  // of every level, so its numbers shift and its windows still pair. Each has
  // its own white noise of 0.03 nT on the magnetic channels, none on E.
  constexpr double sigma_h = 0.03, rate = 10;
  const std::string source = "--noise-h 0.03 --source-origin '2019 1 2 0 0 0' ";
  make_station("site", "3", source + "--seed-noise 1");
  make_station("ref", "3", source + "--seed-noise 2 --start '2019 1 2 0 17 0' --format ascii "
                                    "--reference '2019 1 1 23 53 36' --lat -31.7");
  const std::vector<Band> single = estimate("site", "single", "");
  const std::vector<Band> remote = estimate("site", "remote", "--remote ../ref/ref.f5");
  ASSERT_EQ(single.size(), remote.size());
  ASSERT_GE(single.size(), 20u);

  // Single station: E = Z H exactly, H measured with noise of one-sided
  // density N = 2 sigma^2 / fs, so E[Z_ss] = Z S / (S + N) per input (the
  // inputs are independent), S the source density of the input: Zxy's input
  // is Hy, Zyx's Hx. rho_a goes with the square.
  const double noise = 2 * sigma_h * sigma_h / rate;
  int biased = 0, checked = 0;
  double worst_bias = 0, worst_rho = 0, worst_phase = 0;
  for (std::size_t i = 0; i < single.size(); ++i) {
    const Band &s = single[i], &r = remote[i];
    SCOPED_TRACE(std::to_string(s.period) + " s");
    const double f = 1 / s.period;
    const double gx = source_psd(0.10, 0.005, f), gy = source_psd(0.07, 0.010, f);
    const double ratio[] = {gy / (gy + noise), gx / (gx + noise)};
    const double rho_ss[] = {s.rho_xy, s.rho_yx}, rho_rr[] = {r.rho_xy, r.rho_yx};
    const double phase_rr[] = {r.phase_xy, r.phase_yx}, model_phase[] = {s.model.phase_xy, s.model.phase_yx};
    for (int e = 0; e < 2; ++e) {
      const double predicted = ratio[e] * ratio[e];
      if (1 - predicted > 0.03) {
        ++biased;
        const double off = rho_ss[e] / (s.model.rho_a * predicted) - 1;
        EXPECT_LT(std::abs(off), 0.03) << (e ? "Zyx" : "Zxy") << ": single-station rho_a " << rho_ss[e]
                                       << ", model " << s.model.rho_a << " times " << predicted;
        worst_bias = std::max(worst_bias, std::abs(off));
      }
      if (r.coh_ex <= 0.9 || r.coh_ey <= 0.9) continue;
      ++checked;
      const double drho = rho_rr[e] / s.model.rho_a - 1, dphase = angle_diff(phase_rr[e], model_phase[e]);
      EXPECT_LT(std::abs(drho), 0.03) << (e ? "Zyx" : "Zxy");
      EXPECT_LT(std::abs(dphase), 1.5) << (e ? "Zyx" : "Zxy");
      worst_rho = std::max(worst_rho, std::abs(drho));
      worst_phase = std::max(worst_phase, std::abs(dphase));
    }
    // Within its errors: four standard errors of each part.
    EXPECT_LT(std::abs(r.zxy - r.model.zxy), 4 * std::sqrt(2.0) * r.se_xy + 1e-3 * std::abs(r.model.zxy));
    EXPECT_LT(std::abs(r.zyx - r.model.zyx), 4 * std::sqrt(2.0) * r.se_yx + 1e-3 * std::abs(r.model.zyx));
  }
  EXPECT_GE(biased, 8);
  EXPECT_GE(checked, 30);

  // The pairing: per level the windows of both files' times, as their
  // metadata give them, shifted by the difference of the two grids.
  const json out = json::parse(read_file(tmp_->path() / "site" / "remote.tf.json"));
  const json site_meta = json::parse(read_file(tmp_->path() / "site" / "site.f5.json"));
  const json ref_meta = json::parse(read_file(tmp_->path() / "ref" / "ref.f5.json"));
  const json& rr = out["site"]["remote_reference"];
  EXPECT_EQ(rr["site"], "ref");
  ASSERT_EQ(rr["levels"].size(), site_meta["levels"].size());
  for (std::size_t l = 0; l < rr["levels"].size(); ++l) {
    const json &p = rr["levels"][l], &a = site_meta["levels"][l], &b = ref_meta["levels"][l];
    SCOPED_TRACE("level " + std::to_string(l + 1));
    const double step = a["window_time"]["step_s"];
    const long long shift = std::llround(-86016.0 / step);
    EXPECT_EQ(p["window_shift"].get<long long>(), shift);
    const long long lo = std::max(a["first_window"].get<long long>() + shift, b["first_window"].get<long long>());
    const long long hi = std::min(a["last_window"].get<long long>() + shift, b["last_window"].get<long long>());
    EXPECT_EQ(p["windows_paired"].get<long long>(), hi - lo + 1);
    EXPECT_EQ(p["windows_site_only"].get<long long>(), a["windows_stored"].get<long long>() - (hi - lo + 1));
    EXPECT_EQ(p["windows_reference_only"].get<long long>(), b["windows_stored"].get<long long>() - (hi - lo + 1));
  }
  std::cout << "remote reference: " << biased << " single-station elements biased low by over 3 % in rho_a, "
            << "within " << 100 * worst_bias << " % of the prediction; remote-reference estimate over " << checked
            << " elements: largest rho_a error " << 100 * worst_rho << " %, phase " << worst_phase << " deg\n";
}

}  // namespace
}  // namespace qv
