#include "driver/run.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>

#include "calibration/system_parameters.hpp"
#include "common/error.hpp"
#include "common/flush_to_zero.hpp"
#include "common/text_reader.hpp"
#include "common/utc_time.hpp"
#include "driver/block_loop.hpp"
#include "driver/decset.hpp"
#include "driver/options.hpp"
#include "driver/reference_declination.hpp"
#include "driver/run_metadata.hpp"
#include "driver/run_report.hpp"
#include "driver/run_state.hpp"
#include "driver/usage.hpp"
#include "input/open_input.hpp"
#include "input/unreadable_recording.hpp"
#include "output/fc_file.hpp"
#include "output/fc_header.hpp"

namespace qv {

namespace {

// Wall clock with a counter in units of 0.1 ms (rate 10000 per second).
constexpr std::int64_t kClockRate = 10000;
std::int64_t clock_count() {
  auto t = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(t).count() / 100;
}

void report_run_time(std::int64_t start, Console& con) {
  double seconds = static_cast<double>(clock_count() - start) / static_cast<double>(kClockRate);
  con.say("Run time=", seconds);
}

// The channel count of the system parameter file (1 to 6, checked as it was
// read) wins over the header's. A recording with fewer channels than declared
// is refused: a text recording's samples would be read across line ends and a
// binary recording's scans across each other, and mixed up either way.
void settle_channels(RunSetup& st, const RunOptions& opts, const InputFileSet& files, int header_nch, Console& con) {
  const int declared = st.sp.nch;
  const int processed = declared == 6 ? 5 : declared;
  // Records of 4 nch + 4 bytes: one channel leaves 8 bytes, too short for a
  // block's first record (level, frequency index, count).
  if (processed < 2)
    throw Error(files.sp + " declares one channel; the Fourier-coefficient file needs at least 2");
  if (declared > header_nch) {
    if (opts.ascii)
      throw Error(files.sp + " declares " + std::to_string(declared) + " channels, but the first sample line of " +
                  files.ts_path + " holds " + std::to_string(header_nch) + " values");
    throw Error(files.sp + " declares " + std::to_string(declared) + " channels, but the header of " + files.ts_path +
                " enables " + std::to_string(header_nch));
  }
  st.reader_nch = declared;
  if (processed != st.nch) {
    con.say(std::string("info: nch in sp file does not agree with nch in") + " data file");
    st.nch = processed;
  }
}

// A system parameter file from a "standard" folder carries no station
// position, so the console is asked for it. End of input keeps the file's values.
void ask_position(const std::string& sp_name, RunSetup& st, Console& con) {
  if (sp_name.size() < 11 || sp_name.compare(3, 8, "standard") != 0) return;
  con.say("Enter declination, station coordinates");
  std::string answer;
  if (!con.ask("", answer)) return;
  float decl = st.sp.decl, lat = st.sp.lat, lon = st.sp.lon;
  FreeField f[] = {decl, lat, lon};
  if (read_values_from(answer, f) == ReadStatus::bad_value)
    throw Error("console: expected declination, latitude and longitude in degrees, found '" + answer + "'");
  if (decl != st.sp.decl) st.sp.decl_source = "console";
  st.sp.decl = decl;
  st.sp.lat = lat;
  st.sp.lon = lon;
}

// Windows that touch the second bad-record list are kept as they are (their
// set records unchanged: readers of the file expect positive window numbers);
// how many there are is said at the end.
void report_second_list(const RunSetup& st, const WindowsKept& kept, Console& con) {
  int intervals = 0;
  for (int c : st.bad.list2.count) intervals += c;
  if (intervals == 0) return;
  for (int lev = 1; lev <= st.setup.nd; ++lev)
    if (st.setup.lev[lev].nfreq > 0)
      con.say("windows stored that touch the second bad-record list, level", lev, ":", kept.list2_sets[lev]);
  con.blank();
}

// The run as the metadata file names it: its command line, its folder and
// the time the file was finished.
RunContext run_context(const std::vector<std::string>& args) {
  RunContext ctx;
  ctx.command_line.push_back("qel_vort");
  ctx.command_line.insert(ctx.command_line.end(), args.begin(), args.end());
  std::error_code ec;
  ctx.working_folder = std::filesystem::current_path(ec).string();
  const auto now = std::chrono::system_clock::now();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  const std::int64_t s = us / 1000000 - (us % 1000000 < 0 ? 1 : 0);
  ctx.finished_utc = iso_utc(s, static_cast<double>(us - s * 1000000) * 1.0e-6, 3);
  return ctx;
}

void end_of_run_write(const RunSetup& st, RunWork& work, FcFileWriter& writer, const OpenedInput& in,
                      const RunOptions& opts, const std::vector<std::string>& args, LoopEnd end) {
  WindowsKept& kept = work.kept;
  average_amplitudes(kept.amplitudes, st.setup, kept.level_sets, st.nch);
  // The header lists only the levels that are cut into windows.
  writer.write_header(make_fc_header(st.nch, st.setup, st.dr, st.sp));
  writer.write_blocks(st.setup.nd, st.setup.levoff, kept.store, kept.amplitudes, st.threads);
  const FcFileFacts facts{writer.path(), writer.size(), writer.hash()};
  writer.write_metadata(run_metadata_json(st, work, in, opts, run_context(args), end, facts));
  writer.commit();
}

// The input set-up and the declination at the recorder's position, which
// the console shows right after the header. A binary recording that ends
// within its header still gets the run-time line before the run stops.
OpenedInput open_recording(const RunOptions& opts, std::int64_t start, Console& con) {
  try {
    OpenedInput in = open_input(opts, con);
    find_reference_declination(in.acq, con);
    return in;
  } catch (const UnreadableRecording&) {
    report_run_time(start, con);
    throw;
  }
}

}  // namespace

int run_main(const std::vector<std::string>& args, Console& con) {
  return guarded_main(kQelVortInfo, args, con.out(), con.err(), [&] { return run(args, con); });
}

int run(const std::vector<std::string>& args, Console& con, std::int64_t spill_budget) {
  // Denormals flushed to zero for this run on this thread only; the caller's
  // mode comes back when the run returns or throws.
  const FlushToZeroScope flush_to_zero;
  const std::int64_t start = clock_count();
  con.say(start, kClockRate);
  write_banner(con);
  const RunOptions opts = parse_options(args, con);
  announce_format(opts, con);

  OpenedInput in = open_recording(opts, start, con);

  // The set-up is made here and by prepare_run and only read after it; the
  // working state is what the processing loops change.
  auto st = std::make_unique<RunSetup>();
  auto work = std::make_unique<RunWork>();
  st->nch = in.acq.nch;
  st->threshold = in.acq.threshold;
  st->powerline_hz = opts.powerline;
  st->max_sets = opts.max_sets;
  st->spill_budget = spill_budget;
  st->threads = opts.threads;
  FcFileWriter writer(in.files.fc, st->nch, con);
  st->spill_path = writer.path() + ".spill";
  st->sp = GETSP(in.files.sp, in.acq.reference_declination, con);
  settle_channels(*st, opts, in.files, in.acq.nch, con);
  warn_interval_mismatch(st->sp, in.acq, opts, in.files, con);
  ask_position(in.files.sp, *st, con);

  cf_decset(in.files.decset, in.files.pwset, nwmx, st->nch, st->setup, con);
  prepare_run(*st, *work, StartTime{in.acq.time_int, in.acq.time_int_exact, in.acq.dr}, in.acq.sampfreq,
              in.files.sensor_dir, in.files.bad, con);
  warn_chirpz_levels(*st, con);

  progress_start(work->progress, con.err(), is_terminal(con.err()), st->max_sets);
  const LoopOutcome done = process_blocks(*st, *work, *in.reader, con);
  progress_end(work->progress);
  switch (done.end) {
    case LoopEnd::end_of_data:
    case LoopEnd::bad_mark:
    case LoopEnd::set_limit:
      break;  // what was processed is written
    default:
      throw Error("the reader of " + in.files.ts_path + " returned block status " + std::to_string(done.status) +
                  ", which this program does not know; no Fourier-coefficient file was written");
  }

  con.blank();
  con.say("number of sets = ", work->kept.nsets);
  con.blank();
  report_second_list(*st, work->kept, con);
  in.reader.reset();  // closes the time-series file
  end_of_run_write(*st, *work, writer, in, opts, args, done.end);
  report_run_end(*st, work->kept, work->progress, in.acq, done.end, con);
  report_run_time(start, con);
  return 0;
}

}  // namespace qv
