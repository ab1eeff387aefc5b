// Instrument responses given as poles and zeros: H(f) = K * prod(s - z) /
// prod(s - p) with s = i 2 pi f, the form in which sensor makers publish the
// responses of seismometers, induction coils and fluxgates.
#pragma once

#include <array>
#include <complex>
#include <string>
#include <string_view>

namespace qv {

inline constexpr int npzmx = 100;  // zeros, and poles, one description can hold

struct PoleZero {
  int nz = 0;    // zeros in use
  int np = 0;    // poles in use
  double K = 1;  // gain
  std::array<std::complex<double>, npzmx> z{};  // zeros, rad/s
  std::array<std::complex<double>, npzmx> p{};  // poles, rad/s
};

// Reads a pole-zero line: the number of zeros nz, the number of poles np, the
// gain K, then nz zeros and np poles, each written "(real,imaginary)" with
// values separated by blanks or commas (blanks may stand inside the
// parentheses too). Returns false, with a short description of what was
// expected and what was found in `why`, for a malformed line, counts outside
// 0..100, or fewer values than the counts promise.
bool parse_pole_zero(std::string_view line, PoleZero& pz, std::string& why);

// The response at f hertz, products and the division in double precision.
std::complex<double> pz_response(const PoleZero& pz, double f);

}  // namespace qv
