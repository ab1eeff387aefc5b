#include <gtest/gtest.h>

#include <sstream>

#include "common/error.hpp"
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "driver/usage.hpp"

namespace qv {
namespace {

struct Captured {
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

struct OptionCase {
  std::vector<std::string> args;
  bool ascii, nims, clock_in_headers, real_numbers;
};

TEST(Options, TableAppliedLeftToRight) {
  const OptionCase cases[] = {
      {{}, false, false, false, true},
      {{"-a"}, true, false, false, true},
      {{"-ab"}, true, false, false, true},  // two-character options match any longer argument
      {{"-A"}, true, false, true, true},
      {{"-N"}, true, true, true, false},
      {{"-B"}, false, true, false, false},
      {{"-KA"}, true, false, true, true},
      {{"-ka"}, true, false, false, true},
      {{"-N", "-ka"}, true, true, false, true},  // NIMS layout kept, clock from ".clk", reals
      {{"-B", "-a"}, true, true, false, false},
      {{"-sp", "-SP", "-x", "junk"}, false, false, false, true},
  };
  for (const auto& c : cases) {
    Captured cap;
    RunOptions o = parse_options(c.args, cap.con);
    std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(o.ascii, c.ascii) << label;
    EXPECT_EQ(o.nims, c.nims) << label;
    EXPECT_EQ(o.clock_in_headers, c.clock_in_headers) << label;
    EXPECT_EQ(o.real_numbers, c.real_numbers) << label;
  }
}

TEST(Options, DefaultsAndValues) {
  Captured cap;
  RunOptions o = parse_options({"-p:50", "-b7"}, cap.con);
  EXPECT_FLOAT_EQ(o.powerline, 50.0f);
  EXPECT_EQ(o.single_digit, 7);
  EXPECT_EQ(cap.out.str(), " freqfilt 50\n");
  Captured none;
  RunOptions d = parse_options({}, none.con);
  EXPECT_FLOAT_EQ(d.powerline, 60.0f);
  EXPECT_FALSE(d.name_given);
  EXPECT_EQ(d.max_sets, no_set_limit);
  EXPECT_EQ(parse_options({"--max-sets=2147483647", "-a"}, none.con).max_sets, 2147483647);
  EXPECT_TRUE(d.threads == 1 || d.threads == 2);
  EXPECT_EQ(parse_options({"--threads=2", "--threads=1"}, none.con).threads, 1);
}

TEST(Options, FileNameIsUsedWhole) {
  Captured cap;
  std::string longname = "station_with_a_really_long_descriptive_name_2026_03_14_run1.asc";
  RunOptions o = parse_options({"-f:" + longname}, cap.con);
  EXPECT_TRUE(o.name_given);
  EXPECT_EQ(o.ts_name, longname);
}

TEST(Options, BadValuesEndTheRun) {
  Captured cap;
  EXPECT_THROW(parse_options({"-bx"}, cap.con), Error);
  EXPECT_THROW(parse_options({"-p:fifty"}, cap.con), Error);
  EXPECT_THROW(parse_options({"-p:"}, cap.con), Error);
  for (const char* bad : {"--max-sets", "--max-sets=", "--max-sets=-5", "--max-sets=+5", "--max-sets=2147483648",
                          "--max-sets=99999999999999999999", "--max-sets=1e3", "--max-sets= 5", "--max-sets5",
                          "--threads", "--threads=0", "--threads=3", "--threads=02", "--threads2"})
    EXPECT_THROW(parse_options({bad}, cap.con), Error) << bad;
}

TEST(Banner, SevenLinesByteForByte) {
  Captured cap;
  write_banner(cap.con);
  const std::string stars(56, '*');
  const std::string empty = "*" + std::string(54, ' ') + "*";
  const std::string mid = "*   QEL_VORT   Version: 4.2.   Date: 2014-08-13        *";
  ASSERT_EQ(mid.size(), 56u);
  EXPECT_EQ(cap.out.str(), stars + "\n" + empty + "\n" + mid + "\n" + empty + "\n" + stars + "\n \n");
}

TEST(Banner, FormatAnnouncements) {
  auto announce = [](std::vector<std::string> args) {
    Captured cap;
    RunOptions o = parse_options(args, cap.con);
    Captured a;
    announce_format(o, a.con);
    return a.out.str();
  };
  EXPECT_EQ(announce({}), "  Reading from binary data files\n  QEL binary format \n  reading real numbers\n");
  EXPECT_EQ(announce({"-B"}), "  Reading from NIMS binary data files\n");
  EXPECT_EQ(announce({"-N"}),
            "  Reading from ASCII NIMS data file\n\n  Assuming clock reset information in data file headers\n\n\n");
  EXPECT_EQ(announce({"-ka"}),
            "  Reading from generic ASCII data file\n\n  Reading clock reset information from .clk file\n\n\n"
            "  reading real numbers\n");
}

// -h, --help and --version answer without running: no clock line, no banner,
// nothing on the error output, status 0. Arguments that only contain them
// (a file named "-h", "-help") are no requests.
TEST(Usage, HelpAndVersionAnswerWithoutRunning) {
  for (const char* request : {"-h", "--help"}) {
    Captured cap;
    EXPECT_EQ(run_main({"-A", request, "-f:st.asc"}, cap.con), 0) << request;
    const std::string text = cap.out.str();
    for (const char* item : {"Usage: qel_vort [options]", "-A, -KA", "-a, -ka", "-N ", "-B ", "-f:NAME", "-p:F",
                             "--max-sets=N   stop after N windows (sets); default: the whole recording", "-h, --help", "--version",
                             "<base>.sp", "decset.cfg", "pwset.cfg", "paths.cfg", "<base>.clk", "<base>.bad",
                             "sensors/", "Exit status: 0 when the Fourier-coefficient file was written, 1 otherwise."})
      EXPECT_NE(text.find(item), std::string::npos) << item;
    EXPECT_EQ(text.find("QEL_VORT"), std::string::npos) << "the run started";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    EXPECT_EQ(cap.err.str(), "");
  }
  Captured version;
  EXPECT_EQ(run_main({"--version", "--help"}, version.con), 0);
  EXPECT_EQ(version.out.str(), "qel_vort 4.2 (2014-08-13)\n");
  std::ostringstream none;
  EXPECT_FALSE(answer_info_request(kQelVortInfo, {"-f:-h", "-help", "--helpme", "-hx", "-A"}, none));
  EXPECT_EQ(none.str(), "");
}

}  // namespace
}  // namespace qv
