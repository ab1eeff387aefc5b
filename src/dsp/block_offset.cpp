#include "dsp/block_offset.hpp"

#include <cmath>

namespace qv {

void reset_offsets(ChannelOffsets& off) {
  off.value.fill(0.0f);
  off.known.fill(false);
}

void remove_offsets(SampleBlock& blk, int nch, float threshold, ChannelOffsets& off) {
  for (int c = 0; c < nch && c < nchmx; ++c) {
    for (int r = 0; r < blk.npts; ++r) {
      float& v = blk.real[static_cast<std::size_t>(r) * nchmx + c];
      if (!(v < threshold)) continue;  // missing: left as it is
      if (!off.known[c]) {
        off.value[c] = std::round(v);
        off.known[c] = true;
      }
      v -= off.value[c];
    }
  }
}

}  // namespace qv
