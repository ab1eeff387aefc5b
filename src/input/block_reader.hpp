// The block reader of a run: one interface over every time-series format, chosen
// once from the command-line options, so the block loop of the driver is the
// same for all formats (and can be driven by a scripted reader in tests).
#pragma once

#include <cstdint>

#include "common/sample_block.hpp"

namespace qv {

// How much of the recording a reader has read, in a unit of its own (bytes,
// words): done of whole; whole = 0 when the length is not known.
struct ReadExtent {
  std::int64_t done = 0;
  std::int64_t whole = 0;
};

// Block statuses (ierr) as the driver sees them.
enum : int {
  block_more = 0,       // more data follow
  block_end = -1,       // end of data met during this read
  block_bad_mark = -2,  // excess records or a wrong time mark
  block_gap = -3,       // this block starts a new stretch of data
};

class BlockReader {
 public:
  virtual ~BlockReader() = default;
  // Reads the next block of at most 256 rows into blk (blk.npts rows) for
  // nch channels and returns its status.
  virtual int read_block(SampleBlock& blk, int nch) = 0;
  // True when the reader fills blk.real, false when it fills blk.ints.
  virtual bool real_samples() const = 0;
  // True for the text and NIMS readers: their last block comes with status -1
  // and still holds samples that must be processed. The binary QEL reader ends
  // with an empty block instead.
  virtual bool last_block_has_data() const = 0;
  // How far through the recording the reads have come, for the progress
  // line; cheap enough to ask after every block.
  virtual ReadExtent read_extent() const { return {}; }
};

}  // namespace qv
