// The transfer-function files of a hand-worked result of two bands, read back
// by a reader written here from the format's description: the EDI's blocks and
// numbers, the CSV's apparent resistivities and phases against values worked
// by hand, and the JSON's covariance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <complex>
#include <fstream>
#include <limits>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/limits.hpp"
#include "dsp/fft.hpp"
#include "support/window_view.hpp"
#include "transfer/edi_file.hpp"
#include "transfer/tf_tables.hpp"

namespace qv::tf {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kFileTime = 1700000000;  // 2023-11-14T22:13:20Z

OutputEstimate output(cplx z0, cplx z1, double var0, double var1, double coh2) {
  OutputEstimate o;
  o.z = {z0, z1};
  o.var = {var0, var1};
  o.coherence2 = coh2;
  o.dof = 100;
  o.rows_used = 590;
  o.rows_downweighted = 31;
  o.residual_power = 0.25;
  return o;
}

// Two bands of a station with Hz whose lines lie at 30 and 120 degrees: band
// A (T = 2 s) has a tipper; band B (T = 50 s) was estimated without Hz and
// has no variance of Zxx. |Zxy| = 5 (A) and 10 (B), |Zyx| = 5 (A): their
// apparent resistivities and phases are worked by hand in the tests.
Result hand_worked() {
  Result r;
  Site& s = r.site;
  s.name = "ST07";
  s.latitude_deg = -34.91348;
  s.longitude_deg = 138.57898;
  s.has_elevation = true;
  s.elevation_m = 24;
  s.declination_deg = 8.2;
  s.channels = {{"EX", "Ex", 4, 30, 0, 100}, {"EY", "Ey", 5, 120, 0, 60}, {"HX", "Hx", 1, 30, 0, 0},
                {"HY", "Hy", 2, 120, 0, 0},  {"HZ", "Hz", 3, 0, 90, 0}};
  s.zrot_deg = 30;
  s.frame = "measurement axes";
  s.processing = {{"BANDS", "default"}, {"HUBER_K", "1.5"}};
  s.source_files = "st07.f5";
  s.has_times = true;
  s.first_window_utc = "2023-11-01T00:00:00Z";
  s.last_window_utc = "2023-11-02T00:00:00Z";

  BandEstimate a;
  a.band = {1, 10, 12, 0.5, 2};
  a.rows = 600;
  a.windows = 200;
  a.iterations = 7;
  a.out = {output({1, -2}, {3, 4}, 0.02, 0.08, 0.97), output({-4, -3}, {0.5, 0.5}, 0.32, 0.01, 0.95),
           output({0.1, -0.2}, {-0.05, 0.3}, 1e-4, 4e-4, 0.8)};
  // Residual covariance of Ex, Ey, Hz (Hermitian) and inverse power of Hx, Hy.
  a.residual_cov = {{2, 0}, {0.5, 0.25}, {0.1, 0}, {0.5, -0.25}, {3, 0}, {0, 0.2}, {0.1, 0}, {0, -0.2}, {1, 0}};
  a.inverse_power = {cplx{0.01, 0}, cplx{0.002, -0.001}, cplx{0.002, 0.001}, cplx{0.04, 0}};

  BandEstimate b;
  b.band = {3, 4, 6, 0.02, 50};
  b.rows = 120;
  b.windows = 40;
  b.out = {output({0.7, 0.1}, {6, 8}, nan, 2, 0.9), output({-6, -8}, {0.2, -0.1}, 2, 0.5, 0.85)};
  b.residual_cov = {{1, 0}, {0, 0}, {0, 0}, {1, 0}};
  r.bands = {a, b};
  return r;
}

std::string edi_text(const Result& r) {
  std::ostringstream s;
  write_edi(r, s, kFileTime);
  return s.str();
}

// A reader of the format as its description gives it: a line starting with
// '>' opens a block; a data block announces its count after "//" and its
// numbers follow over the next lines.
struct EdiBlock {
  std::string name;                   // ">ZXYR ROT=ZROT //2" -> "ZXYR"
  std::string options;                // the rest of its line
  std::vector<std::string> lines;     // the lines up to the next block
  std::vector<double> numbers;        // data blocks: every number of those lines
  int count = -1;                     // data blocks: the count after "//"
};

std::vector<EdiBlock> parse_edi(const std::string& text) {
  std::vector<EdiBlock> blocks;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '>') {
      EdiBlock b;
      const std::size_t blank = line.find(' ');
      b.name = line.substr(1, blank == std::string::npos ? std::string::npos : blank - 1);
      b.options = blank == std::string::npos ? "" : line.substr(blank + 1);
      if (const std::size_t c = b.options.find("//"); c != std::string::npos)
        b.count = std::stoi(b.options.substr(c + 2));
      blocks.push_back(b);
    } else if (!blocks.empty()) {
      blocks.back().lines.push_back(line);
      if (blocks.back().count >= 0) {
        std::istringstream nums(line);
        double v;
        while (nums >> v) blocks.back().numbers.push_back(v);
      }
    }
  }
  return blocks;
}

const EdiBlock& block(const std::vector<EdiBlock>& blocks, const std::string& name) {
  for (const EdiBlock& b : blocks)
    if (b.name == name) return b;
  throw std::runtime_error("no block " + name);
}

// KEY=value pairs of a block's lines (and of its header line), blank-separated;
// a value in double quotes may hold blanks and is given without its quotes.
std::map<std::string, std::string> keywords(const EdiBlock& b) {
  std::map<std::string, std::string> kv;
  std::vector<std::string> lines = b.lines;
  lines.push_back(b.options);
  for (const std::string& l : lines) {
    std::size_t i = 0;
    while (i < l.size()) {
      while (i < l.size() && l[i] == ' ') ++i;
      std::size_t end = l.find_first_of(" =", i);
      if (end == std::string::npos || l[end] != '=') {
        i = end == std::string::npos ? l.size() : end;
        continue;
      }
      const std::string key = l.substr(i, end - i);
      i = end + 1;
      if (i < l.size() && l[i] == '"') {
        end = l.find('"', i + 1);
        kv[key] = l.substr(i + 1, end - i - 1);
        i = end + 1;
      } else {
        end = std::min(l.find(' ', i), l.size());
        kv[key] = l.substr(i, end - i);
        i = end;
      }
    }
  }
  return kv;
}

std::vector<std::string> names(const std::vector<EdiBlock>& blocks) {
  std::vector<std::string> n;
  for (const EdiBlock& b : blocks) n.push_back(b.name);
  return n;
}

TEST(EdiFile, BlocksComeInTheFormatsOrderEachWithItsAnnouncedCount) {
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(hand_worked()));
  EXPECT_THAT(names(blocks),
              ElementsAreArray({"HEAD",     "INFO",      "=DEFINEMEAS", "HMEAS",     "HMEAS",    "HMEAS",
                                "EMEAS",    "EMEAS",     "=MTSECT",     "FREQ",      "ZROT",     "ZXXR",
                                "ZXXI",     "ZXX.VAR",   "ZXYR",        "ZXYI",      "ZXY.VAR",  "ZYXR",
                                "ZYXI",     "ZYX.VAR",   "ZYYR",        "ZYYI",      "ZYY.VAR",  "TROT",
                                "TXR.EXP",  "TXI.EXP",   "TXVAR.EXP",   "TYR.EXP",   "TYI.EXP",  "TYVAR.EXP",
                                "END"}));
  for (const EdiBlock& b : blocks) {
    if (b.count < 0) continue;
    EXPECT_EQ(b.count, 2) << b.name;
    EXPECT_EQ(b.numbers.size(), 2u) << b.name;
    const bool z = b.name.starts_with("Z") && b.name != "ZROT", t = b.name.starts_with("T") && b.name != "TROT";
    if (z || t) {
      EXPECT_EQ(b.options, z ? "ROT=ZROT //2" : "ROT=TROT //2") << b.name;
    }
  }
  // MAXLINES counts the lines of >INFO.
  const EdiBlock& info = block(blocks, "INFO");
  int text_lines = 0;
  for (const std::string& l : info.lines) text_lines += !l.empty();
  EXPECT_EQ(keywords(info).at("MAXLINES"), std::to_string(text_lines));
}

TEST(EdiFile, NumbersReadBackInDecreasingFrequencyWithEmptyForWhatIsMissing) {
  const Result r = hand_worked();
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(r));
  auto values = [&](const char* name) { return block(blocks, name).numbers; };
  EXPECT_THAT(values("FREQ"), ElementsAre(0.5, 0.02));
  EXPECT_THAT(values("ZROT"), ElementsAre(30, 30));
  EXPECT_THAT(values("TROT"), ElementsAre(30, 30));
  EXPECT_THAT(values("ZXYR"), ElementsAre(3, 6));
  EXPECT_THAT(values("ZXYI"), ElementsAre(4, 8));
  EXPECT_THAT(values("ZXY.VAR"), ElementsAre(0.08, 2));
  EXPECT_THAT(values("ZYXR"), ElementsAre(-4, -6));
  EXPECT_THAT(values("ZYXI"), ElementsAre(-3, -8));
  EXPECT_THAT(values("ZYY.VAR"), ElementsAre(0.01, 0.5));
  EXPECT_THAT(values("ZXXI"), ElementsAre(-2, 0.1));
  // Band B has no variance of Zxx and no tipper.
  EXPECT_THAT(values("ZXX.VAR"), ElementsAre(0.02, edi_empty));
  EXPECT_THAT(values("TXR.EXP"), ElementsAre(0.1, edi_empty));
  EXPECT_THAT(values("TYI.EXP"), ElementsAre(0.3, edi_empty));
  EXPECT_THAT(values("TYVAR.EXP"), ElementsAre(4e-4, edi_empty));
  EXPECT_EQ(keywords(block(blocks, "HEAD")).at("EMPTY"), "1.0E+32");
  // Six decimals of the mantissa: a value that needs more is rounded, not cut.
  Result fine = r;
  fine.bands[0].out[0].z[1] = {1.23456789, -9.87654321e-5};
  const std::vector<EdiBlock> f = parse_edi(edi_text(fine));
  EXPECT_EQ(block(f, "ZXYR").numbers[0], 1.234568);
  EXPECT_EQ(block(f, "ZXYI").numbers[0], -9.876543e-5);

  // Whatever order the bands come in, the file is the same.
  Result reversed = r;
  std::swap(reversed.bands[0], reversed.bands[1]);
  EXPECT_EQ(edi_text(reversed), edi_text(r));
}

TEST(EdiFile, DataBlocksHoldSixNumbersALine) {
  Result r = hand_worked();
  const BandEstimate a = r.bands[0];
  r.bands.clear();
  for (int i = 0; i < 13; ++i) {
    r.bands.push_back(a);
    r.bands.back().band.freq_hz = 100.0 / (i + 1);
    r.bands.back().out[0].z[1] = {double(i + 1), 0};
  }
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(r));
  const EdiBlock& zxyr = block(blocks, "ZXYR");
  EXPECT_EQ(zxyr.count, 13);
  ASSERT_EQ(zxyr.lines.size(), 3u);
  EXPECT_EQ(zxyr.lines[0].size(), 6u * 15u);
  EXPECT_EQ(zxyr.lines[2], "   1.300000E+01");
  std::vector<double> want;
  for (int i = 1; i <= 13; ++i) want.push_back(i);
  EXPECT_EQ(zxyr.numbers, want);
  EXPECT_EQ(block(blocks, "FREQ").numbers.front(), 100);
}

TEST(EdiFile, HeadStatesSiteProgramAndDate) {
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(hand_worked()));
  const auto head = keywords(block(blocks, "HEAD"));
  EXPECT_EQ(head.at("DATAID"), "ST07");
  EXPECT_EQ(head.at("FILEBY"), "qel_tf 4.2");
  EXPECT_EQ(head.at("PROGVERS"), "qel_tf 4.2");
  EXPECT_EQ(head.at("PROGDATE"), "2014-08-13");
  EXPECT_EQ(head.at("FILEDATE"), "2023-11-14");
  EXPECT_EQ(head.at("LAT"), "-34:54:48.53");
  EXPECT_EQ(head.at("LONG"), "138:34:44.33");
  EXPECT_EQ(head.at("ELEV"), "24.00");
  EXPECT_EQ(head.at("STDVERS"), "SEG 1.0");
  EXPECT_EQ(head.at("MAXSECT"), "999");
  const auto meas = keywords(block(blocks, "=DEFINEMEAS"));
  EXPECT_EQ(meas.at("MAXCHAN"), "5");
  EXPECT_EQ(meas.at("UNITS"), "M");
  EXPECT_EQ(meas.at("REFTYPE"), "CART");
  EXPECT_EQ(meas.at("REFLAT"), "-34:54:48.53");
  EXPECT_EQ(meas.at("REFELEV"), "24.00");
  const auto info = keywords(block(blocks, "INFO"));
  EXPECT_EQ(info.at("HUBER_K"), "1.5");
  EXPECT_EQ(info.at("FIRST_WINDOW_UTC"), "2023-11-01T00:00:00Z");

  // Without an elevation there is none to state.
  Result no_elev = hand_worked();
  no_elev.site.has_elevation = false;
  const std::string t = edi_text(no_elev);
  EXPECT_EQ(t.find("ELEV="), std::string::npos);

  // A name with a quote or a line break cannot break the file's structure.
  Result odd = hand_worked();
  odd.site.name = "a\"b\n>END";
  odd.site.processing.push_back({"NOTE", "two\nlines"});
  const std::vector<EdiBlock> ob = parse_edi(edi_text(odd));
  EXPECT_EQ(names(ob).size(), names(blocks).size());
  EXPECT_EQ(keywords(block(ob, "HEAD")).at("DATAID"), "a'b >END");
}

TEST(EdiFile, DegreesAsDegreesMinutesSecondsRoundedAsAWhole) {
  EXPECT_EQ(edi_degrees(-34.91348), "-34:54:48.53");
  EXPECT_EQ(edi_degrees(138.57898), "138:34:44.33");
  EXPECT_EQ(edi_degrees(10.999999), "11:00:00.00");     // 10:59:59.9964
  EXPECT_EQ(edi_degrees(-0.5), "-0:30:00.00");          // the sign stays with 0 degrees
  EXPECT_EQ(edi_degrees(-0.000001), "0:00:00.00");      // rounds to no angle: no sign
  EXPECT_EQ(edi_degrees(45.5125), "45:30:45.00");
  EXPECT_EQ(edi_degrees(-179.999999999), "-180:00:00.00");
  EXPECT_EQ(edi_degrees(nan), "");
  // A site whose position is not known states none.
  Result r = hand_worked();
  r.site.latitude_deg = r.site.longitude_deg = nan;
  const std::string t = edi_text(r);
  for (const char* key : {"LAT=", "LONG=", "REFLAT=", "REFLONG="}) EXPECT_EQ(t.find(key), std::string::npos) << key;
}

TEST(EdiFile, ElectrodesLieHalfALineEachSideAlongTheirAzimuth) {
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(hand_worked()));
  std::vector<std::map<std::string, std::string>> e, h;
  for (const EdiBlock& b : blocks) {
    if (b.name == "EMEAS") e.push_back(keywords(b));
    if (b.name == "HMEAS") h.push_back(keywords(b));
  }
  ASSERT_EQ(e.size(), 2u);
  ASSERT_EQ(h.size(), 3u);
  // Ex: 100 m at 30 degrees; Ey: 60 m at 120 degrees (x north, y east).
  EXPECT_EQ(e[0].at("CHTYPE"), "EX");
  EXPECT_EQ(e[0].at("X"), "-43.30");
  EXPECT_EQ(e[0].at("Y"), "-25.00");
  EXPECT_EQ(e[0].at("X2"), "43.30");
  EXPECT_EQ(e[0].at("Y2"), "25.00");
  EXPECT_EQ(e[1].at("CHTYPE"), "EY");
  EXPECT_EQ(e[1].at("X"), "15.00");
  EXPECT_EQ(e[1].at("Y"), "-25.98");
  EXPECT_EQ(e[1].at("X2"), "-15.00");
  EXPECT_EQ(e[1].at("Y2"), "25.98");
  EXPECT_EQ(h[0].at("CHTYPE"), "HX");
  EXPECT_EQ(h[0].at("AZM"), "30.00");
  EXPECT_EQ(h[1].at("AZM"), "120.00");
  // The section names the measurements by their identifiers.
  const auto sect = keywords(block(blocks, "=MTSECT"));
  std::map<std::string, std::string> id_of;
  for (const auto& m : e) id_of[m.at("CHTYPE")] = m.at("ID");
  for (const auto& m : h) id_of[m.at("CHTYPE")] = m.at("ID");
  for (const char* role : {"HX", "HY", "HZ", "EX", "EY"}) EXPECT_EQ(sect.at(role), id_of.at(role)) << role;
  EXPECT_EQ(sect.at("NFREQ"), "2");
  EXPECT_EQ(sect.at("SECTID"), "ST07");

  // North-south and east-west lines: no "-0.00".
  Result r = hand_worked();
  r.site.channels[0].azimuth_deg = 0;
  r.site.channels[1].azimuth_deg = 90;
  const std::string t = edi_text(r);
  EXPECT_NE(t.find(">EMEAS ID=1004.001 CHTYPE=EX X=-50.00 Y=0.00 Z=0.00 X2=50.00 Y2=0.00\n"), std::string::npos);
  EXPECT_NE(t.find(">EMEAS ID=1005.001 CHTYPE=EY X=0.00 Y=-30.00 Z=0.00 X2=0.00 Y2=30.00\n"), std::string::npos);
}

TEST(EdiFile, WithoutHzNoTipperBlocks) {
  Result r = hand_worked();
  r.site.channels.pop_back();
  r.bands[0].out.pop_back();
  const std::vector<EdiBlock> blocks = parse_edi(edi_text(r));
  for (const EdiBlock& b : blocks) EXPECT_FALSE(b.name.starts_with("T")) << b.name;
  EXPECT_EQ(keywords(block(blocks, "=MTSECT")).count("HZ"), 0u);
  EXPECT_EQ(keywords(block(blocks, "=DEFINEMEAS")).at("MAXCHAN"), "4");
  EXPECT_EQ(names(blocks).back(), "END");
}

// The sign convention the file states is the one of the project's transform:
// a field E leading H by 45 degrees, as over a uniform half-space, gives
// Z = E / H a phase of +45 degrees exactly when time goes as exp(+i omega t).
TEST(EdiFile, SignConventionIsTheTransformsOwn) {
  constexpr int n = 64, k = 5;
  FftPlan plan;
  fft_setup(n, plan);
  FftWork work;
  fft_work_allocate(work, std::span<const FftPlan>(&plan, 1));
  std::vector<float> rows(static_cast<std::size_t>(n + nwspare) * nchmx, 0.0f);
  for (int t = 0; t < n; ++t) {
    const double w = 2 * std::numbers::pi * k * t / n;
    rows[static_cast<std::size_t>(t * nchmx + 0)] = static_cast<float>(2 * std::cos(w + std::numbers::pi / 4));  // E
    rows[static_cast<std::size_t>(t * nchmx + 1)] = static_cast<float>(std::cos(w));                             // H
  }
  const WindowArray w = testing_support::view(rows, 2);
  multichannel_fft(w, n, work, plan);
  const std::complex<double> e(w.re(0, k), w.im(0, k)), hh(w.re(1, k), w.im(1, k));
  EXPECT_NEAR(std::arg(e / hh) * 180 / std::numbers::pi, 45.0, 1e-3);
  EXPECT_NE(edi_text(hand_worked()).find("\n    SIGNCONVENTION=exp(+ i\\omega t)\n"), std::string::npos);
}

// The file the Python reader of qv-plot reads back (tests/tools/python):
// the hand-worked result as this writer writes it.
TEST(EdiFile, WriterGivesTheCommittedExampleFile) {
  const std::string path = QV_SOURCE_DIR "/tests/transfer/two_bands.edi";
  if (std::getenv("QV_REWRITE_TEST_FILES")) std::ofstream(path, std::ios::binary) << edi_text(hand_worked());
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path << " missing";
  std::ostringstream committed;
  committed << in.rdbuf();
  EXPECT_EQ(edi_text(hand_worked()), committed.str())
      << "the writer changed: run this test with QV_REWRITE_TEST_FILES=1 to write the file anew, then check "
         "the Python reader's test (tests/tools/python/test_qv_plot_tf.py) against it";
}

std::vector<std::map<std::string, std::string>> csv_rows(const Result& r) {
  std::ostringstream s;
  write_tf_csv(r, s);
  std::istringstream in(s.str());
  std::string line;
  std::vector<std::vector<std::string>> cells;
  while (std::getline(in, line)) {
    std::vector<std::string> c(1);
    for (char ch : line) {
      if (ch == ',') c.emplace_back();
      else c.back().push_back(ch);
    }
    cells.push_back(c);
  }
  std::vector<std::map<std::string, std::string>> rows;
  for (std::size_t i = 1; i < cells.size(); ++i) {
    EXPECT_EQ(cells[i].size(), cells[0].size()) << "line " << i + 1;
    std::map<std::string, std::string> row;
    for (std::size_t j = 0; j < cells[0].size() && j < cells[i].size(); ++j) row[cells[0][j]] = cells[i][j];
    rows.push_back(row);
  }
  return rows;
}

double num(const std::map<std::string, std::string>& row, const std::string& key) { return std::stod(row.at(key)); }

TEST(TfTables, CsvGivesApparentResistivityAndPhaseWorkedByHand) {
  const auto rows = csv_rows(hand_worked());
  ASSERT_EQ(rows.size(), 2u);
  const auto& a = rows[0];
  const auto& b = rows[1];
  EXPECT_EQ(num(a, "period_s"), 2);
  EXPECT_EQ(num(a, "frequency_hz"), 0.5);
  EXPECT_EQ(a.at("level"), "1");
  EXPECT_EQ(a.at("first_harmonic"), "10");
  EXPECT_EQ(a.at("last_harmonic"), "12");
  EXPECT_EQ(a.at("rows"), "600");
  EXPECT_EQ(num(a, "zxy_re"), 3);
  EXPECT_EQ(num(a, "zxy_im"), 4);
  // Zxy = 3 + 4i, var 0.08, T = 2 s: se = 0.2, rho_a = 0.2 * 2 * 25 = 10,
  // its error 0.4 * 2 * 5 * 0.2 = 0.8; phase atan(4/3), error 0.2 / 5 rad.
  const double deg = 180 / std::numbers::pi;
  EXPECT_DOUBLE_EQ(num(a, "zxy_se"), 0.2);
  EXPECT_DOUBLE_EQ(num(a, "rhoa_xy"), 10);
  EXPECT_DOUBLE_EQ(num(a, "rhoa_xy_err"), 0.8);
  EXPECT_DOUBLE_EQ(num(a, "phase_xy"), 53.13010235415598);
  EXPECT_DOUBLE_EQ(num(a, "phase_xy_err"), 0.04 * deg);
  // Zyx = -4 - 3i, var 0.32: the third quadrant, se 0.4.
  EXPECT_DOUBLE_EQ(num(a, "rhoa_yx"), 10);
  EXPECT_DOUBLE_EQ(num(a, "rhoa_yx_err"), 1.6);
  EXPECT_DOUBLE_EQ(num(a, "phase_yx"), -143.13010235415598);
  EXPECT_DOUBLE_EQ(num(a, "phase_yx_err"), 0.08 * deg);
  // Zxy = 6 + 8i, var 2, T = 50 s: rho_a 0.2 * 50 * 100, error 0.4 * 50 * 10 * 1.
  EXPECT_DOUBLE_EQ(num(b, "rhoa_xy"), 1000);
  EXPECT_DOUBLE_EQ(num(b, "rhoa_xy_err"), 200);
  EXPECT_DOUBLE_EQ(num(b, "phase_xy_err"), 0.1 * deg);
  EXPECT_DOUBLE_EQ(num(a, "coh2_ey"), 0.95);
  EXPECT_DOUBLE_EQ(num(a, "coh2_hz"), 0.8);
  EXPECT_DOUBLE_EQ(num(a, "ty_im"), 0.3);
  EXPECT_DOUBLE_EQ(num(a, "ty_se"), std::sqrt(2e-4));
  // What band B does not have is empty: Zxx's variance, the tipper.
  EXPECT_EQ(b.at("zxx_se"), "");
  EXPECT_EQ(b.at("rhoa_xx_err"), "");
  EXPECT_EQ(b.at("phase_xx_err"), "");
  EXPECT_EQ(num(b, "zxx_re"), 0.7);
  for (const char* k : {"coh2_hz", "tx_re", "tx_im", "tx_se", "ty_re", "ty_im", "ty_se"}) EXPECT_EQ(b.at(k), "") << k;
  // Numbers read back to the same double.
  Result r = hand_worked();
  r.bands[0].out[0].z[1] = {0.1 + 0.2, 1.0 / 3};
  const auto f = csv_rows(r);
  EXPECT_EQ(num(f[0], "zxy_re"), 0.1 + 0.2);
  EXPECT_EQ(num(f[0], "zxy_im"), 1.0 / 3);
}

TEST(TfTables, JsonHoldsTheFullCovarianceAndWhatTheEdiCannot) {
  std::ostringstream s;
  write_tf_json(hand_worked(), s);
  const nlohmann::json j = nlohmann::json::parse(s.str());
  EXPECT_EQ(j.at("format"), "qel_tf transfer functions");
  EXPECT_EQ(j.at("conventions").at("time_dependence"), "exp(+i omega t)");
  EXPECT_EQ(j.at("site").at("channels").size(), 5u);
  EXPECT_EQ(j.at("site").at("channels")[0].at("line_length_m"), 100);
  EXPECT_TRUE(j.at("site").at("channels")[2].at("line_length_m").is_null());
  EXPECT_EQ(j.at("processing").at("estimator"), "robust");
  EXPECT_EQ(j.at("processing").at("options").at("HUBER_K"), "1.5");
  const auto& bands = j.at("bands");
  ASSERT_EQ(bands.size(), 2u);
  const auto& a = bands[0];
  EXPECT_EQ(a.at("band").at("level"), 1);
  EXPECT_EQ(a.at("band").at("first_harmonic"), 10);
  EXPECT_EQ(a.at("iterations"), 7);
  EXPECT_EQ(a.at("impedance").at("zxy").at("re"), 3);
  EXPECT_DOUBLE_EQ(a.at("impedance").at("zxy").at("rho_a_ohm_m").get<double>(), 10);
  EXPECT_EQ(a.at("outputs")[2].at("channel"), "Hz");
  EXPECT_EQ(a.at("outputs")[1].at("rows_downweighted"), 31);
  EXPECT_EQ(a.at("outputs")[1].at("dof"), 100);

  // Any covariance of two elements can be formed: cov(Zxy, Zyx) =
  // residual_cov[Ex][Ey] * inverse_power[Hy][Hx].
  const auto& cov = a.at("covariance");
  auto at = [](const nlohmann::json& m, int i, int k) {
    return cplx(m.at("re")[i][k].get<double>(), m.at("im")[i][k].get<double>());
  };
  const cplx c = at(cov.at("residual_cov"), 0, 1) * at(cov.at("inverse_power"), 1, 0);
  const cplx want = cplx(0.5, 0.25) * cplx(0.002, 0.001);
  EXPECT_DOUBLE_EQ(c.real(), want.real());
  EXPECT_DOUBLE_EQ(c.imag(), want.imag());
  EXPECT_EQ(cov.at("residual_cov").at("re").size(), 3u);
  EXPECT_EQ(at(cov.at("residual_cov"), 2, 1), cplx(0, -0.2));

  const auto& b = bands[1];
  EXPECT_TRUE(b.at("tipper").is_null());
  EXPECT_TRUE(b.at("impedance").at("zxx").at("var").is_null());
  EXPECT_EQ(b.at("outputs").size(), 2u);
  EXPECT_EQ(b.at("covariance").at("residual_cov").at("re").size(), 2u);
}

}  // namespace
}  // namespace qv::tf
