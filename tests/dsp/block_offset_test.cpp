#include "dsp/block_offset.hpp"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr float kThreshold = 2147473664.0f;
constexpr float kMissing = 2147483647.0f;

float& at(SampleBlock& b, int row, int c) { return b.real[static_cast<std::size_t>(row) * nchmx + c]; }

// Offsets are whole counts from each channel's first valid sample (halves
// away from zero), kept across blocks until a new stretch; missing samples
// and channels beyond nch are left exactly as they are.
TEST(BlockOffsets, FirstValidSampleOfTheStretchRoundedAwayFromZero) {
  SampleBlock b;
  b.npts = 2;
  at(b, 0, 0) = kMissing;    at(b, 0, 1) = -7.5f;  at(b, 0, 2) = 5.0f;
  at(b, 1, 0) = 2500000.5f;  at(b, 1, 1) = -3.0f;  at(b, 1, 2) = 6.0f;
  ChannelOffsets off;
  reset_offsets(off);
  remove_offsets(b, 2, kThreshold, off);
  EXPECT_EQ(at(b, 0, 0), kMissing);
  EXPECT_EQ(at(b, 1, 0), -0.5f);  // offset 2500001
  EXPECT_EQ(at(b, 0, 1), 0.5f);   // offset -8
  EXPECT_EQ(at(b, 1, 1), 5.0f);
  EXPECT_EQ(at(b, 0, 2), 5.0f);   // not a processed channel

  at(b, 0, 0) = 2500003.0f;  at(b, 0, 1) = 1.0f;
  b.npts = 1;
  remove_offsets(b, 2, kThreshold, off);  // the same stretch keeps its offsets
  EXPECT_EQ(at(b, 0, 0), 2.0f);
  EXPECT_EQ(at(b, 0, 1), 9.0f);

  at(b, 0, 0) = 2500003.0f;
  reset_offsets(off);  // a new stretch takes new offsets
  remove_offsets(b, 1, kThreshold, off);
  EXPECT_EQ(at(b, 0, 0), 0.0f);
}

}  // namespace
}  // namespace qv
