#include "driver/block_loop.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "calibration/phase_shift.hpp"
#include "common/error.hpp"
#include "common/fixed_format.hpp"
#include "driver/pipeline.hpp"
#include "dsp/block_offset.hpp"
#include "dsp/powerline.hpp"
#include "dsp/window_prep.hpp"

namespace qv {

namespace {

void report_set_limit(int max_sets, Console& con) {
  char field[16];
  std::snprintf(field, sizeof field, "%6d", max_sets);
  con.blank();
  con.say("!!! Number of processed sets reached");
  con.say("     maximum number of allowed sets !!!");
  con.say("     The program will finish processing now");
  con.say(std::string("     To process all data change NSMAX =") + field);
  con.say("     in file PARAMS1 !!!");
  // The limit is an option of this program; say which.
  con.say("     (raise it with the option --max-sets=<sets>)");
}

// A time shift of a window that single precision cannot turn into phases:
// the sample interval or the clock drift rate of the system parameter file
// is far out of range.
[[noreturn]] void refuse_shift(const RunSetup& st, int lev, int number, const std::string& what, float tau,
                               const char* expected) {
  std::string msg = "system parameter file ";
  msg += st.sp.source;
  msg += ": ";
  msg += what;
  msg += " of window ";
  msg += std::to_string(number);
  msg += " of level ";
  msg += std::to_string(lev);
  msg += " is a time shift of ";
  msg += Console::num(tau);
  msg += " s, which gives its coefficients no finite phase; expected ";
  msg += expected;
  throw Error(msg);
}

// Windows that are usable and clean: mean removal, pre-whitening, taper,
// transform, calibration and the phase corrections that refer every window to
// the common time grid. Leaves the corrected coefficients in the window array
// and returns how many there are.
int transform_window(const RunSetup& st, WindowWork& ww, int lev, int number, const ExtractedWindow& w,
                     const WindowArray& x) {
  const LevelSetup& ls = st.setup.lev[lev];
  const int n = ls.nwin;
  const int L = ls.pwlen;
  remove_mean(x, n + L - 1);
  prewhiten(x, n, st.setup.pwdiff[lev], L, ww.pw_filters, ww.pw_work);
  remove_mean(x, n);
  apply_taper(x, n, st.taper[lev].data());
  multichannel_fft(x, n, ww.fft_work, st.fft[lev]);
  const int m = ls.nfreq;
  const std::vector<std::complex<float>>& phases = st.pw_phases[lev];
  correct_coefficients(x, m, st.response.lev[lev].data(), ww.pw_filters, L, n, st.setup.pwdiff[lev],
                       phases.empty() ? nullptr : phases.data());
  shift_grid(st.grid_residual_s, x, m, st.dr[lev], n, &st.grid_phases[lev]);
  if (st.sp.drift_flag) {
    // Clock drift accumulates with time: shift by the drift at the window centre.
    float centre = static_cast<float>(w.first_mark + w.last_mark) * 0.5f * st.dr[1];
    if (!finite_phase(st.sp.drift * centre, m, st.dr[lev], n))
      refuse_shift(st, lev, number, "the clock drift at the centre (" + Console::num(centre) + " s)",
                   st.sp.drift * centre, "a smaller clock drift rate or sample interval");
    shift_time(x, m, st.dr[lev], n, st.sp.drift, centre);
  }
  if (std::fabs(w.misfit) > 1.0e-5f) {
    const float off_grid = -w.misfit * st.dr[1];  // seconds
    if (!finite_phase(off_grid, m, st.dr[lev], n))
      refuse_shift(st, lev, number, "the distance from the grid start", off_grid, "a smaller sample interval");
    shift_time(x, m, st.dr[lev], n, 1.0f, off_grid);
  }
  return m;
}

}  // namespace

WindowVerdict cut_window(const RunSetup& st, Cascade& cascade, const WindowArray& x, WindowsKept& kept, int lev,
                         Console& con) {
  WindowVerdict v;
  v.cut = extract_window(cascade, st.setup, lev, x);
  const ExtractedWindow& w = v.cut;
  // Window numbers are written as 32-bit integers: a start far from the time
  // origin leaves room for only so many windows.
  const std::int64_t grid_number = std::int64_t(w.number) + st.grid.first_window[lev];
  if (grid_number > INT_MAX || grid_number < INT_MIN)
    throw Error("window grid, level " + std::to_string(lev) + ": window number " + std::to_string(grid_number) +
                " beyond the range of window numbers (the start time lies too far from the reference time)");
  v.number = static_cast<int>(grid_number);
  const bool clean = bad_record_clean(st.bad.list1, lev, w.first_mark, w.last_mark);
  v.accepted = w.usable && clean;
  if (!v.accepted) {
    con.say("bad", clean, w.usable, w.first_mark, w.last_mark, lev, v.number);
    ++kept.level_rejected[lev];
  }
  return v;
}

void keep_window(const RunSetup& st, WindowWork& ww, WindowsKept& kept, int lev, const WindowVerdict& v,
                 const WindowArray& x) {
  const ExtractedWindow& w = v.cut;
  const int number = v.number;
  const int m = transform_window(st, ww, lev, number, w, x);
  store_fc(kept.store, st.setup.levoff + lev, number, x, m);
  accumulate_amplitudes(x, st.setup.lev[lev].nfreq, kept.amplitudes.lev[lev].data());
  if (kept.level_sets[lev]++ == 0) kept.level_first_number[lev] = number;
  kept.level_last_number[lev] = number;
  if (!bad_record_clean(st.bad.list2, lev, w.first_mark, w.last_mark)) ++kept.list2_sets[lev];
  ++kept.nsets;
}

bool set_limit_reached(const RunSetup& st, std::int64_t nsets, Console& con) {
  if (st.max_sets == no_set_limit || nsets < st.max_sets) return false;
  report_set_limit(st.max_sets, con);
  return true;
}

bool process_window(const RunSetup& st, Cascade& cascade, WindowWork& ww, WindowsKept& kept, int lev, Console& con) {
  const WindowArray x = window_array(ww, st.nch);
  const WindowVerdict v = cut_window(st, cascade, x, kept, lev, con);
  if (!v.accepted) return false;
  keep_window(st, ww, kept, lev, v, x);
  return set_limit_reached(st, kept.nsets, con);
}

namespace {

// The powerline filter of real samples. The first call announces the
// filter; a block it cannot filter switches it off for the rest of the run.
void filter_block(const RunSetup& st, BlockWork& in, Console& con) {
  const int flag = filter_powerline(in.block, st.nch, st.powerline_hz, st.sp.dt, st.threshold, in.powerline, con);
  if (flag == powerline_skipped) {
    in.powerline_active = false;
    return;
  }
  if (!in.powerline_announced) {
    con.blank();
    con.text("FILTERING" + fmt_f(st.powerline_hz, 10, 1) + " Hz powerline noise with all harmonics");
  }
  in.powerline_announced = true;
}

}  // namespace

int next_block(const RunSetup& st, BlockWork& in, BlockReader& reader, bool& end_seen, Console& con) {
  SampleBlock& blk = in.block;
  int status = reader.read_block(blk, st.reader_nch);
  // A text reader meets the end of its file in the read that returns the
  // last samples; that block is still processed, and the end remembered.
  if (status == block_end && reader.last_block_has_data()) {
    end_seen = true;
    status = block_more;
  }
  if (reader.real_samples()) {
    if (status == block_gap) reset_offsets(in.offsets);  // a new stretch takes new offsets
    remove_offsets(blk, st.nch, st.threshold, in.offsets);
    // Integer samples (NIMS instruments) are recorded far below the
    // powerline frequency and are not filtered.
    if (in.powerline_active) filter_block(st, in, con);
  }
  return status;
}

LoopOutcome run_blocks(const RunSetup& st, BlockWork& input, Cascade& cascade, RunProgress& progress, BlockReader& reader,
                       WindowSink& sink, Console& con) {
  SampleBlock& blk = input.block;
  const bool real = reader.real_samples();
  bool end_seen = false;  // the last block has been read
  int ierr = next_block(st, input, reader, end_seen, con);
  // The first block already ends the data: no window is processed.
  if (ierr == block_end || end_seen) return {LoopEnd::end_of_data, ierr};
  for (;;) {
    // A stretch of contiguous data: the levels restart empty at its first sample.
    if (blk.npts == 0) return {LoopEnd::end_of_data, ierr};
    decimation_setup(cascade, st.setup, blk.index[0]);
    for (;;) {
      decimate_block(cascade, st.setup, blk, real);
      progress_block(progress, blk, sink.stored(), reader.read_extent());
      for (int lev = 1; lev <= st.setup.nd; ++lev) {
        const LevelSetup& ls = st.setup.lev[lev];
        if (ls.nfreq < 1) continue;
        const int windows = window_count(ls, cascade.lev[lev].aw);
        for (int k = 0; k < windows; ++k)
          if (sink.take(lev)) return {LoopEnd::set_limit, ierr};
      }
      if (end_seen) return {LoopEnd::end_of_data, block_end};
      ierr = next_block(st, input, reader, end_seen, con);
      if (blk.npts == 0) return {LoopEnd::end_of_data, ierr};
      if (ierr == block_more) continue;
      if (ierr == block_gap) break;  // new stretch with this block
      if (ierr == block_bad_mark) {
        con.say("error: excess records/ incorrect time mark");
        con.say("stopping here");
        return {LoopEnd::bad_mark, ierr};
      }
      return {ierr == block_end ? LoopEnd::end_of_data : LoopEnd::other_status, ierr};
    }
  }
}

namespace {

// Every window processed where it is cut, on this thread.
class InlineWindows final : public WindowSink {
 public:
  InlineWindows(const RunSetup& st, RunWork& work, Console& con) : st_(st), work_(work), con_(con) {}
  bool take(int lev) override { return process_window(st_, work_.cascade, work_.scratch, work_.kept, lev, con_); }
  std::int64_t stored() const override { return work_.kept.nsets; }

 private:
  const RunSetup& st_;
  RunWork& work_;
  Console& con_;
};

}  // namespace

LoopOutcome process_blocks(const RunSetup& st, RunWork& work, BlockReader& reader, Console& con) {
  // The ring is made at set-up for a run of two threads.
  if (st.threads == 2 && work.ring.slots() > 0) return process_blocks_two_threads(st, work, reader, con);
  InlineWindows sink(st, work, con);
  return run_blocks(st, work.input, work.cascade, work.progress, reader, sink, con);
}

}  // namespace qv
