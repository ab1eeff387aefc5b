#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "output/fc_pack.hpp"

namespace qv {
namespace {

// Fields of a packed word, read back independently of unpack_fc.
struct Fields {
  int er, mr, ei, mi;
};
Fields fields(std::uint32_t w) {
  const std::int32_t s = static_cast<std::int32_t>(w);
  return {static_cast<int>(w & 7u), static_cast<int>((w >> 3) & 0x1FFFu) - 4096, static_cast<int>((w >> 16) & 7u),
          s >> 19};  // arithmetic shift: the imaginary mantissa is signed
}

std::uint32_t pack(float x, float y) {
  bool overflow = true;
  const std::uint32_t w = pack_fc(x, y, overflow);
  EXPECT_FALSE(overflow) << x << " " << y;
  return w;
}

TEST(FcPack, HandWorkedWords) {
  // 0: t = 0, mantissa nint(-0.5) = -1 in both parts.
  EXPECT_EQ(pack(0.0f, 0.0f), 0xFFF87FF8u);
  // 1.0 takes exponent 1 (t = 0.1): mantissa nint(409.6 - 0.5) = 409.
  const Fields one = fields(pack(1.0f, 0.0f));
  EXPECT_EQ(one.er, 1);
  EXPECT_EQ(one.mr, 409);
  EXPECT_EQ(one.ei, 0);
  EXPECT_EQ(one.mi, -1);
  // -250 + 0.5i: -0.25 with exponent 3 -> nint(-1024.5) = -1025; 0.5 with
  // exponent 0 -> nint(2047.5) = 2048.
  const Fields f = fields(pack(-250.0f, 0.5f));
  EXPECT_EQ(f.er, 3);
  EXPECT_EQ(f.mr, -1025);
  EXPECT_EQ(f.ei, 0);
  EXPECT_EQ(f.mi, 2048);
  // The word is e_r + 8 (m_r + 4096) + 65536 e_i + 524288 m_i.
  EXPECT_EQ(pack(-250.0f, 0.5f), static_cast<std::uint32_t>(3 + 8 * (-1025 + 4096) + 0 + 524288 * 2048));
}

TEST(FcPack, LargestPackableAndOverflow) {
  const Fields big = fields(pack(5.0e6f, -5.0e6f));
  EXPECT_EQ(big.er, 7);
  EXPECT_EQ(big.ei, 7);
  EXPECT_EQ(big.mr, 2048);   // t = 0.5: nint(2047.5)
  EXPECT_EQ(big.mi, -2049);  // t = -0.5: nint(-2048.5)
}

TEST(FcPack, SentinelForTooLargeOrNotANumber) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (auto [x, y] : {std::pair{2.0e7f, 0.0f}, std::pair{0.0f, -2.0e7f}, std::pair{nan, 1.0f},
                      std::pair{1.0f, nan}, std::pair{-inf, 0.0f}}) {
    bool overflow = false;
    EXPECT_EQ(pack_fc(x, y, overflow), fc_sentinel) << x << " " << y;
    EXPECT_TRUE(overflow);
  }
  // The real part as reduced so far, for the diagnostic line: eight divisions.
  bool overflow = false;
  float xt1 = 0;
  pack_fc(3.0e9f, 0.0f, overflow, &xt1);
  EXPECT_NEAR(xt1, 30.0f, 1e-3f);
  pack_fc(0.25f, 1.0e8f, overflow, &xt1);
  EXPECT_FLOAT_EQ(xt1, 0.25f);
}

TEST(FcPack, MantissaStaysInItsFieldJustAboveMinusOne) {
  // 4096 t - 0.5 for t just above -1 rounds to -4096.5 in single precision.
  for (float x : {std::nextafter(-1.0f, 0.0f), -9.9999995f, std::nextafter(-1000.0f, 0.0f)}) {
    const std::uint32_t w = pack(x, 0.5f);
    const Fields f = fields(w);
    EXPECT_EQ(f.mr, -4096) << x;
    EXPECT_EQ(f.ei, 0) << x;   // nothing spilled into the imaginary exponent
    EXPECT_EQ(f.mi, 2048) << x;
    const Fields g = fields(pack(0.5f, x));
    EXPECT_EQ(g.mi, -4096) << x;
    EXPECT_EQ(g.mr, 2048) << x;
  }
  const Fields top = fields(pack(std::nextafter(1.0f, 0.0f), 0.0f));
  EXPECT_EQ(top.er, 0);
  EXPECT_EQ(top.mr, 4095);
}

TEST(FcPack, RoundTripWithinTheResolution) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
  std::uniform_int_distribution<int> dec(-4, 6);
  for (int i = 0; i < 20000; ++i) {
    const float x = mant(gen) * std::pow(10.0f, static_cast<float>(dec(gen)));
    const float y = mant(gen) * std::pow(10.0f, static_cast<float>(dec(gen)));
    const std::uint32_t w = pack(x, y);
    float xr = 0, yr = 0;
    unpack_fc(w, xr, yr);
    // A part with exponent e is known to 10^e / 4096; the centre of the
    // interval is within half of that.
    const Fields f = fields(w);
    EXPECT_LE(std::fabs(xr - x), std::pow(10.0, f.er) / 8192.0 * 1.001 + 1e-7) << x;
    EXPECT_LE(std::fabs(yr - y), std::pow(10.0, f.ei) / 8192.0 * 1.001 + 1e-7) << y;
  }
  float xr = 0, yr = 0;
  unpack_fc(fc_sentinel, xr, yr);
  EXPECT_TRUE(std::isnan(xr) && std::isnan(yr));
}

}  // namespace
}  // namespace qv
