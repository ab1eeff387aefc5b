#include "transfer/edi_file.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <numeric>
#include <vector>

#include "common/program_entry.hpp"
#include "common/utc_time.hpp"

namespace qv::tf {

namespace {

constexpr int kPerLine = 6;

// Readers split keyword lines at blanks and '=' and end a block at a line
// starting with '>', so a text the file quotes must stay on its line and
// must not close its quotes early.
std::string one_line(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
    if (c == '"') c = '\'';
  }
  return out;
}

// A length or angle of the site: fixed decimals, without the "-0.00" that a
// cosine of 90 degrees would give.
std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

// One number of a data block: E format, the EMPTY value for what is missing.
void put_number(std::ostream& out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%15.6E", std::isfinite(v) ? v : edi_empty);
  out << buf;
}

void put_block(std::ostream& out, const std::string& header, const std::vector<double>& values) {
  out << '>' << header << " //" << values.size() << '\n';
  for (std::size_t i = 0; i < values.size(); ++i) {
    put_number(out, values[i]);
    if ((i + 1) % kPerLine == 0 || i + 1 == values.size()) out << '\n';
  }
}

// The measurement identifiers every EDI reader knows: HX, HY, HZ, EX, EY as
// 1001 to 1005, a remote reference's RX, RY as 1006 and 1007.
struct RoleId {
  const char* role;
  const char* id;
};
constexpr RoleId kRoleIds[] = {
    {"HX", "1001.001"}, {"HY", "1002.001"}, {"HZ", "1003.001"}, {"EX", "1004.001"}, {"EY", "1005.001"},
};

constexpr RoleId kRemoteIds[] = {{"RX", "1006.001"}, {"RY", "1007.001"}};

// Metres north and east of the site to the remote reference, on a sphere of
// the mean Earth radius: enough to place it, across a survey's distances.
std::pair<double, double> remote_offset_m(const Site& s) {
  constexpr double metres_per_degree = 6371008.8 * std::numbers::pi / 180.0;
  const double north = (s.remote.latitude_deg - s.latitude_deg) * metres_per_degree;
  const double east = (s.remote.longitude_deg - s.longitude_deg) * metres_per_degree *
                      std::cos(0.5 * (s.latitude_deg + s.remote.latitude_deg) * std::numbers::pi / 180.0);
  return {north, east};
}

const SiteChannel* find_role(const Site& s, const char* role) {
  for (const SiteChannel& c : s.channels)
    if (c.role == role) return &c;
  return nullptr;
}

bool has_tipper(const Result& r) {
  if (find_role(r.site, "HZ")) return true;
  return std::any_of(r.bands.begin(), r.bands.end(),
                     [](const BandEstimate& b) { return b.out.size() > static_cast<std::size_t>(out_hz); });
}

const char* estimator_name(Estimator e) { return e == Estimator::robust ? "robust M-estimate" : "least squares"; }
std::string errors_name(const Result& r) {
  switch (r.errors) {
    case ErrorMethod::parametric: return "parametric covariance";
    case ErrorMethod::jackknife: return "jackknife over windows";
    case ErrorMethod::bootstrap: break;
  }
  return "bootstrap over windows, " + std::to_string(r.resamples) + " resamples, seed " + std::to_string(r.seed);
}

void write_head(const Result& r, std::ostream& out, std::int64_t file_unix_s) {
  const Site& s = r.site;
  const std::string program = std::string("qel_tf ") + kProgramVersion;
  out << ">HEAD\n";
  out << "    DATAID=\"" << one_line(s.name) << "\"\n";
  out << "    ACQBY=\"\"\n";
  out << "    FILEBY=\"" << program << "\"\n";
  out << "    FILEDATE=" << iso_utc(file_unix_s, 0, 0).substr(0, 10) << '\n';
  if (std::isfinite(s.latitude_deg)) out << "    LAT=" << edi_degrees(s.latitude_deg) << '\n';
  if (std::isfinite(s.longitude_deg)) out << "    LONG=" << edi_degrees(s.longitude_deg) << '\n';
  if (s.has_elevation) out << "    ELEV=" << fixed(s.elevation_m, 2) << '\n';
  out << "    STDVERS=\"SEG 1.0\"\n";
  out << "    PROGVERS=\"" << program << "\"\n";
  out << "    PROGDATE=" << kProgramDate << '\n';
  out << "    MAXSECT=999\n";
  out << "    EMPTY=1.0E+32\n\n";
}

void write_info(const Result& r, std::ostream& out) {
  const Site& s = r.site;
  std::vector<std::string> lines;
  // The coefficients come from a forward transform with kernel exp(-i omega t),
  // so a field varies in time as exp(+i omega t): the convention in which a
  // uniform half-space gives Zxy a phase of +45 degrees.
  lines.push_back("SIGNCONVENTION=exp(+ i\\omega t)");
  lines.push_back("Z_UNITS=(mV/km)/nT");
  lines.push_back("ESTIMATOR=" + std::string(estimator_name(r.estimator)));
  lines.push_back("ERRORS=" + errors_name(r));
  lines.push_back("FRAME=" + one_line(s.frame));
  lines.push_back("ZROT=" + fixed(s.zrot_deg, 2));
  lines.push_back("DECLINATION=" + fixed(s.declination_deg, 2));
  if (!s.source_files.empty()) lines.push_back("SOURCE=" + one_line(s.source_files));
  if (s.has_times) {
    lines.push_back("FIRST_WINDOW_UTC=" + one_line(s.first_window_utc));
    lines.push_back("LAST_WINDOW_UTC=" + one_line(s.last_window_utc));
  }
  for (const auto& [key, value] : s.processing) lines.push_back(one_line(key) + "=" + one_line(value));
  out << ">INFO MAXLINES=" << lines.size() << '\n';
  for (const std::string& l : lines) out << "    " << l << '\n';
  out << '\n';
}

void write_definemeas(const Result& r, std::ostream& out) {
  const Site& s = r.site;
  out << ">=DEFINEMEAS\n";
  out << "    MAXCHAN=" << s.channels.size() + (s.has_remote ? s.remote.channels.size() : 0) << '\n';
  out << "    MAXRUN=999\n";
  out << "    MAXMEAS=9999\n";
  out << "    UNITS=M\n";
  out << "    REFTYPE=CART\n";
  if (std::isfinite(s.latitude_deg)) out << "    REFLAT=" << edi_degrees(s.latitude_deg) << '\n';
  if (std::isfinite(s.longitude_deg)) out << "    REFLONG=" << edi_degrees(s.longitude_deg) << '\n';
  if (s.has_elevation) out << "    REFELEV=" << fixed(s.elevation_m, 2) << '\n';
  out << '\n';
  for (const RoleId& ri : kRoleIds) {
    const SiteChannel* c = find_role(s, ri.role);
    if (!c) continue;
    if (c->role[0] == 'H') {
      // The magnetometers stand at the site's centre.
      out << ">HMEAS ID=" << ri.id << " CHTYPE=" << ri.role << " X=0.00 Y=0.00 Z=0.00 AZM="
          << fixed(c->azimuth_deg, 2) << '\n';
    } else {
      // The line runs from -L/2 to +L/2 along its azimuth, x north, y east.
      const double a = c->azimuth_deg * std::numbers::pi / 180.0;
      const double hx = 0.5 * c->line_length_m * std::cos(a), hy = 0.5 * c->line_length_m * std::sin(a);
      out << ">EMEAS ID=" << ri.id << " CHTYPE=" << ri.role << " X=" << fixed(-hx, 2) << " Y=" << fixed(-hy, 2)
          << " Z=0.00 X2=" << fixed(hx, 2) << " Y2=" << fixed(hy, 2) << '\n';
    }
  }
  if (s.has_remote) {
    const auto [north, east] = remote_offset_m(s);
    for (std::size_t k = 0; k < s.remote.channels.size() && k < 2; ++k)
      out << ">HMEAS ID=" << kRemoteIds[k].id << " CHTYPE=" << kRemoteIds[k].role << " X=" << fixed(north, 2)
          << " Y=" << fixed(east, 2) << " Z=0.00 AZM=" << fixed(s.remote.channels[k].azimuth_deg, 2) << '\n';
  }
  out << '\n';
}

void write_mtsect(const Result& r, std::ostream& out) {
  out << ">=MTSECT\n";
  out << "    SECTID=\"" << one_line(r.site.name) << "\"\n";
  out << "    NFREQ=" << r.bands.size() << '\n';
  for (const RoleId& ri : kRoleIds)
    if (find_role(r.site, ri.role)) out << "    " << ri.role << '=' << ri.id << '\n';
  if (r.site.has_remote)
    for (const RoleId& ri : kRemoteIds) out << "    " << ri.role << '=' << ri.id << '\n';
  out << '\n';
}

}  // namespace

std::string edi_degrees(double deg) {
  // No angle to state (and none whose hundredths of a second overflow).
  if (!std::isfinite(deg) || std::fabs(deg) > 1e9) return "";
  // Hundredths of an arc second, rounded once, so that the seconds never
  // show 60.00.
  const double total = std::round(std::fabs(deg) * 360000.0);
  const auto h = static_cast<long long>(total);
  const long long d = h / 360000, m = h / 6000 % 60, cs = h % 6000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%lld:%02lld:%02lld.%02lld", deg < 0 && h > 0 ? "-" : "", d, m, cs / 100, cs % 100);
  return buf;
}

std::int64_t edi_file_time() {
  if (const char* e = std::getenv("SOURCE_DATE_EPOCH")) {
    std::int64_t v = 0;
    const char* end = e + std::char_traits<char>::length(e);
    const auto [p, ec] = std::from_chars(e, end, v);
    if (ec == std::errc() && p == end && p != e) return v;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

void write_edi(const Result& r, std::ostream& out, std::int64_t file_unix_s) {
  write_head(r, out, file_unix_s);
  write_info(r, out);
  write_definemeas(r, out);
  write_mtsect(r, out);

  // The bands come in increasing period; the file lists decreasing frequency
  // whatever order they come in.
  const std::size_t nb = r.bands.size();
  std::vector<std::size_t> order(nb);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return r.bands[a].band.freq_hz > r.bands[b].band.freq_hz;
  });

  std::vector<double> v(nb);
  auto column = [&](auto&& value) {
    for (std::size_t i = 0; i < nb; ++i) v[i] = value(r.bands[order[i]]);
    return v;
  };
  put_block(out, "FREQ", column([](const BandEstimate& b) { return b.band.freq_hz; }));
  put_block(out, "ZROT", column([&](const BandEstimate&) { return r.site.zrot_deg; }));

  // One element of one output: its real or imaginary part or its variance;
  // missing when the band has no estimate of that output.
  enum Part { re, im, var };
  auto element = [](int o, int j, Part p) {
    return [o, j, p](const BandEstimate& b) {
      if (b.out.size() <= static_cast<std::size_t>(o)) return edi_empty;
      const OutputEstimate& e = b.out[static_cast<std::size_t>(o)];
      const auto ju = static_cast<std::size_t>(j);
      return p == re ? e.z[ju].real() : p == im ? e.z[ju].imag() : e.var[ju];
    };
  };
  static constexpr const char* kZ[2][2] = {{"ZXX", "ZXY"}, {"ZYX", "ZYY"}};
  for (int o = 0; o < 2; ++o)
    for (int j = 0; j < nin; ++j) {
      const std::string name = kZ[o][j];
      put_block(out, name + "R ROT=ZROT", column(element(o, j, re)));
      put_block(out, name + "I ROT=ZROT", column(element(o, j, im)));
      put_block(out, name + ".VAR ROT=ZROT", column(element(o, j, var)));
    }
  if (has_tipper(r)) {
    put_block(out, "TROT", column([&](const BandEstimate&) { return r.site.zrot_deg; }));
    static constexpr const char* kT[2] = {"TX", "TY"};
    for (int j = 0; j < nin; ++j) {
      const std::string name = kT[j];
      put_block(out, name + "R.EXP ROT=TROT", column(element(out_hz, j, re)));
      put_block(out, name + "I.EXP ROT=TROT", column(element(out_hz, j, im)));
      put_block(out, name + "VAR.EXP ROT=TROT", column(element(out_hz, j, var)));
    }
  }
  out << "\n>END\n";
}

}  // namespace qv::tf
