// Whole runs whose coefficients leave memory: with a memory budget far below
// the recording's coefficients they pass through the temporary file in many
// small chunks, and the run must write the file it writes from memory, byte
// for byte, with the same overflow lines in the same order; a run that stops
// by an error after coefficients left memory leaves no temporary file and
// the previous result as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "driver/run.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::WorkingDirectory;

const fs::path kSample = fs::path(QV_SOURCE_DIR) / "examples" / "sample_station";

// The bundled sample station (five channels, four levels, 267 windows of the
// text recording), its Hz channel recorded with a gain of 1e17 counts per nT.
// Hz's coefficients are then so small that their squares underflow single
// precision at the upper frequencies of each level: the mean amplitudes
// there are 0, and those coefficients cannot be packed and go to the
// overflow lines: 8502 of them, at 65 frequencies of levels 1 and 2.
void copy_station(const fs::path& to) {
  for (const char* name : {"paths.cfg", "decset.cfg", "pwset.cfg", "sample.sp", "sample.asc"})
    fs::copy_file(kSample / name, to / name);
  std::string sp = read_file(to / "sample.sp");
  const std::string hz = "Hz\n0.0 90.0\n1.0 0\n";
  ASSERT_NE(sp.find(hz), std::string::npos);
  sp.replace(sp.find(hz), hz.size(), "Hz\n0.0 90.0\n1e17 0\n");
  testing_support::write_file(to / "sample.sp", sp);
}

struct Outcome {
  int status;
  std::string console, errors;
};

Outcome run_with_budget(const fs::path& dir, std::int64_t budget, const char* threads = "--threads=1") {
  const WorkingDirectory inside(dir);
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  int status = 0;
  try {
    status = run({"-A", "-f:sample.asc", threads}, con, budget);
  } catch (const Error& e) {
    status = 1;
    err << e.what() << '\n';
  }
  return {status, out.str(), err.str()};
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SpilledRun, TinyBudgetWritesTheFileOfARunInMemory) {
  const testing_support::TempFolder folder("spill");
  copy_station(folder.path());
  const Outcome memory = run_with_budget(folder.path(), spill_budget_default);
  ASSERT_EQ(memory.status, 0) << memory.errors;
  const std::string file = read_file(folder / "sample.f5");
  const std::string log = read_file(folder / "sample.f5.log");
  ASSERT_GT(file.size(), 100000u);
  for (const char* line : {" id,ifreq,xt1,i,j = 1 4 ", " id,ifreq,xt1,i,j = 2 40 "})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_GT(std::count(log.begin(), log.end(), '\n'), 8000);
  fs::remove(folder / "sample.f5");
  fs::remove(folder / "sample.f5.log");

  // 5000 bytes hold two to six windows (1612 bytes on levels 1-2, 812 on
  // 3-4): about a hundred chunks, most of them cutting a record. With two
  // threads the file is packed by two, each with its own overflow lines.
  for (const char* threads : {"--threads=1", "--threads=2"})
    for (const std::int64_t budget : {std::int64_t(5000), spill_budget_default}) {
      SCOPED_TRACE(std::string(threads) + ", budget " + std::to_string(budget));
      if (budget != 5000 && threads[10] == '1') continue;  // the reference itself
      fs::remove(folder / "sample.f5");
      const Outcome spilled = run_with_budget(folder.path(), budget, threads);
      ASSERT_EQ(spilled.status, 0) << spilled.errors;
      EXPECT_TRUE(read_file(folder / "sample.f5") == file) << "this run wrote another file";
      EXPECT_TRUE(read_file(folder / "sample.f5.log") == log) << "this run wrote other overflow lines";
    }
  EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"decset.cfg", "paths.cfg", "pwset.cfg",
                                                                "sample.asc", "sample.f5", "sample.f5.json",
                                                                "sample.f5.log", "sample.sp"}));
}

TEST(SpilledRun, ErrorAfterSpillingLeavesNoTemporaryFileAndTheOldResult) {
  const testing_support::TempFolder folder("spill");
  copy_station(folder.path());
  // The last line of the recording cannot be read: every window is processed
  // (and, with no budget, has left memory) before the run stops.
  testing_support::write_file(folder / "sample.asc", read_file(folder / "sample.asc") + "1.0 2.0 nan 4.0 5.0\n");
  const std::string earlier = "a Fourier-coefficient file of an earlier run\n";
  testing_support::write_file(folder / "sample.f5", earlier);
  const std::vector<std::string> before = names_in(folder.path());

  const Outcome failed = run_with_budget(folder.path(), 0);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.errors.find("line 38404: expected a real number for channel 3"), std::string::npos)
      << failed.errors;
  EXPECT_EQ(read_file(folder / "sample.f5"), earlier);
  EXPECT_EQ(names_in(folder.path()), before);
}

}  // namespace
}  // namespace qv
