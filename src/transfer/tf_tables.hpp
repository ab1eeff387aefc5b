// The station's transfer functions as tables for people and scripts: a CSV
// file of one line per band (impedance, apparent resistivity and phase of
// every element, coherences, tipper) and a JSON file with the same and what
// an EDI file cannot hold: the full covariance of every estimate, the
// weights' summary, the band definitions and the processing options.
//
//   apparent_resistivity   rho_a and phase of an impedance element, with errors
//   write_tf_csv           one line per band, in the order of the result
//   write_tf_json          the whole result, key by key
#pragma once

#include <ostream>

#include "transfer/transfer_function.hpp"

namespace qv::tf {

// rho_a = 0.2 T |Z|^2 (ohm m, Z in (mV/km)/nT, T in s) and the phase of Z in
// degrees (-180, 180], with their first-order errors from dZ = sqrt(var / 2),
// the standard error of the real or imaginary part: d rho_a = 0.4 T |Z| dZ,
// d phase = dZ / |Z| radians.
struct ApparentResistivity {
  double rho_ohm_m = 0, rho_err = 0;
  double phase_deg = 0, phase_err_deg = 0;
};
ApparentResistivity apparent_resistivity(cplx z, double var, double period_s);

// A header line, then one line per band. A number the result does not have
// (not finite, or the tipper of a band without Hz) is an empty field.
void write_tf_csv(const Result& result, std::ostream& out);

// One JSON document (keys in a fixed order); numbers that are not finite
// are null.
void write_tf_json(const Result& result, std::ostream& out);

}  // namespace qv::tf
