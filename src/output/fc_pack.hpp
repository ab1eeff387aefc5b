// Packing of one scaled complex Fourier coefficient into the 32-bit word of the
// Fourier-coefficient file, and back. Each part is reduced by powers of ten to
// a magnitude below 1 and kept as a decimal exponent (0..7) and a 13-bit
// mantissa: bits 0-2 real exponent, bits 3-15 real mantissa + 4096, bits 16-18
// imaginary exponent, bits 19-31 imaginary mantissa (signed).
#pragma once

#include <cstdint>

namespace qv {

// Word written for a coefficient that cannot be packed.
inline constexpr std::uint32_t fc_sentinel = 0x80000001u;

// Reduces one part: divides by 10 in single precision, one step at a time,
// until its magnitude is below 1. Returns the exponent (0..7), or -1 when the
// part is 10^7 or more in magnitude (or not a number); t receives the part as
// reduced so far.
int reduce_fc_part(float x, float& t);

// Packs x + iy (already scaled by 1000 / mean amplitude). On overflow of either
// part returns fc_sentinel and sets overflow; reduced_real, when given,
// then receives the real part as reduced so far (for the diagnostic line).
// The word is that of the divisions by 10 one step at a time, though most
// parts take a shorter way to the same mantissa (tools/check_fc_pack checks
// every single-precision value).
std::uint32_t pack_fc(float x, float y, bool& overflow, float* reduced_real = nullptr);

// Unpacks a word to the centre of its quantisation interval. The sentinel
// gives NaN in both parts.
void unpack_fc(std::uint32_t w, float& x, float& y);

}  // namespace qv
