// Channel roles and the frame: a field known in (north, east), measured along
// any two azimuths, comes back in the frame by projection, whatever the
// angle between the two lines.
#include "transfer/frame.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "common/error.hpp"

namespace qv::tf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

double along(double fn, double fe, double az_deg) { return fn * std::cos(az_deg * kDeg) + fe * std::sin(az_deg * kDeg); }

TEST(Frame, AnyTwoLinesGiveTheFieldAlongTheFramesAxes) {
  const double fn = 1.7, fe = -0.6;
  struct Case {
    double a, b, zrot;
  };
  for (const Case c : {Case{0, 90, 0}, Case{20, 110, 0}, Case{0, 80, 0}, Case{183, 87, 0}, Case{0, 90, 30},
                       Case{-10, 95, -8.2}}) {
    const std::array<double, 4> m = frame_transform(c.a, c.b, c.zrot, "test");
    const double ma = along(fn, fe, c.a), mb = along(fn, fe, c.b);
    EXPECT_NEAR(m[0] * ma + m[1] * mb, along(fn, fe, c.zrot), 1e-12) << c.a << " " << c.b << " " << c.zrot;
    EXPECT_NEAR(m[2] * ma + m[3] * mb, along(fn, fe, c.zrot + 90), 1e-12) << c.a << " " << c.b << " " << c.zrot;
  }
  EXPECT_THROW(frame_transform(10, 190.5, 0, "test"), Error);  // parallel lines
}

TEST(Frame, RolesFromKindsAndOrientationsOrAsGiven) {
  // A five-channel station recorded as Hx Hy Hz Ex Ey, the lines a little off
  // square, and a spare electric line at 45 degrees.
  const std::vector<ChannelInfo> ch = {
      {1, "Hx", false, 2, 0, 0},  {2, "Hy", false, 91, 0, 0}, {3, "Hz", false, 0, 90, 0},
      {4, "Ex", true, 88, 0, 50}, {5, "Ey", true, -3, 0, 50}, {6, "E3", true, 45, 0, 50},
  };
  const Roles r = assign_roles(ch, {});
  EXPECT_EQ(r.ex, 5);  // nearest 0 degrees, whatever it is called
  EXPECT_EQ(r.ey, 4);
  EXPECT_EQ(r.hx, 1);
  EXPECT_EQ(r.hy, 2);
  EXPECT_EQ(r.hz, 3);
  const Roles given = assign_roles(ch, parse_roles("Ex=4,Ey=6", 6));
  EXPECT_EQ(given.ex, 4);
  EXPECT_EQ(given.ey, 6);
  try {
    assign_roles({ch[0], ch[3], ch[4]}, {});
    ADD_FAILURE() << "an impedance from one magnetic channel";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("1 Hx (magnetic, azimuth 2, tilt 0)"), std::string::npos) << e.what();
  }
  EXPECT_THROW(parse_roles("Ex=7", 6), Error);
  EXPECT_THROW(parse_roles("Ez=1", 6), Error);
  EXPECT_THROW(parse_roles("Ex:1", 6), Error);
}

}  // namespace
}  // namespace qv::tf
