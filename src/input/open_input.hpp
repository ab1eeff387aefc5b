// Run paths and the input file set: settles the time-series file name, reads
// the paths file, forms every per-run file name, opens the time-series file
// with the reader of its format and reads its header.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/console.hpp"
#include "common/run_options.hpp"
#include "input/acquisition.hpp"
#include "input/block_reader.hpp"

namespace qv {

// Every per-run file name, as POSIX paths.
struct InputFileSet {
  std::string ts_name;     // time-series file name as given ("-f:" or the prompt)
  std::string base;        // base name: ts_name up to its first '.' or blank
  std::string ts_path;     // full time-series path (data directory + name)
  std::string clk;         // clock-reset file
  std::string sp;          // system parameter file
  std::string bad;         // bad-record file
  std::string decset;      // decimation set-up file
  std::string pwset;       // pre-whitening set-up file
  std::string fc;          // Fourier-coefficient file
  std::string sensor_dir;  // sensor directory for instrument response files
};

struct OpenedInput {
  InputFileSet files;
  Acquisition acq;
  std::unique_ptr<BlockReader> reader;
};

// Lines of the paths file: up to seven fixed fields; a missing line is empty.
using PathsLines = std::array<std::optional<std::string>, 7>;

// The paths file: "paths.cfg" in the working directory or, when it is
// missing, a name typed at the console (asked again while it cannot be
// opened); an empty answer or the end of input means none (nullopt).
std::optional<PathsLines> find_paths_file(Console& con);

// Forms every per-run file name from the time-series name, the paths-file
// lines (nullopt: no paths file) and the channel count of the header.
InputFileSet form_file_names(const std::string& ts_name, const std::optional<PathsLines>& paths, int nch);

// The whole set-up of the input (name prompt, paths file and its prompt loop,
// opening, header). Raises an Error when no time-series name can be had or a
// file cannot be read (an UnreadableRecording for a binary file that ends
// within its header).
OpenedInput open_input(const RunOptions& opts, Console& con);

}  // namespace qv
