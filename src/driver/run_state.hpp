// The run-wide state the driver owns, in two parts: the run's set-up, made
// once by prepare_run and read by every step after it (channels, level
// tables, grid, station description, response and phase tables, transform
// plans, tapers, limits), and the working state that only the processing
// loops change (the block, the cascade, the window arrays, what is kept of
// the windows, progress). Every array of either is allocated at set-up.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "calibration/phase_shift.hpp"
#include "calibration/response_table.hpp"
#include "calibration/system_parameters.hpp"
#include "common/limits.hpp"
#include "common/run_options.hpp"
#include "common/sample_block.hpp"
#include "common/console.hpp"
#include "common/dec_setup.hpp"
#include "common/window_array.hpp"
#include "driver/bad_records.hpp"
#include "driver/progress.hpp"
#include "driver/window_ring.hpp"
#include "driver/window_schedule.hpp"
#include "dsp/amplitude.hpp"
#include "dsp/block_offset.hpp"
#include "dsp/decimation.hpp"
#include "dsp/fft.hpp"
#include "dsp/powerline.hpp"
#include "dsp/prewhiten.hpp"
#include "output/output_store.hpp"

namespace qv {

// What the run is set up to do; fixed once prepare_run returns.
struct RunSetup {
  int nch = 0;              // channels processed (1..6)
  int reader_nch = 0;       // channels handed to the block reader (may be one more than nch)
  float threshold = 2147473664.0f;  // missing-value threshold
  DecSetup setup;
  std::array<float, ndmx + 1> dr{};  // sample interval of each level, seconds
  int nfmx = 0;                       // largest nfreq over the levels, 0 if none is positive
  BadRecords bad;                     // stretches not to use (list 1) or to report (list 2)
  GridAlignment grid;                 // first window numbers and the grid residual (input samples)
  float grid_residual_s = 0;          // the grid residual in seconds
  SystemParameters sp;
  float powerline_hz = 60.0f;         // powerline fundamental
  ResponseTable response;
  std::array<FftPlan, ndmx + 1> fft;
  std::array<std::vector<float>, ndmx + 1> taper;  // the taper weights of every level cut into windows
  // What every window of a level shares, worked out once: the phase factors
  // of the pre-whitening response (pw_phase_table; empty for a table too
  // large to keep, then formed per window) and of the grid shift.
  std::array<std::vector<std::complex<float>>, ndmx + 1> pw_phases;
  std::array<PhaseFactors, ndmx + 1> grid_phases;
  int max_sets = no_set_limit;  // windows stored before processing stops (no_set_limit: none)
  std::int64_t spill_budget = spill_budget_default;  // bytes of coefficients kept in memory
  std::string spill_path;  // the temporary file beside the output that takes the rest
  int threads = 1;         // 2: windows are transformed and stored on a second thread
};

// The block being processed and the corrections of its samples, as the
// block reading step leaves them.
struct BlockWork {
  SampleBlock block;
  ChannelOffsets offsets;  // of real-valued input, per stretch
  PowerlineFit powerline;  // the fit of the powerline filter, kept while the segment length holds
  bool powerline_active = true;       // until a block cannot be filtered
  bool powerline_announced = false;   // the first filtered block writes "FILTERING"
};

// The scratch of the window steps, reused by every window.
struct WindowWork {
  std::vector<float> window;  // channel fastest, leading dimension 6
  FftWork fft_work;
  PwFilters pw_filters;
  PwWork pw_work;
};

// What the run keeps of its windows: the coefficients, their amplitude sums
// and the counts the reports and the metadata give.
struct WindowsKept {
  AmplitudeSums amplitudes;
  OutputStore store;
  std::array<int, ndmx + 1> level_sets{};  // accepted windows per level
  std::array<int, ndmx + 1> level_first_number{}, level_last_number{};  // their first and last window numbers
  std::array<int, ndmx + 1> list2_sets{};  // of those, the windows touching the second bad-record list
  std::array<int, ndmx + 1> level_rejected{};  // windows rejected per level (the "bad" lines)
  std::int64_t nsets = 0;                   // accepted windows over all levels
};

// Everything the processing loops change.
struct RunWork {
  BlockWork input;
  Cascade cascade;
  WindowWork scratch;
  WindowsKept kept;
  RunProgress progress;  // samples processed, and the progress line on a terminal
  WindowRing ring;       // windows between the two threads (threads 2 only)
};

// Everything between reading the set-up files and the first block, once per
// run, from nch, the level tables and the system parameters in st: nfmx and
// the sample interval of every level; every array of st and work, sized from
// the run's set-up (levels, window lengths, channels, nfmx) with the
// compile-time limits as maxima, the output store within st.spill_budget;
// the response table; the bad-record lists; the window grid of every level
// (start-time report on the error output); the "TIME_INTERVAL (sec)" line;
// the FFT plan, taper and phase tables of every level. start is the start of
// the data in microseconds after the reference time, as the header reader
// counted it and exactly (settle_start_sample chooses), sampfreq the input
// rate in hertz, sensor_dir the folder of the instrument response files,
// bad_name the bad-record file (which need not exist).
void prepare_run(RunSetup& st, RunWork& work, const StartTime& start, float sampfreq, const std::string& sensor_dir,
                 const std::string& bad_name, Console& con);

// The window array of nch channels as the window steps see it.
WindowArray window_array(WindowWork& ww, int nch);

}  // namespace qv
