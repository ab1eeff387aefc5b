// Offset removal of real-valued input. Field recordings carry offsets of
// millions of counts (a fluxgate records the main field), while the signal
// lives in the last few counts; in single precision the offset would round
// every decimated sample to a quarter count or worse. Nothing downstream needs
// the offset: the cascade has unit gain at zero frequency and every window
// loses its mean. So each channel's offset, a whole number of counts taken
// from its first valid sample of the stretch, is subtracted from every valid
// sample as a block enters processing. Missing samples (at or above the
// threshold) are left exactly as they are.
#pragma once

#include <array>

#include "common/limits.hpp"
#include "common/sample_block.hpp"

namespace qv {

struct ChannelOffsets {
  std::array<float, nchmx> value{};  // counts subtracted from each channel
  std::array<bool, nchmx> known{};   // false until the channel's first valid sample of the stretch
};

// Forgets the offsets: the next valid sample of each channel sets its offset
// anew. Called at the start of every stretch of contiguous data.
void reset_offsets(ChannelOffsets& off);

// Subtracts the offsets from the valid samples of channels 0..nch-1 of the
// block's real samples (blk.real). A channel without an offset yet takes its
// first valid sample, rounded to the nearest integer (halves away from zero).
void remove_offsets(SampleBlock& blk, int nch, float threshold, ChannelOffsets& off);

}  // namespace qv
