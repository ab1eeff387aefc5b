#include "driver/run_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

namespace {

// Values written with six significant digits (0.333333 for 3 Hz) agree with
// the recording's to better than this; anything further off is a different
// interval. 1e-5 of the interval is still 0.9 s a day on every time the run
// derives from it.
constexpr double kIntervalTolerance = 1.0e-5;

// v with at most `digits` significant digits, as %g writes it.
std::string fmt_g(double v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

bool intervals_differ(float run_dt, float recording_dt) {
  if (!(run_dt > 0) || !(recording_dt > 0)) return false;  // refused elsewhere
  return std::fabs(double(run_dt) - double(recording_dt)) > kIntervalTolerance * double(recording_dt);
}

// Where the recording's sample interval came from.
std::string recording_source(const RunOptions& opts, const InputFileSet& files) {
  if (opts.ascii && !opts.clock_in_headers) return std::string("the clock-reset file ") + files.clk;
  if (opts.ascii) return std::string("the header lines of ") + files.ts_path;
  return std::string("the header of ") + files.ts_path;
}

// Seconds after the reference time with enough decimals to tell one sample
// from the next (at least milliseconds).
std::string seconds_after_reference(double t, float dt) {
  int decimals = 3;
  if (dt > 0 && std::isfinite(dt)) decimals = std::min(9, std::max(3, -static_cast<int>(std::floor(std::log10(dt)))));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, t);
  return buf;
}

void warn_empty_level(const RunSetup& st, const WindowsKept& kept, const RunProgress& p, int lev, LoopEnd end,
                      Console& con) {
  const LevelSetup& ls = st.setup.lev[lev];
  const std::string level = std::to_string(lev);
  std::string msg = std::string("qel_vort: warning: level ") + level + " stored no window: its window is " +
                    std::to_string(ls.nwin) + " samples of " + Console::num(st.dr[lev]) + " s = " +
                    fmt_g(double(ls.nwin) * double(st.dr[lev]), 7) + " s";
  const std::string data = std::to_string(p.samples) + " samples of " + Console::num(st.sp.dt) + " s";
  const std::string span = fmt_g(double(p.samples) * double(st.sp.dt), 7) + " s";
  if (p.samples == 0) {
    msg += ", and no sample was processed (the data end in the first block read)";
  } else if (end == LoopEnd::set_limit) {
    msg += std::string(", and the set limit of ") + std::to_string(st.max_sets) + " windows was reached after " + span +
           " of data (" + data + ")";
  } else if (double(ls.nwin) * double(st.setup.lev[1].decfac) * double(cumulative_factor(st.setup, lev)) >
             double(p.samples)) {
    msg += std::string(", longer than the ") + span + " of data processed (" + data + ")";
  } else {
    msg += std::string(", and the data processed span ") + span + " (" + data + "); ";
    if (kept.level_rejected[lev] > 0)
      msg += std::string("all ") + std::to_string(kept.level_rejected[lev]) +
             " of its windows were rejected (the \"bad\" lines of level " + level + ")";
    else if (end == LoopEnd::bad_mark)
      msg += "processing stopped at the wrong time mark before its first window";
    else
      msg += "the data end before its first window on the time grid is complete (with the extra samples that "
             "pre-whitening and missing-sample repair need)";
  }
  con.err() << msg << '\n';
}

std::string run_end(LoopEnd end, int set_limit) {
  const std::string limit = std::to_string(set_limit);
  switch (end) {
    case LoopEnd::set_limit:
      return std::string("set limit of ") + limit + " windows reached: processing stopped there";
    case LoopEnd::bad_mark:
      if (set_limit == no_set_limit) return "stopped at an excess record or wrong time mark";
      return std::string("stopped at an excess record or wrong time mark, set limit (") + limit + ") not reached";
    default:
      if (set_limit == no_set_limit) return "whole recording processed";
      return std::string("set limit (") + limit + ") not reached";
  }
}

}  // namespace

void warn_interval_mismatch(const SystemParameters& sp, const Acquisition& acq, const RunOptions& opts,
                            const InputFileSet& files, Console& con) {
  if (!intervals_differ(sp.dt, acq.dr)) return;
  const double run_dt = sp.dt, rec_dt = acq.dr;
  con.err() << "qel_vort: warning: the sample interval of the system parameter file " << sp.source << ", "
            << Console::num(sp.dt) << " s (" << fmt_g(1.0 / run_dt, 7) << " Hz), differs from the recording's, "
            << Console::num(acq.dr) << " s (" << fmt_g(1.0 / rec_dt, 7) << " Hz) in " << recording_source(opts, files)
            << ", by a factor of " << fmt_g(run_dt / rec_dt, 6) << "; the run uses the system parameter file's "
            << Console::num(sp.dt) << " s for every frequency, response, phase and bad-record time, the "
            << "recording's only to place its start on the window grid\n";
}

void warn_chirpz_levels(const RunSetup& st, Console& con) {
  for (int lev = 1; lev <= st.setup.nd; ++lev) {
    const LevelSetup& ls = st.setup.lev[lev];
    if (ls.nfreq < 1 || !uses_chirpz(st.fft[lev])) continue;
    const SmoothLengths near = nearest_smooth_lengths(ls.nwin);
    con.err() << "qel_vort: warning: level " << lev << ": window length " << ls.nwin
              << " has the largest prime factor " << largest_prime_factor(st.fft[lev])
              << ", too large for the mixed-radix FFT: its windows are transformed by the chirp-z method, equal to "
              << "rounding but not bit for bit; " << near.below << " and " << near.above
              << ", the nearest lengths with factors 2, 3 and 5 only, are much faster and exact with the mixed-radix "
              << "FFT\n";
  }
}

void report_run_end(const RunSetup& st, const WindowsKept& kept, const RunProgress& p, const Acquisition& acq,
                    LoopEnd end, Console& con) {
  std::string levels;
  for (int lev = 1; lev <= st.setup.nd; ++lev) {
    if (st.setup.lev[lev].nfreq < 1) continue;  // never cut into windows
    if (kept.level_sets[lev] == 0) warn_empty_level(st, kept, p, lev, end, con);
    levels += std::string(" ") + std::to_string(lev) + ":" + std::to_string(kept.level_sets[lev]);
  }
  std::string line = "qel_vort: summary: ";
  if (p.samples > 0) {
    // Samples are numbered from the first one read (0, or 1 for NIMS
    // recordings), and the start time refers to that first one.
    const double start = static_cast<double>(st.grid.start.time_int) * 1.0e-6;  // as the grid counts it
    const double steps = double(p.last_index - p.first_index);
    line += std::string("samples ") + seconds_after_reference(start, st.sp.dt) + " s to " +
            seconds_after_reference(start + steps * double(st.sp.dt), st.sp.dt) + " s after the reference time";
    // The run's times follow the system parameter file; say where the
    // recording's own interval puts the last sample when the two differ.
    if (intervals_differ(st.sp.dt, acq.dr))
      line += std::string(" (") + seconds_after_reference(start + steps * double(acq.dr), acq.dr) +
              " s at the recording's sample interval of " + Console::num(acq.dr) + " s)";
    line += std::string(", ") + std::to_string(p.samples) + " samples processed";
  } else {
    line += "no samples processed (the data end in the first block read)";
  }
  line += levels.empty() ? ", no level is cut into windows" : std::string(", windows stored per level") + levels;
  line += std::string(", ") + run_end(end, st.max_sets);
  con.err() << line << '\n';
}

}  // namespace qv
