// qel_tf on whole stations over a layered Earth: make_layered_station writes
// the recording, qel_vort its coefficients, qel_tf the transfer functions,
// and the generator's impedance recursion is the reference they are held to.
// A clean recording gives back the model and its tipper; with white noise on
// E the stated errors cover the model as Gaussian errors should; with bursts
// of strong noise in a few windows the robust estimate holds while least
// squares does not.
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
    std::tie(status, out) = run(tmp_->path() / name, program(kVort) + "-f:" + name + ".bin < /dev/null");
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
  // recording. Every band gives four cases: re and im of Zxy and Zyx.
  for (const char* options : {"", "--estimator ols"}) {
    int cases = 0, within1 = 0, within2 = 0;
    for (int seed = 1; seed <= 3; ++seed) {
      const std::string name = "noise" + std::to_string(seed);
      if (!fs::exists(tmp_->path() / name)) make_station(name, "12", "--noise-e 4 --seed-noise " + std::to_string(seed));
      for (const Band& b : estimate(name, "tf", options)) {
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

}  // namespace
}  // namespace qv
