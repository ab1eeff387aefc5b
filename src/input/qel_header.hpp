// Header of a QEL binary recording (the data logger's own format): packet
// size, sampling frequency, start time, enabled channels, and the station's
// position and epoch for its magnetic declination.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/console.hpp"
#include "input/acquisition.hpp"

namespace qv {

// What the block reader needs to walk through the packets of the file.
struct QelLayout {
  std::int32_t nbytes_data = 0;    // data bytes per packet
  std::int64_t nbytes_packet = 0;  // header + data bytes per packet
  int nch = 0;                     // enabled channels: samples per scan in the file
  std::array<int, 6> channels{};   // enabled channel numbers (1..6), increasing; nch of them
};

// Position and start date of the header's texts.
struct QelPosition {
  float latitude = 0;   // degrees, north positive
  float longitude = 0;  // degrees, east positive
};
struct QelDateTime {
  int hour = 0, minute = 0;
  double seconds = 0;  // as written, fractions included
  int day = 0, month = 0, year = 0;
};

// The position text (32 characters): latitude degrees in characters 1-2 and
// minutes in 3-13, longitude degrees in 16-18 and minutes in 19-30; an "S" at
// character 13 or a "W" at character 28 makes the value negative. Each minutes
// field is read up to its first character that cannot belong to a number (the
// hemisphere letter). Raises an Error naming `file` and the byte offset of a
// field that is not a number.
QelPosition qel_position(std::string_view text, const std::string& file);

// The date and time text (21 characters): hour 1-2, minute 3-4, seconds 5-10
// (three decimals implied without a point), day 12-13, month 15-16, year
// 18-21. Raises an Error naming `file` and the byte offset for a field that is
// not a number or a date or time that cannot exist.
QelDateTime qel_date_time(std::string_view text, const std::string& file);

// Day number of the start day, counted from an origin that depends on the
// sampling frequency: 1 January of the start year up to 1000 Hz, the first day
// of the previous month below 40000 Hz, the start day itself above.
int qel_day_number(const QelDateTime& d, float sampfreq);

// rdhdrQEL: reads the first packet header of the open file and fills acq
// (nch, dr, sampfreq, time_int, msval, the station fix) and the packet
// layout, with the console lines of the header. A file shorter than a header
// is said on the console and raises an UnreadableRecording. Raises an Error naming
// the file and byte offset for a header that cannot describe a recording: a
// time-stamp divisor that is not a finite non-zero number, a sampling
// frequency of 0 or less, no enabled channel, an impossible date, packets too
// small for one block of samples.
void rdhdrQEL(std::FILE* f, const std::string& name, Acquisition& acq, QelLayout& layout, Console& con);

}  // namespace qv
