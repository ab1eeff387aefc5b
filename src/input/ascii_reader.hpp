// Readers of the two text layouts of a station's time series: the generic
// ASCII table (timing from three header lines or from the ".clk" clock-reset
// file) and the ASCII NIMS table (timing from the last three "#" lines before
// the samples). The header readers run once after the file is opened; the
// block reader then delivers the samples, up to 256 rows per call, numbered
// from 0 in input samples across calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/console.hpp"
#include "common/text_reader.hpp"
#include "input/acquisition.hpp"
#include "input/block_reader.hpp"

namespace qv {

// Number of values on a sample line: 1 + the places between its first and
// last non-blank character where a blank or tab is followed by a non-blank.
int count_fields(std::string_view line);

// Generic ASCII header (rdhdrASCII): the sample interval dr (seconds), the
// start time and the reference time, from the first three lines of `data`
// when clock_in_headers is set, else from the clock-reset file `clk_name`.
// Fills acq.dr, acq.sampfreq, acq.time_int and acq.nch (fields on the first
// data line) and leaves `data` at the first data line. Raises an Error naming
// the file and line for a missing file, missing or malformed header values,
// or a file without samples.
void rdhdrASCII(TextReader& data, bool clock_in_headers, const std::string& clk_name, Acquisition& acq,
                Console& con);

// ASCII NIMS header (rdhdrNIMSASCII): of the "#" lines before the samples the
// last three hold dr (seconds), the start time and the reference time in
// their characters 2 to 50. Same results and errors as rdhdrASCII.
void rdhdrNIMSASCII(TextReader& data, Acquisition& acq, Console& con);

// Block reader of both text layouts: rdblkASCIIreal into blk.real (real
// samples) or rdblkASCIIint into blk.ints (integer samples, where 44444444
// marks a missing sample and becomes the run's missing-value marker
// 2147483647). A row takes the next nch free-format values, continuing onto
// following lines when a line holds fewer. The end of the file ends a block
// with status -1 (blk.npts = rows completed).
//
// A sample line with fewer values than channels is read on as the free format
// says, but in a recording of one line per sample it usually means a damaged
// line, and every later sample is shifted by it. The first such line is named
// at the console as it is met, and their number when the end of the file is
// reached.
class AsciiBlockReader final : public BlockReader {
 public:
  // `data` must stand at the first data line, as the header readers leave it;
  // warnings go to con.
  AsciiBlockReader(TextReader data, bool real_numbers, Console& con);

  int read_block(SampleBlock& blk, int nch) override;
  bool real_samples() const override { return real_; }
  bool last_block_has_data() const override { return true; }
  ReadExtent read_extent() const override { return {data_.offset(), data_.size()}; }

 private:
  int rdblkASCIIreal(SampleBlock& blk, int nch);
  int rdblkASCIIint(SampleBlock& blk, int nch);
  template <class T>
  int read_rows(SampleBlock& blk, T* values, int nch);
  [[noreturn]] void bad_value(std::string_view tok, int channel, bool real) const;
  void short_line(std::int64_t line, int values, int nch);
  void report_short_lines(int nch);

  TextReader data_;
  bool real_;
  Console* con_;
  std::int64_t counter_ = 0;      // sample number of the next row
  std::int64_t short_lines_ = 0;  // lines whose sample went on to the next line
  bool short_lines_reported_ = false;
};

}  // namespace qv
