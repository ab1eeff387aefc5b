#include "output/fc_header.hpp"

#include <string>

#include "common/error.hpp"
#include "common/fixed_format.hpp"

namespace qv {

int fc_header_length(const FcHeader& h) { return 76 + 28 * h.nlevels + 20 * h.nch; }

std::string fc_header_text(const FcHeader& h) {
  if (h.nch < 1 || h.nch > nchmx || h.nlevels < 0 || h.nlevels > ndmx)
    throw Error("Fourier-coefficient header: impossible counts (" + std::to_string(h.nch) + " channels, " +
                std::to_string(h.nlevels) + " levels)");
  std::string t;
  t.reserve(fc_header_capacity);
  t += "nch" + fmt_i(h.nch, 5);
  t += "nd" + fmt_i(h.nlevels, 6);
  t += "nfmx" + fmt_i(h.nfmx, 8);
  t += "mwin";
  for (int i = 1; i <= h.nlevels; ++i) t += fmt_i(h.level_id[i], 8) + fmt_i(h.nwin[i], 8);
  t += "dr  ";
  for (int i = 1; i <= h.nlevels; ++i) t += fmt_e(h.dr[i], 12, 4);
  t += "ch,orien";
  for (int c = 0; c < h.nch; ++c) t += fmt_a(h.chid[c], 6) + fmt_f(h.orient[c], 6, 1) + fmt_f(h.tilt[c], 8, 2);
  t += "scor" + fmt_f(h.lat, 8, 4) + fmt_f(h.lon, 8, 4);
  t += "decl" + fmt_f(h.decl, 8, 4);
  return t;
}

FcHeader make_fc_header(int nch, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                        const SystemParameters& sp) {
  FcHeader h;
  h.nch = nch;
  for (int l = 1; l <= setup.nd; ++l) {
    const int nfreq = setup.lev[l].nfreq;
    if (nfreq > h.nfmx) h.nfmx = nfreq;
    if (nfreq < 1) continue;
    ++h.nlevels;
    h.level_id[h.nlevels] = setup.levoff + l;
    h.nwin[h.nlevels] = setup.lev[l].nwin;
    h.dr[h.nlevels] = dr[l];
  }
  for (int c = 0; c < nch && c < nchmx; ++c) {
    h.chid[c] = sp.ch[c].id;
    h.orient[c] = sp.ch[c].orient;
    h.tilt[c] = sp.ch[c].tilt;
  }
  h.lat = sp.lat;
  h.lon = sp.lon;
  h.decl = sp.decl;
  return h;
}

}  // namespace qv
