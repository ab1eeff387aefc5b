// The magnetic declination of the station from the geomagnetic reference
// field, at the position and epoch the recorder's header gives; the system
// parameter reader uses it when the station's file leaves the declination 0.
#pragma once

#include "common/console.hpp"
#include "input/acquisition.hpp"

namespace qv {

// Sets acq.reference_declination from acq.fix (nothing without a fix), with
// the reference field's console notes, and warns when the epoch lies outside
// the model, where the declination stays 0.
void find_reference_declination(Acquisition& acq, Console& con);

}  // namespace qv
