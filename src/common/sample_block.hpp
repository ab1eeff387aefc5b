// One block of input samples as a block reader delivers it: up to 256 rows,
// each with its absolute sample number and one value per channel. Readers of
// real samples fill `real`, readers of integer samples fill `ints`.
#pragma once

#include <array>
#include <cstdint>

#include "common/limits.hpp"

namespace qv {

struct SampleBlock {
  int npts = 0;  // rows filled by the last read (0..256)
  // Absolute sample number of each row, counted in input samples from the
  // start of the data. Kept as an exact integer: a single-precision index
  // column would lose whole samples beyond 2^24 (under two days at 100 Hz).
  std::array<std::int64_t, nblk> index{};
  // Channel values, row r and channel c (0-based) at r * nchmx + c.
  std::array<float, nblk * nchmx> real{};
  std::array<std::int32_t, nblk * nchmx> ints{};
};

}  // namespace qv
