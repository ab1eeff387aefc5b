// The description of the station and its recording system, as the system
// parameter file gives it: station name, position, declination, sample
// interval, system delay, clock drift, and per channel its identifier,
// orientation, tilt, scale factor and list of analog filters. Read once at
// set-up; the calibration builds the response table from it and the output
// writes channels, position and declination into the file header.
#pragma once

#include <array>
#include <string>

#include "common/limits.hpp"

namespace qv {

inline constexpr int nfiltmx = 4;  // filters per channel

struct ChannelDescription {
  std::string id;        // 6 characters; first 'e' or 'E' marks an electric channel
  float orient = 0;      // azimuth, degrees
  float tilt = 0;        // degrees
  float scale = 0;       // recorded counts to physical units
  float S = 0;           // counts per unit, as the system parameter file gives it
  float gain = 1;        // pre-amplifier gain G of an electric channel (1 for magnetic ones)
  float line_length_m = 0;  // electrode line length of an electric channel, metres (0 for magnetic ones)
  int nfilt = 0;         // filters in the list
  std::array<std::string, nfiltmx> fcode{};  // filter code as written, 2 characters
  std::array<int, nfiltmx> ftype{};          // type number from the filter code
  std::array<std::string, nfiltmx> fline{};  // parameter line, kept verbatim
};

struct SystemParameters {
  std::string source;    // the file the description was read from
  std::string station;   // 20 characters, leading blanks removed
  float lat = 0, lon = 0;  // degrees; negative longitude stored + 360
  float decl = 0;        // degrees
  std::string decl_source = "system parameter file";  // or the reference field model, or the console
  int nch = 0;           // channels declared in the file (6 handed back as 6)
  float dt = 0;          // sample interval, seconds
  float sysdelay = 0;    // system time delay, seconds
  float drift = 0;       // clock drift rate, seconds per second
  bool drift_flag = false;  // |drift| > 1e-20
  std::array<ChannelDescription, nchmx> ch{};
};

}  // namespace qv
