// Test helper: runs a synthetic recording through the decimation cascade the
// way the run driver does (blocks of samples, then every available window of
// every level) and records what each level and each window received.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "driver/window_schedule.hpp"
#include "dsp/decimation.hpp"

namespace qv::testing_cascade {

inline constexpr float kThreshold = 2147473664.0f;  // missing-value marker 2147483647 minus 10000
inline constexpr float kMissing = 2147483647.0f;

// Sample value of channel ch at absolute sample number n.
using Signal = std::function<float(std::int64_t n, int ch)>;

inline LevelSetup level(int nwin, float olap, int decfac, std::vector<float> coef, int nfreq = 0, int ianchor = 0,
                        int pwlen = 1, int nspan = 1, int nbadmx = 0) {
  LevelSetup ls;
  ls.nwin = nwin;
  ls.olap = olap;
  ls.decfac = decfac;
  ls.nfc = static_cast<int>(coef.size());
  std::copy(coef.begin(), coef.end(), ls.coef.begin());
  ls.nfreq = nfreq;
  ls.ianchor = ianchor;
  ls.pwlen = pwlen;
  ls.nspan = nspan;
  ls.nbadmx = nbadmx;
  return ls;
}

inline DecSetup setup(const std::vector<LevelSetup>& levels) {
  DecSetup s;
  s.nd = static_cast<int>(levels.size());
  for (int i = 0; i < s.nd; ++i) s.lev[i + 1] = levels[i];
  return s;
}

struct Window {
  ExtractedWindow w;
  std::vector<float> data;  // sample-major, nch values per sample
};

struct Stream {
  std::vector<std::map<std::int64_t, std::vector<float>>> level;  // per level: time mark -> channel values
  std::vector<std::vector<Window>> windows;                       // per level, in extraction order
};

// Feeds samples first..first+count-1 in blocks of the given sizes (cycled),
// drains every windowed level after each block, and records each new level
// sample and each window.
inline Stream stream(Cascade& c, const DecSetup& s, std::int64_t first, int count, const Signal& x,
                     const std::vector<int>& block_sizes = {nblk}, bool ints = false) {
  Stream out;
  out.level.resize(s.nd + 1);
  out.windows.resize(s.nd + 1);
  std::vector<float> win(std::size_t(nchmx) * 8192);
  decimation_setup(c, s, first);
  SampleBlock blk;
  std::size_t bi = 0;
  for (std::int64_t n = first; n < first + count;) {
    blk.npts = static_cast<int>(std::min<std::int64_t>(block_sizes[bi++ % block_sizes.size()], first + count - n));
    for (int r = 0; r < blk.npts; ++r, ++n) {
      blk.index[r] = n;
      for (int ch = 0; ch < c.nch; ++ch) {
        blk.real[r * nchmx + ch] = x(n, ch);
        blk.ints[r * nchmx + ch] = static_cast<std::int32_t>(x(n, ch));
      }
    }
    std::vector<int> before(s.nd + 1);
    for (int lev = 1; lev <= s.nd; ++lev) before[lev] = c.lev[lev].wp;
    decimate_block(c, s, blk, !ints);
    for (int lev = 1; lev <= s.nd; ++lev) {
      const LevelBuffer& b = c.lev[lev];
      for (int q = before[lev]; q != b.wp; q = (q + 1) % b.slots)
        out.level[lev][b.index[q]].assign(&b.data[std::size_t(q) * c.nch], &b.data[std::size_t(q + 1) * c.nch]);
    }
    for (int lev = 1; lev <= s.nd; ++lev) {
      const int M = window_count(s.lev[lev], c.lev[lev].aw);
      const int len = s.lev[lev].nwin + s.lev[lev].pwlen - 1;
      for (int k = 0; k < M; ++k) {
        Window w;
        w.w = extract_window(c, s, lev, WindowArray(win.data(), c.nch, std::int64_t(win.size() / nchmx)));
        for (int t = 0; t < len; ++t)
          for (int ch = 0; ch < c.nch; ++ch) w.data.push_back(win[widx(ch, t)]);
        out.windows[lev].push_back(w);
      }
    }
  }
  return out;
}

}  // namespace qv::testing_cascade
