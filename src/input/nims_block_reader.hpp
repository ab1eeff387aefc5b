// Block reader of NIMS binary recordings: 256 scans of five 32-bit integers
// per call, numbered from 1, from single words (word layout) or from one
// 5120-byte record per block (record layout).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "input/block_reader.hpp"
#include "input/nims_header.hpp"

namespace qv {

// rdblkNIMS. Either layout reads one block's bytes with one call. A block that
// is not whole in the file ends the data (no rows delivered, status -1). The
// record layout writes "rdblkNIMS: irec, irecl, itf,ioff" before each read,
// and every call ends with the echo of the block's first row,
// "rdblkNIMS ix1(0:5,1)", that NIMS runs have always shown. The reader owns the
// file and closes it.
class NimsBlockReader final : public BlockReader {
 public:
  NimsBlockReader(std::FILE* f, std::string name, const NimsLayout& layout, Console& con);
  ~NimsBlockReader() override;
  NimsBlockReader(const NimsBlockReader&) = delete;
  NimsBlockReader& operator=(const NimsBlockReader&) = delete;

  int read_block(SampleBlock& blk, int nch) override;
  bool real_samples() const override { return false; }
  bool last_block_has_data() const override { return true; }
  // Words read, of the whole words in the file.
  ReadExtent read_extent() const override { return {layout_.irec * layout_.irecl, layout_.file_words}; }

 private:
  int read_words(SampleBlock& blk);
  int read_record(SampleBlock& blk);

  std::FILE* file_;
  std::string name_;
  NimsLayout layout_;
  Console& con_;
  std::vector<unsigned char> bytes_;  // one block: 256 scans of 5 words
};

}  // namespace qv
