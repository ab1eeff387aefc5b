#include "transfer/tf_run.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <algorithm>
#include <sstream>

#include "common/console.hpp"
#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "common/text.hpp"
#include "common/utc_time.hpp"
#include "output/staged_files.hpp"
#include "transfer/bands.hpp"
#include "transfer/coefficient_source.hpp"
#include "transfer/edi_file.hpp"
#include "transfer/estimate.hpp"
#include "transfer/tf_tables.hpp"

namespace qv::tf {

namespace {

constexpr const char* kUsage =
    "usage: qel_tf SITE.f5 [MORE.f5 ...] [options]\n"
    "Estimates the impedance and tipper of a station from its Fourier-coefficient\n"
    "file(s) (several files of one set-up, daily files say, are estimated as one)\n"
    "and writes BASE.edi (SEG EDI), BASE.tf.csv and BASE.tf.json.\n"
    "\n"
    "Options:\n"
    "  -o BASE            output base name (default: the first file's name\n"
    "                     without .f<n>, in its folder)\n"
    "  --bands FILE       bands from a file: lines LEVEL_ID FIRST LAST (harmonics)\n"
    "  --write-bands      print the default bands in that layout and stop\n"
    "  --estimator robust|ols     robust M-estimate (default) or least squares\n"
    "  --errors parametric|jackknife   error estimate (default parametric)\n"
    "  --channels Ex=4,Ey=5,Hx=1,Hy=2,Hz=3   channel roles (default: from kinds\n"
    "                     and orientations)\n"
    "  --rotate DEG       rotate the result: x axis DEG east of the frame's north\n"
    "  --geographic       x axis to geographic north, with the declination\n"
    "  --from UTC, --to UTC   only windows within (2026-01-02T03:04:05Z)\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "Exit status: 0 when the three files were written, 1 otherwise.\n";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

double parse_degrees(const std::string& opt, const std::string& v) {
  double d = 0;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), d);
  if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size() || !std::isfinite(d) || std::fabs(d) > 360.0)
    throw Error("option " + opt + ": expected an angle in degrees from -360 to 360, found '" + v + "'");
  return d;
}

// The base name of a coefficient file: its path without ".f<digit>".
std::string default_base(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot + 3 == path.size() && path[dot + 1] == 'f' &&
      std::isdigit(static_cast<unsigned char>(path[dot + 2])))
    return path.substr(0, dot);
  return path;
}

std::string degrees_text(double v) { return Console::num(v); }

// A period for the console: four significant digits.
std::string period_text(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", s);
  return buf;
}

Site make_site(const CoefficientSource& src, const TfOptions& o, double decl) {
  Site s;
  s.declination_deg = decl;
  if (src.has_metadata()) {
    const nlohmann::json& st = src.metadata().at("station");
    s.name = st.value("name", std::string());
    s.latitude_deg = st.value("latitude_deg", 0.0);
    s.longitude_deg = st.value("longitude_deg", 0.0);
    if (st.contains("elevation_m") && st["elevation_m"].is_number()) {
      s.has_elevation = true;
      s.elevation_m = st["elevation_m"].get<double>();
    }
  }
  if (s.name.empty()) s.name = std::filesystem::path(default_base(o.files.front())).filename().string();
  const Roles& r = src.roles();
  const auto add = [&](const char* role, int number) {
    if (!number) return;
    const ChannelInfo& c = src.channels()[static_cast<std::size_t>(number - 1)];
    SiteChannel sc;
    sc.role = role;
    sc.id = c.id;
    sc.number = number;
    sc.azimuth_deg = c.azimuth_deg + (o.geographic ? decl : 0.0);
    sc.tilt_deg = c.tilt_deg;
    sc.line_length_m = c.line_length_m;
    s.channels.push_back(sc);
  };
  add("HX", r.hx);
  add("HY", r.hy);
  add("HZ", r.hz);
  add("EX", r.ex);
  add("EY", r.ey);
  return s;
}

}  // namespace

std::optional<double> parse_utc(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double sec = 0;
  char sep = 0;
  std::string t = text;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
  int used = 0;
  const int n = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used);
  if (n < 3) return std::nullopt;
  std::string rest = t.substr(static_cast<std::size_t>(used));
  if (!rest.empty()) {
    sep = rest[0];
    if (sep != 'T' && sep != 't' && sep != ' ') return std::nullopt;
    rest = rest.substr(1);
    int used2 = 0;
    if (std::sscanf(rest.c_str(), "%2d:%2d%n", &h, &mi, &used2) < 2) return std::nullopt;
    rest = rest.substr(static_cast<std::size_t>(used2));
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      const std::string s = rest.substr(1);
      const auto r = std::from_chars(s.data(), s.data() + s.size(), sec);
      if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    }
  }
  if (mo < 1 || mo > 12 || h < 0 || h > 23 || mi < 0 || mi > 59 || !(sec >= 0 && sec < 61)) return std::nullopt;
  // A day the month does not have (2026-02-30) is a typing error, not 2 March.
  const std::int64_t month_days = (mo == 12 ? days_from_civil(y + 1, 1) : days_from_civil(y, mo + 1)) - days_from_civil(y, mo);
  if (d < 1 || d > month_days) return std::nullopt;
  return static_cast<double>(unix_seconds(y, mo, d, h, mi, 0)) + sec;
}

TfOptions parse_tf_options(const std::vector<std::string>& args) {
  TfOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](const char* name) -> std::string {
      if (i + 1 >= args.size()) throw Error(std::string("option ") + name + " needs a value");
      return args[++i];
    };
    if (a == "-o") {
      o.base = value("-o");
    } else if (a == "--bands") {
      o.bands_file = value("--bands");
    } else if (a == "--write-bands") {
      o.write_bands = true;
    } else if (a == "--estimator") {
      const std::string v = lower(value("--estimator"));
      if (v == "robust") o.estimator = Estimator::robust;
      else if (v == "ols") o.estimator = Estimator::ols;
      else throw Error("option --estimator: expected robust or ols, found '" + v + "'");
    } else if (a == "--errors") {
      const std::string v = lower(value("--errors"));
      if (v == "parametric") o.errors = ErrorMethod::parametric;
      else if (v == "jackknife") o.errors = ErrorMethod::jackknife;
      else throw Error("option --errors: expected parametric or jackknife, found '" + v + "'");
    } else if (a == "--channels") {
      o.channels = value("--channels");
    } else if (a == "--rotate") {
      o.rotate_deg = parse_degrees("--rotate", value("--rotate"));
    } else if (a == "--geographic") {
      o.geographic = true;
    } else if (a == "--from" || a == "--to") {
      const std::string v = value(a.c_str());
      const std::optional<double> t = parse_utc(v);
      if (!t) throw Error("option " + a + ": expected a UTC time such as 2026-01-02T03:04:05Z, found '" + v + "'");
      (a == "--from" ? o.from_unix_s : o.to_unix_s) = t;
    } else if (!a.empty() && a[0] == '-') {
      throw Error("unknown option \"" + a + "\"; qel_tf -h lists the options");
    } else {
      o.files.push_back(a);
    }
  }
  if (o.files.empty()) throw Error("no coefficient file given; qel_tf -h shows how to call it");
  if (o.from_unix_s && o.to_unix_s && *o.to_unix_s < *o.from_unix_s)
    throw Error("--to lies before --from: no window could be used");
  if (o.base.empty()) o.base = default_base(o.files.front());
  return o;
}

namespace {

// The frame the result is given in, in words.
std::string frame_text(const TfOptions& o, double decl) {
  const std::string rotated = "rotated by " + degrees_text(o.rotate_deg) + " degrees";
  if (o.geographic)
    return "geographic north: the channels' azimuths plus the declination " + degrees_text(decl) + " degrees" +
           (o.rotate_deg != 0 ? ", " + rotated : "");
  return o.rotate_deg != 0 ? "the channels' north, " + rotated : "the channels' north (measurement coordinates)";
}

// The estimate of every band with enough rows within the windows used; a
// band with too few is left out with a warning.
void estimate_bands(CoefficientSource& src, const std::vector<Band>& bands, const TfOptions& o, Result& res,
                    std::ostream& err) {
  EstimateOptions eo;
  eo.estimator = o.estimator;
  eo.errors = o.errors;
  // The largest band sizes the buffers once; every band reuses them.
  std::int64_t max_rows = 0, max_windows = 0;
  for (const Band& b : bands) {
    const LevelInfo& l = src.level(b.level_id);
    max_rows = std::max(max_rows, l.windows * (b.last_harmonic - b.first_harmonic + 1));
    max_windows = std::max(max_windows, l.windows);
  }
  if (max_rows > std::numeric_limits<int>::max())
    throw Error("a band of " + std::to_string(max_rows) + " rows is more than one estimate can hold (" +
                std::to_string(std::numeric_limits<int>::max()) + "); use --from and --to, or narrower bands");
  EstimateWork work;
  work.reserve(static_cast<int>(max_rows), static_cast<int>(max_windows));
  BandRows rows;
  rows.reserve(static_cast<std::size_t>(max_rows), src.nout());
  for (const Band& b : bands) {
    src.rows(b, rows);
    if (rows.n < min_band_rows) {
      err << "qel_tf: warning: band of level " << b.level_id << ", harmonics " << b.first_harmonic << " to "
          << b.last_harmonic << " (" << period_text(b.period_s) << " s) has " << rows.n
          << " rows within the windows used; it is left out\n";
      continue;
    }
    eo.rho2 = src.level(b.level_id).rho2;
    res.bands.push_back(estimate_band(b, rows, eo, work));
  }
}

// What the result was made from, for the writers: program, bands, metadata,
// window times and source files.
void note_processing(Result& res, const CoefficientSource& src, const TfOptions& o) {
  // The writers state the sign convention, units, estimator, errors, frame,
  // rotation, declination, source and window times themselves.
  auto& p = res.site.processing;
  p.emplace_back("PROGRAM", std::string("qel_tf ") + kProgramVersion + " (" + kProgramDate + ")");
  p.emplace_back("BANDS", o.bands_file.empty() ? "default, " + std::to_string(bands_per_decade) +
                                                     " per decade from harmonic " +
                                                     std::to_string(first_usable_harmonic)
                                               : o.bands_file);
  p.emplace_back("METADATA", src.has_metadata() ? "yes" : "no: times, geometry and units assumed");
  if (!std::isnan(src.first_unix_s())) {
    res.site.has_times = true;
    res.site.first_window_utc = iso_utc(static_cast<std::int64_t>(std::floor(src.first_unix_s())),
                                        src.first_unix_s() - std::floor(src.first_unix_s()), 3);
    res.site.last_window_utc = iso_utc(static_cast<std::int64_t>(std::floor(src.last_unix_s())),
                                       src.last_unix_s() - std::floor(src.last_unix_s()), 3);
  }
  for (const std::string& f : o.files) res.site.source_files += (res.site.source_files.empty() ? "" : ", ") + f;
}

// The three files are one result: written aside, put in place together.
void write_results(const Result& res, const std::string& base, std::ostream& err) {
  StagedFile edi(base + ".edi", "EDI file"), csv(base + ".tf.csv", "transfer-function table"),
      json(base + ".tf.json", "transfer-function file");
  const auto write = [](StagedFile& f, const std::string& text) {
    f.create();
    if (std::fwrite(text.data(), 1, text.size(), f.stream()) != text.size())
      throw Error("cannot write the " + f.what() + " \"" + f.final_path() + "\"");
  };
  std::ostringstream t1, t2, t3;
  write_edi(res, t1);
  write_tf_csv(res, t2);
  write_tf_json(res, t3);
  write(edi, t1.str());
  write(csv, t2.str());
  write(json, t3.str());
  StagedSet set;
  set.add(csv);
  set.add(json);
  set.add(edi);
  for (const std::string& w : set.publish()) err << "qel_tf: warning: " << w << '\n';
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const TfOptions o = parse_tf_options(args);
  std::vector<std::string> warnings;
  CoefficientSource src(o.files, warnings);
  for (const std::string& w : warnings) err << "qel_tf: warning: " << w << '\n';

  const std::vector<Band> bands =
      o.bands_file.empty() ? default_bands(src.levels()) : read_band_file(o.bands_file, src.levels());
  if (o.write_bands) {
    write_band_file(bands, out);
    return 0;
  }
  if (bands.empty())
    throw Error("the coefficient file" + std::string(o.files.size() > 1 ? "s hold" : " holds") +
                " too few windows for any band (a band needs " + std::to_string(min_band_rows) + " rows)");

  const double decl = src.has_metadata() ? src.metadata().at("station").value("declination_deg", 0.0) : 0.0;
  // Channel orientations count from the north the system parameter file
  // names (usually magnetic); geographic north lies at minus the declination.
  const double zrot = o.rotate_deg - (o.geographic ? decl : 0.0);
  src.set_frame(o.channels.empty() ? Roles{} : parse_roles(o.channels, static_cast<int>(src.channels().size())),
                zrot);
  src.set_span({o.from_unix_s, o.to_unix_s});

  Result res;
  res.estimator = o.estimator;
  res.errors = o.errors;
  res.site = make_site(src, o, decl);
  res.site.zrot_deg = o.rotate_deg;
  res.site.frame = frame_text(o, decl);

  estimate_bands(src, bands, o, res, err);
  if (res.bands.empty()) throw Error("no band has enough rows within the windows used");

  note_processing(res, src, o);

  write_results(res, o.base, err);
  out << "qel_tf: " << res.bands.size() << " bands from " << period_text(res.bands.front().band.period_s) << " s to "
      << period_text(res.bands.back().band.period_s) << " s written to " << o.base << ".edi, " << o.base << ".tf.csv and "
      << o.base << ".tf.json\n";
  return 0;
}

}  // namespace

int tf_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return guarded_main({"qel_tf", kUsage}, args, out, err, [&] { return run(args, out, err); });
}

}  // namespace qv::tf
