// The run driver: one run over one station's recording, from the command line
// to the Fourier-coefficient file.
#pragma once

#include <string>
#include <vector>

#include "common/console.hpp"

namespace qv {

// Runs the program with the given arguments (without the program name) and
// returns the exit status: 0 when the Fourier-coefficient file was written.
// Fatal conditions raise qv::Error.
int run(const std::vector<std::string>& args, Console& con);

// The program as a whole: run(), with every failure turned into its message
// on the console's error output and exit status 1.
int run_main(const std::vector<std::string>& args, Console& con);

}  // namespace qv
