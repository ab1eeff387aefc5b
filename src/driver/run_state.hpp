// The run-wide state the driver owns: set-up values, the level tables and
// every array the processing steps work on, allocated once at set-up.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "calibration/response_table.hpp"
#include "calibration/system_parameters.hpp"
#include "common/limits.hpp"
#include "common/sample_block.hpp"
#include "driver/decset.hpp"
#include "driver/window_schedule.hpp"
#include "dsp/amplitude.hpp"
#include "dsp/decimation.hpp"
#include "dsp/fft.hpp"
#include "dsp/prewhiten.hpp"
#include "output/output_store.hpp"

namespace qv {

struct RunState {
  // Set-up values.
  int nch = 0;              // channels processed (1..6)
  int reader_nch = 0;       // channels handed to the block reader (may be one more than nch)
  float threshold = 2147473664.0f;  // missing-value threshold
  DecSetup setup;
  std::array<float, ndmx + 1> dr{};  // sample interval of each level, seconds
  int nfmx = 0;                       // largest nfreq over the levels, 0 if none is positive
  GridAlignment grid;                 // first window numbers and the grid residual (input samples)
  float grid_residual_s = 0;          // the grid residual in seconds
  SystemParameters sp;

  // Arrays, allocated by allocate_run_arrays.
  SampleBlock block;
  Cascade cascade;
  std::vector<float> window;  // channel fastest, leading dimension 6
  std::array<FftPlan, ndmx + 1> fft;
  FftWork fft_work;
  std::array<std::vector<float>, ndmx + 1> taper;
  std::array<bool, ndmx + 1> taper_flag{};
  PwFilters pw_filters;
  PwWork pw_work;
  ResponseTable response;
  AmplitudeSums amplitudes;
  OutputStore store;
  std::vector<SetRecord> sets;  // one record per stored window, at most NSMAX

  // Counters.
  std::array<int, ndmx + 1> level_sets{};  // accepted windows per level
  int nsets = 0;                            // accepted windows over all levels
};

// Sizes every array from the run's set-up (levels, window lengths, channels,
// nfmx); the compile-time limits are the maxima. Runs once, after the set-up
// files have been read.
void allocate_run_arrays(RunState& st);

}  // namespace qv
