// The metadata file of a run, "<Fourier-coefficient file>.json": what the
// coefficient file does not say and what every step after it needs: when
// each window's coefficients refer to (UTC), in which units, from which
// channels and lines, and how the run was made. docs/fc-file.md describes
// it key by key; the coefficient file itself is unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/run_options.hpp"
#include "driver/block_loop.hpp"
#include "driver/run_state.hpp"
#include "input/open_input.hpp"

namespace qv {

// Version of the metadata layout; a reader refuses a version it does not know.
inline constexpr int fc_metadata_version = 1;

// What the run knows of itself besides its state.
struct RunContext {
  std::vector<std::string> command_line;  // the program's name and its arguments
  std::string working_folder;             // absolute
  std::string finished_utc;               // ISO 8601
};

// The coefficient file as written: its path, size and hash (fc_hash.hpp).
struct FcFileFacts {
  std::string path;
  std::int64_t size = 0;
  std::uint64_t hash = 0;
};

// The metadata as JSON text (two-space indents, one trailing newline).
std::string run_metadata_json(const RunSetup& st, const RunWork& work, const OpenedInput& in, const RunOptions& opts,
                              const RunContext& ctx, LoopEnd end, const FcFileFacts& fc);

}  // namespace qv
