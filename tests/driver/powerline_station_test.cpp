// A whole run of a 250 Hz recording with 50 and 100 Hz hum and missing
// samples: with "-p:50" the coefficients are those of the same recording
// without hum, and the windows around the missing samples are repaired or
// rejected exactly as there.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "output/fc_reader.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::WorkingDirectory;
using testing_support::write_file;

constexpr int kSamples = 10000;  // 40 s at 250 Hz
constexpr double kDt = 0.004;
constexpr int kStep = 96;  // level-1 window step: nwin 128 - olap 32

// Missing samples: an isolated one (repaired) and a run of three (the windows
// holding it are rejected).
bool missing(int t, int c) { return (c == 0 && t == 3000) || (c == 1 && t >= 6000 && t <= 6002); }

// Input rows whose fit leaves out a channel: the fitted part of the 256-row
// block's segment (60 rows, the last one running to the end of the block)
// that holds a missing sample.
bool in_unfitted_segment(int t) {
  for (int m : {3000, 6000, 6001, 6002}) {
    const int block = m / 256 * 256, local = m % 256;
    if (local >= 240) continue;  // among the extrapolated rows: the segment is still fitted
    const int first = block + local / 60 * 60, last = local / 60 == 3 ? block + 255 : first + 59;
    if (t >= first && t <= last) return true;
  }
  return false;
}

std::string recording(bool hum) {
  std::string text = "0.004\n2014 1 1 0 0 0\n2014 1 1 0 0 0\n";
  unsigned state = 99;
  double walk[2] = {0, 0};
  for (int t = 0; t < kSamples; ++t) {
    for (int c = 0; c < 2; ++c) {
      state = state * 1664525u + 1013904223u;
      walk[c] = 0.98 * walk[c] + ((state >> 8) / 16777216.0 - 0.5) * 20.0;
      double v = walk[c] + 10.0 * std::sin(2.0 * std::numbers::pi * 3.3 * t * kDt + c);
      if (hum)
        v += 300.0 * std::cos(2.0 * std::numbers::pi * 50.0 * t * kDt + 0.4 + c) +
             120.0 * std::cos(2.0 * std::numbers::pi * 100.0 * t * kDt - 1.0);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.5f", v);
      if (c) text += ' ';
      text += missing(t, c) ? "2147483647" : buf;
    }
    text += '\n';
  }
  return text;
}

struct StationRun {
  std::string console;
  std::vector<std::string> bad_lines;
  // Level 1: per frequency index, per window in file order: number and coefficients.
  std::vector<std::vector<std::pair<int, std::array<std::complex<float>, 2>>>> level1;
};

StationRun run_station(const fs::path& dir, bool hum, const char* powerline) {
  fs::create_directories(dir);
  write_file(dir / "decset.cfg", "2 0\n128 32 1 0 0 5 2 60 1\n1.0\n128 32 4 0 0 5 2 20 3\n0.5 0.3 -0.05\n");
  write_file(dir / "pwset.cfg", "2\n0\n0\n");
  write_file(dir / "st.sp", "ST\n0 0\n1.0\n2\n0.004\n0 0\nEx\n100 0 0 1\n1 0\nHy\n90 0\n1 0\n");
  write_file(dir / "st.asc", recording(hum));
  StationRun r;
  {
    const WorkingDirectory inside(dir);
    std::ostringstream out, err;
    std::istringstream in("\n");
    Console con(out, err, in);
    EXPECT_EQ(run_main({"-A", "-f:st.asc", powerline}, con), 0) << out.str() << err.str();
    r.console = out.str();
  }
  std::istringstream lines(r.console);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(" bad ", 0) == 0) r.bad_lines.push_back(line);
  FcReader fc((dir / "st.f2").string());
  std::vector<FcCoefRecord> recs;
  for (const FcBlockInfo& b : fc.blocks()) {
    if (b.level_id != 1) continue;
    fc.read_records(b, recs);
    auto& per_f = r.level1.emplace_back();
    for (const FcCoefRecord& rec : recs) {
      std::array<std::complex<float>, 2> v;
      for (int c = 0; c < 2; ++c) {
        float re = 0, im = 0;
        decode_fc(rec.word[static_cast<std::size_t>(c)], b.scale[static_cast<std::size_t>(c)], re, im);
        v[static_cast<std::size_t>(c)] = {re, im};
      }
      per_f.emplace_back(rec.window, v);
    }
  }
  return r;
}

TEST(PowerlineStation, HumIsRemovedAndMissingSamplesAreTreatedAsWithoutIt) {
  const TempFolder folder("hum");
  const StationRun clean = run_station(folder.path() / "clean", false, "-p:50");
  const StationRun filtered = run_station(folder.path() / "filtered", true, "-p:50");
  const StationRun raw = run_station(folder.path() / "raw", true, "-p:0");

  EXPECT_NE(filtered.console.find("\nFILTERING      50.0 Hz powerline noise with all harmonics\n"), std::string::npos);
  EXPECT_NE(raw.console.find(" DFTSEG-WARNING: frequency too low,     nseg too large, skip filtering\n"),
            std::string::npos);
  EXPECT_EQ(raw.console.find("FILTERING"), std::string::npos);
  // The same windows repaired (none listed) and rejected.
  ASSERT_FALSE(clean.bad_lines.empty());
  EXPECT_EQ(filtered.bad_lines, clean.bad_lines);
  ASSERT_EQ(filtered.level1.size(), clean.level1.size());

  // Level-1 windows away from the segments left unfitted: the coefficients
  // of the clean run, within the rounding of the samples (compared with the
  // mean amplitude of each frequency and channel), while the hum bins of the
  // unfiltered run differ by far more.
  auto usable = [](int window) {
    const int first = (window - 1) * kStep;
    for (int t = first; t <= first + 127; ++t)
      if (in_unfitted_segment(t)) return false;
    return true;
  };
  double worst = 0, hum = 0;
  int compared = 0;
  for (std::size_t f = 0; f < clean.level1.size(); ++f) {
    const auto& a = clean.level1[f];
    ASSERT_EQ(filtered.level1[f].size(), a.size());
    for (std::size_t c = 0; c < 2; ++c) {
      double mean = 0;
      for (const auto& w : a) mean += std::abs(w.second[c]) / static_cast<double>(a.size());
      for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(filtered.level1[f][i].first, a[i].first);
        if (!usable(a[i].first)) continue;
        compared += c == 0;
        worst = std::max(worst, std::abs(filtered.level1[f][i].second[c] - a[i].second[c]) / mean);
        if (f == 25 || f == 50)  // the bins just below 50 and 100 Hz (1.953 Hz apart)
          hum = std::max(hum, std::abs(raw.level1[f][i].second[c] - a[i].second[c]) / mean);
      }
    }
  }
  EXPECT_GT(compared, 60 * 90);  // nearly all of the 103 windows, at all 60 frequencies
  EXPECT_LT(worst, 0.01);
  EXPECT_GT(hum, 10.0);
}

}  // namespace
}  // namespace qv
