// Reading the decimation and pre-whitening set-up of a run: the level tables
// come from the decimation set-up file ("decset.cfg") and the pre-whitening
// set-up file ("pwset.cfg"), read once before the first block.
#pragma once

#include <string>

#include "common/console.hpp"
#include "common/dec_setup.hpp"

namespace qv {

// Status of cf_decset, as the run reports it.
enum : int {
  decset_ok = 0,
  decset_too_many_levels = 1,     // nd > ndmx
  decset_level_too_large = -1,    // nwin > window limit or nfc > nfcmx
  decset_pw_level_mismatch = -2,  // level count of the pre-whitening file differs from nd
};

// Reads both set-up files into `setup` and writes the set-up messages.
// Returns the status above. A missing file, an unreadable value, or a value
// later steps cannot handle raises an Error that names file, level and value.
int cf_decset(const std::string& decset_name, const std::string& pwset_name, int window_limit, int nch,
              DecSetup& setup, Console& con);

}  // namespace qv
