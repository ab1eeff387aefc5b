// Whole runs of small station folders kept as data under tests/stations/. A
// case is a folder with the station's files (set-up files, system parameter
// file, a short recording, paths.cfg, sub-folders) and these:
//   base            optional: a folder under tests/stations (named with a
//                   leading "_", so it is no case itself) whose files are
//                   copied first; the case's own files replace them
//   args            the command line, arguments separated by blanks (the
//                   base's when the case has none)
//   stdin           optional: the console's answers to prompts (likewise)
//   expect.status   the exit status (0: the Fourier-coefficient file was written)
//   expect.stderr   the error output: the start-time report and any message
//   expect.stdout   optional: the console transcript; the clock reading of the
//                   first line and the run time read <clock> and <seconds>
//   expect.csv      optional: the coefficients, as "fcdump --csv" shows them;
//                   or, when its first line is "name,value,tolerance", a table
//                   of named values of the file and the console, each checked
//                   on its own (support/named_values.hpp); such a table holds
//                   values found independently of the program and is never
//                   rewritten from a run
//   expect.summary  optional: header and levels, as "fcdump" shows them
//   expect.fcname   optional, for a case that fails: the name, in the run's
//                   folder, of the Fourier-coefficient file the run would
//                   write (st.f2, or out/st.f2 with an output folder "out"
//                   that the case holds). The runner puts a file of known
//                   bytes there first, as an earlier run would have left it;
//                   the failed run must leave it byte for byte
//   repeat          optional: lines "<file> <count> <text>": <text> (the rest
//                   of the line after one blank) is appended <count> times to
//                   that station file after it is copied, for inputs too large
//                   to keep, such as a line longer than the text reader's
//                   1 MiB buffer
// A run that fails must leave the folder as it found it: no new file of any
// name (no Fourier-coefficient file, lock or temporary file), and the one of
// expect.fcname unchanged. A run that succeeds adds its Fourier-coefficient
// file and, where a coefficient could not be packed, its .log, and nothing
// else. Cases with expect.csv also run through the
// portable build of the transform, which must write the same file to the byte.
//
// QV_UPDATE_EXPECTED=1 rewrites the expect.* files of every case from what
// the program does now (expect.stdout, .csv and .summary only where a case
// has them; expect.fcname is written by hand); read the differences before
// committing them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "dsp/fft.hpp"
#include "output/fc_dump.hpp"
#include "support/named_values.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;

const fs::path kCases = fs::path(QV_SOURCE_DIR) / "tests" / "stations";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(kCases))
    if (e.is_directory() && e.path().filename().string()[0] != '_') names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool is_meta(const std::string& name) {
  return name == "args" || name == "stdin" || name == "base" || name == "repeat" || name.rfind("expect.", 0) == 0;
}

// The lines of a case's "repeat" file applied to the copied station files.
void apply_repeats(const fs::path& repeat, const fs::path& to) {
  std::istringstream lines(read_file(repeat));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string file;
    long count = 0;
    if (!(in >> file >> count)) continue;
    in.get();  // the blank before the text
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ofstream out(to / file, std::ios::binary | std::ios::app);
    for (long i = 0; i < count; ++i) out << text;
  }
}

// Content of the file a case with expect.fcname finds in place before its run.
const std::string kEarlierFcFile = "a Fourier-coefficient file left by an earlier run\n";

// The station's own files of a case folder, copied into the run's folder.
void copy_station(const fs::path& from, const fs::path& to) {
  for (const auto& e : fs::directory_iterator(from)) {
    const std::string name = e.path().filename().string();
    if (is_meta(name)) continue;
    fs::copy(e.path(), to / name, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
}

std::vector<std::string> split_args(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// What changes from run to run: the clock reading and the run time.
std::string normalised(const std::string& console) {
  static const std::regex clock("^ -?[0-9]+ 10000\n");
  static const std::regex run_time(" Run time= [^\n]*");
  return std::regex_replace(std::regex_replace(console, clock, " <clock> 10000\n",
                                               std::regex_constants::format_first_only),
                            run_time, " Run time= <seconds>");
}

// Fourier-coefficient files (<base>.f<channels>) the run left in its folder.
std::vector<std::string> fc_files(const fs::path& dir) {
  static const std::regex fc(".*\\.f[1-6]");
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (std::regex_match(e.path().filename().string(), fc)) found.push_back(e.path().filename().string());
  return found;
}

// Every file and folder under dir, by its path relative to dir.
std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(fs::relative(e.path(), dir).string());
  return names;
}

std::string fcdump(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = fcdump_main(args, out, err);
  return status == 0 ? out.str() : "fcdump failed: " + err.str();
}

const std::string kNamedTable = "name,value,tolerance";

bool is_named_table(const fs::path& expect) { return read_file(expect).rfind(kNamedTable, 0) == 0; }

class StationCase : public testing::TestWithParam<std::string> {};

TEST_P(StationCase, RunsAsExpected) {
  const fs::path src = kCases / GetParam();
  const testing_support::TempFolder folder("station");
  fs::path base = src;
  if (fs::exists(src / "base")) {
    std::string name = read_file(src / "base");
    name.erase(name.find_last_not_of(" \n\r") + 1);
    base = kCases / name;
    copy_station(base, folder.path());
  }
  copy_station(src, folder.path());
  if (fs::exists(src / "repeat")) apply_repeats(src / "repeat", folder.path());
  // The case's own file, else the base's.
  auto meta = [&](const char* name) { return read_file(fs::exists(src / name) ? src / name : base / name); };
  std::string fcname = fs::exists(src / "expect.fcname") ? read_file(src / "expect.fcname") : "";
  fcname.erase(fcname.find_last_not_of(" \n\r") + 1);
  if (!fcname.empty()) {
    std::ofstream(folder / fcname, std::ios::binary) << kEarlierFcFile;
    ASSERT_EQ(read_file(folder / fcname), kEarlierFcFile) << "cannot put a file at " << fcname;
  }
  const std::set<std::string> before = listing(folder.path());

  std::ostringstream out, err;
  std::istringstream in(meta("stdin"));
  int status = 0;
  std::vector<std::string> files;
  std::set<std::string> after;
  std::string csv, summary;
  testing_support::NamedValues named;
  {
    const testing_support::WorkingDirectory inside(folder.path());
    Console con(out, err, in);
    status = run_main(split_args(meta("args")), con);
    files = fc_files(folder.path());
    after = listing(folder.path());
    if (status == 0 && files.size() == 1) {
      csv = fcdump({"--csv", files[0]});
      summary = fcdump({files[0]});
      named = testing_support::fc_named_values(files[0]);
      // The transform has an AVX2 and a portable build that must give the
      // same bits; where the run used the first, run the case once more
      // with the second.
      if (fs::exists(src / "expect.csv") && fft_passes_in_use() == FftPasses::avx2) {
        const std::string first = read_file(folder / files[0]);
        std::ostringstream out2, err2;
        std::istringstream in2(meta("stdin"));
        Console con2(out2, err2, in2);
        force_portable_fft(true);
        const int status2 = run_main(split_args(meta("args")), con2);
        force_portable_fft(false);
        EXPECT_EQ(status2, 0) << err2.str();
        EXPECT_TRUE(read_file(folder / files[0]) == first) << "the portable FFT build gives another file";
      }
    }
  }
  const std::string actual_stdout = normalised(out.str());
  const std::string actual_status = std::to_string(status) + "\n";

  if (std::getenv("QV_UPDATE_EXPECTED")) {
    testing_support::write_file(src / "expect.status", actual_status);
    testing_support::write_file(src / "expect.stderr", err.str());
    if (fs::exists(src / "expect.stdout")) testing_support::write_file(src / "expect.stdout", actual_stdout);
    if (fs::exists(src / "expect.csv") && !is_named_table(src / "expect.csv"))
      testing_support::write_file(src / "expect.csv", csv);
    if (fs::exists(src / "expect.summary")) testing_support::write_file(src / "expect.summary", summary);
    GTEST_SKIP() << "expectations of " << GetParam() << " rewritten";
  }

  EXPECT_EQ(actual_status, read_file(src / "expect.status")) << "console:\n" << out.str() << err.str();
  EXPECT_EQ(err.str(), read_file(src / "expect.stderr"));
  if (fs::exists(src / "expect.stdout")) {
    EXPECT_EQ(actual_stdout, read_file(src / "expect.stdout"));
  }
  if (status != 0) {
    if (!fcname.empty()) {
      EXPECT_EQ(read_file(folder / fcname), kEarlierFcFile) << "the failed run changed " << fcname;
    }
    EXPECT_EQ(after, before) << "a failed run must leave the folder as it was";
    return;
  }
  ASSERT_EQ(files.size(), 1u) << "expected exactly one Fourier-coefficient file";
  std::set<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
  ASSERT_TRUE(added.count(files[0] + ".json")) << "the run wrote no metadata file beside " << files[0];
  std::erase_if(added, [&](const std::string& n) {
    return n == files[0] || n == files[0] + ".log" || n == files[0] + ".json";
  });
  EXPECT_TRUE(added.empty()) << "the run left " << *added.begin() << " besides its file";
  EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()))
      << "the run removed a file of its folder";
  if (fs::exists(src / "expect.csv") && is_named_table(src / "expect.csv")) {
    testing_support::check_named_values(named, out.str(), read_file(src / "expect.csv"), GetParam() + "/expect.csv");
  } else if (fs::exists(src / "expect.csv")) {
    EXPECT_EQ(csv, read_file(src / "expect.csv"));
  }
  if (fs::exists(src / "expect.summary")) {
    EXPECT_EQ(summary, read_file(src / "expect.summary"));
  }
}

INSTANTIATE_TEST_SUITE_P(Stations, StationCase, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace qv
