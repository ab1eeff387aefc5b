// What a run tells its user on the error output beyond the console lines of
// the processing: warnings about set-ups that run through but give results
// the user most likely did not mean, and the one summary line of a run that
// wrote its Fourier-coefficient file. None of them changes a result.
// Every line begins with "qel_vort: warning: " or "qel_vort: summary: ".
#pragma once

#include <cstdint>
#include <string>

#include "common/console.hpp"
#include "common/run_options.hpp"
#include "common/station_description.hpp"
#include "driver/block_loop.hpp"
#include "driver/run_state.hpp"
#include "input/acquisition.hpp"
#include "input/open_input.hpp"

namespace qv {

// Warns when the sample interval of the system parameter file and the
// recording's (its header, or the clock-reset file of -a and -ka) differ by
// more than the rounding of a value written with six significant digits.
// The run takes every frequency, response and phase from the system
// parameter file's interval; the recording's only places its start on the
// window grid, so a wrong value shifts every frequency by their ratio.
void warn_interval_mismatch(const SystemParameters& sp, const Acquisition& acq, const RunOptions& opts,
                            const InputFileSet& files, Console& con);

// Warns, once at set-up for every level cut into windows (nfreq > 0) whose
// window length has a prime factor too large for the mixed-radix FFT, that
// its windows go through the chirp-z transform instead: the level, nwin, its
// largest prime factor and the nearest lengths with factors 2, 3 and 5 only.
void warn_chirpz_levels(const RunSetup& st, Console& con);

// The end of a run that wrote its file: a warning for every level cut into
// windows (nfreq > 0) that stored none, with its window length beside the
// length of the data and the reason, then the summary line: the span of the
// samples processed in seconds after the reference time (from the start time
// of acq, at the run's sample interval, and at the recording's as well when
// the two differ), the number of samples processed, the windows stored per
// level and whether the set limit (st.max_sets windows) or a wrong time mark
// ended the run.
void report_run_end(const RunSetup& st, const WindowsKept& kept, const RunProgress& p, const Acquisition& acq,
                    LoopEnd end, Console& con);

}  // namespace qv
