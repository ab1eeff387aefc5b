// Block reader of QEL binary recordings: 256 scans per call from the data
// parts of the packets, as real samples numbered from 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "input/block_reader.hpp"
#include "input/qel_header.hpp"

namespace qv {

// rdblkQEL. Blocks are taken in order through each packet's data part; the
// header of every packet after the first is stepped over. A scan holds one
// 24-bit big-endian sample of each enabled channel; the first nch of them are
// delivered (five of six). The data end at the first block that is not whole
// in the file: that read delivers no rows and returns status -1, with the two
// end lines on the console. The file is read in runs of whole blocks inside
// a packet (up to about a megabyte at a time), so reading costs little beside
// decoding. The reader owns the file and closes it.
class QelBlockReader final : public BlockReader {
 public:
  QelBlockReader(std::FILE* f, std::string name, const QelLayout& layout, Console& con);
  ~QelBlockReader() override;
  QelBlockReader(const QelBlockReader&) = delete;
  QelBlockReader& operator=(const QelBlockReader&) = delete;

  int read_block(SampleBlock& blk, int nch) override;
  bool real_samples() const override { return true; }
  bool last_block_has_data() const override { return false; }
  // Bytes up to the next block, of the file's size.
  ReadExtent read_extent() const override { return {block_offset(block_), file_bytes_}; }

  // Byte offset of block b (0-based) in the file.
  std::int64_t block_offset(std::int64_t b) const;

 private:
  std::FILE* file_;
  std::string name_;
  QelLayout layout_;
  Console& con_;
  std::int64_t file_bytes_;         // size of the file
  std::int64_t block_bytes_;        // nch x 768
  std::int64_t blocks_per_packet_;
  std::int64_t blocks_per_run_;    // blocks read at a time
  std::int64_t block_ = 0;         // blocks requested so far
  std::int64_t sample_ = 0;        // number of the next scan delivered
  std::int64_t run_first_ = -1;    // first block held in bytes_ (-1: none yet)
  std::int64_t run_wanted_ = 0;    // blocks the last read asked for
  std::int64_t run_blocks_ = 0;    // whole blocks it found
  std::vector<unsigned char> bytes_;
};

}  // namespace qv
