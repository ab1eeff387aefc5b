// Whole runs of qel_tf on synthetic layered-Earth stations: input it must
// refuse (a message naming the file, line or channels, exit status 1, and an
// earlier run's three files left as they were, nothing beside them), a
// coefficient file without its metadata, several recordings of one station
// estimated as one, and the windows of a UTC span. A remote reference whose
// windows cannot be paired with the site's is bad input too.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/built_program.hpp"
#include "support/shell_run.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::read_file;
using testing_support::write_file;

const fs::path kGen = testing_support::built_program("make_layered_station");
const fs::path kVort = testing_support::built_program("qel_vort");
const fs::path kTf = testing_support::built_program("qel_tf");

struct Outcome {
  int status;
  std::string out;
};

// A shell command in folder: its exit status and what it printed.
Outcome run(const fs::path& folder, const std::string& cmd) {
  auto [status, out] = testing_support::run_in_folder(folder, cmd);
  return {status, std::move(out)};
}

std::string tf(const std::string& args) { return "'" + kTf.string() + "' " + args; }

// Every file of a folder (names relative to it) with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = read_file(e.path());
  return files;
}

// The stations every test reads, made once: two hours of 10 Hz in the
// logger's format from 00:00 (a) and from 02:00 (b) of one day, with noise
// on E; two one-hour ASCII recordings of consecutive days (d2, d3), whose
// window numbers each count from their own midnight; a four-channel station
// (no Hz), one whose second electric channel was recorded as magnetic, and
// one whose level-1 windows overlap by half (another decimation set-up).
class QelTfRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(kGen) || !fs::exists(kVort) || !fs::exists(kTf)) return;
    setup_error_ = new std::string;
    root_ = new fs::path(fs::path(::testing::TempDir()) / ("qv_qel_tf_run_" + std::to_string(::getpid())));
    fs::remove_all(*root_);
    fs::create_directories(*root_);
    const std::string qel = "--rate 10 --hours 2 --format qel --tipper 0.2,-0.1 --noise-e 0.02 ";
    make("a", qel + "--seed-source 3 --seed-noise 1 --start '2019 1 2 0 0 0'");
    make("b", qel + "--seed-source 4 --seed-noise 2 --start '2019 1 2 2 0 0'");
    make("four", "--rate 10 --hours 2 --format qel --channels 4 --start '2019 1 2 0 0 0'");
    make("d2", "--rate 10 --hours 1 --format ascii --noise-e 0.02 --seed-source 5 --start '2019 1 2 0 0 0'");
    make("d3", "--rate 10 --hours 1 --format ascii --noise-e 0.02 --seed-source 6 --start '2019 1 3 0 0 0'");
    make("oneE", qel + "--start '2019 1 2 0 0 0'", [](const fs::path& sp) {
      std::string s = read_file(sp);
      const std::string ey = "Ey                    channel 2: electric\n"
                             "90.0 90.0 0.0 1.0     electrode line length (m), orientation (deg), tilt (deg), gain G\n";
      const std::size_t at = s.find(ey);
      ASSERT_NE(at, std::string::npos) << s;
      s.replace(at, ey.size(), "Hq                    channel 2: magnetic\n45.0 0.0   orientation, tilt\n");
      write_file(sp, s);
    });
    make("olap", qel + "--seed-source 3 --seed-noise 5 --start '2019 1 2 0 0 0'", [](const fs::path& sp) {
      const fs::path decset = sp.parent_path() / "decset.cfg";
      std::string s = read_file(decset);
      const std::size_t at = s.find("\n128 32 1 ");
      ASSERT_NE(at, std::string::npos) << s;
      s.replace(at, 10, "\n128 64 1 ");
      write_file(decset, s);
    });
  }
  static void TearDownTestSuite() {
    if (!root_) return;
    std::error_code ec;
    fs::remove_all(*root_, ec);
    delete root_;
    delete setup_error_;
    root_ = nullptr;
  }
  static void make(const std::string& name, const std::string& args,
                   const std::function<void(const fs::path&)>& edit_sp = {}) {
    Outcome r = run(*root_, "'" + kGen.string() + "' --name " + name + " " + args);
    if (r.status == 0) {
      if (edit_sp) edit_sp(*root_ / name / (name + ".sp"));
      r = run(*root_ / name, "'" + kVort.string() + "' $(cat qel_vort.args)");
    }
    if (r.status != 0) *setup_error_ += "station " + name + ": " + r.out + "\n";
  }
  void SetUp() override {
    if (!root_) GTEST_SKIP() << "make_layered_station, qel_vort or qel_tf not built";
    ASSERT_EQ(*setup_error_, "");
  }
  static fs::path station(const std::string& name) { return *root_ / name; }
  // The coefficient file of a station: NAME.f<number of channels>.
  static std::string f5(const std::string& name) {
    const fs::path five = *root_ / name / (name + ".f5");
    return (fs::exists(five) ? five : *root_ / name / (name + ".f4")).string();
  }
  static json tf_json(const fs::path& base) { return json::parse(read_file(base.string() + ".tf.json")); }

  // The default bands of station a, written to a folder's bands.txt.
  static void write_bands(const fs::path& d, const std::string& station = "a") {
    const Outcome r = run(d, tf("'" + f5(station) + "' --write-bands"));
    ASSERT_EQ(r.status, 0) << r.out;
    write_file(d / "bands.txt", r.out);
  }

  static fs::path* root_;
  static std::string* setup_error_;
};
fs::path* QelTfRun::root_ = nullptr;
std::string* QelTfRun::setup_error_ = nullptr;

TEST_F(QelTfRun, RefusesBadInputWithAMessageAndLeavesAnEarlierResultAsItWas) {
  // Every case runs in a fresh folder holding copies of a's files and the
  // three files of an earlier run under the base name "out".
  struct Case {
    const char* what;
    std::string args;  // after qel_tf; a.f5 is the copy in the folder
    std::function<void(const fs::path&)> prepare;
    std::vector<std::string> message;  // parts the message must hold
  };
  const std::string four = f5("four"), one_e = f5("oneE");
  const std::vector<Case> cases = {
      {"fewer than two electric channels", "'" + one_e + "' -o out", {},
       {"two electric and two horizontal magnetic", "1 Ex (electric", "2 Hq (magnetic", "5 Hz"}},
      {"--channels naming a channel the file lacks", "a.f5 --channels Ex=1,Ey=2,Hx=3,Hy=7 -o out", {},
       {"--channels", "channel 7", "channels 1 to 5"}},
      {"--channels giving Hz to a four-channel file", "'" + four + "' --channels Hz=5 -o out", {},
       {"--channels", "channel 5", "channels 1 to 4"}},
      {"a band past the level's last harmonic", "a.f5 --bands bands.txt -o out",
       [](const fs::path& d) { write_file(d / "bands.txt", "# level first last\n1 10 14\n2 20 33\n"); },
       {"bands.txt, line 3", "harmonics 20 to 33 of level 2", "1 to 32"}},
      {"a band from harmonic 0", "a.f5 --bands bands.txt -o out",
       [](const fs::path& d) { write_file(d / "bands.txt", "1 0 5\n"); }, {"bands.txt, line 1", "harmonics 0 to 5"}},
      {"a typing error in a band file", "a.f5 --bands bands.txt -o out",
       [](const fs::path& d) { write_file(d / "bands.txt", "1 10 14\n\n2 8 l2\n"); },
       {"bands.txt, line 3", "three whole numbers", "'2 8 l2'"}},
      {"a band of a level the file lacks", "a.f5 --bands bands.txt -o out",
       [](const fs::path& d) { write_file(d / "bands.txt", "7 8 12\n"); },
       {"bands.txt, line 1", "level 7", "(1, 2, 3, 4)"}},
      {"the metadata file of another run", "a.f5 -o out",
       [](const fs::path& d) { fs::copy_file(station("b") / "b.f5.json", d / "a.f5.json", fs::copy_options::overwrite_existing); },
       {"a.f5.json", "another run", "bytes"}},
      {"an unknown option", "a.f5 --estimater ols -o out", {}, {"unknown option \"--estimater\""}},
      {"bootstrap resamples that are not a number", "a.f5 --errors bootstrap:x -o out", {},
       {"option --errors", "bootstrap:N", "10 to 1000000", "'bootstrap:x'"}},
      {"no bootstrap resamples", "a.f5 --errors bootstrap:0 -o out", {}, {"option --errors", "'bootstrap:0'"}},
      {"negative bootstrap resamples", "a.f5 --errors bootstrap:-100 -o out", {}, {"option --errors", "'bootstrap:-100'"}},
      {"absurdly many bootstrap resamples", "a.f5 --errors bootstrap:99999999999 -o out", {},
       {"option --errors", "10 to 1000000", "'bootstrap:99999999999'"}},
      {"the same file twice", "a.f5 ./a.f5 -o out", {}, {"a.f5 and ./a.f5", "given twice"}},
      {"files of different set-ups", "a.f5 '" + four + "' -o out", {}, {"do not share one set-up"}},
      {"a day the month does not have", "a.f5 --to 2019-02-29T00:00Z -o out", {},
       {"option --to", "expected a UTC time", "'2019-02-29T00:00Z'"}},
      {"a span without windows", "a.f5 --from 2019-01-03T00:00:00Z -o out", {}, {"no band has enough rows"}},
      {"a span without metadata", "a.f5 --to 2019-01-02T01:00Z -o out",
       [](const fs::path& d) { fs::remove(d / "a.f5.json"); }, {"--from and --to need", "metadata"}},
      // a counts its windows from 1 January (a logger's recording), d2 from
      // midnight of 2 January: 86400 s, a whole number of steps of levels 1
      // and 2, and 562.5 steps of level 3.
      {"a remote reference a fraction of a step off", "a.f5 --remote '" + f5("d2") + "' -o out", {},
       {"remote reference", "level 3", "-86400 s apart", "-562.5 steps of 153.6 s"}},
      {"a remote reference of another decimation set-up", "a.f5 --remote '" + f5("olap") + "' -o out", {},
       {"remote reference", "level 1", "every 6.4 s", "every 9.6 s", "one decimation set-up"}},
      {"a remote reference without its metadata file", "a.f5 --remote b.f5 -o out",
       [](const fs::path& d) { fs::copy_file(station("b") / "b.f5", d / "b.f5"); },
       {"remote reference b.f5", "no metadata file b.f5.json", "paired"}},
      {"a station as its own remote reference", "a.f5 --remote ./a.f5 -o out", {}, {"--remote ./a.f5", "itself"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path d = *root_ / ("bad" + std::to_string(n++));
    fs::create_directories(d);
    fs::copy_file(station("a") / "a.f5", d / "a.f5");
    fs::copy_file(station("a") / "a.f5.json", d / "a.f5.json");
    write_file(d / "out.edi", ">HEAD\nearlier run\n");
    write_file(d / "out.tf.csv", "earlier,run\n");
    write_file(d / "out.tf.json", "{\"earlier\": 1}\n");
    if (c.prepare) c.prepare(d);
    const auto before = snapshot(d);
    const Outcome r = run(d, tf(c.args));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out.rfind("qel_tf: ", 0), 0u) << r.out;
    for (const std::string& part : c.message) EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    EXPECT_EQ(snapshot(d), before) << r.out;  // the earlier files as they were, no temporary file beside them
  }
}

TEST_F(QelTfRun, EstimatesAFileWithoutMetadataAndSaysWhatItAssumed) {
  const fs::path d = *root_ / "nometa";
  fs::create_directories(d);
  fs::copy_file(station("a") / "a.f5", d / "a.f5");
  const Outcome r = run(d, tf("a.f5"));
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* part : {"warning: no metadata file beside a.f5", "orientations are taken from the file header",
                           "units as mV/km and nT", "window times are not known"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  const Outcome full = run(station("a"), tf("a.f5 -o full"));
  ASSERT_EQ(full.status, 0) << full.out;
  const json with = tf_json(station("a") / "full"), without = tf_json(d / "a");
  // The same coefficients, the same estimate; no times to state.
  ASSERT_EQ(with["bands"].size(), without["bands"].size());
  for (std::size_t i = 0; i < with["bands"].size(); ++i) {
    EXPECT_EQ(with["bands"][i]["rows"], without["bands"][i]["rows"]);
    const double a = with["bands"][i]["impedance"]["zxy"]["re"], b = without["bands"][i]["impedance"]["zxy"]["re"];
    EXPECT_NEAR(a, b, 1e-3 * std::fabs(a));
  }
  EXPECT_TRUE(without["site"]["first_window_utc"].is_null());
  EXPECT_TRUE(without["site"]["last_window_utc"].is_null());
  EXPECT_EQ(without["processing"]["options"]["METADATA"], "no: times, geometry and units assumed");
}

// The rows, windows and Zxy, Zyx with standard errors of every band.
struct BandSummary {
  long rows, windows;
  double z[2][2], se[2];
};
std::map<std::string, BandSummary> bands_of(const json& j) {
  std::map<std::string, BandSummary> out;
  for (const json& b : j["bands"]) {
    const std::string key = std::to_string(b["band"]["level"].get<int>()) + ":" +
                            std::to_string(b["band"]["first_harmonic"].get<int>());
    BandSummary s{b["rows"], b["windows"], {}, {}};
    int k = 0;
    for (const char* e : {"zxy", "zyx"}) {
      s.z[k][0] = b["impedance"][e]["re"], s.z[k][1] = b["impedance"][e]["im"], s.se[k] = b["impedance"][e]["se"];
      ++k;
    }
    out[key] = s;
  }
  return out;
}

TEST_F(QelTfRun, SeveralRecordingsOfOneStationAreEstimatedAsOne) {
  // The same bands for every run, so that rows and windows can be added.
  const fs::path d = *root_ / "several";
  fs::create_directories(d);
  struct Pair {
    const char* first;
    const char* second;
    const char* first_utc;  // the first and last window, to the minute
    const char* last_utc;
  };
  // Two spans of one day (window numbers from 1 January), and two days whose
  // window numbers both start at 1.
  for (const Pair& p : {Pair{"a", "b", "2019-01-02T00:00", "2019-01-02T03:5"},
                        Pair{"d2", "d3", "2019-01-02T00:00", "2019-01-03T00:5"}}) {
    const std::string both = std::string(p.first) + p.second;
    SCOPED_TRACE(both);
    write_bands(d, p.first);
    for (const std::string& args : {f5(p.first) + " -o " + p.first, f5(p.second) + " -o " + p.second,
                                    f5(p.first) + " " + f5(p.second) + " -o " + both}) {
      const Outcome r = run(d, tf(args + " --bands bands.txt"));
      ASSERT_EQ(r.status, 0) << r.out;
    }
    const auto one = bands_of(tf_json(d / p.first)), two = bands_of(tf_json(d / p.second)),
               joint = bands_of(tf_json(d / both));
    ASSERT_FALSE(joint.empty());
    int compared = 0;
    for (const auto& [key, j] : joint) {
      SCOPED_TRACE(key);
      ASSERT_TRUE(one.count(key) && two.count(key));
      const BandSummary &x = one.at(key), &y = two.at(key);
      EXPECT_EQ(j.rows, x.rows + y.rows);
      EXPECT_EQ(j.windows, x.windows + y.windows);
      // Independent noise in the two recordings: the joint estimate lies
      // between them within their errors, and its errors are smaller.
      for (int e = 0; e < 2; ++e) {
        const double w1 = 1 / (x.se[e] * x.se[e]), w2 = 1 / (y.se[e] * y.se[e]);
        for (int c = 0; c < 2; ++c) {
          const double mean = (w1 * x.z[e][c] + w2 * y.z[e][c]) / (w1 + w2);
          EXPECT_NEAR(j.z[e][c], mean, 4 * std::max(x.se[e], y.se[e]) + 1e-6 * std::fabs(mean));
        }
        EXPECT_LT(j.se[e], 1.05 * std::min(x.se[e], y.se[e]));
        ++compared;
      }
    }
    EXPECT_GE(compared, 20);
    const json site = tf_json(d / both)["site"];
    EXPECT_EQ(site["first_window_utc"].get<std::string>().substr(0, 16), p.first_utc);
    EXPECT_EQ(site["last_window_utc"].get<std::string>().substr(0, 15), p.last_utc);
  }
}

TEST_F(QelTfRun, BootstrapRepeatsToTheByteAndEachBandStandsOnItsOwn) {
  // Twice the same run, the same bytes; a bands file holding two of the
  // bands, in the opposite order, gives them the very same errors.
  const fs::path d = *root_ / "bootstrap";
  fs::create_directories(d);
  write_bands(d);
  std::vector<std::string> lines;
  {
    std::istringstream in(read_file(d / "bands.txt"));
    for (std::string l; std::getline(in, l);)
      if (!l.empty() && l[0] != '#') lines.push_back(l);
  }
  ASSERT_GE(lines.size(), 10u);
  write_file(d / "two.txt", lines[8] + "\n" + lines[1] + "\n");
  const std::string a = "'" + f5("a") + "' --errors bootstrap:300 ";
  for (const std::string& args : {a + "-o one", a + "-o again", a + "--bands two.txt -o two"}) {
    const Outcome r = run(d, "SOURCE_DATE_EPOCH=1700000000 " + tf(args));
    ASSERT_EQ(r.status, 0) << r.out;
  }
  for (const char* ext : {".edi", ".tf.csv", ".tf.json"})
    EXPECT_EQ(read_file(d / ("one" + std::string(ext))), read_file(d / ("again" + std::string(ext)))) << ext;
  const json one = tf_json(d / "one"), two = tf_json(d / "two");
  EXPECT_EQ(one["processing"]["errors"], "bootstrap");
  EXPECT_EQ(one["processing"]["bootstrap"]["resamples"], 300);
  EXPECT_TRUE(one["processing"]["bootstrap"]["seed"].is_number_unsigned());
  EXPECT_NE(read_file(d / "one.edi").find("ERRORS=bootstrap over windows, 300 resamples, seed "), std::string::npos);
  ASSERT_EQ(two["bands"].size(), 2u);
  int matched = 0;
  for (const json& b : two["bands"])
    for (const json& full : one["bands"])
      if (full["band"] == b["band"]) {
        EXPECT_EQ(full["impedance"], b["impedance"]);
        EXPECT_EQ(full["covariance"], b["covariance"]);
        ++matched;
      }
  EXPECT_EQ(matched, 2);
}

TEST_F(QelTfRun, ASpanLimitsTheWindowsToItsTimes) {
  // a and b together cover 00:00 to 04:00. Split at 01:30, the two halves
  // hold every window of the whole once, and each states times inside it.
  const fs::path d = *root_ / "span";
  fs::create_directories(d);
  write_bands(d);
  const std::string files = f5("a") + " " + f5("b") + " --bands bands.txt ";
  for (const std::string& args : {files + "-o whole", files + "-o early --to 2019-01-02T01:30:00Z",
                                  files + "-o late --from 2019-01-02T01:30:00.001Z",
                                  files + "-o middle --from '2019-01-02 01:00' --to 2019-01-02T03:00Z"}) {
    const Outcome r = run(d, tf(args));
    ASSERT_EQ(r.status, 0) << args << "\n" << r.out;
  }
  const auto whole = bands_of(tf_json(d / "whole")), early = bands_of(tf_json(d / "early")),
             late = bands_of(tf_json(d / "late")), middle = bands_of(tf_json(d / "middle"));
  int split = 0;
  for (const auto& [key, w] : whole) {
    SCOPED_TRACE(key);
    // A band of too few rows in one half is left out of it.
    if (early.count(key) && late.count(key)) {
      EXPECT_EQ(early.at(key).windows + late.at(key).windows, w.windows);
      ++split;
    }
    if (middle.count(key)) {
      // Two of the four hours: half the windows, within a window of the
      // level at each end.
      EXPECT_NEAR(double(middle.at(key).windows), w.windows / 2.0, 2.0 + w.windows * 0.02);
    }
  }
  EXPECT_GE(split, 18);
  const auto utc = [&](const char* base, const char* key) { return tf_json(d / base)["site"][key].get<std::string>(); };
  EXPECT_LE(utc("early", "last_window_utc"), "2019-01-02T01:30:00.000Z");
  EXPECT_GE(utc("late", "first_window_utc"), "2019-01-02T01:30:00.001Z");
  EXPECT_GE(utc("middle", "first_window_utc"), "2019-01-02T01:00:00.000Z");
  EXPECT_LE(utc("middle", "last_window_utc"), "2019-01-02T03:00:00.000Z");
  // Within two minutes of the ends: the longest windows (level 4) step by
  // about 5.5 minutes, the shortest by 10 s.
  EXPECT_EQ(utc("middle", "first_window_utc").substr(0, 15), "2019-01-02T01:0");
  EXPECT_EQ(utc("middle", "last_window_utc").substr(0, 15), "2019-01-02T02:5");
}

}  // namespace
}  // namespace qv
