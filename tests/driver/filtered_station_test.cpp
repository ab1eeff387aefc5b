// Whole runs of stations whose channels passed through known instrument
// responses. Channel 1 records the field itself; channels 2 to 5 record the
// same field through the filters that their system parameter file lists
// (every filter type the file can name, across three stations), applied
// forward here to four tones at harmonics of the windows. The run divides
// the responses out again, so every filtered channel's coefficients at the
// tones must come back equal to channel 1's.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/filter_response.hpp"
#include "common/console.hpp"
#include "driver/response_report.hpp"
#include "driver/run.hpp"
#include "output/fc_reader.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

using cd = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr int kNwin = 128;                // samples per window
constexpr int kSamples = 1300;            // ten windows
constexpr int kTones[] = {4, 12, 24, 40};  // harmonics; at 100 Hz 3.125, 9.375, 18.75 and 31.25 Hz
constexpr double kAmp[] = {40.0, 25.0, 10.0, 5.0};
constexpr double kPhase[] = {0.3, 1.7, -2.2, 0.9};

// The responses, written from their physical definitions (exp(+i w t)
// convention), as the filters of the system parameter file describe them.
cd h1(double f, double tc) { const cd s(0, f * tc); return s / (1.0 + s); }  // corner period tc
cd l1(double f, double tc) { return 1.0 / (1.0 + cd(0, f * tc)); }
cd h2(double f, double tc, double d) { const cd s(0, f * tc); return s * s / (s * s + d * s + 1.0); }
cd l2(double f, double tc, double d) { const cd s(0, f * tc); return 1.0 / (s * s + d * s + 1.0); }
cd delay(double f, double tau) { return std::exp(cd(0, -2 * kPi * f * tau)); }
cd boxcar(double f, double len, double shift) {
  return std::sin(kPi * f * len) / (kPi * f * len) * std::exp(cd(0, 2 * kPi * f * shift));
}
cd butterworth6(double f) {
  const cd s(0, f / 200.0);
  return 1.0 / ((s * s + 1.9318 * s + 1.0) * (s * s + 1.4141 * s + 1.0) * (s * s + 0.5176 * s + 1.0));
}
cd coil(double f) { const cd u(0, f / 4.0), v(0, f / 8192.0); return u / (1.0 + u) / (1.0 + v); }
// A fluxgate's anti-alias stage as poles and zeros: two poles at 40 Hz and
// one zero at the origin, gain such that |H| is 1 near 10 Hz.
const cd kPole(-2 * kPi * 40.0, 0.0);
cd pz(double f) { const cd s(0, 2 * kPi * f); return 2 * kPi * 40.0 * s / ((s - kPole) * (s - kPole)); }
// An induction coil measured on a bench, as a table.
cd bench(double f) { return 0.8 * h1(f, 1.0 / 2.0) * l1(f, 1.0 / 60.0); }

struct Channel {
  std::string sp_entry;          // the filter list of the system parameter file
  std::function<cd(double)> H;  // what the filters did, applied forward
};

struct Case {
  const char* name;
  const char* dt;  // sample interval, seconds
  std::array<Channel, 4> ch;
};

std::vector<Case> cases() {
  auto fit = [](int type) { return [type](double f) { return fit_response(type, f); }; };
  auto bench3 = [](double f) { return std::pow(bench(f), 3); };
  return {
      {"closed_forms", "0.01",
       {{{"2\nh1\n2.0 0.5\nl1\n1.0 0.02\n", [](double f) { return 2.0 * h1(f, 0.5) * l1(f, 0.02); }},
         {"2\nh2\n1.0 0.3 0.7\nl2\n3.0 0.05 1.4\n",
          [](double f) { return h2(f, 0.3, 0.7) * 3.0 * l2(f, 0.05, 1.4); }},
         {"2\nbc\n1.0 0.003 0.01\nDT\n0.0123\n", [](double f) { return boxcar(f, 0.003, 0.01) * delay(f, 0.0123); }},
         {"2\nUC\n\nmx\n\n", [](double f) { return cd(0, f) * coil(f); }}}}},
      {"poles_zeros_and_tables", "0.01",
       {{{"1\npz\n1 2 251.327412 (0,0) (-251.327412,0) (-251.327412,0)\n", pz},
         {"2\npz\nflux.rsp\npd\n\n", [](double f) { return pz(f) * butterworth6(f); }},
         {"3\nAP\ncoil_ap.rsp  bench 2018\nRI\ncoil_ri.rsp\nPA\ncoil.pa\n", bench3},
         {"4\nTE\ncoil.te 2 3\nTB\ncoil.tb\n05\ncoil.pa\nxx\n\n", bench3}}}},
      // The polynomial fits describe long-period sensors: tones of 1 to 10 mHz.
      {"polynomial_fits", "32.0",
       {{{"1\nRA\n\n", fit(ft_ra)}, {"1\nMA\n\n", fit(ft_ma)}, {"1\nR2\n\n", fit(ft_r2)}, {"1\nM1\n\n", fit(ft_m1)}}}},
  };
}

std::string fmt(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

// The bench response at 0.3125 Hz steps up to 40 Hz, in the layouts of the
// sensor folder. The tones of a 100 Hz station fall on rows, so the tables
// hold them exactly but for the digits written.
void write_tables(const testing_support::TempFolder& dir) {
  std::ostringstream ap, ri, te, tb, pa;
  const int n = 128;
  ap << "bench calibration of coil 17\nfreq amplitude phase\n";
  ri << "# frequency real imaginary\n";
  te << "h1\nh2\nh3\nh4\nh5\n";
  tb << "h1\nh2\nh3\nh4\nh5\n" << n << "\n";
  pa << "PDAS response\nfreq amp phase\n------------\nunits\n";
  std::ostringstream groups[3];
  for (auto& g : groups) g << n << "\n";
  for (int m = n; m >= 1; --m) {  // decreasing frequencies
    const double f = 0.3125 * m;
    const cd h = bench(f);
    const double a = std::abs(h), p = std::arg(h) * 180 / kPi;
    ap << fmt("%.6f", f) << " " << fmt("%.7f", a) << " " << fmt("%.5f", p) << "\n";
    pa << fmt("%.6f", f) << " " << fmt("%.7f", a) << " " << fmt("%.5f", p) << "\n";
  }
  for (int m = 1; m <= n; ++m) {
    const double f = 0.3125 * m;
    const cd h = bench(f);
    const double a = std::abs(h), p = std::arg(h) * 180 / kPi;
    ri << fmt("%.6f", f) << " " << fmt("%.8f", h.real()) << " " << fmt("%.8f", h.imag()) << "\n";
    const std::string freq = fmt("%6.3f", f), amp = fmt("%6.4f", a), ph = fmt("%6.2f", p);
    tb << freq << amp << ph << "\n";
    // Group 2, pair 3 holds the response; the other columns hold nonsense.
    for (int g = 0; g < 3; ++g) {
      groups[g] << freq;
      for (int j = 1; j <= 4; ++j)
        groups[g] << (g == 1 && j == 3 ? amp + ph : std::string(" 9.000 99.00"));
      groups[g] << "\n";
    }
  }
  for (auto& g : groups) te << g.str();
  dir.write("sensors/coil_ap.rsp", ap.str());
  dir.write("sensors/coil_ri.rsp", ri.str());
  dir.write("sensors/coil.te", te.str());
  dir.write("sensors/coil.tb", tb.str());
  dir.write("sensors/coil.pa", pa.str());
}

void write_station(const testing_support::TempFolder& dir, const Case& c) {
  dir.write("paths.cfg", ".\n.\n.\ndecset.cfg\npwset.cfg\n.\nsensors\n");
  dir.write("decset.cfg", "1 0\n128 0 1 0 0 1 0 48 1\n1.0\n");
  dir.write("pwset.cfg", "1\n0\n");
  std::string sp = std::string("FILTERED\n-30 140\n5\n5\n") + c.dt + "\n0 0\nHx\n0 0\n1.0 0\n";
  const char* ids[] = {"Hy", "Hz", "Ha", "Hb"};
  for (int i = 0; i < 4; ++i) sp += std::string(ids[i]) + "\n0 0\n1.0 " + c.ch[i].sp_entry;
  dir.write("st.sp", sp);
  dir.write("sensors/flux.rsp", "1 2 251.327412 (0,0) (-251.327412,0) (-251.327412,0)\n");
  write_tables(dir);
  const double dt = std::stod(c.dt);
  std::ostringstream ts;
  ts << c.dt << "\n2026 1 1 0 0 0\n2026 1 1 0 0 0\n";
  for (int t = 0; t < kSamples; ++t) {
    double x[5] = {};
    for (int q = 0; q < 4; ++q) {
      const double f = kTones[q] / (kNwin * dt);
      const double arg = 2 * kPi * f * t * dt + kPhase[q];
      x[0] += kAmp[q] * std::cos(arg);
      for (int i = 0; i < 4; ++i) {
        const cd h = c.ch[i].H(f);
        x[i + 1] += kAmp[q] * std::abs(h) * std::cos(arg + std::arg(h));
      }
    }
    for (int i = 0; i < 5; ++i) ts << (i ? " " : "") << fmt("%.6f", x[i]);
    ts << "\n";
  }
  dir.write("st.asc", ts.str());
}

class FilteredStation : public testing::TestWithParam<Case> {};

TEST_P(FilteredStation, CalibrationGivesBackTheField) {
  const Case& c = GetParam();
  const testing_support::TempFolder dir("filtered");
  write_station(dir, c);
  std::ostringstream out, err;
  std::istringstream in;
  {
    const testing_support::WorkingDirectory inside(dir.path());
    Console con(out, err, in);
    ASSERT_EQ(run_main({"-A", "-f:st.asc"}, con), 0) << out.str() << err.str();
  }
  FcReader fc((dir / "st.f5").string());
  std::vector<FcCoefRecord> recs;
  int checked = 0;
  for (const FcBlockInfo& b : fc.blocks()) {
    if (b.n == 0 || std::find(std::begin(kTones), std::end(kTones), b.findex) == std::end(kTones)) continue;
    fc.read_records(b, recs);
    for (const FcCoefRecord& r : recs) {
      float re = 0, im = 0;
      decode_fc(r.word[0], b.scale[0], re, im);
      const cd field(re, im);
      for (int i = 1; i < 5; ++i) {
        decode_fc(r.word[i], b.scale[i], re, im);
        const cd ratio = cd(re, im) / field;
        SCOPED_TRACE(testing::Message() << "channel " << i + 1 << " (" << c.ch[i - 1].sp_entry << "), k "
                                        << b.findex << ", window " << r.window);
        // Leakage of the other tones through the taper's sidelobes is what is
        // left: up to 1 % where a response dips between strong neighbours.
        EXPECT_NEAR(std::abs(ratio), 1.0, 0.02);
        EXPECT_NEAR(std::arg(ratio) * 180 / kPi, 0.0, 1.0);
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 4 * 4 * 10);  // four tones, four filtered channels, ten windows
}

// The response program reads the same folder and prints, per channel, level
// and frequency index, the factor and what each filter of the channel
// contributes; the filters' product is what was applied forward.
TEST_P(FilteredStation, ResponseProgramShowsTheFilters) {
  const Case& c = GetParam();
  const testing_support::TempFolder dir("filtered");
  write_station(dir, c);
  std::ostringstream csv, out;
  std::istringstream in;
  {
    const testing_support::WorkingDirectory inside(dir.path());
    Console con(out, out, in);
    ASSERT_EQ(response_report_main({"st.asc"}, csv, con), 0) << out.str();
  }
  std::istringstream lines(csv.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("channel,id,level,findex,freq_hz,amplitude,phase_deg,filter1,filter1_amplitude,", 0), 0u);
  const double dt = std::stod(c.dt);
  int rows = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> cell;
    std::stringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');) cell.push_back(v);
    cell.resize(19);
    ++rows;
    const int ch = std::stoi(cell[0]), k = std::stoi(cell[3]);
    if (ch == 1 || std::find(std::begin(kTones), std::end(kTones), k) == std::end(kTones)) continue;
    const double f = k / (kNwin * dt);
    cd product = 1.0;
    for (int j = 0; j < 4 && !cell[7 + 3 * j].empty(); ++j)
      product *= std::polar(std::stod(cell[8 + 3 * j]), std::stod(cell[9 + 3 * j]) * kPi / 180);
    const cd applied = c.ch[ch - 2].H(f);
    SCOPED_TRACE(line);
    EXPECT_NEAR(std::abs(product / applied), 1.0, 0.01);
    EXPECT_NEAR(std::arg(product / applied) * 180 / kPi, 0.0, 0.5);
    // The factor: scale 1, sqrt(dt), one level, divided by the filters.
    const cd factor = std::polar(std::stod(cell[5]), std::stod(cell[6]) * kPi / 180);
    EXPECT_NEAR(std::abs(factor * product) / std::sqrt(dt), 1.0, 1e-5);
    EXPECT_NEAR(std::arg(factor * product), 0.0, 1e-5);
  }
  EXPECT_EQ(rows, 5 * 48);
}

INSTANTIATE_TEST_SUITE_P(Responses, FilteredStation, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
