// The processing loop of a run: blocks of samples through the decimation
// cascade, and every window that becomes available through the window steps
// to the output store.
#pragma once

#include <cstdint>

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
// data. Every accepted window is stored and added to the amplitude sums; with
// st.threads 2 the windows are transformed and stored on a second thread
// (process_blocks_two_threads), with the same result and console lines.
LoopOutcome process_blocks(const RunSetup& st, RunWork& work, BlockReader& reader, Console& con);

// Where the loop sends the windows as they become available.
class WindowSink {
 public:
  virtual ~WindowSink() = default;
  // The next window of level lev; true when the run's set limit is reached.
  virtual bool take(int lev) = 0;
  // Windows accepted so far (for the progress line).
  virtual std::int64_t stored() const = 0;
};

// The stretch and block loop of process_blocks, with the windows going to sink.
LoopOutcome run_blocks(const RunSetup& st, BlockWork& input, Cascade& cascade, RunProgress& progress, BlockReader& reader,
                       WindowSink& sink, Console& con);

// Brings the next block in: reads it, turns a text reader's end of data into
// "process this last block" (end_seen is set), removes the offsets of real
// samples (taking new ones at the start of a stretch) and, while the
// powerline filter is on, filters them. Returns the block status.
int next_block(const RunSetup& st, BlockWork& in, BlockReader& reader, bool& end_seen, Console& con);

// What cutting a window decided: its grid number, where it lay, and whether
// it goes on to the transform.
struct WindowVerdict {
  ExtractedWindow cut{};
  int number = 0;
  bool accepted = false;
};

// The first window steps for the next window of level lev: extraction from
// the cascade into x, its grid number, and for a window that is not usable or
// touches the first bad-record list the "bad" line and the rejection count.
WindowVerdict cut_window(const RunSetup& st, Cascade& cascade, const WindowArray& x, WindowsKept& kept, int lev,
                         Console& con);

// The rest for an accepted window in x: preparation, transform, corrections,
// storing and the counts in kept. ww holds the scratch of the steps.
void keep_window(const RunSetup& st, WindowWork& ww, WindowsKept& kept, int lev, const WindowVerdict& v,
                 const WindowArray& x);

// True, after the lines that say so, when nsets windows reach the set limit.
bool set_limit_reached(const RunSetup& st, std::int64_t nsets, Console& con);

// The window steps for the next window of level lev: extraction from the
// cascade, rejection or preparation in the scratch arrays, transform,
// corrections, storing in kept. Returns true when the window filled the last
// free set.
bool process_window(const RunSetup& st, Cascade& cascade, WindowWork& ww, WindowsKept& kept, int lev, Console& con);

}  // namespace qv
