// What qel_vort tells about itself without running: the usage text of
// "-h" / "--help" (the version line of "--version" is every program's, see
// common/program_entry.hpp). Neither option clashes with the options of a
// run, which all begin with a single "-" and one of b a A N B f: KA ka sp SP p:.
#pragma once

#include "common/program_entry.hpp"

namespace qv {

// qel_vort's name and usage text: input formats and their options, every
// option, the files of a station's folder, the exit status.
extern const ProgramInfo kQelVortInfo;

}  // namespace qv
