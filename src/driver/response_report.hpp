// The response program: prints the response table of a station without
// processing its recording, so that a user can check that each sensor's
// calibration is what they meant before processing a survey. It reads the
// station folder as a run does (paths file, system parameter file, set-up
// files, sensor folder).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "common/console.hpp"

namespace qv {

// "response_table [-f:]NAME", run in the station's folder, NAME the
// time-series file name (it gives the base name of the station's files; the
// recording itself is not read). Writes one CSV line per channel, level and
// frequency index to csv: channel, identifier, level, frequency index,
// frequency (Hz), amplitude and phase (degrees) of the calibration factor,
// then code, amplitude and phase of g H(f) of each of the channel's filters.
// Console lines (the station summary, prompts, messages) go to con. Returns
// 0, or 1 after a message on con's error output.
int response_report_main(const std::vector<std::string>& args, std::ostream& csv, Console& con);

}  // namespace qv
