#include "transfer/frame.hpp"

#include <cctype>
#include <cmath>
#include <numbers>

#include "common/error.hpp"
#include "common/console.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv::tf {

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

// Angle between an azimuth and an axis, modulo 180 degrees (a line has no
// direction of its own for this purpose), 0..90.
double off_axis(double az, double axis) {
  double d = std::fmod(std::fabs(az - axis), 180.0);
  return d > 90.0 ? 180.0 - d : d;
}

std::string describe(const std::vector<ChannelInfo>& channels) {
  std::string s;
  for (const ChannelInfo& c : channels) {
    if (!s.empty()) s += ", ";
    s += std::to_string(c.number) + " " + c.id + " (" + (c.electric ? "electric" : "magnetic") + ", azimuth " +
         Console::num(c.azimuth_deg) + ", tilt " + Console::num(c.tilt_deg) + ")";
  }
  return s.empty() ? "none" : s;
}

bool horizontal(const ChannelInfo& c) { return std::fabs(c.tilt_deg) < 45.0; }

// The pair (x, y) among candidates, roles already given kept: the two that
// lie nearest the frame's axes together.
void choose_pair(const std::vector<ChannelInfo>& cands, int& x, int& y) {
  if (x && y) return;
  double best = 1e300;
  int bx = x, by = y;
  for (const ChannelInfo& a : cands)
    for (const ChannelInfo& b : cands) {
      if (a.number == b.number) continue;
      if (x && a.number != x) continue;
      if (y && b.number != y) continue;
      const double cost = off_axis(a.azimuth_deg, 0.0) + off_axis(b.azimuth_deg, 90.0);
      if (cost < best) {
        best = cost;
        bx = a.number;
        by = b.number;
      }
    }
  x = bx;
  y = by;
}

}  // namespace

Roles parse_roles(const std::string& text, int nch, const std::string& option) {
  Roles r;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const std::size_t eq = item.find('=');
    std::int64_t n = 0;
    if (eq == std::string_view::npos || !parse_int(trim(item.substr(eq + 1)), n))
      throw Error(option + " \"" + text + "\": expected ROLE=CHANNEL items such as Ex=4,Ey=5,Hx=1,Hy=2,Hz=3, found '" +
                  std::string(item) + "'");
    std::string role(trim(item.substr(0, eq)));
    for (char& c : role) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n < 1 || n > nch)
      throw Error(option + " \"" + text + "\": channel " + std::to_string(n) + " of " + role +
                  " is not one of the file's channels 1 to " + std::to_string(nch));
    int* slot = role == "ex" ? &r.ex : role == "ey" ? &r.ey : role == "hx" ? &r.hx : role == "hy" ? &r.hy
                : role == "hz" ? &r.hz : nullptr;
    if (!slot)
      throw Error(option + " \"" + text + "\": unknown role '" + role + "'; the roles are Ex, Ey, Hx, Hy and Hz");
    *slot = static_cast<int>(n);
  }
  return r;
}

Roles assign_roles(const std::vector<ChannelInfo>& channels, const Roles& given) {
  Roles r = given;
  // Candidates: the channels of the kind, and any channel a role names;
  // not a channel that a role of the other kind names.
  std::vector<ChannelInfo> e, h;
  for (const ChannelInfo& c : channels) {
    const bool named_e = c.number == given.ex || c.number == given.ey;
    const bool named_h = c.number == given.hx || c.number == given.hy;
    const bool named_z = c.number == given.hz;
    if (named_e || (c.electric && !named_h && !named_z)) e.push_back(c);
    if (named_h || (!c.electric && horizontal(c) && !named_e && !named_z)) h.push_back(c);
  }
  choose_pair(e, r.ex, r.ey);
  choose_pair(h, r.hx, r.hy);
  if (!r.ex || !r.ey || !r.hx || !r.hy)
    throw Error("an impedance needs two electric and two horizontal magnetic channels; the coefficient file has " +
                describe(channels));
  if (!given.hz)
    for (const ChannelInfo& c : channels)
      if (!c.electric && !horizontal(c) && c.number != r.hx && c.number != r.hy) {
        r.hz = c.number;
        break;
      }
  return r;
}

Roles assign_magnetic_pair(const std::vector<ChannelInfo>& channels, const Roles& given) {
  Roles r;
  r.hx = given.hx, r.hy = given.hy;
  std::vector<ChannelInfo> h;
  for (const ChannelInfo& c : channels)
    if (c.number == given.hx || c.number == given.hy || (!c.electric && horizontal(c))) h.push_back(c);
  choose_pair(h, r.hx, r.hy);
  if (!r.hx || !r.hy)
    throw Error("a remote reference needs two horizontal magnetic channels; its coefficient file has " +
                describe(channels));
  return r;
}

std::array<double, 4> frame_transform(double az_a_deg, double az_b_deg, double zrot_deg, const std::string& what) {
  const double a = az_a_deg * kDeg, b = az_b_deg * kDeg, t = zrot_deg * kDeg;
  const double det = std::sin(b - a);  // of [[cos a, sin a], [cos b, sin b]]
  if (std::fabs(det) < std::sin(1.0 * kDeg))
    throw Error(what + ": the two channels lie along azimuths " + Console::num(az_a_deg) + " and " +
                Console::num(az_b_deg) + " degrees, parallel: they do not give the field in two directions");
  // (north, east) = A^-1 (a, b); frame (x, y) = R(zrot) (north, east).
  const double inv[4] = {std::sin(b) / det, -std::sin(a) / det, -std::cos(b) / det, std::cos(a) / det};
  const double ct = std::cos(t), st = std::sin(t);
  return {ct * inv[0] + st * inv[2], ct * inv[1] + st * inv[3], -st * inv[0] + ct * inv[2], -st * inv[1] + ct * inv[3]};
}

}  // namespace qv::tf
