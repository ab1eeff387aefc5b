// The analog filters and instrument responses listed for a channel in the
// system parameter file: each one's parameter line read by its type, the
// pole-zero description or response table it names loaded from the sensor
// folder, and its response at any frequency. The response builder divides
// the channel's calibration factors by these responses.
#pragma once

#include <complex>
#include <string>

#include "calibration/filter_response.hpp"
#include "calibration/pole_zero.hpp"
#include "calibration/response_file.hpp"
#include "common/console.hpp"
#include "common/station_description.hpp"

namespace qv {

// One filter of a channel, ready to be evaluated. Reused from one filter to
// the next, so its pole-zero and table buffers are reserved once.
struct ChannelFilter {
  int type = ft_unknown;
  float g = 1;        // gain of the closed forms (h1, l1, h2, l2, bc); 1 for the others
  float p1 = 0;       // corner period or averaging length (s); for DT the delay (s)
  float p2 = 0;       // damping or delay (s)
  int group = 1;      // table column group i (1..3) and pair j (1..4), TE only
  int pair = 1;
  std::string file;   // pole-zero or table file named by the line, joined with the sensor folder
  bool left_out = false;  // a table file the user chose not to give ("none"): the filter counts as 1
  PoleZero pz;
  ResponseFile table;
};

// Where a filter stands, for messages: "system parameter file X, channel 2
// (Hy), filter 1 (pz)".
std::string filter_place(const SystemParameters& sp, int c, int j);

// Reads filter j (0-based) of channel c (0-based) of sp into f: parses its
// parameter line and loads the pole-zero file or response table it names
// from sensor_dir. Writes "PZ name" or "98-cfrsp:" with the full name of a
// file it opens, and the console dialogue of a table file that cannot be
// opened. Raises an Error naming the file, channel and filter for a line
// that cannot be read, a gain g or K of zero, a pole-zero file that cannot be
// opened ("error in open rsp-file") or read ("error in reading PZ from
// file"), and a table file the user cannot supply.
void prepare_filter(const SystemParameters& sp, int c, int j, const std::string& sensor_dir, ChannelFilter& f,
                    Console& con);

// g H(f) of a prepared filter at f hertz (double precision). False when f
// lies outside a response table (H is then not set); a left-out table gives 1.
bool channel_filter_response(const ChannelFilter& flt, float f, std::complex<double>& gH);

}  // namespace qv
