#include "dsp/block_offset.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "dsp/row_vectors.hpp"

namespace qv {

void reset_offsets(ChannelOffsets& off) {
  off.value.fill(0.0f);
  off.known.fill(false);
}

namespace {

// One sample row: a channel without an offset takes it from its sample when
// that is valid; every valid sample loses its channel's offset.
void remove_row_offsets(float* row, int nch, float threshold, ChannelOffsets& off) {
  for (int c = 0; c < nch; ++c) {
    float& v = row[c];
    if (!(v < threshold)) continue;  // missing: left as it is
    if (!off.known[c]) {
      off.value[c] = std::round(v);
      off.known[c] = true;
    }
    v -= off.value[c];
  }
}

bool all_known(const ChannelOffsets& off, int nch) {
  for (int c = 0; c < nch; ++c)
    if (!off.known[c]) return false;
  return true;
}

}  // namespace

void remove_offsets(SampleBlock& blk, int nch, float threshold, ChannelOffsets& off) {
  nch = std::min(nch, nchmx);
  int r = 0;
  // Row by row until every channel has its offset, which is nearly always
  // the first row of a stretch; then all channels of a row at once, the
  // same subtraction in every lane where the sample is valid.
  for (; r < blk.npts && !all_known(off, nch); ++r)
    remove_row_offsets(&blk.real[std::size_t(r) * nchmx], nch, threshold, off);
  const rows::Row offset = rows::load(off.value.data());
  const rows::Row limit = rows::splat(threshold);
  const rows::RowMask in_use = rows::mask_first(nch);
  for (; r < blk.npts; ++r) {
    float* row = &blk.real[std::size_t(r) * nchmx];
    const rows::Row v = rows::load(row);
    rows::store(row, v - offset, rows::less(v, limit) & in_use);
  }
}

}  // namespace qv
