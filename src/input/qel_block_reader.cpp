#include "input/qel_block_reader.hpp"

#include <algorithm>

#include "common/binary.hpp"
#include "common/limits.hpp"
#include "input/qel_format.hpp"

namespace qv {

namespace {

// Bytes read at a time: whole blocks, at most a packet's data part.
constexpr std::int64_t kRunBytes = 1 << 20;

}  // namespace

QelBlockReader::QelBlockReader(std::FILE* f, std::string name, const QelLayout& layout, Console& con)
    : file_(f),
      name_(std::move(name)),
      layout_(layout),
      con_(con),
      file_bytes_(file_size(f, name_)),
      block_bytes_(std::int64_t(layout.nch) * qel::bytes_per_sample * qel::scans_per_block),
      blocks_per_packet_(std::int64_t(layout.nbytes_data) / block_bytes_),
      blocks_per_run_(std::clamp<std::int64_t>(kRunBytes / block_bytes_, 1, blocks_per_packet_)),
      bytes_(static_cast<std::size_t>(blocks_per_run_ * block_bytes_)) {
  // The runs go straight into bytes_; a stream buffer would only copy them.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

QelBlockReader::~QelBlockReader() { std::fclose(file_); }

std::int64_t QelBlockReader::block_offset(std::int64_t b) const {
  return (b / blocks_per_packet_) * layout_.nbytes_packet + qel::header_bytes +
         (b % blocks_per_packet_) * block_bytes_;
}

int QelBlockReader::read_block(SampleBlock& blk, int nch) {
  const std::int64_t b = block_++;
  if (run_first_ < 0 || b >= run_first_ + run_wanted_) {
    // The next run: from this block to the end of its packet or of the buffer.
    run_first_ = b;
    run_wanted_ = std::min(blocks_per_run_, blocks_per_packet_ - b % blocks_per_packet_);
    const std::size_t got = read_up_to(file_, name_, block_offset(b), bytes_.data(),
                                       static_cast<std::size_t>(run_wanted_ * block_bytes_));
    run_blocks_ = static_cast<std::int64_t>(got) / block_bytes_;
  }
  if (b - run_first_ >= run_blocks_) {
    // A block that is not whole in the file ends the data.
    blk.npts = 0;
    con_.say("End of binary reading.  flags: npts ierr", 0, static_cast<int>(block_end));
    con_.say("end of file reached, next block is empty");
    return block_end;
  }
  // Six enabled channels deliver five: the run has room for five in its
  // output records. The file's own scan length steps over the others.
  const int n = std::min(nch == 6 ? 5 : nch, layout_.nch);
  const int scan = layout_.nch * qel::bytes_per_sample;
  const unsigned char* p = bytes_.data() + (b - run_first_) * block_bytes_;
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
