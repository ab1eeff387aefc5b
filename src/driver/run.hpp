// The run driver: one run over one station's recording, from the command line
// to the Fourier-coefficient file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "output/output_store.hpp"

namespace qv {

// Runs the program with the given arguments (without the program name) and
// returns the exit status: 0 when the Fourier-coefficient file was written.
// Fatal conditions raise qv::Error. spill_budget is the memory (bytes) the
// run's coefficients may take before they move to a temporary file beside
// the output; the file is the same whatever it is.
int run(const std::vector<std::string>& args, Console& con, std::int64_t spill_budget = spill_budget_default);

// The program as a whole: run(), with every failure turned into its message
// on the console's error output and exit status 1.
int run_main(const std::vector<std::string>& args, Console& con);

}  // namespace qv
