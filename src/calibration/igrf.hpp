// The Earth's main magnetic field from the International Geomagnetic
// Reference Field, 11th generation (IGRF-11), for dates 1900.0 to 2020.0, and
// the magnetic declination of a station: the angle between geographic north
// and the direction a compass points, which turns magnetometer axes laid out
// to magnetic north into geographic ones.
#pragma once

#include "common/console.hpp"

namespace qv {

// Position given relative to the reference ellipsoid (latitude as on a map,
// height above the ellipsoid) or relative to the Earth's centre (geocentric
// colatitude, distance from the centre).
enum class IgrfPosition { geodetic, geocentric };

// The main field at one place, nT, in the frame of the position given: north,
// east and vertically down (for geodetic positions along the ellipsoid's
// normal, for geocentric ones towards the centre).
struct GeomagneticField {
  double north = 0;  // X
  double east = 0;   // Y
  double down = 0;   // Z
};

// The IGRF-11 main field in double precision. date: decimal year, 1900.0 to
// 2020.0 (dates beyond 2015.0 extrapolate the secular variation further than
// the model intends); height_km: height above the ellipsoid for geodetic
// positions, distance from the Earth's centre for geocentric ones, km;
// colatitude_deg: 90 degrees minus the latitude of the chosen kind; longitude_deg:
// degrees east. Raises Error for a date outside 1900.0 to 2020.0.
GeomagneticField igrf11_field(double date, IgrfPosition position, double height_km, double colatitude_deg,
                              double longitude_deg);

// The declination at a station on the ellipsoid, degrees, east positive.
// latitude: geodetic, degrees north; longitude: degrees east; date: decimal
// year. Outside 1900.0 to 2020.0 the declination is 0, unannounced; after
// 2015.0 a note on the console says the value may be less accurate.
float igrf_declination(float latitude, float longitude, float date, Console& con);

}  // namespace qv
