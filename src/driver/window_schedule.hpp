// Window scheduling: puts the windows of every decimation level on a fixed time
// grid counted from the time origin of the start time, so window number N of a
// level always denotes the same stretch of time; says how many windows a level
// can deliver after a block; and cuts the next window out of a level buffer,
// replacing isolated missing samples by the median of their neighbourhood.
#pragma once

#include <array>
#include <cstdint>

#include "common/console.hpp"
#include "common/dec_setup.hpp"
#include "common/limits.hpp"
#include "common/window_array.hpp"
#include "driver/start_sample.hpp"
#include "dsp/decimation.hpp"

namespace qv {

struct GridAlignment {
  std::array<int, ndmx + 1> first_window{};  // grid number of the data's first window, per level 1..nd
  float grid_residual = 0;  // level 1: rebased window offset minus its exact value, input samples
  // Per level 1..nd cut into windows, for the metadata's window times: the
  // start sample (input samples from the time origin to the first sample),
  // the window step h in input samples, and where the grid start of window
  // first_window lies, input samples after the first sample (the exact value
  // that ianchor is rounded from).
  double start_sample = 0;
  StartSample start;  // how the start sample was counted, and its exact value
  std::array<std::int64_t, ndmx + 1> step{};
  std::array<double, ndmx + 1> first_offset{};
};

// Start-time alignment, once at set-up, with the described start sample.
// time_int is the start of the data in microseconds from the reference time,
// sampfreq the input rate in hertz.
// Writes "start_samp,_int,sampfreq" with the start sample, time_int and
// sampfreq on the error output; rebases every level's ianchor to the grid
// window nearest the first sample (input samples from the first sample) and
// sets iphase to ianchor modulo decfac(1) * ... * decfac(lev).
GridAlignment align_start_time(DecSetup& s, std::int64_t time_int, float sampfreq, Console& con);

// The same from a settled start (start_sample.hpp): its microseconds and
// start sample c are reported and placed on the grid as they are.
GridAlignment align_start_time(DecSetup& s, const StartSample& start, float sampfreq, Console& con);

// Windows a level can deliver when aw samples of it are available: 0 for a
// level that is not cut into windows (nfreq <= 0).
int window_count(const LevelSetup& ls, int aw);

struct ExtractedWindow {
  int number = 0;              // window number on the level's grid (the driver adds first_window)
  std::int64_t first_mark = 0;  // absolute number of the first copied sample, input samples
  std::int64_t last_mark = 0;   // absolute number of the last copied sample (window + pre-whitening extension)
  bool usable = true;          // false when a missing sample had too many missing neighbours
  float misfit = 0;            // input samples from the first sample to the ideal grid start of the window
};

// Copies the next window of level lev (nwin + pwlen - 1 samples of every
// channel of the window array) into the array, replaces missing samples (values above
// the threshold; a value equal to it is present) by the median of their
// nspan-sample neighbourhood, and moves the level's window read pointer to the
// slot nearest the next grid start, whether or not the window is usable.
ExtractedWindow extract_window(Cascade& c, const DecSetup& s, int lev, const WindowArray& w);

}  // namespace qv
