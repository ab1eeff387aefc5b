// Stretches of a station's recording that must not be used (instrument
// faults, cultural noise, a vehicle passing): the bad-record file lists them,
// bdecsu turns them once at set-up into intervals of time marks by decimation
// level, and bad_record_clean tells during processing whether a window may be
// used. Time marks are absolute input-sample numbers, counted on the grid of
// decimation level 1 from the start of the data.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/console.hpp"
#include "common/limits.hpp"

namespace qv {

// One stretch to leave out, as the time marks of its first and last input
// sample (both inclusive).
struct BadInterval {
  std::int64_t first = 0, last = 0;
};

// Intervals by decimation level, in the order of the bad-record file. Level 0
// holds the intervals that apply to every level.
struct BadRecordList {
  std::array<int, ndmx + 1> count{};
  std::array<std::array<BadInterval, nbadcap>, ndmx + 1> interval{};
};

// The two lists of a run (the file's interval codes select one of them) and
// the offset in time marks that was added to every interval.
struct BadRecords {
  BadRecordList list1, list2;
  std::int64_t ioff = 0;
};

// Reads the bad-record file at path into out and writes its set-up lines on
// the console. nd: decimation levels of the run (1..ndmx); dr1: sample
// interval of level 1 (seconds); time_int: start of the data (microseconds
// after the reference time the file's boundaries count from). A file that
// does not exist leaves both lists empty: all data are used. A folder, an
// unreadable file or a malformed entry raises an Error naming file and line.
void bdecsu(const std::string& path, int nd, float dr1, std::int64_t time_int, BadRecords& out, Console& con);

// True when the window of time marks [first, last] overlaps no interval of
// level 0 and none of level lev (boundaries inclusive). Levels outside
// 1..ndmx have no intervals of their own.
bool bad_record_clean(const BadRecordList& list, int lev, std::int64_t first, std::int64_t last);

}  // namespace qv
