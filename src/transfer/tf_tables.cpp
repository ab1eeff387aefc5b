#include "transfer/tf_tables.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/program_entry.hpp"

namespace qv::tf {

namespace {

using json = nlohmann::ordered_json;

constexpr double kDeg = 180.0 / std::numbers::pi;

// The impedance elements by name: output (Ex, Ey) and input (Hx, Hy).
struct Element {
  const char* name;
  int out, in;
};
constexpr Element kZ[] = {{"xx", out_ex, 0}, {"xy", out_ex, 1}, {"yx", out_ey, 0}, {"yy", out_ey, 1}};
constexpr Element kT[] = {{"tx", out_hz, 0}, {"ty", out_hz, 1}};
constexpr const char* kOutputName[] = {"Ex", "Ey", "Hz"};

const OutputEstimate* output(const BandEstimate& b, int o) {
  return b.out.size() > static_cast<std::size_t>(o) ? &b.out[static_cast<std::size_t>(o)] : nullptr;
}

const char* estimator_key(Estimator e) { return e == Estimator::robust ? "robust" : "ols"; }
const char* errors_key(ErrorMethod e) {
  switch (e) {
    case ErrorMethod::parametric: return "parametric";
    case ErrorMethod::jackknife: return "jackknife";
    case ErrorMethod::bootstrap: break;
  }
  return "bootstrap";
}

// ---- CSV ----

// A field: the shortest text that reads back to the same double, or nothing
// for a number the result does not have.
void field(std::string& line, double v) {
  line += ',';
  if (!std::isfinite(v)) return;
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  line.append(buf, r.ptr);
}

void field(std::string& line, long long v) {
  line += ',';
  line += std::to_string(v);
}

// A text field, quoted when it holds a comma, quote or line break.
void text_field(std::string& line, const std::string& v) {
  line += ',';
  if (v.find_first_of(",\"\r\n") == std::string::npos) {
    line += v;
    return;
  }
  line += '"';
  for (char c : v) line += c == '"' ? std::string("\"\"") : std::string(1, c);
  line += '"';
}

// The remote reference of a band's line: its site and file, and the
// windows of the band's level found in both files and in only one.
void remote_fields(std::string& line, const RemoteSite& r, int level_id) {
  text_field(line, r.name);
  text_field(line, r.file);
  long long paired = 0, left_out = 0;
  for (const RemoteSite::Level& l : r.levels)
    if (l.level_id == level_id) paired = l.paired, left_out = l.local_only + l.reference_only;
  field(line, paired);
  field(line, left_out);
}

// ---- JSON ----

json number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

// A Hermitian matrix of n x n complex values, row-major, as its real and
// imaginary parts, each a list of rows.
json complex_matrix(const cplx* m, int n) {
  json re = json::array(), im = json::array();
  for (int i = 0; i < n; ++i) {
    json r = json::array(), q = json::array();
    for (int j = 0; j < n; ++j) {
      r.push_back(number(m[i * n + j].real()));
      q.push_back(number(m[i * n + j].imag()));
    }
    re.push_back(r), im.push_back(q);
  }
  return json{{"re", re}, {"im", im}};
}

json element_json(const OutputEstimate& e, int in, const double* period_s) {
  const cplx z = e.z[static_cast<std::size_t>(in)];
  const double var = e.var[static_cast<std::size_t>(in)];
  json j{{"re", number(z.real())}, {"im", number(z.imag())}, {"var", number(var)},
         {"se", number(std::sqrt(var / 2))}};
  if (period_s) {
    const ApparentResistivity a = apparent_resistivity(z, var, *period_s);
    j["rho_a_ohm_m"] = number(a.rho_ohm_m);
    j["rho_a_err"] = number(a.rho_err);
    j["phase_deg"] = number(a.phase_deg);
    j["phase_err_deg"] = number(a.phase_err_deg);
  }
  return j;
}

json remote_json(const RemoteSite& r) {
  json ch = json::array();
  for (const SiteChannel& c : r.channels)
    ch.push_back({{"role", c.role},
                  {"id", c.id},
                  {"number", c.number},
                  {"azimuth_deg", number(c.azimuth_deg)},
                  {"tilt_deg", number(c.tilt_deg)}});
  json levels = json::array();
  long long paired = 0, local = 0, remote = 0;
  for (const RemoteSite::Level& l : r.levels) {
    levels.push_back({{"level", l.level_id},
                      {"window_shift", l.shift},
                      {"windows_paired", l.paired},
                      {"windows_site_only", l.local_only},
                      {"windows_reference_only", l.reference_only}});
    paired += l.paired, local += l.local_only, remote += l.reference_only;
  }
  return {{"file", r.file},
          {"site", r.name},
          {"latitude_deg", number(r.latitude_deg)},
          {"longitude_deg", number(r.longitude_deg)},
          {"channels", ch},
          {"windows_paired", paired},
          {"windows_site_only", local},
          {"windows_reference_only", remote},
          {"levels", levels}};
}

json site_json(const Site& s) {
  json j;
  j["name"] = s.name;
  j["latitude_deg"] = number(s.latitude_deg);
  j["longitude_deg"] = number(s.longitude_deg);
  j["elevation_m"] = s.has_elevation ? number(s.elevation_m) : json(nullptr);
  j["declination_deg"] = number(s.declination_deg);
  j["frame"] = s.frame;
  j["zrot_deg"] = number(s.zrot_deg);
  j["source_files"] = s.source_files;
  j["first_window_utc"] = s.has_times ? json(s.first_window_utc) : json(nullptr);
  j["last_window_utc"] = s.has_times ? json(s.last_window_utc) : json(nullptr);
  json ch = json::array();
  for (const SiteChannel& c : s.channels)
    ch.push_back({{"role", c.role},
                  {"id", c.id},
                  {"number", c.number},
                  {"azimuth_deg", number(c.azimuth_deg)},
                  {"tilt_deg", number(c.tilt_deg)},
                  {"line_length_m", c.line_length_m > 0 ? number(c.line_length_m) : json(nullptr)}});
  j["channels"] = ch;
  if (s.has_remote) j["remote_reference"] = remote_json(s.remote);
  return j;
}

json band_json(const BandEstimate& b) {
  json j;
  j["period_s"] = number(b.band.period_s);
  j["frequency_hz"] = number(b.band.freq_hz);
  j["band"] = {{"level", b.band.level_id},
               {"first_harmonic", b.band.first_harmonic},
               {"last_harmonic", b.band.last_harmonic}};
  j["rows"] = b.rows;
  j["windows"] = b.windows;
  j["iterations"] = b.iterations;
  json z = json::object();
  for (const Element& e : kZ)
    if (const OutputEstimate* o = output(b, e.out))
      z[std::string("z") + e.name] = element_json(*o, e.in, &b.band.period_s);
  j["impedance"] = z;
  if (const OutputEstimate* o = output(b, out_hz)) {
    json t = json::object();
    for (const Element& e : kT) t[e.name] = element_json(*o, e.in, nullptr);
    j["tipper"] = t;
  } else {
    j["tipper"] = nullptr;
  }
  json outs = json::array();
  for (std::size_t o = 0; o < b.out.size() && o < 3; ++o) {
    const OutputEstimate& e = b.out[o];
    outs.push_back({{"channel", kOutputName[o]},
                    {"coherence2", number(e.coherence2)},
                    {"dof", number(e.dof)},
                    {"rows_used", e.rows_used},
                    {"rows_downweighted", e.rows_downweighted},
                    {"residual_power", number(e.residual_power)}});
  }
  j["outputs"] = outs;
  const int nout = static_cast<int>(b.out.size());
  json cov;
  cov["residual_cov"] = b.residual_cov.size() == static_cast<std::size_t>(nout * nout) && nout > 0
                            ? complex_matrix(b.residual_cov.data(), nout)
                            : json(nullptr);
  cov["inverse_power"] = complex_matrix(b.inverse_power.data(), nin);
  j["covariance"] = cov;
  return j;
}

}  // namespace

ApparentResistivity apparent_resistivity(cplx z, double var, double period_s) {
  const double mag = std::abs(z), dz = std::sqrt(var / 2);
  ApparentResistivity a;
  a.rho_ohm_m = 0.2 * period_s * mag * mag;
  a.rho_err = 0.4 * period_s * mag * dz;
  a.phase_deg = std::atan2(z.imag(), z.real()) * kDeg;
  a.phase_err_deg = dz / mag * kDeg;
  return a;
}

void write_tf_csv(const Result& r, std::ostream& out) {
  std::string line = "period_s,frequency_hz,level,first_harmonic,last_harmonic,rows,windows";
  for (const Element& e : kZ) line += std::string(",z") + e.name + "_re,z" + e.name + "_im,z" + e.name + "_se";
  for (const Element& e : kZ)
    line += std::string(",rhoa_") + e.name + ",rhoa_" + e.name + "_err,phase_" + e.name + ",phase_" + e.name + "_err";
  line += ",coh2_ex,coh2_ey,coh2_hz";
  for (const Element& e : kT) line += std::string(",") + e.name + "_re," + e.name + "_im," + e.name + "_se";
  if (r.site.has_remote) line += ",remote_site,remote_file,level_windows_paired,level_windows_left_out";
  out << line << '\n';

  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  for (const BandEstimate& b : r.bands) {
    line.clear();  // every field adds its comma in front; the first one is dropped
    field(line, b.band.period_s);
    field(line, b.band.freq_hz);
    field(line, static_cast<long long>(b.band.level_id));
    field(line, static_cast<long long>(b.band.first_harmonic));
    field(line, static_cast<long long>(b.band.last_harmonic));
    field(line, static_cast<long long>(b.rows));
    field(line, static_cast<long long>(b.windows));
    for (const Element& e : kZ) {
      const OutputEstimate* o = output(b, e.out);
      const auto j = static_cast<std::size_t>(e.in);
      field(line, o ? o->z[j].real() : nan);
      field(line, o ? o->z[j].imag() : nan);
      field(line, o ? std::sqrt(o->var[j] / 2) : nan);
    }
    for (const Element& e : kZ) {
      const OutputEstimate* o = output(b, e.out);
      const auto j = static_cast<std::size_t>(e.in);
      const ApparentResistivity a =
          o ? apparent_resistivity(o->z[j], o->var[j], b.band.period_s) : ApparentResistivity{nan, nan, nan, nan};
      field(line, a.rho_ohm_m);
      field(line, a.rho_err);
      field(line, a.phase_deg);
      field(line, a.phase_err_deg);
    }
    for (int o = 0; o < 3; ++o) field(line, output(b, o) ? output(b, o)->coherence2 : nan);
    for (const Element& e : kT) {
      const OutputEstimate* o = output(b, e.out);
      const auto j = static_cast<std::size_t>(e.in);
      field(line, o ? o->z[j].real() : nan);
      field(line, o ? o->z[j].imag() : nan);
      field(line, o ? std::sqrt(o->var[j] / 2) : nan);
    }
    if (r.site.has_remote) remote_fields(line, r.site.remote, b.band.level_id);
    out << std::string_view(line).substr(1) << '\n';
  }
}

void write_tf_json(const Result& r, std::ostream& out) {
  json j;
  j["format"] = "qel_tf transfer functions";
  j["version"] = 1;
  j["program"] = {{"name", "qel_tf"}, {"version", kProgramVersion}, {"date", kProgramDate}};
  j["conventions"] = {
      {"time_dependence", "exp(+i omega t)"},
      {"inputs", json::array({"Hx", "Hy"})},
      {"outputs", json::array({"Ex", "Ey", "Hz"})},
      {"impedance_unit", "(mV/km)/nT"},
      {"tipper_unit", "1"},
      {"var", "expected |dz|^2 of a complex element; se = sqrt(var / 2) is the standard error of its real or "
              "of its imaginary part"},
      {"covariance", "cov(z[o][j], z[p][k]) = residual_cov[o][p] * inverse_power[j][k], o, p outputs and j, k "
                     "inputs in the order of outputs and inputs"},
      {"rho_a", "0.2 T |Z|^2 ohm m; rho_a_err = 0.4 T |Z| se"},
      {"phase", "degrees, atan2(im, re) in (-180, 180]; phase_err_deg = se / |Z| radians, in degrees"},
  };
  j["site"] = site_json(r.site);
  json options = json::object();
  for (const auto& [key, value] : r.site.processing) options[key] = value;
  j["processing"] = {{"estimator", estimator_key(r.estimator)}, {"errors", errors_key(r.errors)}};
  // The bootstrap's resamples and seed: with them the run repeats to the byte.
  if (r.errors == ErrorMethod::bootstrap)
    j["processing"]["bootstrap"] = {{"resamples", r.resamples}, {"seed", r.seed}};
  j["processing"]["options"] = options;
  json bands = json::array();
  for (const BandEstimate& b : r.bands) bands.push_back(band_json(b));
  j["bands"] = bands;
  out << j.dump(2, ' ', false, json::error_handler_t::replace) << '\n';  // names are station bytes
}

}  // namespace qv::tf
