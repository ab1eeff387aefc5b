#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "common/console.hpp"
#include "common/error.hpp"
#include "support/station_folder.hpp"
#include "input/open_input.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;

PathsLines lines(std::initializer_list<const char*> given) {
  PathsLines p;
  std::size_t i = 0;
  for (const char* s : given) p[i++] = std::string(s);
  return p;
}

TEST(FileNames, WithoutPathsFileEverythingLiesInTheWorkingDirectory) {
  const InputFileSet f = form_file_names("site1.bin", std::nullopt, 5);
  EXPECT_EQ(f.base, "site1");
  EXPECT_EQ(f.ts_path, "site1.bin");
  EXPECT_EQ(f.clk, "site1.clk");
  EXPECT_EQ(f.sp, "site1.sp");
  EXPECT_EQ(f.bad, "site1.bad");
  EXPECT_EQ(f.decset, "decset.cfg");
  EXPECT_EQ(f.pwset, "pwset.cfg");
  EXPECT_EQ(f.fc, "site1.f5");
  EXPECT_EQ(f.sensor_dir, "sensors");
}

TEST(FileNames, BaseNameEndsAtTheFirstDotOrBlank) {
  EXPECT_EQ(form_file_names("a.b.c", std::nullopt, 5).base, "a");
  EXPECT_EQ(form_file_names("a.b.c", std::nullopt, 5).sp, "a.sp");
  EXPECT_EQ(form_file_names("noext", std::nullopt, 5).base, "noext");
  EXPECT_EQ(form_file_names("noext", std::nullopt, 5).fc, "noext.f5");
  EXPECT_EQ(form_file_names("noext", std::nullopt, 12).fc, "noext.f12");
}

TEST(FileNames, SevenPathsLines) {
  const std::string long_sensor = "resp\\coils_and_electrodes_of_the_2018_survey_sites";  // 51 characters
  PathsLines p = lines({"data\\raw   ", "spdir", "bad", "cfg\\dec1.cfg", "   ", "out/", ""});
  p[6] = long_sensor;
  const InputFileSet f = form_file_names("site1.asc", p, 5);
  EXPECT_EQ(f.ts_path, "data/raw/site1.asc");
  EXPECT_EQ(f.clk, "data/raw/site1.clk");
  EXPECT_EQ(f.sp, "spdir/site1.sp");
  EXPECT_EQ(f.bad, "bad/site1.bad");
  EXPECT_EQ(f.decset, "cfg/dec1.cfg");
  EXPECT_EQ(f.pwset, "pwset.cfg");  // a blank line falls back
  EXPECT_EQ(f.fc, "out/site1.f5");
  EXPECT_EQ(f.sensor_dir, "resp/coils_and_electrodes_of_the_2018_su");  // first 40 characters
}

TEST(FileNames, ThreeLinePathsFileAndStandardSp) {
  const InputFileSet f = form_file_names("site1.asc", lines({"", "standard_dir", "badrec"}), 5);
  EXPECT_EQ(f.ts_path, "site1.asc");  // blank data directory: the name alone
  EXPECT_EQ(f.sp, "standard.sp");     // not a directory
  EXPECT_EQ(f.bad, "badrec/site1.bad");
  EXPECT_EQ(f.decset, "decset.cfg");
  EXPECT_EQ(f.pwset, "pwset.cfg");
  EXPECT_EQ(f.fc, "site1.f5");
  EXPECT_EQ(f.sensor_dir, "sensors");
  // "standard" only counts at the start of the line.
  EXPECT_EQ(form_file_names("s.asc", lines({"", " standard"}), 5).sp, "standard/s.sp");
}

TEST(FileNames, PathsLinesAreFixedFieldsOf80Characters) {
  const std::string dir80(80, 'd');
  const InputFileSet f = form_file_names("x.asc", lines({(dir80 + "ignored").c_str()}), 3);
  EXPECT_EQ(f.ts_path, dir80 + "/x.asc");
  // A blank seventh line is read: the sensor directory is then blank.
  EXPECT_EQ(form_file_names("x.asc", lines({"", "", "", "", "", "", "  "}), 3).sensor_dir, "");
}

class StationFolder : public testing_support::StationFolderTest {
 protected:
  StationFolder() : StationFolderTest("open") {}
  OpenedInput open(const RunOptions& opts, const std::string& answers = "") {
    in_.clear();
    in_.str(answers);
    return open_input(opts, con_);
  }
  std::string error_of(const RunOptions& opts, const std::string& answers = "") {
    try {
      open(opts, answers);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }
  static RunOptions ascii(const std::string& name, bool headers) {
    RunOptions o;
    o.ascii = true;
    o.clock_in_headers = headers;
    o.name_given = !name.empty();
    o.ts_name = name;
    return o;
  }

  std::ostringstream out_, err_;
  std::istringstream in_;
  Console con_{out_, err_, in_};
};

const char* kHeader = "0.1\n2018 5 18 1 0 0\n2018 5 18 1 0 0\n";

TEST_F(StationFolder, GenericAsciiWithPathsFileAndHeaderLines) {
  write("paths.cfg", "data\\2018\nsp\nbad\ncfg\\dec1.cfg\ncfg\\pw1.cfg\nout\nsensors\\coils\n");
  write("data/2018/site7.asc", std::string(kHeader) + "1 2 3 4 5\n6 7 8 9 10\n");
  OpenedInput in = open(ascii("site7.asc", true));
  EXPECT_EQ(in.files.ts_path, "data/2018/site7.asc");
  EXPECT_EQ(in.files.sp, "sp/site7.sp");
  EXPECT_EQ(in.files.decset, "cfg/dec1.cfg");
  EXPECT_EQ(in.files.pwset, "cfg/pw1.cfg");
  EXPECT_EQ(in.files.fc, "out/site7.f5");
  EXPECT_EQ(in.files.sensor_dir, "sensors/coils");
  EXPECT_EQ(in.acq.nch, 5);
  EXPECT_EQ(in.acq.msval, 2147483647);
  EXPECT_EQ(in.acq.threshold, 2147473664.0f);
  ASSERT_TRUE(in.reader);
  EXPECT_TRUE(in.reader->real_samples());
  SampleBlock blk;
  EXPECT_EQ(in.reader->read_block(blk, 5), block_end);
  ASSERT_EQ(blk.npts, 2);
  EXPECT_FLOAT_EQ(blk.real[nchmx + 4], 10.0f);
  EXPECT_EQ(out_.str(), " Starting sample # = 0\n NCH  = 5\n");
}

TEST_F(StationFolder, ClockFileIsLookedUpInTheDataDirectory) {
  write("paths.cfg", "raw\n");
  write("raw/site2.clk", kHeader);
  write("raw/site2.txt", "1 2\n3 4\n");
  OpenedInput in = open(ascii("site2.txt", false));
  EXPECT_EQ(in.files.clk, "raw/site2.clk");
  EXPECT_EQ(in.acq.nch, 2);
  EXPECT_EQ(in.files.fc, "site2.f2");
  SampleBlock blk;
  EXPECT_EQ(in.reader->read_block(blk, 2), block_end);
  EXPECT_EQ(blk.npts, 2);
  EXPECT_FLOAT_EQ(blk.real[0], 1.0f);
}

TEST_F(StationFolder, MissingPathsFileAsksUntilAnEmptyAnswer) {
  write("site3.asc", std::string(kHeader) + "1 2 3\n");
  OpenedInput in = open(ascii("site3.asc", true), "nosuch.cfg\n\n");
  const std::string ask =
      " Couldn't find the file paths.cfg. Please enter a\n"
      " NEW NAME for the paths file or hit return and the \n"
      " program writes output into the working directory.\n";
  EXPECT_EQ(out_.str(), ask + ask + " Starting sample # = 0\n NCH  = 3\n");
  EXPECT_EQ(in.files.sp, "site3.sp");
  EXPECT_EQ(in.files.sensor_dir, "sensors");
  // End of input at the question is an empty answer.
  out_.str("");
  EXPECT_EQ(open(ascii("site3.asc", true), "").files.fc, "site3.f3");
  EXPECT_EQ(out_.str(), ask + "\n Starting sample # = 0\n NCH  = 3\n");  // the console ends the unanswered line
}

TEST_F(StationFolder, AnotherPathsFileCanBeNamedAtThePrompt) {
  write("alt\\paths2.cfg", "");  // a Windows-style name is looked up as alt/paths2.cfg
  write("alt/paths2.cfg", "d\nstandard\n");
  write("d/s.asc", std::string(kHeader) + "1\n");
  OpenedInput in = open(ascii("s.asc", true), "alt\\paths2.cfg\n");
  EXPECT_EQ(in.files.ts_path, "d/s.asc");
  EXPECT_EQ(in.files.sp, "standard.sp");
}

TEST_F(StationFolder, NameFromThePromptAndNoName) {
  write("paths.cfg", "");
  write("typed.asc", std::string(kHeader) + "1 2\n");
  OpenedInput in = open(ascii("", true), "typed.asc\n");
  EXPECT_EQ(in.files.ts_name, "typed.asc");
  EXPECT_EQ(out_.str().rfind("Enter input file name: ", 0), 0u);
  EXPECT_NE(error_of(ascii("", true), ""), "no error");    // end of input at the prompt
  EXPECT_NE(error_of(ascii("", true), "\n"), "no error");  // empty answer
}

TEST_F(StationFolder, LongNamesFromTheCommandLineAreUsedWhole) {
  write("paths.cfg", "");
  const std::string name = "station_0042_long_survey_name_2018-05-18T010000Z_10Hz.asc";  // 58 characters
  write(name, std::string(kHeader) + "1 2 3 4\n");
  OpenedInput in = open(ascii(name, true));
  EXPECT_EQ(in.files.ts_path, name);
  EXPECT_EQ(in.files.fc, "station_0042_long_survey_name_2018-05-18T010000Z_10Hz.f4");
}

TEST_F(StationFolder, AsciiNimsFile) {
  write("paths.cfg", "");
  write("n.txt", "# NIMS\n#0.2\n#2018 5 18 1 0 0\n#2018 5 18 1 0 0\n10 20 30 40 50\n");
  RunOptions o = ascii("n.txt", true);
  o.nims = true;
  o.real_numbers = false;
  OpenedInput in = open(o);
  EXPECT_EQ(in.acq.nch, 5);
  EXPECT_FLOAT_EQ(in.acq.dr, 0.2f);
  EXPECT_FALSE(in.reader->real_samples());
  SampleBlock blk;
  EXPECT_EQ(in.reader->read_block(blk, 5), block_end);
  ASSERT_EQ(blk.npts, 1);
  EXPECT_EQ(blk.ints[4], 50);
}

TEST_F(StationFolder, MissingFilesAndBinaryFormatsAreRefused) {
  write("paths.cfg", "data\n");
  EXPECT_EQ(error_of(ascii("gone.asc", true)), "cannot open the time-series file data/gone.asc");
  write("data/c.asc", "1 2\n");
  EXPECT_NE(error_of(ascii("c.asc", false)).find("data/c.clk"), std::string::npos);
  RunOptions qel;
  qel.name_given = true;
  qel.ts_name = "c.bin";
  EXPECT_EQ(error_of(qel), "cannot open the QEL binary file data/c.bin");
  RunOptions nims = qel;
  nims.nims = true;
  EXPECT_NE(error_of(nims).find("NIMS binary"), std::string::npos);
}

// A folder opens for reading like a file and then reads as empty; every
// station file opened by name says so instead of "found the end of the file".
TEST_F(StationFolder, FoldersInPlaceOfFilesAreNamed) {
  write("paths.cfg", "data\n");
  fs::create_directories("data/d.asc");
  EXPECT_EQ(error_of(ascii("d.asc", true)), "data/d.asc is a folder, not a file");
  write("data/c.asc", "1 2\n");
  fs::create_directories("data/c.clk");
  EXPECT_EQ(error_of(ascii("c.asc", false)), "data/c.clk is a folder, not a file");
  RunOptions qel;
  qel.name_given = true;
  qel.ts_name = "d.asc";
  EXPECT_EQ(error_of(qel), "QEL binary file data/d.asc is a folder, not a file");
  RunOptions nims = qel;
  nims.nims = true;
  EXPECT_EQ(error_of(nims), "NIMS binary file data/d.asc is a folder, not a file");
  // The optional paths file: a missing one is asked for again, a folder stops.
  fs::remove("paths.cfg");
  fs::create_directories("paths.cfg");
  EXPECT_EQ(error_of(ascii("d.asc", true)), "paths.cfg is a folder, not a file");
  fs::remove("paths.cfg");
  fs::create_directories("alt.cfg");
  EXPECT_EQ(error_of(ascii("d.asc", true), "nosuch.cfg\nalt.cfg\n"), "alt.cfg is a folder, not a file");
}

}  // namespace
}  // namespace qv
