// Reading a recording to its end through a block reader, with the promises
// every reader makes about its blocks.
#pragma once

#include <cstdint>
#include <string>

#include "common/sample_block.hpp"
#include "fuzz/harnesses/support.hpp"
#include "input/block_reader.hpp"

namespace qv::fuzz {

// Reads blocks until a status other than "more data": each block holds 0 to
// 256 rows, a block with more data to follow is full, and the rows are
// numbered on, one input sample apart, from `first` across the blocks.
// Returns the rows delivered.
inline std::int64_t read_to_end(BlockReader& reader, int nch, std::int64_t first) {
  SampleBlock blk;
  std::int64_t next = first;
  for (;;) {
    const int status = reader.read_block(blk, nch);
    if (blk.npts < 0 || blk.npts > nblk || (status == block_more && blk.npts != nblk))
      finding("a block of " + std::to_string(blk.npts) + " rows with status " + std::to_string(status));
    for (int r = 0; r < blk.npts; ++r, ++next)
      if (blk.index[static_cast<std::size_t>(r)] != next)
        finding("row " + std::to_string(r) + " numbered " + std::to_string(blk.index[static_cast<std::size_t>(r)]) +
                ", expected " + std::to_string(next));
    if (status != block_more) return next - first;
  }
}

}  // namespace qv::fuzz
