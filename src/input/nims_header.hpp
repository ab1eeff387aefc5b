// Header of a NIMS binary recording (option -B): five channels of 32-bit
// integers after a header of little-endian 32-bit words, either as single
// words (word layout) or in records of 256 scans (record layout).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/console.hpp"
#include "input/acquisition.hpp"

namespace qv::nims {

inline constexpr int channels = 5;
inline constexpr std::int32_t record_marker = 5108;  // word 1 of the record layout: 5 x 1024 - 12
inline constexpr int record_words = channels * 256;  // one record: 256 scans of 5 words (5120 bytes)

}  // namespace qv::nims

namespace qv {

// Where the samples lie and how far the reader has come.
struct NimsLayout {
  int irecl = 1;              // record length in words: 1 (word layout) or 1280 (record layout)
  std::int64_t irec = 0;      // last word (word layout) or record (record layout) read
  std::int64_t itf = 1;       // sample number of the next scan
  std::int64_t file_words = 0;  // whole words in the file
};

// mk_off: reads the header of the open file and fills acq (nch = 5, dr,
// sampfreq, time_int from the start and reference times as the text headers
// count them, msval and its threshold) and the layout, with the console lines
// of the header: "nscans = ", "msval = ", "ngaps = " and every gap entry. A
// file whose first word cannot be read is said on the console and raises an
// UnreadableRecording. Raises an Error naming the file and the word for a
// sample interval that is not finite and positive, an impossible date, or
// more gap entries than the file holds.
void mk_off(std::FILE* f, const std::string& name, Acquisition& acq, NimsLayout& layout, Console& con);

}  // namespace qv
