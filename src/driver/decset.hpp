// Reading the decimation and pre-whitening set-up of a run: the level tables
// come from the decimation set-up file ("decset.cfg") and the pre-whitening
// set-up file ("pwset.cfg"), read once before the first block.
#pragma once

#include <string>

#include "common/console.hpp"
#include "common/dec_setup.hpp"

namespace qv {

// Reads both set-up files into `setup` and writes the set-up messages. A
// missing file, an unreadable value, more levels than a run has, a window
// longer than window_limit, more filter coefficients than a level holds, a
// pre-whitening file for another number of levels, or a value later steps
// cannot handle raises an Error that names file, level and value (after the
// console lines the run has always written for the first four).
void cf_decset(const std::string& decset_name, const std::string& pwset_name, int window_limit, int nch,
               DecSetup& setup, Console& con);

}  // namespace qv
