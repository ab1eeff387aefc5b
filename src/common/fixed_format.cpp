#include "common/fixed_format.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qv {

namespace {

std::string fit(const std::string& s, int w) {
  const std::size_t width = static_cast<std::size_t>(w);
  if (s.size() > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

std::string non_finite(double v) {
  if (std::isnan(v)) return "NaN";
  return v < 0 ? "-Infinity" : "Infinity";
}

}  // namespace

std::string fmt_i(long long v, int w) { return fit(std::to_string(v), w); }

std::string fmt_f(double v, int w, int d) {
  if (!std::isfinite(v)) return fit(non_finite(v), w);
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", d, v);
  std::string s = buf;
  if (static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  }
  return fit(s, w);
}

std::string fmt_e(double v, int w, int d) {
  if (!std::isfinite(v)) return fit(non_finite(v), w);
  std::string digits(static_cast<std::size_t>(d), '0');
  int exp10 = 0;
  if (v != 0) {
    // d significant digits, correctly rounded: x.yyy e+zz, then 0.xyyy e+(zz+1).
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
    const std::string_view s(buf);
    const std::size_t epos = s.find('e');
    digits.clear();
    for (char c : s.substr(0, epos))
      if (c != '.') digits += c;
    exp10 = std::atoi(buf + epos + 1) + 1;
  }
  std::string out = v < 0 ? "-0." : "0.";
  out += digits;
  char e[16];
  const int a = std::abs(exp10);
  if (a <= 99) std::snprintf(e, sizeof e, "E%c%02d", exp10 < 0 ? '-' : '+', a);
  else std::snprintf(e, sizeof e, "%c%03d", exp10 < 0 ? '-' : '+', a);
  return fit(out + e, w);
}

std::string fmt_a(std::string_view s, int w) {
  std::string out(s.substr(0, static_cast<std::size_t>(w)));
  out.resize(static_cast<std::size_t>(w), ' ');
  return out;
}

}  // namespace qv
