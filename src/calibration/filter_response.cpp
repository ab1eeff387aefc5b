#include "calibration/filter_response.hpp"

#include <cmath>
#include <initializer_list>

#include "common/math_constants.hpp"

namespace qv {

namespace {

// e^{i phi} in single precision.
std::complex<float> unit_phase(float phi) { return {std::cos(phi), std::sin(phi)}; }

// a0 + a1 f + a2 f^2 + ..., by Horner's rule in double precision.
double horner(std::initializer_list<double> a, double f) {
  double v = 0;
  for (auto it = a.end(); it != a.begin();) v = v * f + *--it;
  return v;
}

}  // namespace

std::complex<float> filter_response(int type, float p1, float p2, float T) {
  switch (type) {
    case ft_h1: {
      // 1 / (1 - i x) written as amplitude and phase, x the ratio of the
      // period to the corner period: unity at short periods, a phase lead of
      // 45 degrees at the corner.
      const float x = T / p1;
      return (1.0f / std::sqrt(1.0f + x * x)) * unit_phase(std::atan(x));
    }
    case ft_l1: {
      // 1 / (1 + i x), x = corner period / period.
      const float x = p1 / T;
      return (1.0f / std::sqrt(1.0f + x * x)) * unit_phase(-std::atan(x));
    }
    case ft_h2: {
      // 1 / ((1 - x^2) - i x d) with the denominator made real: the numerator
      // is its conjugate and the denominator its squared modulus.
      const float x = T / p1;
      const float d = p2;
      const float x2 = x * x;
      const std::complex<float> num(1.0f - x2, x * d);
      const float den = ((d * d - 2.0f) + x2) * x2 + 1.0f;
      return num / den;
    }
    case ft_l2: {
      // 1 / ((1 - x^2) + i x d), x = corner period / period, the same way.
      const float x = p1 / T;
      const float d = p2;
      const float x2 = x * x;
      const std::complex<float> num(1.0f - x2, -x * d);
      const float den = x2 * x2 + 1.0f + (d * d - 2.0f) * x2;
      return num / den;
    }
    case ft_bc: {
      // Averaging over p1 seconds: sin(y) / y, zero at the periods of which
      // the averaging length holds a whole number. The time shift by p2
      // seconds enters with the factor e^{+i 2 pi p2 / T}, the opposite sign
      // to that of a DT delay of the same length.
      float amp = 1.0f;
      if (p1 != 0.0f) {
        const float y = 3.14159f * p1 / T;
        amp = std::sin(y) / y;
      }
      return amp * unit_phase(6.28318f * p2 / T);
    }
    default:
      return 1.0f;
  }
}

std::complex<double> fit_response(int type, double f) {
  switch (type) {
    case ft_ra:
      return {horner({0.9995, 0.4884, -540.44, 3314.08}, f),
              horner({0.0003, -30.2821, 131.976, -645.841, 56054.2}, f)};
    case ft_r2:
      return {horner({1.00938, -17.4907, -72672.1, 5.9892e6}, f),
              horner({-0.0003034, -363.385, 19003.1, -1.115e6, 1.162e9}, f)};
    case ft_ma: {
      // The MA fit becomes a response once the sign of its real part is
      // reversed and the whole is divided by 25.
      const double re = horner({0.99992883, 0.06984874, -36.540676, -48.0761, 1362.2427, -5500.831, 10839.2705,
                                -11784.687, 6791.731, -1624.9681},
                               f);
      const double im = horner({-0.001502197, 5.8732066, 46.944702, -705.7354, 3305.1323, -8326.37, 12573.325,
                                -11432.567, 5792.333, -1259.4497},
                               f);
      return std::complex<double>(-re, im) / 25.0;
    }
    case ft_m1:
      return {horner({0.9997297, 0.67992437, -194.61833, 1829.134, -8241.197, 21653.754, -34803.95, 33677.68,
                      -17990.746, 4066.2644},
                     f),
              horner({-0.02305288, 17.501423, -141.26, 268.84317, 1396.3002, -9193.973, 23246.246, -31054.268,
                      21651.844, -6217.2446},
                     f)};
    default:
      return 1.0;
  }
}

std::complex<float> fixed_response(int type, float f, float tau) {
  switch (type) {
    case ft_pd: {
      // Six-pole Butterworth low-pass with its corner at 200 Hz: the
      // denominator polynomial in s / wc = i x, factored into three quadratic
      // sections 1 - x^2 + i 2 cos(theta_k) x, theta_k = 15, 45 and 75 degrees.
      const float x = f / 200.0f;
      const float a = 1.0f - x * x;
      const std::complex<float> P = std::complex<float>(a, 1.9318f * x) * std::complex<float>(a, 1.4141f * x) *
                                    std::complex<float>(a, 0.5176f * x);
      return 1.0f / P;
    }
    case ft_mx: {
      // First-order high-pass at 4 Hz followed by a first-order low-pass at
      // 8192 Hz.
      const float u = f / 4.0f;
      const float v = f / 8192.0f;
      const std::complex<float> iu(0.0f, u);
      return (iu / (1.0f + iu)) * (1.0f / std::complex<float>(1.0f, v));
    }
    case ft_uc:
      // A sensor that measures the time derivative of the field.
      return {0.0f, f};
    case ft_dt:
      // A delay of tau seconds.
      return unit_phase(-twopi * f * tau);
    default:
      return 1.0f;
  }
}

}  // namespace qv
