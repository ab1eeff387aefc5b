#include "output/fc_header.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/error.hpp"

namespace qv {

namespace {

// Right-justifies s in w columns; a text longer than w becomes w asterisks,
// as a formatted write shows a value that does not fit.
std::string fit(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return std::string(w, '*');
  return std::string(w - s.size(), ' ') + s;
}

std::string int_field(int v, int w) { return fit(std::to_string(v), w); }

std::string special(float v, int w) {
  if (std::isnan(v)) return fit("NaN", w);
  return fit(v > 0 ? "Infinity" : "-Infinity", w);
}

// Fixed-point field Fw.d.
std::string fixed(float v, int w, int d) {
  if (!std::isfinite(v)) return special(v, w);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", d, static_cast<double>(v));
  std::string s = buf;
  // The leading zero of a value below 1 is optional and dropped when the
  // field would otherwise overflow.
  if (static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  }
  return fit(s, w);
}

// Exponent field Ew.d: 0.dddd with d digits and a two-digit exponent
// (sign and three digits without the E beyond 99).
std::string exponent(float v, int w, int d) {
  if (!std::isfinite(v)) return special(v, w);
  std::string s;
  int e = 0;
  if (v == 0.0f) {
    s = "0." + std::string(d, '0');
  } else {
    char buf[64];
    // d significant digits, correctly rounded: x.yyy e+zz, then 0.xyyy e+(zz+1).
    std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(static_cast<double>(v)));
    std::string m = buf;
    const std::size_t epos = m.find('e');
    e = std::atoi(m.c_str() + epos + 1) + 1;
    std::string digits;
    for (std::size_t i = 0; i < epos; ++i)
      if (m[i] != '.') digits += m[i];
    s = (v < 0 ? "-0." : "0.") + digits;
  }
  char ebuf[16];
  if (std::abs(e) <= 99) std::snprintf(ebuf, sizeof ebuf, "E%c%02d", e < 0 ? '-' : '+', std::abs(e));
  else std::snprintf(ebuf, sizeof ebuf, "%c%03d", e < 0 ? '-' : '+', std::abs(e));
  return fit(s + ebuf, w);
}

// Character field Aw: the first w characters, blank-padded on the right.
std::string chars(const std::string& s, int w) {
  std::string out = s.substr(0, std::min<std::size_t>(s.size(), w));
  out.resize(w, ' ');
  return out;
}

}  // namespace

int fc_header_length(const FcHeader& h) { return 76 + 28 * h.nlevels + 20 * h.nch; }

std::string fc_header_text(const FcHeader& h) {
  if (h.nch < 1 || h.nch > nchmx || h.nlevels < 0 || h.nlevels > ndmx)
    throw Error("Fourier-coefficient header: impossible counts (" + std::to_string(h.nch) + " channels, " +
                std::to_string(h.nlevels) + " levels)");
  std::string t;
  t.reserve(fc_header_capacity);
  t += "nch" + int_field(h.nch, 5);
  t += "nd" + int_field(h.nlevels, 6);
  t += "nfmx" + int_field(h.nfmx, 8);
  t += "mwin";
  for (int i = 1; i <= h.nlevels; ++i) t += int_field(h.level_id[i], 8) + int_field(h.nwin[i], 8);
  t += "dr  ";
  for (int i = 1; i <= h.nlevels; ++i) t += exponent(h.dr[i], 12, 4);
  t += "ch,orien";
  for (int c = 0; c < h.nch; ++c) t += chars(h.chid[c], 6) + fixed(h.orient[c], 6, 1) + fixed(h.tilt[c], 8, 2);
  t += "scor" + fixed(h.lat, 8, 4) + fixed(h.lon, 8, 4);
  t += "decl" + fixed(h.decl, 8, 4);
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
