// The processing loop of a run: blocks of samples through the decimation
// cascade, and every window that becomes available through the window steps
// to the output store.
#pragma once

#include "common/console.hpp"
#include "driver/run_state.hpp"
#include "input/block_reader.hpp"

namespace qv {

// Why processing ended.
enum class LoopEnd {
  end_of_data,   // the reader reported the end (or an empty block)
  bad_mark,      // status -2: excess records or a wrong time mark
  set_limit,     // the set limit of the run reached
  other_status,  // any other status
};

struct LoopOutcome {
  LoopEnd end;
  int status;  // status of the last block read
};

// Reads the first block and runs the stretch and block loop to the end of the
// data. Every accepted window is stored and added to the amplitude sums.
LoopOutcome process_blocks(const RunSetup& st, RunWork& work, BlockReader& reader, Console& con);

// Brings the next block in: reads it, turns a text reader's end of data into
// "process this last block" (end_seen is set), removes the offsets of real
// samples (taking new ones at the start of a stretch) and, while the
// powerline filter is on, filters them. Returns the block status.
int next_block(const RunSetup& st, BlockWork& in, BlockReader& reader, bool& end_seen, Console& con);

// The window steps for the next window of level lev: extraction from the
// cascade, rejection or preparation in the scratch arrays, transform,
// corrections, storing in kept. Returns true when the window filled the last
// free set.
bool process_window(const RunSetup& st, Cascade& cascade, WindowWork& ww, WindowsKept& kept, int lev, Console& con);

}  // namespace qv
