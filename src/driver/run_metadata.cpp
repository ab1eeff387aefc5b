#include "driver/run_metadata.hpp"

#include <charconv>
#include <cmath>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "common/program_entry.hpp"
#include "common/sample_interval.hpp"
#include "common/text.hpp"
#include "common/utc_time.hpp"
#include "output/fc_hash.hpp"

namespace qv {

namespace {

using json = nlohmann::ordered_json;

// Microseconds resolve a sample at every rate the formats carry; more
// digits would only show the rounding of double precision.
constexpr int kTimeDecimals = 6;

// A time after the reference time as ISO 8601 text and as seconds since 1970.
json moment(const RecordingClock& clock, double after_reference_s) {
  const double whole = std::floor(after_reference_s);
  const std::int64_t s = clock.reference_unix_s + static_cast<std::int64_t>(whole);
  json t;
  t["utc"] = iso_utc(s, after_reference_s - whole, kTimeDecimals);
  t["unix_s"] = static_cast<double>(clock.reference_unix_s) + after_reference_s;
  return t;
}

json fields(const std::array<int, 6>& f) { return json::array({f[0], f[1], f[2], f[3], f[4], f[5]}); }

// A number of the set-up as the run holds it: single-precision values are
// shown as the shortest decimal that reads back to them (0.1, not
// 0.10000000149011612).
json real(float v) {
  if (!std::isfinite(v)) return nullptr;
  const std::string text = Console::num(v);
  double d = v;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

bool electric(const ChannelDescription& ch) { return !ch.id.empty() && (ch.id[0] == 'E' || ch.id[0] == 'e'); }

json channel(const ChannelDescription& ch, int number) {
  const bool e = electric(ch);
  json c;
  c["number"] = number;
  c["id"] = std::string(trim_right(ch.id));
  c["kind"] = e ? "electric" : "magnetic";
  c["orientation_deg"] = real(ch.orient);
  c["tilt_deg"] = real(ch.tilt);
  c["coefficient_unit"] = e ? "mV/km" : "nT";
  c["unit_assumes"] = e ? "S counts per mV of the electrode line's voltage" : "S counts per nT";
  c["S"] = real(ch.S);
  c["G"] = e ? real(ch.gain) : json(nullptr);
  c["line_length_m"] = e ? real(ch.line_length_m) : json(nullptr);
  c["scale_factor"] = real(ch.scale);
  json filters = json::array();
  for (int j = 0; j < ch.nfilt; ++j)
    filters.push_back({{"code", std::string(trim(ch.fcode[static_cast<std::size_t>(j)]))},
                       {"parameters", std::string(trim_right(ch.fline[static_cast<std::size_t>(j)]))}});
  c["filters"] = filters;
  return c;
}

json prewhitening(const DecSetup& s, int lev) {
  const int L = s.pworder[lev][0];
  json p;
  if (s.pwdiff[lev][0]) p["method"] = "first difference";
  else if (L <= 1) p["method"] = "none";
  else p["method"] = "autoregressive prediction-error filter";
  p["filter_length"] = std::max(L, 1);
  return p;
}

// Seconds per input sample for the window times: the interval the
// recording's rate stands for (0.00025 s at 4000 Hz, not the single-precision
// 0.00025f, which a month from the reference would move window 1 by 64 ms).
double nominal_interval_s(const Acquisition& acq) { return 1.0 / nominal_rate(acq.dr); }

// The grid time of window N of a level, the instant its coefficients refer
// to: the phase corrections refer every window to the grid start of its
// number. The grid window nearest the first sample, number first_window + 1,
// starts first_offset input samples after the sample numbered 0, and
// window N (N - first_window - 1) steps of h input samples later; the
// recording's first sample carries the number first_index, at the
// recording's sample interval.
double window_after_reference_s(const RunSetup& st, const Acquisition& acq, int lev, std::int64_t N) {
  const double samples = st.grid.first_offset[lev] +
                         static_cast<double>(N - st.grid.first_window[lev] - 1) * static_cast<double>(st.grid.step[lev]) -
                         static_cast<double>(acq.clock.first_index);
  return acq.clock.start_after_reference_s + samples * nominal_interval_s(acq);
}

json level(const RunSetup& st, const WindowsKept& kept, const Acquisition& acq, int lev) {
  const DecSetup& s = st.setup;
  const LevelSetup& ls = s.lev[lev];
  std::int64_t factor = 1;
  for (int l = 1; l <= lev; ++l) factor *= s.lev[l].decfac;
  const bool cut = ls.nfreq > 0;
  json v;
  v["level"] = lev;
  v["level_id"] = s.levoff + lev;
  v["sample_interval_s"] = real(st.dr[lev]);
  v["decfac"] = ls.decfac;
  v["cumulative_factor"] = factor;
  v["nwin"] = ls.nwin;
  v["olap"] = real(ls.olap);
  v["step_samples"] = real(static_cast<float>(ls.nwin) - ls.olap);
  v["nfreq"] = ls.nfreq;
  v["first_frequency_hz"] = cut ? real(harmonic_frequency(ls, st.dr[lev], 1)) : json(nullptr);
  v["last_frequency_hz"] = cut ? real(harmonic_frequency(ls, st.dr[lev], ls.nfreq)) : json(nullptr);
  v["prewhitening"] = prewhitening(s, lev);
  v["windows_stored"] = kept.level_sets[lev];
  const bool any = kept.level_sets[lev] > 0;
  v["first_window"] = any ? json(kept.level_first_number[lev]) : json(nullptr);
  v["last_window"] = any ? json(kept.level_last_number[lev]) : json(nullptr);
  if (!cut || st.grid.step[lev] < 1 || !acq.clock.known) {
    v["window_time"] = nullptr;
    return v;
  }
  // t(N) = t1 + (N - 1) step: one origin and one step per level, in seconds
  // since 1970, which any reader applies to any window number.
  const double t1 = window_after_reference_s(st, acq, lev, 1);
  const double step = static_cast<double>(st.grid.step[lev]) * nominal_interval_s(acq);
  json w;
  w["rule"] = "unix_s(N) = window1_unix_s + (N - 1) * step_s";
  w["window1_unix_s"] = static_cast<double>(acq.clock.reference_unix_s) + t1;
  w["step_s"] = step;
  w["step_input_samples"] = st.grid.step[lev];
  if (any) {
    v["first_window_start"] = moment(acq.clock, window_after_reference_s(st, acq, lev, kept.level_first_number[lev]));
    v["last_window_start"] = moment(acq.clock, window_after_reference_s(st, acq, lev, kept.level_last_number[lev]));
  }
  v["window_time"] = w;
  return v;
}

int bad_intervals(const BadRecordList& list) {
  int n = 0;
  for (int c : list.count) n += c;
  return n;
}

// The recording: its file, format, sample interval, clock and where the
// run placed its start.
json recording(const RunSetup& st, const OpenedInput& in) {
  const Acquisition& acq = in.acq;
  const RecordingClock& clock = acq.clock;
  json rec;
  rec["file"] = in.files.ts_path;
  rec["format"] = clock.format;
  rec["sample_interval_s"] = real(acq.dr);
  rec["system_parameter_sample_interval_s"] = real(st.sp.dt);
  rec["channels_in_file"] = acq.nch;
  rec["first_sample_number"] = clock.first_index;
  if (clock.known) {
    rec["first_sample"] = moment(clock, clock.start_after_reference_s);
    rec["reference_time"] = moment(clock, 0.0);
  } else {
    rec["first_sample"] = rec["reference_time"] = nullptr;
  }
  rec["start_after_reference_s"] = clock.start_after_reference_s;
  // How the run placed the start on its grid: time_int microseconds after
  // the reference time, input sample start_sample of the grid, counted
  // exactly or as the start has always been reduced (within a tenth of a
  // sample of the exact count). A remote-reference pairing places window N
  // of a level at input sample a(N) - run_start_sample after the first
  // sample, and the first sample exact_start_sample input samples after the
  // reference time.
  rec["run_start_after_reference_us"] = st.grid.start.time_int;
  rec["run_start_sample"] = st.grid.start_sample;
  rec["run_start_exact"] = st.grid.start.exact;
  rec["exact_start_sample"] = st.grid.start.c_exact;
  return rec;
}

// How the run processed it: power-line filter, bad records, clock reset,
// set limit and the offsets subtracted.
json processing(const RunSetup& st, const RunWork& work, const OpenedInput& in, LoopEnd end) {
  const Acquisition& acq = in.acq;
  const RecordingClock& clock = acq.clock;
  json proc;
  proc["powerline_hz"] = work.input.powerline_announced ? real(st.powerline_hz) : json(nullptr);
  const bool bad_file = std::filesystem::exists(in.files.bad);
  if (bad_file) {
    proc["bad_records"] = {{"file", in.files.bad},
                           {"intervals_list1", bad_intervals(st.bad.list1)},
                           {"intervals_list2", bad_intervals(st.bad.list2)},
                           {"ioff_marks", st.bad.ioff}};
  } else {
    proc["bad_records"] = nullptr;
  }
  json clk;
  clk["source"] = clock.source;
  clk["sample_interval_s"] = real(acq.dr);
  if (clock.has_fields) {
    clk["start"] = fields(clock.start_fields);
    clk["reference"] = fields(clock.reference_fields);
  }
  proc["clock_reset"] = clk;
  proc["set_limit"] = st.max_sets == no_set_limit ? json(nullptr) : json(st.max_sets);
  proc["set_limit_reached"] = end == LoopEnd::set_limit;
  json offsets = json::array();
  const ChannelOffsets& off = work.input.offsets;
  for (int c = 0; c < st.nch; ++c)
    offsets.push_back(off.known[static_cast<std::size_t>(c)] ? real(off.value[static_cast<std::size_t>(c)])
                                                             : json(nullptr));
  proc["offsets_subtracted_counts"] = offsets;
  return proc;
}

}  // namespace

std::string run_metadata_json(const RunSetup& st, const RunWork& work, const OpenedInput& in, const RunOptions& opts,
                              const RunContext& ctx, LoopEnd end, const FcFileFacts& fc) {
  const Acquisition& acq = in.acq;
  json m;
  m["format"] = "qel_vort fc metadata";
  m["version"] = fc_metadata_version;
  m["program"] = {{"name", "qel_vort"}, {"version", kProgramVersion}, {"date", kProgramDate}};
  m["run"] = {{"command_line", ctx.command_line},
              {"working_folder", ctx.working_folder},
              {"finished_utc", ctx.finished_utc}};
  m["fc_file"] = {{"name", std::filesystem::path(fc.path).filename().string()},
                  {"size_bytes", fc.size},
                  {"hash", fc_hash_hex(fc.hash)},
                  {"hash_method", "qel_vort word sum 64"}};

  json station;
  station["name"] = std::string(trim(st.sp.station));
  station["latitude_deg"] = real(st.sp.lat);
  station["longitude_deg"] = real(st.sp.lon);
  station["declination_deg"] = real(st.sp.decl);
  station["declination_source"] = st.sp.decl_source;
  station["elevation_m"] = opts.elevation_m ? json(*opts.elevation_m) : json(nullptr);
  m["station"] = station;

  m["recording"] = recording(st, in);

  json channels = json::array();
  for (int c = 0; c < st.nch; ++c) channels.push_back(channel(st.sp.ch[static_cast<std::size_t>(c)], c + 1));
  m["channels"] = channels;

  json levels = json::array();
  for (int lev = 1; lev <= st.setup.nd; ++lev) levels.push_back(level(st, work.kept, acq, lev));
  m["levels"] = levels;

  m["processing"] = processing(st, work, in, end);
  // Identifiers, names and paths are bytes from the station's files and the
  // command line; JSON text is UTF-8, so a byte that is not valid UTF-8 is
  // written as U+FFFD rather than stopping the run at its very end.
  return m.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace qv
