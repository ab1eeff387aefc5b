// Which channels of a coefficient file are Ex, Ey, Hx, Hy and Hz, and how
// the measured components are brought into one orthogonal frame. Electrode
// lines and magnetometer axes are laid out by hand in the field: two lines
// may be 3 degrees off square, or both turned 20 degrees from north. The
// field along any direction follows from two measured components along
// known azimuths, so the pair is mapped into the frame (x at zrot east of
// north, y 90 degrees clockwise from it) by the general 2 x 2 transform of
// their orientations, exactly, whatever the angle between them.
//
//   ChannelInfo        a channel as the metadata (or the file header) describes it
//   assign_roles       the role of each channel, from kinds and orientations or as given
//   assign_magnetic_pair  Hx and Hy alone, for a remote reference's channels
//   frame_transform    the 2 x 2 matrix from a measured pair to the frame
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace qv::tf {

struct ChannelInfo {
  int number = 0;          // 1-based in the coefficient file
  std::string id;
  bool electric = false;
  double azimuth_deg = 0;  // orientation, degrees east of north
  double tilt_deg = 0;     // 90: vertical
  double line_length_m = 0;
};

// Channel numbers (1-based) of each role; hz is 0 when there is none.
struct Roles {
  int ex = 0, ey = 0, hx = 0, hy = 0, hz = 0;
};

// Roles given on the command line ("Ex=4,Ey=5,Hx=1,Hy=2,Hz=3"); a role not
// named is left to the automatic choice. Raises an Error for a malformed
// text, an unknown role or a channel outside 1..nch.
// `option` is the option the text came from, for the messages.
Roles parse_roles(const std::string& text, int nch, const std::string& option = "--channels");

// Ex and Ey are the electric channels whose orientations are nearest 0 and
// 90 degrees (modulo 180), Hx and Hy the horizontal magnetic ones (tilt
// below 45 degrees) likewise, Hz the vertical magnetic one (the first with
// tilt of 45 degrees or more). Roles in `given` win. Raises an Error naming
// the channels found when there are fewer than two electric or two
// horizontal magnetic channels, or when the two of a pair are parallel.
Roles assign_roles(const std::vector<ChannelInfo>& channels, const Roles& given);

// Hx and Hy alone (the other roles stay 0), chosen as assign_roles chooses
// them: a remote reference needs no electric channels. Raises an Error
// naming the channels found when there are fewer than two horizontal
// magnetic ones.
Roles assign_magnetic_pair(const std::vector<ChannelInfo>& channels, const Roles& given);

// Rows of the frame components from the measured pair (a along azimuth
// az_a, b along az_b): (x, y) = M (a, b), frame x at zrot_deg. Raises an
// Error when the two azimuths are parallel (within 1 degree).
std::array<double, 4> frame_transform(double az_a_deg, double az_b_deg, double zrot_deg, const std::string& what);

}  // namespace qv::tf
