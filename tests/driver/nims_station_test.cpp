// Whole runs of NIMS binary recordings (option -B): the word and the record
// layout of the same samples give the same Fourier-coefficient file, missing
// samples are repaired or their windows rejected, and a file without a first
// word ends the run as an unreadable binary file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "support/nims_file.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::NimsFile;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::WorkingDirectory;
using testing_support::write_file;

struct Outcome {
  int status;
  std::string console, file;
};

Outcome run_nims(const fs::path& dir, const NimsFile* recording) {
  fs::create_directories(dir);
  write_file(dir / "decset.cfg", "2 0\n64 16 1 0 0 5 2 10 1\n1.0\n64 16 4 0 0 5 2 10 3\n0.5 0.3 -0.05\n");
  write_file(dir / "pwset.cfg", "2\n3\n0\n");
  std::string sp = "ST\n45.0 -120.0\n15.0\n5\n0.125\n0 0\n";
  for (const char* id : {"Hx", "Hy", "Hz", "Ex", "Ey"}) sp += std::string(id) + (id[0] == 'E' ? "\n100 0 0 1\n1 0\n" : "\n0 0\n1 0\n");
  write_file(dir / "st.sp", sp);
  if (recording) recording->write((dir / "st.bin").string());
  else write_file(dir / "st.bin", "");
  const WorkingDirectory inside(dir);
  std::ostringstream out, err;
  std::istringstream in("\n");
  Console con(out, err, in);
  const int status = run_main({"-B", "-f:st.bin"}, con);
  return {status, out.str(), read_file(dir / "st.f5")};
}

TEST(NimsStation, BothLayoutsGiveTheSameFileWithMissingSamplesHandled) {
  const TempFolder folder("nimsrun");
  NimsFile rec;
  rec.scans = 4000;
  rec.start = {2013, 3, 2, 1, 0, 0};  // a day and an hour after the reference
  rec.gaps = {{1200, 1300, 5}};
  rec.missing = {{1000, 0}, {2000, 3}, {2001, 3}, {2002, 3}};  // one repaired, a run of three rejected
  const Outcome words = run_nims(folder.path() / "words", &rec);
  rec.record_layout = true;
  const Outcome records = run_nims(folder.path() / "records", &rec);
  ASSERT_EQ(words.status, 0) << words.console;
  ASSERT_EQ(records.status, 0) << records.console;
  EXPECT_GT(words.file.size(), 10000u);
  EXPECT_TRUE(words.file == records.file) << "the two layouts give different files";
  EXPECT_NE(words.console.find("  Reading from NIMS binary data files\n"), std::string::npos);
  EXPECT_NE(words.console.find(" Warning: there are 1 data gaps\n mk_off: igap= 1200 1300 5\n"), std::string::npos);
  EXPECT_NE(words.console.find(" rdblkNIMS ix1(0:5,1) 1 " + std::to_string(rec.sample(0, 0)) + " "), std::string::npos);
  EXPECT_EQ(words.console.find("FILTERING"), std::string::npos);  // integer samples are not filtered
  EXPECT_NE(words.console.find("\n bad T F "), std::string::npos) << "the run of three missing samples";
}

TEST(NimsStation, AFileWithoutItsFirstWordCannotBeRead) {
  const TempFolder folder("nimsempty");
  const Outcome r = run_nims(folder.path(), nullptr);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.console.find(" Error Reading Binary File: st.bin\n Run time="), std::string::npos) << r.console;
}

}  // namespace
}  // namespace qv
