#include "driver/reference_declination.hpp"

#include "calibration/igrf.hpp"

namespace qv {

void find_reference_declination(Acquisition& acq, Console& con) {
  if (!acq.fix.known) return;
  const float year = acq.fix.year;
  acq.reference_declination = igrf_declination(acq.fix.latitude, acq.fix.longitude, year, con);
  // The reference field is defined from 1900 to 2020 only; outside, a
  // declination of 0 in the system parameter file would silently stay 0.
  if (year < 1900.0f || year > 2020.0f)
    con.say("warning: no reference-field declination for the year", year,
            "(IGRF-11 covers 1900 to 2020); a declination of 0 in the system parameter file stays 0");
}

}  // namespace qv
