// How far a run has come: the samples that went through the decimation
// cascade (count, first and last sample number) for the end-of-run summary,
// and, when the error output is a terminal, a progress line on it (samples
// processed and windows stored and, when the reader knows the recording's
// length, the share read and the time left) rewritten in place at most four
// times a second and cleared at the end. Logs and pipes get no progress line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>

#include <string>

#include "common/sample_block.hpp"
#include "input/block_reader.hpp"

namespace qv {

struct RunProgress;

// Clears the progress line, if one is shown; later calls do nothing.
void progress_end(RunProgress& p);

struct RunProgress {
  std::int64_t samples = 0;      // samples fed to the decimation cascade
  std::int64_t first_index = 0;  // sample number of the first of them (valid when samples > 0)
  std::int64_t last_index = 0;   // sample number of the last of them
  int set_limit = 0;             // windows a run stores at most, shown beside the count; 0: no limit
  std::ostream* terminal = nullptr;  // where the progress line goes; none when null
  ReadExtent read{};             // how far the reader has come, as of the last block
  std::chrono::steady_clock::time_point started{};
  std::chrono::steady_clock::time_point next_update{};
  std::size_t shown = 0;         // characters of the progress line now on the terminal

  RunProgress() = default;
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;
  // A run ended by an error clears its progress line before the message.
  ~RunProgress() { progress_end(*this); }
};

// True when os is the program's standard output or error stream and that is a
// terminal. String streams (tests) and files are never terminals.
bool is_terminal(const std::ostream& os);

// Starts counting. With terminal true the progress line goes to err.
void progress_start(RunProgress& p, std::ostream& err, bool terminal, int set_limit);

// Counts a block of samples as it enters the cascade; nsets is the number of
// windows stored so far, read how far the reader has come. Reads the clock
// only when a progress line is shown.
void progress_block(RunProgress& p, const SampleBlock& blk, std::int64_t nsets, ReadExtent read = {});

// Rewrites the progress line when its next update is due at now (the first
// one a quarter second after the start, then every quarter second).
void progress_update(RunProgress& p, std::int64_t nsets, std::chrono::steady_clock::time_point now);

// The end of the progress line for a recording of known length: the share
// read, whole per cent, and from the second on the time left at the rate so
// far, as ",  42 %, 1 min 10 s left"; "" when the length is not known.
std::string progress_share(ReadExtent read, double elapsed_seconds);

}  // namespace qv
