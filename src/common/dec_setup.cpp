#include "common/dec_setup.hpp"

namespace qv {

int cumulative_factor(const DecSetup& s, int lev) {
  int k = 1;
  for (int i = 2; i <= lev; ++i) k *= s.lev[i].decfac;
  return k;
}

std::array<float, ndmx + 1> level_intervals(const DecSetup& s, float dt) {
  std::array<float, ndmx + 1> dr{};
  float d = dt;
  for (int lev = 1; lev <= s.nd; ++lev) {
    d *= static_cast<float>(s.lev[lev].decfac);
    dr[lev] = d;
  }
  return dr;
}

float filter_dc_gain(const LevelSetup& ls) {
  float g = ls.coef[0];
  for (int j = 1; j < ls.nfc && j < nfcmx; ++j) g += 2.0f * ls.coef[j];
  return g;
}

}  // namespace qv
