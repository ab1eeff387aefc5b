#include "input/nims_block_reader.hpp"

#include "common/binary.hpp"
#include "common/limits.hpp"

namespace qv {

NimsBlockReader::NimsBlockReader(std::FILE* f, std::string name, const NimsLayout& layout, Console& con)
    : file_(f), name_(std::move(name)), layout_(layout), con_(con), bytes_(4 * nims::record_words) {
  std::setvbuf(file_, nullptr, _IONBF, 0);  // whole blocks go straight into bytes_
}

NimsBlockReader::~NimsBlockReader() { std::fclose(file_); }

// Word layout: the scans follow the header word after word. Rows are filled
// in order until the words run out; a block that is not whole delivers none
// of them, but the rows it filled stay in the buffer (the echo shows them).
int NimsBlockReader::read_words(SampleBlock& blk) {
  const std::size_t got = read_up_to(file_, name_, 4 * layout_.irec, bytes_.data(), bytes_.size());
  const std::size_t words = got / 4;
  for (std::size_t i = 0; i < words; ++i) {
    const std::size_t row = i / nims::channels, c = i % nims::channels;
    if (c == 0) blk.index[row] = layout_.itf + static_cast<std::int64_t>(row);
    blk.ints[row * nchmx + c] = get_i32le(&bytes_[4 * i]);
  }
  layout_.irec += static_cast<std::int64_t>(words);
  layout_.itf += static_cast<std::int64_t>(words / nims::channels);
  if (words < static_cast<std::size_t>(nims::record_words)) {
    // The row being started when the words ran out already carries its number.
    if (words % nims::channels == 0) blk.index[words / nims::channels] = layout_.itf;
    blk.npts = 0;
    return block_end;
  }
  blk.npts = nblk;
  return block_more;
}

// Record layout: record irec + 1 (5120 bytes from byte 5120 irec) holds the block.
int NimsBlockReader::read_record(SampleBlock& blk) {
  con_.say("rdblkNIMS: irec, irecl, itf,ioff", layout_.irec, layout_.irecl, layout_.itf, 0);
  ++layout_.irec;
  const std::size_t got = read_up_to(file_, name_, std::int64_t(bytes_.size()) * (layout_.irec - 1), bytes_.data(),
                                     bytes_.size());
  if (got < bytes_.size()) {
    blk.npts = 0;
    return block_end;
  }
  for (int row = 0; row < nblk; ++row) {
    blk.index[static_cast<std::size_t>(row)] = layout_.itf + row;
    for (int c = 0; c < nims::channels; ++c)
      blk.ints[static_cast<std::size_t>(row * nchmx + c)] =
          get_i32le(&bytes_[4 * static_cast<std::size_t>(row * nims::channels + c)]);
  }
  layout_.itf += nblk;
  blk.npts = nblk;
  return block_more;
}

int NimsBlockReader::read_block(SampleBlock& blk, int) {
  const int status = layout_.irecl == 1 ? read_words(blk) : read_record(blk);
  con_.say("rdblkNIMS ix1(0:5,1)", blk.index[0], blk.ints[0], blk.ints[1], blk.ints[2], blk.ints[3], blk.ints[4]);
  return status;
}

}  // namespace qv
