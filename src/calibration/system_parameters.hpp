// Reading the system parameter file of a station into its description
// (station, position, declination, sample interval, delay, drift, channels
// and their analog filters), with the station summary on the console.
#pragma once

#include <string>

#include "common/console.hpp"
#include "common/station_description.hpp"

namespace qv {

// Reads the system parameter file (retrying with base name + ".sp"; sp_name is
// updated to the name that opened) and writes the station summary.
SystemParameters GETSP(std::string& sp_name, float reference_declination, Console& con);

}  // namespace qv
