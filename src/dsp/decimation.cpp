#include "dsp/decimation.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "common/rounding.hpp"
#include "dsp/row_vectors.hpp"

namespace qv {

namespace {

std::string level_text(int lev) { return "decimation set-up, level " + std::to_string(lev) + ": "; }

bool windowed(const LevelSetup& ls) { return ls.nfreq > 0; }

// After a decimation pass the next centre can lie up to decfac - nfc samples
// beyond the newest sample: the filter stride steps over samples no filter
// reaches. The availability rule then reports nearly a whole buffer; any count
// within this lead of the slot count means "read pointer ahead, nothing yet".
int decimation_lead(const DecSetup& s, int lev) {
  if (lev >= s.nd) return 0;
  return std::max(0, s.lev[lev + 1].decfac - s.lev[lev + 1].nfc);
}

// Windows advance past the newest sample only when windows leave gaps between
// them (negative overlap); the lead is then at most the gap.
int window_lead(const LevelSetup& ls) {
  if (!windowed(ls) || ls.olap >= 0) return 0;
  return static_cast<int>(std::ceil(-static_cast<double>(ls.olap))) + 2;
}

// Samples from a read pointer to the write pointer; 0 while the pointer is
// ahead of the writer.
int unread(int raw, int L, int lead) { return (lead > 0 && raw >= L - lead) ? 0 : raw; }

// First window start of a level, counted in samples of the level from the
// stretch's first sample (absolute number f, on the level's decimation phase).
// A candidate matches when its distance to the nearest grid position, the
// window offset plus a multiple of the window step, rounds to 0 samples of
// the level. The comparison is modulo the step, so a negative rebased offset
// matches as well as a positive one.
int first_window_start(std::int64_t f, int K, const LevelSetup& ls) {
  const float sw = static_cast<float>(K) * (static_cast<float>(ls.nwin) - ls.olap);  // input samples
  const double step = sw;
  const std::int64_t n = (K + nint64(step) + 1) / K;
  std::int64_t nearest = n;
  double best = HUGE_VAL;
  for (std::int64_t j = 0; j < n; ++j) {
    const double x = static_cast<double>(f + j * K - ls.ianchor);
    double r = std::fmod(x, step);
    if (r < -0.5 * step) r += step;
    else if (r >= 0.5 * step) r -= step;
    const double dist = r / K;  // samples of the level
    if (nint64(dist) == 0) return static_cast<int>(j);
    // A grid position exactly halfway between two samples matches neither;
    // start at the nearest candidate rather than off the grid.
    if (std::fabs(dist) < best) {
      best = std::fabs(dist);
      nearest = j;
    }
  }
  return static_cast<int>(nearest);
}

// One output row (every channel) of the decimation filter over the 2h-1
// slots around a centre. Per channel only values below the threshold are
// used; the taps used are renormalised to unit gain at zero frequency. More
// than h-1 missing values give a missing output. The channels of a slot lie
// side by side, so each tap goes to all of them at once: every lane makes the
// products and sums a loop over one channel would, in the same order of
// taps. A missing value's lane adds +0 instead of skipping the tap, which
// leaves the sum as it is (a sum that starts at +0 is never -0 when
// rounding to nearest). data holds rows of nch values and room for a row of
// six behind the last (cascade_allocate), so every slot's row loads whole;
// the values beyond nch belong to the next slot and go along unused.
inline void filter_row(const float* data, const int* slots, const float* taps, int ntaps, int nch, int h,
                       float threshold, float missing, float* out) {
  rows::Row wsum = rows::splat(0.0f), csum = rows::splat(0.0f);
  rows::RowMask nmiss{};
  const rows::Row thr = rows::splat(threshold);
  for (int t = 0; t < ntaps; ++t) {
    const rows::Row v = rows::load(data + std::size_t(slots[t]) * nch);
    const rows::RowMask present = rows::less(v, thr);  // all bits set where the value is used; NaN is not
    const rows::Row tap = rows::splat(taps[t]);
    wsum = wsum + rows::masked(tap * v, present);
    csum = csum + rows::masked(tap, present);
    nmiss.a += present.a + 1;  // 0 where present (-1 + 1), 1 where missing
    nmiss.b += present.b + 1;
  }
  float q[nchmx], weight[nchmx];
  std::int32_t misses[nchmx];
  rows::to_slots(wsum / csum, q);
  rows::to_slots(csum, weight);
  rows::to_slots(nmiss, misses);
  for (int c = 0; c < nch; ++c) {
    // Taps that cancel over the values present give no usable estimate.
    out[c] = (misses[c] > h - 1 || weight[c] == 0.0f) ? missing : q[c];
  }
}

// The windows of a level must be taken after every block: new samples may not
// reach the oldest sample a pending window (with the median neighbourhood
// before it) still needs.
void check_room(const LevelBuffer& b, const LevelSetup& ls, int lev, int arriving) {
  if (!windowed(ls)) return;
  if (std::int64_t(b.aw) + arriving + ls.nspan / 2 + window_lead(ls) >= b.slots)
    throw Error("decimation level " + std::to_string(lev) + ": " + std::to_string(b.aw) +
                " samples not yet cut into windows and " + std::to_string(arriving) +
                " arriving would overrun its " + std::to_string(b.slots) +
                "-slot buffer; windows must be taken after every block");
}

template <class T>
void feed_level1(LevelBuffer& b, int nch, const SampleBlock& blk, const T* values) {
  int q = b.wp;
  for (int i = 0; i < blk.npts; ++i) {
    b.index[q] = blk.index[i];
    float* dst = &b.data[std::size_t(q) * nch];
    const T* src = values + std::size_t(i) * nchmx;
    for (int c = 0; c < nch; ++c) dst[c] = static_cast<float>(src[c]);
    if (++q == b.slots) q = 0;
  }
  b.wp = q;
}

// Makes the new samples of level lev + 1 from level lev.
void decimate_level(Cascade& c, const DecSetup& s, int lev) {
  LevelBuffer& src = c.lev[lev];
  LevelBuffer& dst = c.lev[lev + 1];
  const LevelSetup& up = s.lev[lev + 1];
  const int h = up.nfc;
  const int D = up.decfac;
  const int L = src.slots;
  const int ad = unread(available_samples(src.rd, src.wp, L, src.wrap_d), L, decimation_lead(s, lev));
  const int q = (ad - h + D) / D;
  if (q < 1) return;
  check_room(dst, up, lev + 1, q);

  const int nch = c.nch;
  const int ntaps = 2 * h - 1;
  float taps[2 * nfcmx - 1];
  for (int t = 0; t < ntaps; ++t) taps[t] = up.coef[std::abs(t - (h - 1))];
  const float missing = c.threshold + 10000.0f;

  int centre = src.rd;
  int out = dst.wp;
  int slots[2 * nfcmx - 1];
  for (int k = 0; k < q; ++k) {
    dst.index[out] = src.index[centre];
    float* o = &dst.data[std::size_t(out) * nch];
    if (h == 1) {
      const float* v = &src.data[std::size_t(centre) * nch];
      for (int ch = 0; ch < nch; ++ch) o[ch] = v[ch];
    } else {
      int slot = centre - (h - 1);
      if (slot < 0) slot += L;
      for (int t = 0; t < ntaps; ++t) {
        slots[t] = slot;
        if (++slot == L) slot = 0;
      }
      filter_row(src.data.data(), slots, taps, ntaps, nch, h, c.threshold, missing, o);
    }
    centre += D;
    if (centre >= L) centre -= L;
    if (++out == dst.slots) out = 0;
  }
  src.rd = centre;
  dst.wp = out;
}

void update_window_availability(Cascade& c, const DecSetup& s, int lev) {
  LevelBuffer& b = c.lev[lev];
  const LevelSetup& ls = s.lev[lev];
  if (!windowed(ls)) {
    b.aw = 0;  // never cut into windows; rw stays where it is
    return;
  }
  b.aw = unread(available_samples(b.rw, b.wp, b.slots, b.wrap_w), b.slots, window_lead(ls));
}

}  // namespace

std::int64_t level_slots(const DecSetup& s, int lev) {
  const std::int64_t arrivals = nblk;  // a level never gains more samples per block than level 1
  std::int64_t need = arrivals + 2;
  if (lev < s.nd) {
    const int h = s.lev[lev + 1].nfc;
    const int D = s.lev[lev + 1].decfac;
    // filter reach on both sides of the next centre, and the first centre's offset
    need = std::max<std::int64_t>(need, 2 * h + arrivals + decimation_lead(s, lev) + 2);
    need = std::max<std::int64_t>(need, std::int64_t(h) + D + 2);
  }
  const LevelSetup& ls = s.lev[lev];
  if (windowed(ls)) {
    const int half = ls.nspan / 2;
    // what the window count leaves undrained (< nwin + 2 pwlen + half + 1),
    // the median neighbourhood behind the window start, one block of arrivals
    need = std::max<std::int64_t>(
        need, std::int64_t(ls.nwin) + 2 * ls.pwlen + 2 * half + 4 + arrivals + window_lead(ls));
    // the first window start may lie up to one window step + 2 beyond slot 0
    const double step = static_cast<double>(static_cast<float>(ls.nwin) - ls.olap);
    need = std::max<std::int64_t>(need, static_cast<std::int64_t>(std::ceil(step)) + 3);
  }
  return need;
}

void cascade_allocate(Cascade& c, const DecSetup& s, int nch, float threshold) {
  if (s.nd < 1 || s.nd > ndmx)
    throw Error("decimation set-up: " + std::to_string(s.nd) + " levels; expected 1 to " + std::to_string(ndmx));
  if (nch < 1 || nch > nchmx)
    throw Error("decimation cascade: " + std::to_string(nch) + " channels; expected 1 to " + std::to_string(nchmx));
  c.nd = s.nd;
  c.nch = nch;
  c.threshold = threshold;
  for (int lev = 1; lev <= ndmx; ++lev) {
    LevelBuffer& b = c.lev[lev];
    b = LevelBuffer{};
    if (lev > s.nd) continue;
    const std::int64_t need = level_slots(s, lev);
    if (need > nslotmx)
      throw Error(level_text(lev) + "the level needs " + std::to_string(need) + " buffer slots; at most " +
                  std::to_string(nslotmx) + " are available");
    b.slots = static_cast<int>(need);
    b.index.assign(std::size_t(b.slots), 0);
    // A row of six behind the last slot: the filter loads whole rows.
    b.data.assign(std::size_t(b.slots) * nch + nchmx, 0.0f);
  }
}

int available_samples(int a, int b, int L, bool& wrap) {
  if (a == b) return 0;
  if (a < b) {
    wrap = true;
    return b - a;
  }
  return wrap ? b - a + L : 0;
}

void decimation_setup(Cascade& c, const DecSetup& s, std::int64_t first_sample) {
  if (c.nd < 1 || c.nd != s.nd || c.lev[1].slots == 0)
    throw Error("decimation set-up: the level buffers were not reserved for this set-up");
  std::int64_t f = first_sample;  // absolute number of the first sample of the level
  for (int lev = 1; lev <= s.nd; ++lev) {
    LevelBuffer& b = c.lev[lev];
    const LevelSetup& ls = s.lev[lev];
    const int K = cumulative_factor(s, lev);
    b.wp = 0;
    b.rw = 0;
    b.rd = 0;
    b.wrap_w = false;
    b.wrap_d = false;
    b.aw = 0;
    if (windowed(ls)) {
      b.rw = first_window_start(f, K, ls);
      // The median neighbourhood of a missing sample at the very start of the
      // stretch reaches back across slot 0; those slots hold nothing of this
      // stretch and must count as missing, not as stale values.
      const int half = ls.nspan / 2;
      const float missing = c.threshold + 10000.0f;
      const auto end = b.data.begin() + std::ptrdiff_t(b.slots) * c.nch;
      std::fill(end - std::ptrdiff_t(half) * c.nch, end, missing);
    }
    if (lev < s.nd) {
      const int h = s.lev[lev + 1].nfc;
      const int D = s.lev[lev + 1].decfac;
      const std::int64_t Knext = std::int64_t(K) * D;
      const std::int64_t phi = s.lev[lev + 1].iphase;
      // First centre for the level above: the first sample with the full left
      // half of the filter in the buffer whose absolute number lies on the
      // decimation phase of that level.
      int g = h - 1;
      for (; g <= h - 1 + D; ++g)
        if ((f + std::int64_t(K) * g - phi) % Knext == 0) break;
      b.rd = g;
      f += std::int64_t(K) * g;
    }
  }
}

void decimate_block(Cascade& c, const DecSetup& s, const SampleBlock& blk, bool real_samples) {
  if (c.nd < 1 || c.nd != s.nd)
    throw Error("decimation: the level buffers were not reserved for this set-up");
  if (blk.npts < 0 || blk.npts > nblk)
    throw Error("decimation: a block of " + std::to_string(blk.npts) + " samples; expected 0 to " +
                std::to_string(nblk));
  check_room(c.lev[1], s.lev[1], 1, blk.npts);
  if (real_samples) feed_level1(c.lev[1], c.nch, blk, blk.real.data());
  else feed_level1(c.lev[1], c.nch, blk, blk.ints.data());
  for (int lev = 1; lev < s.nd; ++lev) {
    update_window_availability(c, s, lev);
    decimate_level(c, s, lev);
  }
  update_window_availability(c, s, s.nd);
}

}  // namespace qv
