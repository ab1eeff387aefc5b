#include "driver/window_schedule.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "common/error.hpp"
#include "common/rounding.hpp"
#include "dsp/row_vectors.hpp"

namespace qv {
namespace {

std::string level_text(int lev) { return "window grid, level " + std::to_string(lev) + ": "; }

// Straight insertion: each new value goes before the first earlier value that
// is not smaller.
void insertion_sort(float* v, int n) {
  for (int i = 1; i < n; ++i) {
    const float x = v[i];
    int j = 0;
    while (j < i && v[j] < x) ++j;
    for (int k = i; k > j; --k) v[k] = v[k - 1];
    v[j] = x;
  }
}

// Replacement for the missing sample of channel ch in slot q: the median of
// the values present among the nspan samples around it, always read from the
// level buffer so an earlier replacement never feeds a later one. Returns
// false when the neighbourhood holds more than nbadmx missing values, or
// nothing but missing values.
bool median_of_neighbourhood(const LevelBuffer& b, int nch, int ch, int q, const LevelSetup& ls, float threshold,
                             float& value) {
  float nb[nspanmx];  // half before, the sample, half after
  const int half = ls.nspan / 2;
  const int L = b.slots;
  int slot = q - half;
  if (slot < 0) slot += L;
  for (int t = 0; t < 2 * half + 1; ++t) {
    nb[t] = b.data[std::size_t(slot) * nch + ch];
    if (++slot == L) slot = 0;
  }
  insertion_sort(nb, ls.nspan);
  int nbad = 0;
  for (int t = 0; t < ls.nspan; ++t)
    if (nb[t] > threshold) ++nbad;
  if (nbad > ls.nbadmx || nbad >= ls.nspan) return false;
  // Missing values sort last, so positions 1..present hold the values present.
  const int present = ls.nspan - nbad;
  const int j = (ls.nspan - nbad + 1) / 2;
  int k = (nbad % 2 == 1) ? j + 1 : j;
  if (k > present) k = j;  // an even nspan with a single value present
  value = (nb[j - 1] + nb[k - 1]) * 0.5f;
  return true;
}

// Copies len samples per channel from slot p on; false as soon as a missing
// sample cannot be replaced (the rest of the window is then left unfilled).
bool copy_window(const LevelBuffer& b, int nch_buf, int nch, int p, int len, const LevelSetup& ls, float threshold,
                 float* window) {
  const int L = b.slots;
  // Nearly every window has no missing sample: look for one first, and
  // without one copy the rows as they are. A row of the buffer loads whole
  // (the buffer keeps room for six values behind its last slot); only the
  // slots of the window's channels count and are written.
  const rows::RowMask in_use = rows::mask_first(nch);
  const rows::Row limit = rows::splat(threshold);
  rows::RowMask above{};
  for (int t = 0, q = p; t < len; ++t) {
    above = above | rows::less(limit, rows::load(&b.data[std::size_t(q) * nch_buf]));
    if (++q == L) q = 0;
  }
  if (!rows::any(above & in_use)) {
    for (int t = 0, q = p; t < len; ++t) {
      rows::store(window + widx(0, t), rows::load(&b.data[std::size_t(q) * nch_buf]), in_use);
      if (++q == L) q = 0;
    }
    return true;
  }
  int q = p;
  for (int t = 0; t < len; ++t) {
    const float* row = &b.data[std::size_t(q) * nch_buf];
    float* dst = window + widx(0, t);
    for (int ch = 0; ch < nch; ++ch) {
      const float v = row[ch];
      if (!(v > threshold)) dst[ch] = v;
      else if (!median_of_neighbourhood(b, nch_buf, ch, q, ls, threshold, dst[ch])) return false;
    }
    if (++q == L) q = 0;
  }
  return true;
}

}  // namespace

GridAlignment align_start_time(DecSetup& s, std::int64_t time_int, float sampfreq, Console& con) {
  StartSample start;
  start.time_int = time_int;
  start.c = described_start_sample(time_int, sampfreq);
  return align_start_time(s, start, sampfreq, con);
}

GridAlignment align_start_time(DecSetup& s, const StartSample& start, float sampfreq, Console& con) {
  if (s.nd < 1 || s.nd > ndmx)
    throw Error("window grid: " + std::to_string(s.nd) + " levels; expected 1 to " + std::to_string(ndmx));
  // Start sample: input samples from the time origin to the first sample.
  const float per_microsecond = sampfreq / 1.0e6f;
  const double c = start.c;
  con.say_err("start_samp,_int,sampfreq", c, start.time_int, sampfreq);
  // The header readers take only sample intervals whose rate per microsecond
  // is a normal number; anything else would put the grid anywhere.
  if (!std::isfinite(c) || !std::isnormal(per_microsecond) || per_microsecond < 0.0f)
    throw Error("window grid: the sampling frequency " + Console::num(sampfreq) + " Hz gives the start sample " +
                Console::num(c) + "; expected a sampling frequency from 2e-32 to 3e+38 Hz");

  GridAlignment g;
  g.start_sample = c;
  g.start = start;
  std::int64_t prod = 1;  // decfac(1) * ... * decfac(lev): input samples per sample of the level
  for (int lev = 1; lev <= s.nd; ++lev) {
    LevelSetup& ls = s.lev[lev];
    prod *= ls.decfac;
    // Window step in input samples, the overlap's fraction truncated. The
    // set-up reader has made sure that it fits on every level with windows.
    const float stepf = static_cast<float>(ls.nwin) - ls.olap;
    const std::int64_t step = (stepf >= 1.0f && stepf < 1.0e15f) ? static_cast<std::int64_t>(stepf) : 0;
    const std::int64_t h = step * prod;
    if (h < 1 || h > INT_MAX) {
      if (ls.nfreq > 0) throw Error(level_text(lev) + "window step outside 1.." + std::to_string(INT_MAX));
      // A level without windows keeps its offset; only its phase matters.
      ls.iphase = static_cast<int>(ls.ianchor % prod);
      continue;
    }
    const std::int64_t r = (std::int64_t(ls.ianchor) + h) % h;  // sign of the dividend
    const double o = r > 0 ? (c - static_cast<double>(r)) / static_cast<double>(h) + 1.0
                           : c / static_cast<double>(h);
    // Window numbers are 32-bit in the Fourier-coefficient file; a start
    // that lies further from the time origin has no window number. The test
    // comes before the rounding, which is undefined beyond the 64-bit range.
    if (!(o > -2147483648.5 && o < 2147483647.5))
      throw Error(level_text(lev) + "start sample " + Console::num(c) + " gives window number " + Console::num(o) +
                  ", beyond the range of window numbers (the start time lies too far from the reference time)");
    const std::int64_t first = nint64(o);
    g.first_window[lev] = static_cast<int>(first);
    const double m = static_cast<double>(h) * (static_cast<double>(first) - o);
    ls.ianchor = nint(m);
    g.step[lev] = h;
    g.first_offset[lev] = m;
    if (lev == 1) g.grid_residual = static_cast<float>(static_cast<double>(ls.ianchor) - m);
    ls.iphase = static_cast<int>(ls.ianchor % prod);
  }
  return g;
}

int window_count(const LevelSetup& ls, int aw) {
  if (ls.nfreq <= 0) return 0;
  const float step = static_cast<float>(ls.nwin) - ls.olap;
  if (!(step > 0.0f)) return 0;
  const float room = static_cast<float>(aw) - ls.olap - static_cast<float>(2 * ls.pwlen) -
                     static_cast<float>(ls.nspan / 2);
  const float m = std::trunc(room / step);
  return m > 0.0f ? static_cast<int>(m) : 0;
}

ExtractedWindow extract_window(Cascade& c, const DecSetup& s, int lev, const WindowArray& win) {
  if (c.nd < 1 || c.nd != s.nd || lev < 1 || lev > c.nd)
    throw Error("window extraction: level " + std::to_string(lev) + " is not a level of the cascade");
  const LevelSetup& ls = s.lev[lev];
  if (ls.nfreq <= 0)
    throw Error("window extraction: level " + std::to_string(lev) + " is not cut into windows (nfreq = " +
                std::to_string(ls.nfreq) + ")");
  const int nch = win.nch();
  if (nch > c.nch)
    throw Error("window extraction: " + std::to_string(nch) + " channels; the cascade holds " +
                std::to_string(c.nch));
  LevelBuffer& b = c.lev[lev];
  const int len = ls.nwin + ls.pwlen - 1;  // window plus pre-whitening extension, samples of the level
  win.require_samples(len, "window extraction");
  const int half = ls.nspan / 2;
  if (b.aw < len + half)
    throw Error("window extraction, level " + std::to_string(lev) + ": " + std::to_string(b.aw) +
                " samples available, a window needs " + std::to_string(len + half));

  const int K = cumulative_factor(s, lev);
  const double step = (static_cast<float>(ls.nwin) - ls.olap) * static_cast<float>(K);  // input samples
  const int L = b.slots;
  const int p = b.rw;

  ExtractedWindow out;
  const std::int64_t w = b.index[p];
  out.first_mark = w;
  int last = p + len - 1;
  if (last >= L) last -= L;
  out.last_mark = b.index[last];
  // Nearest grid window; the misfit is how far its ideal start lies after the
  // first sample, in input samples.
  const std::int64_t G = nint64(static_cast<double>(w - ls.ianchor) / step);
  if (G + 1 > INT_MAX || G + 1 < INT_MIN)
    throw Error("window extraction, level " + std::to_string(lev) + ": window number " + std::to_string(G + 1) +
                " beyond the range of window numbers");
  out.number = static_cast<int>(G + 1);
  out.misfit = static_cast<float>(static_cast<double>(G) * step + static_cast<double>(ls.ianchor - w));
  // The read pointer moves on to the slot nearest the grid start of the next
  // window. Windows that overlap or touch never move it past the newest sample.
  const std::int64_t d =
      nint64((static_cast<double>(ls.ianchor - w) + step * static_cast<double>(G + 1)) / static_cast<double>(K));
  if (ls.olap >= 0 && d > b.aw)
    throw Error("window extraction, level " + std::to_string(lev) + ": the next window start lies " +
                std::to_string(d) + " samples on, beyond the " + std::to_string(b.aw) + " available");
  out.usable = copy_window(b, c.nch, nch, p, len, ls, c.threshold, win.data());
  b.rw = static_cast<int>(((p + d) % L + L) % L);
  b.aw = static_cast<int>(std::max<std::int64_t>(0, b.aw - d));
  return out;
}

}  // namespace qv
