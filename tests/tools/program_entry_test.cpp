// Every program of the project answers --help and --version on standard
// output with status 0, without running, and a call it cannot serve ends
// with one message on the error output and status 1, never by a crash and
// never by writing files nobody asked for.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/built_program.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs a built program with the arguments (already quoted for the shell) in
// folder, with no standard input.
Outcome run_in(const fs::path& folder, const std::string& program, const std::string& args) {
  const fs::path exe = testing_support::built_program(program);
  const fs::path out = folder.parent_path() / "out.txt", err = folder.parent_path() / "err.txt";
  const std::string cmd = "cd '" + folder.string() + "' && '" + exe.string() + "' " + args + " < /dev/null > '" +
                          out.string() + "' 2> '" + err.string() + "'";
  const int raw = std::system(cmd.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

TEST(ProgramEntry, EveryProgramAnswersHelpAndVersionAndRefusesCleanly) {
  const testing_support::TempFolder tmp("entry");
  const fs::path folder = tmp / "work";
  fs::create_directories(folder);
  struct Program {
    const char* name;
    const char* usage_start;
    const char* refused_args;  // a call the program cannot serve
    const char* refused_err;   // the start of a line of its error output
  };
  const Program programs[] = {
      {"qel_vort", "Usage: qel_vort", "-A -f:missing.asc", "qel_vort: "},
      {"fcdump", "usage: fcdump", "missing.f5", "fcdump: "},
      {"response_table", "usage: response_table", "-f:missing.asc", "response_table: "},
      {"make_sample_station", "usage: make_sample_station", "", "usage: make_sample_station"},
      {"make_layered_station", "usage: make_layered_station", "--layers '100,1000;x'", "make_layered_station: "},
      {"start_grid_error", "usage: start_grid_error", "--rate=4000", "start_grid_error: "},
      {"check_fc_pack", "usage: check_fc_pack", "--stride 0", "check_fc_pack: "},
  };
  for (const Program& p : programs) {
    if (!fs::exists(testing_support::built_program(p.name))) {
      ADD_FAILURE() << p.name << " is not built";
      continue;
    }
    for (const char* help : {"-h", "--help"}) {
      const Outcome h = run_in(folder, p.name, help);
      EXPECT_EQ(h.status, 0) << p.name << " " << help;
      EXPECT_EQ(h.out.rfind(p.usage_start, 0), 0u) << p.name << " " << help << ": " << h.out;
      EXPECT_EQ(h.err, "") << p.name;
    }
    const Outcome v = run_in(folder, p.name, "--version");
    EXPECT_EQ(v.status, 0) << p.name;
    EXPECT_EQ(v.out, std::string(p.name) + " 4.2 (2014-08-13)\n");
    const Outcome r = run_in(folder, p.name, p.refused_args);
    EXPECT_EQ(r.status, 1) << p.name << " " << p.refused_args << ": " << r.err;
    EXPECT_NE(("\n" + r.err).find(std::string("\n") + p.refused_err), std::string::npos) << p.name << ": " << r.err;
    EXPECT_TRUE(fs::is_empty(folder)) << p.name << " " << p.refused_args << " wrote into the working folder";
  }
}

}  // namespace
}  // namespace qv
