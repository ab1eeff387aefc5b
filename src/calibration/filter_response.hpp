// Closed-form responses of the analog filters and instrument fits that a
// channel's filter list can name: what a sensor or an analog stage of the
// recorder did to the signal at a given frequency. The response builder
// divides each channel's calibration factors by them, so that the calibrated
// coefficients are those of the field itself. The sign convention is that of
// the forward transform, exp(-i 2 pi f t): a filter that delays the signal has
// a negative phase.
#pragma once

#include <complex>

namespace qv {

// Filter type numbers, as the codes of the system parameter file give them.
enum FilterType : int {
  ft_h1 = 2,    // first-order high-pass
  ft_h2 = 3,    // second-order high-pass
  ft_l2 = 4,    // second-order low-pass
  ft_l1 = 5,    // first-order low-pass
  ft_bc = 6,    // boxcar average with a delay
  ft_te = 7,    // response table file, three groups of four amplitude and phase pairs
  ft_tb = 8,    // response table file, one group
  ft_unknown = 9,
  ft_pz = 10,   // poles and zeros
  ft_pd = 11,   // six-pole Butterworth low-pass at 200 Hz
  ft_mx = 12,   // high-pass at 4 Hz and low-pass at 8192 Hz
  ft_ra = 13,   // polynomial fits of measured sensor responses
  ft_ma = 14,
  ft_r2 = 15,
  ft_m1 = 16,
  ft_pa = 17,   // response table files with a dashed header, decreasing frequencies
  ft_05 = 18,
  ft_uc = 97,   // time derivative (i f)
  ft_ap = 98,   // response table file, amplitude and phase in degrees
  ft_ri = 99,   // response table file, real and imaginary part
  ft_dt = 101,  // pure time delay
};

// Types 2 to 6 at period T seconds, in single precision. h1, l1: p1 is the
// corner period in seconds; h2, l2: p1 the corner period, p2 the damping; bc:
// p1 the averaging length and p2 the delay, both in seconds. Other types give 1.
std::complex<float> filter_response(int type, float p1, float p2, float T);

// Types 13 to 16 (RA, MA, R2, M1): polynomial fits in f hertz, evaluated in
// double precision (their high-order terms cancel badly in single precision
// above about 0.5 Hz). Other types give 1.
std::complex<double> fit_response(int type, double f);

// The parameterless forms at f hertz, single precision: pd, mx, UC, and DT
// with the delay tau in seconds. Other types give 1.
std::complex<float> fixed_response(int type, float f, float tau);

}  // namespace qv
