#include "common/dec_setup.hpp"

#include <cmath>

#include "common/console.hpp"
#include "common/error.hpp"

namespace qv {

int cumulative_factor(const DecSetup& s, int lev) {
  int k = 1;
  for (int i = 2; i <= lev; ++i) k *= s.lev[i].decfac;
  return k;
}

std::array<float, ndmx + 1> level_intervals(const DecSetup& s, float dt, const std::string& source) {
  std::array<float, ndmx + 1> dr{};
  float d = dt;
  std::string factors;
  for (int lev = 1; lev <= s.nd; ++lev) {
    const LevelSetup& ls = s.lev[lev];
    d *= static_cast<float>(ls.decfac);
    dr[lev] = d;
    if (!factors.empty()) factors += " x ";
    factors += std::to_string(ls.decfac);
    const bool finite = std::isfinite(d);
    if (finite && (ls.nfreq < 1 || std::isnormal(harmonic_frequency(ls, d, 1)))) continue;
    std::string msg = source;
    msg += ": the sample interval ";
    msg += Console::num(dt);
    msg += " s times the decimation factors ";
    msg += factors;
    msg += " gives decimation level ";
    msg += std::to_string(lev);
    if (!finite) {
      msg += " an interval beyond the single-precision range";
    } else {
      msg += " an interval of ";
      msg += Console::num(d);
      msg += " s, so long that the frequencies of its windows of ";
      msg += std::to_string(ls.nwin);
      msg += " samples underflow single precision";
    }
    msg += "; expected a shorter sample interval or smaller decimation factors";
    throw Error(msg);
  }
  return dr;
}

float filter_dc_gain(const LevelSetup& ls) {
  float g = ls.coef[0];
  for (int j = 1; j < ls.nfc && j < nfcmx; ++j) g += 2.0f * ls.coef[j];
  return g;
}

}  // namespace qv
