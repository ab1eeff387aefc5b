#include "calibration/system_parameters.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "common/fixed_format.hpp"
#include "common/sample_interval.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv {

namespace {

constexpr int kStationWidth = 20;
constexpr int kIdWidth = 6;
constexpr int kCodeWidth = 2;
constexpr int kFilterLineWidth = 256;
constexpr int kDisplayWidth = 20;  // display list of a channel's filter codes

struct FilterCode {
  const char* code;
  int type;
};

// Analog filter and response codes of the channel entries; codes are compared
// exactly, so only the spellings listed here are known.
constexpr FilterCode kFilterCodes[] = {
    {"l1", 5},  {"L1", 5},  {"l2", 4},  {"L2", 4},  {"h1", 2},  {"H1", 2},  {"h2", 3},  {"H2", 3},
    {"bc", 6},  {"BC", 6},  {"te", 7},  {"TE", 7},  {"tb", 8},  {"TB", 8},  {"pz", 10}, {"PZ", 10},
    {"pd", 11}, {"PD", 11}, {"mx", 12}, {"MX", 12}, {"RA", 13}, {"ra", 13}, {"MA", 14}, {"ma", 14},
    {"R2", 15}, {"r2", 15}, {"M1", 16}, {"m1", 16}, {"PA", 17}, {"pa", 17}, {"05", 18}, {"UC", 97},
    {"AP", 98}, {"RI", 99}, {"DT", 101}, {"dt", 101},
};
constexpr int kUnknownFilter = 9;

int filter_type(std::string_view code) {
  for (const FilterCode& f : kFilterCodes)
    if (code == f.code) return f.type;
  return kUnknownFilter;
}

// Reading the file, with the messages a read error gives. Every line up to
// the end of the last channel entry must be there: a file that ends early
// would leave a channel without scale factor or filters.
class SpFile {
 public:
  SpFile(TextReader& r, const std::string& name) : r_(r), name_(name) {}

  // The first `width` characters of the next line, blank-padded.
  void text(std::string& v, int width, const std::string& what) { v = fixed_field(next(what), 0, width); }
  // The first `width` characters of the next line as they stand.
  void verbatim(std::string& v, int width, const std::string& what) {
    v = std::string(next(what).substr(0, static_cast<std::size_t>(width)));
  }
  // One free-format read.
  template <class... T>
  void values(const std::string& what, T&... v) {
    const ReadStatus st = r_.read(v...);
    if (st != ReadStatus::ok) fail(r_.describe(st, what));
  }
  // A value that must be finite and non-zero (scales, gains, line lengths).
  void nonzero(float v, const std::string& what) const {
    if (v == 0.0f || !std::isfinite(v))
      fail("line " + std::to_string(line()) + ": expected " + what + " that is not zero, found " + Console::num(v));
  }
  [[noreturn]] void fail(const std::string& detail) const {
    throw Error("error reading system parameter file " + name_ + " (" + detail + ")");
  }
  std::int64_t line() const { return r_.line_number(); }

 private:
  std::string_view next(const std::string& what) {
    std::string_view line;
    if (!r_.next_line(line))
      fail("line " + std::to_string(r_.line_number() + 1) + ": expected " + what + ", found the end of the file");
    return line;
  }

  TextReader& r_;
  const std::string& name_;
};

// Opens the file, retrying with the file name cut before its first blank or
// full stop, + ".sp". Only the name after the last '/' is cut: a folder such
// as "." or "survey.2018" must survive. sp_name becomes the name that opened.
void open_sp_file(TextReader& r, std::string& sp_name) {
  if (r.open(sp_name)) return;
  const std::string first = sp_name;
  const std::size_t slash = first.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view name = std::string_view(first).substr(name_at);
  sp_name = first.substr(0, name_at) + std::string(name.substr(0, base_name_length(name))) + ".sp";
  if (!r.open(sp_name))
    throw Error("error: system parameter file " + sp_name + " not found" +
                (sp_name == first ? std::string() : " (nor " + first + ")"));
}

// The lines before the channel entries: station, position, declination,
// channel count, sample interval, delay and drift. The station name is shown
// as soon as it is read.
void read_station(SpFile& f, float reference_declination, SystemParameters& sp, Console& con) {
  f.text(sp.station, kStationWidth, "the station name");
  con.say(sp.station);
  const int lead = first_nonblank(sp.station) - 1;  // all blank: stays blank
  if (last_nonblank(sp.station) > 0)
    sp.station = sp.station.substr(static_cast<std::size_t>(lead)) + std::string(static_cast<std::size_t>(lead), ' ');

  f.values("the latitude and longitude in degrees", sp.lat, sp.lon);
  if (sp.lon < 0) sp.lon += 360.0f;
  f.values("the declination in degrees", sp.decl);
  if (sp.decl == 0.0f && reference_declination != 0.0f) {
    sp.decl = reference_declination;
    sp.decl_source = "reference field model (IGRF-11 at the recorder's position and date)";
  }
  f.values("the number of channels", sp.nch);
  if (sp.nch < 1 || sp.nch > nchmx)
    f.fail("line " + std::to_string(f.line()) + ": expected 1 to " + std::to_string(nchmx) +
           " channels, found " + std::to_string(sp.nch));
  f.values("the sample interval in seconds", sp.dt);
  if (!(sp.dt > 0.0f) || !std::isfinite(sp.dt))
    f.fail("line " + std::to_string(f.line()) + ": expected a positive sample interval in seconds, found " +
           Console::num(sp.dt));
  if (!usable_sample_interval(sp.dt))
    f.fail("line " + std::to_string(f.line()) + ": expected a sample interval from " + usable_interval_range +
           ", found " + Console::num(sp.dt));
  f.values("the system delay in seconds and the clock drift rate", sp.sysdelay, sp.drift);
  sp.drift_flag = std::fabs(sp.drift) > 1.0e-20f;
}

// The summary of the station and the heading of the channel table.
void show_station(const SystemParameters& sp, int nch, Console& con) {
  const float sampfreq = 1.0f / sp.dt;
  con.blank();
  con.text("Station:" + sp.station.substr(0, 9) + "   # of channels:" + fmt_i(nch, 3) + "    Dt:" +
           fmt_f(sampfreq, 8, 2) + "Hz");
  con.text("Lat./Long.:" + fmt_f(sp.lat, 7, 2) + fmt_f(sp.lon, 7, 2) + "    Declination:" + fmt_f(sp.decl, 6, 2));
  con.blank();
  con.text("    CHID    ORIENT.   TILT    SCALE          FILTERS");
}

// The first character alone decides the kind of a channel; a blank put
// before "Ex" by hand makes it magnetic, which nothing else would show.
void warn_blank_identifier(const ChannelDescription& ch, const std::string& chan, const SpFile& f,
                           const std::string& source, Console& con) {
  if (ch.id[0] != ' ' && ch.id[0] != '\t') return;
  const std::string_view rest = trim(ch.id);
  std::string what = "system parameter file " + source + ", line " + std::to_string(f.line()) +
                     ": the identifier of " + chan + ", \"" + std::string(trim_right(ch.id)) +
                     "\", begins with a blank; only an identifier that begins with E or e is electric, so the " +
                     "channel is taken as magnetic (its next line: orientation and tilt)";
  if (!rest.empty() && (rest[0] == 'E' || rest[0] == 'e'))
    what += "; write \"" + std::string(rest) + "\" from the line's first column for an electric channel";
  con.warn(what);
}

// Line length, orientation, tilt, gain and scale of an electric channel, or
// orientation, tilt and scale of a magnetic one; the scale factor that turns
// counts into field values follows. Returns the number of filters.
int read_channel_scale(SpFile& f, ChannelDescription& ch, const std::string& named) {
  float s = 0;
  int nf = 0;
  if (ch.id[0] == 'e' || ch.id[0] == 'E') {
    float length = 0, gain = 0;
    f.values("the line length in metres, orientation, tilt and gain of electric " + named, length, ch.orient,
             ch.tilt, gain);
    f.nonzero(length, "an electrode line length in metres of " + named);
    f.nonzero(gain, "a gain of " + named);
    ch.line_length_m = length;
    ch.gain = gain;
    length /= 1000.0f;  // kilometres
    f.values("the scale and the number of filters of " + named, s, nf);
    f.nonzero(s, "a scale of " + named);
    ch.scale = 1.0f / (s * gain * length);
  } else {
    f.values("the orientation and tilt of magnetic " + named, ch.orient, ch.tilt);
    f.values("the scale and the number of filters of " + named, s, nf);
    f.nonzero(s, "a scale of " + named);
    ch.scale = 1.0f / s;
    ch.gain = 1;
    ch.line_length_m = 0;
  }
  ch.S = s;
  f.nonzero(ch.scale, "a scale factor 1 / (scale x gain x length in km) of " + named);
  if (nf < 0 || nf > nfiltmx)
    f.fail("line " + std::to_string(f.line()) + ": " + named + " lists " + std::to_string(nf) + " filters, at most " +
           std::to_string(nfiltmx) + " are possible");
  return nf;
}

// Channel entry i (0-based) of nch: identifier, scale and filters, with the
// console's notes on what it cannot use. Returns the display list of its
// filter codes for the channel table.
std::string read_channel(SpFile& f, int i, int nch, const std::string& source, ChannelDescription& ch,
                         Console& con) {
  ch.id = std::string(kIdWidth, ' ');
  const std::string chan = "channel " + std::to_string(i + 1);
  f.text(ch.id, kIdWidth, "the identifier of " + chan + " of " + std::to_string(nch));
  const std::string named = chan + " (" + std::string(trim(ch.id)) + ")";
  warn_blank_identifier(ch, chan, f, source, con);
  const int nf = read_channel_scale(f, ch, named);
  ch.nfilt = nf;

  std::string display(kDisplayWidth, ' ');
  for (int j = 0; j < nf; ++j) {
    std::string code(kCodeWidth, ' ');
    const std::string filt = "filter " + std::to_string(j + 1) + " of " + named;
    f.text(code, kCodeWidth, "the code of " + filt);
    const std::size_t at = static_cast<std::size_t>(last_nonblank(display));
    display.replace(at, 4, " " + code + " ");
    f.verbatim(ch.fline[static_cast<std::size_t>(j)], kFilterLineWidth, "the parameter line of " + filt);
    ch.fcode[static_cast<std::size_t>(j)] = code;
    ch.ftype[static_cast<std::size_t>(j)] = filter_type(code);
    if (ch.ftype[static_cast<std::size_t>(j)] == kUnknownFilter) con.say("filter type", code + " unknown");
  }
  return display;
}

// The channel's row of the table.
void show_channel(const ChannelDescription& ch, int i, const std::string& display, Console& con) {
  const std::string list = display.substr(0, static_cast<std::size_t>(last_nonblank(display)));
  const std::string shown = list.size() > 9 ? list.substr(0, 9) : std::string(9 - list.size(), ' ') + list;
  con.text(fmt_i(i + 1, 2) + "  " + ch.id + "     " + fmt_f(ch.orient, 7, 2) + fmt_f(ch.tilt, 7, 2) +
           fmt_e(ch.scale, 12, 5) + fmt_i(ch.nfilt, 3) + " " + shown);
}

}  // namespace

SystemParameters GETSP(std::string& sp_name, float reference_declination, Console& con) {
  TextReader r;
  open_sp_file(r, sp_name);
  SpFile f(r, sp_name);
  SystemParameters sp;
  sp.source = sp_name;
  sp.station = std::string(kStationWidth, ' ');
  read_station(f, reference_declination, sp, con);
  // Six declared channels: five are read and processed, six handed back.
  const bool six = sp.nch == 6;
  const int nch = six ? 5 : sp.nch;
  show_station(sp, nch, con);
  // Each channel's row follows its entry, so that a fault in a later entry
  // comes after the rows of those read.
  for (int i = 0; i < nch; ++i) {
    ChannelDescription& ch = sp.ch[static_cast<std::size_t>(i)];
    const std::string display = read_channel(f, i, nch, sp.source, ch, con);
    show_channel(ch, i, display, con);
  }
  if (six) sp.nch = 6;
  return sp;
}

}  // namespace qv
