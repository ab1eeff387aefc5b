// The processing loop on two threads. This thread reads the blocks, filters
// them and runs the decimation cascade, cuts the windows and rejects the bad
// ones; a second thread prepares, transforms, corrects and stores the
// accepted ones, in the order they were cut, taking them from the run's ring
// of window slots. The result is that of process_blocks on one thread, byte
// for byte, and so are the console lines: those said here wait with the next
// window and are written by the second thread before it stores that window.
// A failure on either thread ends the run with the first failure in the
// order of processing, after the lines said before it.
#pragma once

#include "common/console.hpp"
#include "driver/block_loop.hpp"
#include "driver/run_state.hpp"
#include "input/block_reader.hpp"

namespace qv {

// process_blocks with work.ring (allocated at set-up) between the two threads.
LoopOutcome process_blocks_two_threads(const RunSetup& st, RunWork& work, BlockReader& reader, Console& con);

}  // namespace qv
