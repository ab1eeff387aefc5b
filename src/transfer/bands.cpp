#include "transfer/bands.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv::tf {

namespace {

// Index of the band of the frequency grid that holds f: band j spans
// 10^(j / 8) to 10^((j + 1) / 8) Hz. A harmonic on an edge (within rounding)
// belongs to the band above it.
int grid_band(double f) { return static_cast<int>(std::floor(bands_per_decade * std::log10(f) + 1e-9)); }

const LevelInfo* find_level(const std::vector<LevelInfo>& levels, int id) {
  for (const LevelInfo& l : levels)
    if (l.level_id == id) return &l;
  return nullptr;
}

bool by_period(const Band& a, const Band& b) {
  if (a.period_s != b.period_s) return a.period_s < b.period_s;
  return a.level_id < b.level_id;
}

}  // namespace

void complete_band(Band& b, const LevelInfo& level) {
  b.freq_hz = std::sqrt(level.frequency(b.first_harmonic) * level.frequency(b.last_harmonic));
  b.period_s = 1.0 / b.freq_hz;
}

double effective_rows(std::int64_t windows, int K, const std::vector<double>& rho2) {
  if (K <= 0 || windows <= 0) return 0;
  double s = 0;
  for (int j = 0; j < K; ++j)
    for (int l = 0; l < K; ++l) {
      const std::size_t m = static_cast<std::size_t>(std::abs(j - l));
      s += m < rho2.size() ? rho2[m] : 0.0;
    }
  if (!(s > 0)) s = K;
  return static_cast<double>(windows) * K * K / s;
}

std::vector<Band> default_bands(const std::vector<LevelInfo>& levels) {
  // For every grid band the candidate of every level; the one with the most
  // independent rows wins, the longer windows (a later level) on a tie.
  struct Candidate {
    Band band;
    double data = 0;
  };
  std::map<int, Candidate> best;
  for (const LevelInfo& lev : levels) {
    if (lev.windows <= 0 || lev.nwin <= 0 || !(lev.dr > 0)) continue;
    int k = first_usable_harmonic;
    while (k <= lev.nfreq) {
      const int j = grid_band(lev.frequency(k));
      int last = k;
      while (last + 1 <= lev.nfreq && grid_band(lev.frequency(last + 1)) == j) ++last;
      Band b;
      b.level_id = lev.level_id;
      b.first_harmonic = k;
      b.last_harmonic = last;
      complete_band(b, lev);
      const int K = last - k + 1;
      if (lev.windows * K >= min_band_rows) {
        const double data = effective_rows(lev.windows, K, lev.rho2);
        auto at = best.find(j);
        if (at == best.end() || data >= at->second.data) best[j] = {b, data};
      }
      k = last + 1;
    }
  }
  std::vector<Band> out;
  for (const auto& [j, c] : best) out.push_back(c.band);
  std::sort(out.begin(), out.end(), by_period);
  return out;
}

std::vector<Band> read_band_file(const std::string& path, const std::vector<LevelInfo>& levels) {
  TextReader f;
  if (!f.open(path)) throw Error("cannot open the band file " + path);
  std::vector<Band> out;
  std::string_view line;
  while (f.next_line(line)) {
    const std::size_t hash = line.find('#');
    const std::string_view text = trim(line.substr(0, hash));
    if (text.empty()) continue;
    const std::string at = "band file " + path + ", line " + std::to_string(f.line_number()) + ": ";
    std::string_view tok[4];
    const int n = split_values(text, tok);
    std::int64_t v[3] = {0, 0, 0};
    if (n != 3 || !parse_int(tok[0], v[0]) || !parse_int(tok[1], v[1]) || !parse_int(tok[2], v[2]))
      throw Error(at + "expected a level identifier and the first and last harmonic (three whole numbers), found '" +
                  std::string(text) + "'");
    const LevelInfo* lev = find_level(levels, static_cast<int>(v[0]));
    if (!lev) {
      std::string ids;
      for (const LevelInfo& l : levels) ids += (ids.empty() ? "" : ", ") + std::to_string(l.level_id);
      throw Error(at + "level " + std::to_string(v[0]) + " is not a level of the coefficient file (" + ids + ")");
    }
    if (v[1] < 1 || v[2] < v[1] || v[2] > lev->nfreq)
      throw Error(at + "harmonics " + std::to_string(v[1]) + " to " + std::to_string(v[2]) + " of level " +
                  std::to_string(v[0]) + "; its harmonics are 1 to " + std::to_string(lev->nfreq) +
                  " and the first may not follow the last");
    Band b;
    b.level_id = lev->level_id;
    b.first_harmonic = static_cast<int>(v[1]);
    b.last_harmonic = static_cast<int>(v[2]);
    complete_band(b, *lev);
    out.push_back(b);
  }
  if (out.empty()) throw Error("band file " + path + " names no band");
  std::sort(out.begin(), out.end(), by_period);
  return out;
}

void write_band_file(const std::vector<Band>& bands, std::ostream& out) {
  out << "# qel_tf bands: level identifier, first and last harmonic of each band\n"
         "# (the band's centre period and frequency follow as a comment)\n";
  char buf[128];
  for (const Band& b : bands) {
    std::snprintf(buf, sizeof buf, "%d %d %d    # %.6g s, %.6g Hz\n", b.level_id, b.first_harmonic, b.last_harmonic,
                  b.period_s, b.freq_hz);
    out << buf;
  }
}

}  // namespace qv::tf
