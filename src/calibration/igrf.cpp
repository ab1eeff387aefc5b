#include "calibration/igrf.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "calibration/igrf11_coefficients.hpp"
#include "common/error.hpp"
#include "common/fixed_format.hpp"

namespace qv {

namespace {

// Degrees to radians: pi / 180 rounded to single precision, the factor the
// reference field has always been evaluated with.
constexpr double deg_to_rad = 0.01745329238474369;
// Radians to degrees for the declination: 180 / pi in single precision.
constexpr double rad_to_deg = 57.2957763671875;
// The reference radius of the spherical-harmonic expansion, km.
constexpr double reference_radius = 6371.2;
// Squared semi-major and semi-minor axes of the reference ellipsoid, km^2.
constexpr double a2 = 40680632.0;
constexpr double b2 = 40408296.0;

constexpr int max_degree = 13;
constexpr int max_terms = (max_degree + 1) * (max_degree + 2) / 2;  // (n, m) pairs with m <= n <= 13

// The weight of the later model is the fraction of 0.2 (date - 1900); at the
// epochs themselves it must be exactly 0, so that a date on an epoch gets that
// model alone.
constexpr bool epochs_give_whole_numbers() {
  for (int s = 0; s < igrf11_sv_set; ++s)
    if (0.2 * (5.0 * s) != s) return false;
  return true;
}
static_assert(epochs_give_whole_numbers());

// The model coefficients at one date, in the order of a set of the table.
struct DateModel {
  int nmax = 0;
  std::array<double, igrf11_degree13_size> gh{};
};

// Linear interpolation between the two 5-year models around the date; from
// 2010.0 on, the 2010 model carried forward by its secular variation. Before
// 1995 the models stop at degree 10.
DateModel model_at(double date) {
  DateModel mod;
  double w_early = 1, w_late = 0;
  int early = 0, late = 0;
  if (date >= 2010.0) {
    early = igrf11_sv_set - 1;
    late = igrf11_sv_set;
    w_late = date - 2010.0;
    mod.nmax = 13;
  } else {
    const double x = 0.2 * (date - 1900.0);
    // Rounding may put a date just below an epoch onto it; the weight of the
    // following set is then 0, and that set still lies within the table.
    early = static_cast<int>(x);
    late = early + 1;
    w_late = x - early;
    w_early = 1.0 - w_late;
    mod.nmax = date < 1995.0 ? 10 : 13;
  }
  const double* g0 = igrf11_gh.data() + igrf11_set_start(early);
  const double* g1 = igrf11_gh.data() + igrf11_set_start(late);
  const int nc = mod.nmax * (mod.nmax + 2);
  for (int i = 0; i < nc; ++i) mod.gh[i] = w_early * g0[i] + w_late * g1[i];
  return mod;
}

// A position in the geocentric frame: cos and sin of the geocentric
// colatitude, the distance from the Earth's centre, and cos and sin of the
// angle between the geodetic and the geocentric vertical (0 for a position
// given geocentric).
struct GeocentricPlace {
  double ct = 1, st = 0, r = 0, cd = 1, sd = 0;
};

GeocentricPlace geocentric_place(IgrfPosition position, double height_km, double colatitude_deg) {
  double ct = std::cos(colatitude_deg * deg_to_rad);
  double st = std::sin(colatitude_deg * deg_to_rad);

  // A geodetic position becomes geocentric: r from the centre, and the
  // geocentric colatitude, which differs from the geodetic one by the angle
  // with cosine cd and sine sd. That angle turns the field back at the end.
  double r = height_km, cd = 1, sd = 0;
  if (position == IgrfPosition::geodetic) {
    const double h = height_km;
    const double one = a2 * st * st;
    const double two = b2 * ct * ct;
    const double three = one + two;
    const double rho = std::sqrt(three);
    r = std::sqrt(h * (h + 2.0 * rho) + (a2 * one + b2 * two) / three);
    cd = (h + rho) / r;
    sd = (a2 - b2) / rho * ct * st / r;
    const double ct_geodetic = ct;
    ct = ct * cd - st * sd;
    st = st * cd + ct_geodetic * sd;
  }
  return {ct, st, r, cd, sd};
}

// The north, east and downward components of the model's field at place,
// in the geocentric frame.
GeomagneticField geocentric_field(const DateModel& mod, const GeocentricPlace& place, double longitude_deg) {
  const double ct = place.ct, st = place.st;
  const double lon = longitude_deg * deg_to_rad;
  std::array<double, max_degree + 1> cl{}, sl{};  // cos and sin of m times the longitude
  cl[1] = std::cos(lon);
  sl[1] = std::sin(lon);
  const double ratio = reference_radius / place.r;
  double rr = ratio * ratio;  // becomes (reference radius / r)^(n + 2) for degree n

  // Schmidt quasi-normalised associated Legendre functions p(n, m) of the
  // geocentric colatitude and their derivatives q = dp/dtheta, at index
  // n (n + 1) / 2 + m: the sectoral ones (m = n) from p(n-1, n-1), the others
  // from the two degrees below.
  std::array<double, max_terms> p{}, q{};
  p[0] = 1;
  q[0] = 0;
  double x = 0, y = 0, z = 0;
  int l = 0;  // next coefficient of the model
  for (int n = 1; n <= mod.nmax; ++n) {
    rr *= ratio;
    const double fn = n, gn = n - 1;
    for (int m = 0; m <= n; ++m) {
      const int k = n * (n + 1) / 2 + m;
      const double fm = m;
      if (m == n) {
        if (n == 1) {
          p[k] = st;
          q[k] = ct;
        } else {
          const double one = std::sqrt(1.0 - 0.5 / fm);
          const int j = k - n - 1;  // (n-1, m-1)
          p[k] = one * st * p[j];
          q[k] = one * (st * q[j] + ct * p[j]);
          cl[m] = cl[m - 1] * cl[1] - sl[m - 1] * sl[1];
          sl[m] = sl[m - 1] * cl[1] + cl[m - 1] * sl[1];
        }
      } else {
        const double gmm = m * m;
        const double one = std::sqrt(fn * fn - gmm);
        const double two = std::sqrt(gn * gn - gmm) / one;
        const double three = (fn + gn) / one;
        const int i = k - n;      // (n-1, m)
        const int j = i - n + 1;  // (n-2, m); multiplied by two = 0 where that does not exist
        p[k] = three * ct * p[i] - two * p[j];
        q[k] = three * (ct * q[i] - st * p[i]) - two * q[j];
      }

      // The terms of the north, east and downward components in the
      // geocentric frame.
      const double one = mod.gh[l] * rr;
      if (m == 0) {
        x = x + one * q[k];
        z = z - (fn + 1.0) * one * p[k];
        l += 1;
      } else {
        const double two = mod.gh[l + 1] * rr;
        const double three = one * cl[m] + two * sl[m];
        x = x + three * q[k];
        z = z - (fn + 1.0) * three * p[k];
        // At a pole m p / sin(theta) has the limit q cos(theta).
        if (st == 0.0) y = y + (one * sl[m] - two * cl[m]) * q[k] * ct;
        else y = y + (one * sl[m] - two * cl[m]) * fm * p[k] / st;
        l += 2;
      }
    }
  }
  return {x, y, z};
}

}  // namespace

GeomagneticField igrf11_field(double date, IgrfPosition position, double height_km, double colatitude_deg,
                              double longitude_deg) {
  if (!(date >= 1900.0 && date <= 2020.0)) {
    char found[64];
    std::snprintf(found, sizeof found, "%.4f", date);
    throw Error(std::string("the reference field IGRF-11 covers the dates 1900.0 to 2020.0, found the date ") + found);
  }
  const DateModel mod = model_at(date);
  const GeocentricPlace place = geocentric_place(position, height_km, colatitude_deg);
  // The angle between the verticals turns the field back to the frame of the position given.
  const GeomagneticField g = geocentric_field(mod, place, longitude_deg);
  const double x = g.north, y = g.east, z = g.down, cd = place.cd, sd = place.sd;
  return {x * cd + z * sd, y, z * cd - x * sd};
}

float igrf_declination(float latitude, float longitude, float date, Console& con) {
  const double t = date;
  if (!(t >= 1900.0 && t <= 2020.0)) return 0.0f;
  if (t > 2015.0) {
    con.blank();
    con.text(" This version of the IGRF is intended for use up to 2015.0.");
    con.text(" values for" + fmt_f(t, 9, 3) + " will be computed but may be of reduced accuracy");
    con.blank();
  }
  const GeomagneticField b = igrf11_field(t, IgrfPosition::geodetic, 0.0, 90.0 - latitude, longitude);
  return static_cast<float>(std::atan2(b.east, b.north) * rad_to_deg);
}

}  // namespace qv
