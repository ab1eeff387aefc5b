#include "input/qel_block_reader.hpp"

#include <algorithm>

#include "common/binary.hpp"
#include "common/limits.hpp"
#include "input/qel_format.hpp"

namespace qv {

namespace {

// Reads of whole packets at a time keep the file access far from the cost of
// decoding the samples.
constexpr std::size_t kFileBuffer = 1 << 20;

}  // namespace

QelBlockReader::QelBlockReader(std::FILE* f, std::string name, const QelLayout& layout, Console& con)
    : file_(f),
      name_(std::move(name)),
      layout_(layout),
      con_(con),
      blocks_per_packet_(std::int64_t(layout.nbytes_data) / qel::bytes_per_sample / layout.nch / qel::scans_per_block),
      bytes_(static_cast<std::size_t>(layout.nch) * qel::bytes_per_sample * qel::scans_per_block) {
  std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);
}

QelBlockReader::~QelBlockReader() { std::fclose(file_); }

std::int64_t QelBlockReader::block_offset(std::int64_t b) const {
  return (b / blocks_per_packet_) * layout_.nbytes_packet + qel::header_bytes +
         (b % blocks_per_packet_) * std::int64_t(bytes_.size());
}

int QelBlockReader::read_block(SampleBlock& blk, int nch) {
  const std::int64_t offset = block_offset(block_++);
  if (read_up_to(file_, name_, offset, bytes_.data(), bytes_.size()) != bytes_.size()) {
    blk.npts = 0;
    con_.say("End of binary reading.  flags: npts ierr", 0, static_cast<int>(block_end));
    con_.say("end of file reached, next block is empty");
    return block_end;
  }
  // Six enabled channels deliver five: the run has room for five in its
  // output records. The file's own scan length steps over the others.
  const int n = std::min(nch == 6 ? 5 : nch, layout_.nch);
  const int scan = layout_.nch * qel::bytes_per_sample;
  const unsigned char* p = bytes_.data();
  for (int s = 0; s < qel::scans_per_block; ++s, p += scan) {
    blk.index[static_cast<std::size_t>(s)] = sample_ + s;
    float* row = blk.real.data() + static_cast<std::ptrdiff_t>(s) * nchmx;
    for (int c = 0; c < n; ++c) row[c] = static_cast<float>(get_i24be(p + c * qel::bytes_per_sample));
  }
  blk.npts = qel::scans_per_block;
  sample_ += qel::scans_per_block;
  return block_more;
}

}  // namespace qv
