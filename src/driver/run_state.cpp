#include "driver/run_state.hpp"

#include <algorithm>
#include <climits>
#include <span>

#include "dsp/window_prep.hpp"

namespace qv {

namespace {

// nfmx and the sample interval of every level.
void derive_levels(RunSetup& st) {
  st.nfmx = 0;
  for (int lev = 1; lev <= st.setup.nd; ++lev) st.nfmx = std::max(st.nfmx, st.setup.lev[lev].nfreq);
  st.dr = level_intervals(st.setup, st.sp.dt, "system parameter file " + st.sp.source);
}

// Slots enough for the cutting thread to run ahead by a block's windows, but
// no more than about 4 MB of them (and never fewer than two).
int ring_slots(std::size_t floats) {
  const std::size_t bytes = floats * sizeof(float);
  const std::size_t fit = (std::size_t(4) << 20) / bytes;
  return static_cast<int>(std::clamp<std::size_t>(fit, 2, 16));
}

int longest_window(const DecSetup& s) {
  int nwin_max = 1;
  for (int lev = 1; lev <= s.nd; ++lev) nwin_max = std::max(nwin_max, s.lev[lev].nwin);
  return nwin_max;
}

void allocate_run_arrays(RunSetup& st, RunWork& work) {
  const DecSetup& s = st.setup;
  const int nwin_max = longest_window(s);
  cascade_allocate(work.cascade, s, st.nch, st.threshold);
  // The window holds nwin + pwlen - 1 samples of every channel while it is
  // prepared, then its coefficients in place.
  work.scratch.window.assign(static_cast<std::size_t>(nchmx) * (nwin_max + nwspare), 0.0f);
  if (st.threads == 2) work.ring.allocate(ring_slots(work.scratch.window.size()), work.scratch.window.size());
  for (int lev = 1; lev <= s.nd; ++lev) {
    // Levels of one window length share its tables; the chirp-z tables of a
    // long window take a good part of a second to make.
    int same = 1;
    while (same < lev && s.lev[same].nwin != s.lev[lev].nwin) ++same;
    if (same < lev) {
      st.fft[lev] = st.fft[same];
    } else {
      fft_setup(s.lev[lev].nwin, st.fft[lev]);
    }
    st.taper[lev].assign(s.lev[lev].nwin, 0.0f);
    if (s.lev[lev].nfreq > 0) taper_weights(s.lev[lev].nwin, st.taper[lev].data());
  }
  // Sized for the longest transform of the levels: the window length, or the
  // convolution length of a level transformed by chirp-z.
  fft_work_allocate(work.scratch.fft_work, std::span<const FftPlan>(st.fft.data() + 1, s.nd));
  response_table_allocate(st.response, s);
  amplitude_allocate(work.kept.amplitudes, s);
  // Without a set limit the store's buffer is as large as its budget.
  output_store_allocate(work.kept.store, s, st.nch, st.max_sets == no_set_limit ? INT_MAX : st.max_sets,
                        st.spill_budget, st.spill_path);
  reset_offsets(work.input.offsets);
}

// The per-level factors every window shares (see RunSetup). A phase table
// of more than 2^20 factors (8 MB; a set-up with very many coefficients and a
// long pre-whitening filter) is not kept.
void prepare_window_tables(RunSetup& st) {
  constexpr std::int64_t max_phases = std::int64_t(1) << 20;
  for (int lev = 1; lev <= ndmx; ++lev) {
    st.pw_phases[lev].clear();
    st.grid_phases[lev] = PhaseFactors{};
    if (lev > st.setup.nd) continue;
    const LevelSetup& ls = st.setup.lev[lev];
    if (ls.nfreq < 1) continue;
    if (ls.pwlen >= 2 && std::int64_t(ls.nfreq) * ls.pwlen <= max_phases) {
      st.pw_phases[lev].resize(static_cast<std::size_t>(ls.nfreq) * ls.pwlen);
      pw_phase_table(ls.nfreq, ls.pwlen, ls.nwin, st.pw_phases[lev].data());
    }
    phase_factors(st.grid_residual_s, ls.nfreq, st.dr[lev], ls.nwin, st.grid_phases[lev]);
  }
}

}  // namespace

void prepare_run(RunSetup& st, RunWork& work, const StartTime& start, float sampfreq, const std::string& sensor_dir,
                 const std::string& bad_name, Console& con) {
  derive_levels(st);
  allocate_run_arrays(st, work);
  build_response_table(st.response, st.setup, st.dr, st.sp, st.nch, sensor_dir, con);
  // The bad-record boundaries count seconds from the reference time too:
  // they become time marks from the same start as the grid, so a stretch
  // named in seconds is the stretch the window numbers name.
  const StartSample settled = settle_start_sample(start, sampfreq);
  const std::int64_t time_int = settled.time_int;
  bdecsu(bad_name, st.setup.nd, st.dr[1], time_int, st.bad, con);
  st.grid = align_start_time(st.setup, settled, sampfreq, con);
  // The residual is counted in input samples; the phase shift wants seconds.
  st.grid_residual_s = st.grid.grid_residual * st.sp.dt;
  prepare_window_tables(st);
  con.say("TIME_INTERVAL (sec)", static_cast<float>(static_cast<double>(time_int) / 1.0e6));
}

WindowArray window_array(WindowWork& ww, int nch) {
  return WindowArray(ww.window.data(), nch, static_cast<std::int64_t>(ww.window.size() / nchmx));
}

}  // namespace qv
