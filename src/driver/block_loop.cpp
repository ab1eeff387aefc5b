#include "driver/block_loop.hpp"

#include <cmath>
#include <cstdio>

#include "calibration/phase_shift.hpp"
#include "dsp/window_prep.hpp"

namespace qv {

namespace {

void report_set_limit(Console& con) {
  char field[16];
  std::snprintf(field, sizeof field, "%6d", NSMAX);
  con.blank();
  con.say("!!! Number of processed sets reached");
  con.say("     maximum number of allowed sets !!!");
  con.say("     The program will finish processing now");
  con.say(std::string("     To process all data change NSMAX =") + field);
  con.say("     in file PARAMS1 !!!");
  // This build sets the limit when it is compiled; say how.
  con.say("     (rebuild with cmake -DQV_NSMAX=<sets> to raise it)");
}

// Windows that are usable and clean: mean removal, pre-whitening, taper,
// transform, calibration and the phase corrections that refer every window to
// the common time grid. Leaves the corrected coefficients in the window array
// and returns how many there are.
int transform_window(RunState& st, int lev, const ExtractedWindow& w) {
  const LevelSetup& ls = st.setup.lev[lev];
  float* x = st.window.data();
  const int n = ls.nwin;
  const int L = ls.pwlen;
  remove_mean(x, st.nch, n + L - 1);
  prewhiten(x, st.nch, n, st.setup.pwdiff[lev], L, st.pw_filters, st.pw_work);
  remove_mean(x, st.nch, n);
  apply_taper(x, st.nch, n, st.taper_flag[lev], st.taper[lev].data());
  multichannel_fft(WindowArray(x, st.nch, std::int64_t(st.window.size() / nchmx)), n, st.fft_work, st.fft[lev]);
  const int m = ls.nfreq;
  correct_coefficients(x, st.nch, m, st.response.lev[lev].data(), st.pw_filters, L, n, st.setup.pwdiff[lev]);
  shift_grid(st.grid_residual_s, x, m, st.nch, st.dr[lev], n);
  if (st.sp.drift_flag) {
    // Clock drift accumulates with time: shift by the drift at the window centre.
    float centre = static_cast<float>(w.first_mark + w.last_mark) * 0.5f * st.dr[1];
    shift_time(x, m, st.nch, st.dr[lev], n, st.sp.drift, centre);
  }
  if (std::fabs(w.misfit) > 1.0e-5f) shift_time(x, m, st.nch, st.dr[lev], n, 1.0f, -w.misfit * st.dr[1]);
  return m;
}

}  // namespace

bool process_window(RunState& st, int lev, Console& con) {
  ExtractedWindow w = extract_window(st.cascade, st.setup, lev, st.nch, st.window.data());
  const int number = w.number + st.grid.first_window[lev];
  const bool clean = true;  // no bad-record lists in this version: every window is clean
  if (!(w.usable && clean)) {
    con.say("bad", clean, w.usable, w.first_mark, w.last_mark, lev, number);
    return false;
  }
  const int m = transform_window(st, lev, w);
  store_fc(st.store, st.nch, m, st.window.data());
  accumulate_amplitudes(st.window.data(), st.nch, st.setup.lev[lev].nfreq, st.amplitudes.lev[lev].data());
  ++st.level_sets[lev];
  st.sets.push_back(SetRecord{st.setup.levoff + lev, m, number});
  ++st.nsets;
  if (st.nsets >= NSMAX) {
    report_set_limit(con);
    return true;
  }
  return false;
}

LoopEnd process_blocks(RunState& st, BlockReader& reader, Console& con) {
  SampleBlock& blk = st.block;
  const bool real = reader.real_samples();
  int ierr = reader.read_block(blk, st.reader_nch);
  if (ierr == block_end) return LoopEnd::end_of_data;  // the first block already ends the data
  bool end_reached = false;  // text and NIMS readers: the end was met, the last block is still processed
  for (;;) {
    // A stretch of contiguous data: the levels restart empty at its first sample.
    if (blk.npts == 0) return LoopEnd::end_of_data;
    decimation_setup(st.cascade, st.setup, blk.index[0]);
    for (;;) {
      decimate_block(st.cascade, st.setup, blk, real);
      for (int lev = 1; lev <= st.setup.nd; ++lev) {
        const LevelSetup& ls = st.setup.lev[lev];
        if (ls.nfreq < 1) continue;
        const int windows = window_count(ls, st.cascade.lev[lev].aw);
        for (int k = 0; k < windows; ++k)
          if (process_window(st, lev, con)) return LoopEnd::set_limit;
      }
      if (end_reached) return LoopEnd::end_of_data;
      ierr = reader.read_block(blk, st.reader_nch);
      if (ierr == block_end && reader.last_block_has_data()) {
        end_reached = true;
        ierr = block_more;
      }
      if (blk.npts == 0) return LoopEnd::end_of_data;
      if (ierr == block_more) continue;
      if (ierr == block_gap) break;  // new stretch with this block
      if (ierr == block_bad_mark) {
        con.say("error: excess records/ incorrect time mark");
        con.say("stopping here");
        return LoopEnd::bad_mark;
      }
      return ierr == block_end ? LoopEnd::end_of_data : LoopEnd::other_status;
    }
  }
}

}  // namespace qv
