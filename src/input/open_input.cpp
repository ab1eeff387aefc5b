#include "input/open_input.hpp"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"
#include "input/ascii_reader.hpp"
#include "input/nims_block_reader.hpp"
#include "input/nims_header.hpp"
#include "input/qel_block_reader.hpp"
#include "input/qel_header.hpp"

namespace qv {

namespace {

// Field widths of the paths-file lines (line 7, the sensor directory, is
// narrower).
constexpr int kPathsWidth = 80;
constexpr int kSensorWidth = 40;
// Longest paths-file name accepted at the prompt.
constexpr std::size_t kPathsNameWidth = 40;
// Unit number the console names for the open QEL file.
constexpr int kQelUnit = 10;

// Line i (1-based) of the paths file as its fixed field, or nullopt when it
// could not be read.
std::optional<std::string> paths_line(const std::optional<PathsLines>& paths, int i) {
  if (!paths || !(*paths)[static_cast<std::size_t>(i - 1)]) return std::nullopt;
  const int width = i == 7 ? kSensorWidth : kPathsWidth;
  return fixed_field(*(*paths)[static_cast<std::size_t>(i - 1)], 0, width);
}

// A directory line: used without trailing blanks; an unreadable line counts
// as blank.
std::string directory(const std::optional<PathsLines>& paths, int i) {
  const auto line = paths_line(paths, i);
  return line ? std::string(trim_right(*line)) : std::string();
}

// A set-up file name line: the line as it stands, or the default when it is
// missing or blank.
std::string setup_name(const std::optional<PathsLines>& paths, int i, const char* fallback) {
  const auto line = paths_line(paths, i);
  if (!line || last_nonblank(*line) == 0) return fallback;
  return to_posix(trim(*line));
}

PathsLines read_paths_lines(TextReader& r) {
  PathsLines lines;
  std::string_view line;
  for (auto& l : lines) {
    if (!r.next_line(line)) break;
    l = std::string(line);
  }
  return lines;
}

// Opens a binary recording for reading; nullptr when it cannot be opened. A
// folder opens too, and its header would then read as a file that ends at
// once; it is refused by name. kind names the format for the message.
std::FILE* open_binary(const std::string& path, const char* kind) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::error_code ec;
  if (f && std::filesystem::is_directory(path, ec)) {
    std::fclose(f);
    std::string msg = kind;
    msg += " ";
    msg += path;
    msg += " is a folder, not a file";
    throw Error(msg);
  }
  return f;
}

// Reads the header of an open binary recording; the block reader then owns
// the file. The file is closed when the header cannot be read or is refused.
template <class Layout, class Reader, class ReadHeader>
void start_binary_reader(std::FILE* f, OpenedInput& in, Console& con, ReadHeader read_header) {
  const std::string& path = in.files.ts_path;
  Layout layout;
  try {
    read_header(f, path, in.acq, layout, con);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  in.reader = std::make_unique<Reader>(f, path, layout, con);
}

// Opens a QEL binary recording and reads its header (rdhdrQEL). Six enabled
// channels are named as five in the Fourier-coefficient file (its records
// hold five), while the header's count is handed back.
void open_qel(const std::string& name, const std::optional<PathsLines>& paths, OpenedInput& in, Console& con) {
  const std::string& path = in.files.ts_path;
  con.say("looking for weird bin files ", path);
  con.say("md value is ", static_cast<int>(directory(paths, 1).size()));
  con.say("open file:", path);
  std::FILE* f = open_binary(path, "QEL binary file");
  con.say("ierr is now", f ? 0 : 1);
  con.say("in_unit is ", kQelUnit);
  if (!f) {
    con.say("file to open:", path);
    con.say("error in open QEL binary file");
    throw Error("cannot open the QEL binary file " + path);
  }
  start_binary_reader<QelLayout, QelBlockReader>(f, in, con, rdhdrQEL);
  in.files = form_file_names(name, paths, in.acq.nch == 6 ? 5 : in.acq.nch);
}

// Opens a NIMS binary recording and reads its header (mk_off).
void open_nims(OpenedInput& in, Console& con) {
  const std::string& path = in.files.ts_path;
  std::FILE* f = open_binary(path, "NIMS binary file");
  if (!f) throw Error("cannot open the NIMS binary file " + path);
  start_binary_reader<NimsLayout, NimsBlockReader>(f, in, con, mk_off);
}

}  // namespace

std::optional<PathsLines> find_paths_file(Console& con) {
  TextReader r;
  if (!r.open("paths.cfg")) {
    for (;;) {
      con.say("Couldn't find the file paths.cfg. Please enter a");
      con.say("NEW NAME for the paths file or hit return and the ");
      con.say("program writes output into the working directory.");
      std::string answer;
      con.ask("", answer);
      if (answer.empty() || answer[0] == ' ') return std::nullopt;
      const std::string name = to_posix(trim_right(std::string_view(answer).substr(0, kPathsNameWidth)));
      if (r.open(name)) break;
    }
  }
  return read_paths_lines(r);
}

InputFileSet form_file_names(const std::string& ts_name, const std::optional<PathsLines>& paths, int nch) {
  InputFileSet f;
  f.ts_name = ts_name;
  f.base = ts_name.substr(0, static_cast<std::size_t>(base_name_length(ts_name)));
  const std::string_view trimmed = trim_right(ts_name);

  const std::string data_dir = directory(paths, 1);
  f.ts_path = join_path(data_dir, trimmed);
  f.clk = join_path(data_dir, f.base + ".clk");

  const auto line2 = paths_line(paths, 2);
  if (line2 && line2->compare(0, 8, "standard") == 0)
    f.sp = "standard.sp";
  else
    f.sp = join_path(directory(paths, 2), f.base + ".sp");

  f.bad = join_path(directory(paths, 3), f.base + ".bad");
  f.decset = setup_name(paths, 4, "decset.cfg");
  f.pwset = setup_name(paths, 5, "pwset.cfg");
  f.fc = join_path(directory(paths, 6), f.base + ".f" + std::to_string(nch));

  const auto line7 = paths_line(paths, 7);
  f.sensor_dir = line7 ? to_posix(trim(*line7)) : std::string("sensors");
  return f;
}

OpenedInput open_input(const RunOptions& opts, Console& con) {
  OpenedInput in;

  std::string name;
  if (opts.name_given) {
    name = opts.ts_name;
  } else {
    const bool answered = con.ask("Enter input file name: ", name);
    if (!answered && name.empty())
      throw Error("no time-series file name: none given with -f: and none entered at the prompt");
  }
  // Left-adjusted and without trailing blanks: a name typed with a leading
  // blank would otherwise give an empty base name for every derived file.
  name = std::string(trim(name));
  if (name.empty()) throw Error("no time-series file name: an empty name was given");

  const std::optional<PathsLines> paths = find_paths_file(con);
  in.files = form_file_names(name, paths, 0);

  if (!opts.ascii) {
    if (opts.nims) {
      open_nims(in, con);
      in.files = form_file_names(name, paths, in.acq.nch);
    } else {
      open_qel(name, paths, in, con);
    }
    return in;
  }

  TextReader data;
  if (!data.open(in.files.ts_path)) throw Error("cannot open the time-series file " + in.files.ts_path);
  if (opts.nims)
    rdhdrNIMSASCII(data, in.acq, con);
  else
    rdhdrASCII(data, opts.clock_in_headers, in.files.clk, in.acq, con);

  // The Fourier-coefficient file name carries the channel count of the header.
  in.files = form_file_names(name, paths, in.acq.nch);
  in.reader = std::make_unique<AsciiBlockReader>(std::move(data), opts.real_numbers, con);
  return in;
}

}  // namespace qv
