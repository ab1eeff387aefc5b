// The command line of a run and the lines the program announces itself with:
// the banner and the input-format announcement.
#pragma once

#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/run_options.hpp"

namespace qv {

// Applies the options left to right; a later option overwrites what an earlier
// one set; arguments that match no option are ignored, each with a warning
// on the error output that names it (and, where it helps, what was meant).
// "-b" with a non-digit, "-p:" with a text that is not a number and
// "--max-sets" without "=" and a whole number from 1 up and "--threads"
// without "=1" or "=2" raise an Error. Without "--threads" a run takes two
// threads when the machine has two processors (QV_THREADS=1 or 2 overrides).
RunOptions parse_options(const std::vector<std::string>& args, Console& con);

// The seven banner lines.
void write_banner(Console& con);

// The input-format announcement for the chosen options.
void announce_format(const RunOptions& opts, Console& con);

}  // namespace qv
