#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "input/ascii_reader.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;

struct Captured {
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

// A sample line of `nch` channels whose values encode sample and channel.
std::string sample_line(int sample, int nch) {
  std::string s;
  for (int c = 0; c < nch; ++c) s += "  " + std::to_string(sample * 10 + c) + ".5";
  return s + "\n";
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(FieldCount, BlanksAndTabsSeparateFields) {
  EXPECT_EQ(count_fields("   1.0    2.0     3.0   "), 3);
  EXPECT_EQ(count_fields("1\t2\t 3\t4"), 4);
  EXPECT_EQ(count_fields("42"), 1);
  EXPECT_EQ(count_fields("1,2,3"), 1);  // commas are not counted, only blanks and tabs
}

TEST(GenericHeader, HeaderLinesGiveTimingAndTheBlockStartsAtLineFour) {
  std::string text = "0.1\n2018 5 19 1 0 1\n2018 5 18 1 0 0\n";
  for (int i = 0; i < 3; ++i) text += sample_line(i, 3);
  TextReader data;
  data.open_text("site.asc", text);
  Captured cap;
  Acquisition acq;
  rdhdrASCII(data, true, "unused.clk", acq, cap.con);
  EXPECT_EQ(acq.nch, 3);
  EXPECT_FLOAT_EQ(acq.dr, 0.1f);
  EXPECT_FLOAT_EQ(acq.sampfreq, 1.0f / 0.1f);
  EXPECT_EQ(acq.time_int, 86'400'999'424LL);
  EXPECT_EQ(cap.out.str(), " Starting sample # = 0\n NCH  = 3\n");

  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  EXPECT_EQ(rd.read_block(blk, 3), block_end);
  ASSERT_EQ(blk.npts, 3);
  EXPECT_EQ(blk.index[0], 0);
  EXPECT_FLOAT_EQ(blk.real[0], 0.5f);  // line 4 is sample 0
  EXPECT_FLOAT_EQ(blk.real[2], 2.5f);
  EXPECT_FLOAT_EQ(blk.real[2 * nchmx + 1], 21.5f);
  EXPECT_TRUE(rd.last_block_has_data());
}

class StationDir : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) { return folder_.write(name, text); }
  testing_support::TempFolder folder_{"ascii"};
  const fs::path& dir_ = folder_.path();
};

TEST_F(StationDir, ClockFileGivesTimingAndTheBlockStartsAtLineOne) {
  const std::string clk = write("site.clk", "0.25\n2018 5 18 1 0 0\n2018 5 18 1 0 0\n");
  const std::string data_name = write("site.asc", sample_line(0, 2) + sample_line(1, 2));
  TextReader data;
  ASSERT_TRUE(data.open(data_name));
  Captured cap;
  Acquisition acq;
  rdhdrASCII(data, false, clk, acq, cap.con);
  EXPECT_EQ(acq.nch, 2);
  EXPECT_FLOAT_EQ(acq.dr, 0.25f);
  EXPECT_EQ(acq.time_int, 0);
  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  EXPECT_EQ(rd.read_block(blk, 2), block_end);
  ASSERT_EQ(blk.npts, 2);
  EXPECT_FLOAT_EQ(blk.real[0], 0.5f);
  EXPECT_FLOAT_EQ(blk.real[nchmx + 1], 11.5f);
}

TEST_F(StationDir, MissingClockFileIsNamed) {
  const std::string data_name = write("site.asc", sample_line(0, 2));
  TextReader data;
  ASSERT_TRUE(data.open(data_name));
  Captured cap;
  Acquisition acq;
  const std::string clk = (dir_ / "site.clk").string();
  const std::string msg = error_of([&] { rdhdrASCII(data, false, clk, acq, cap.con); });
  EXPECT_NE(msg.find("clock-reset file " + clk), std::string::npos) << msg;
}

TEST_F(StationDir, ThreeHundredSamplesGiveBlocksOf256And44) {
  std::string text = "0.1\n2018 5 18 1 0 0\n2018 5 18 1 0 0\n";
  for (int i = 0; i < 300; ++i) text += sample_line(i, 5);
  TextReader data;
  ASSERT_TRUE(data.open(write("long.asc", text)));
  Captured cap;
  Acquisition acq;
  rdhdrASCII(data, true, "", acq, cap.con);
  ASSERT_EQ(acq.nch, 5);
  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  ASSERT_EQ(rd.read_block(blk, 5), block_more);
  EXPECT_EQ(blk.npts, 256);
  EXPECT_EQ(blk.index[255], 255);
  EXPECT_FLOAT_EQ(blk.real[255 * nchmx + 4], 2554.5f);
  ASSERT_EQ(rd.read_block(blk, 5), block_end);
  ASSERT_EQ(blk.npts, 44);
  EXPECT_EQ(blk.index[0], 256);
  EXPECT_EQ(blk.index[43], 299);
  EXPECT_FLOAT_EQ(blk.real[0], 2560.5f);
  EXPECT_FLOAT_EQ(blk.real[43 * nchmx + 4], 2994.5f);
  // Reading past the end keeps answering with an empty last block.
  EXPECT_EQ(rd.read_block(blk, 5), block_end);
  EXPECT_EQ(blk.npts, 0);
}

TEST(AsciiBlocks, EmptyDataPartGivesNoRowsAndTheEnd) {
  Captured cap;
  TextReader data;
  data.open_text("empty.asc", "");
  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  blk.npts = 99;
  EXPECT_EQ(rd.read_block(blk, 3), block_end);
  EXPECT_EQ(blk.npts, 0);
}

TEST(AsciiBlocks, ShortLinesContinueAndTheRestOfALineIsIgnored) {
  Captured cap;
  TextReader data;
  // Row 0 spans two lines (and a blank one); row 1 ignores "9 9" after its
  // three values; a comma separates like a blank.
  // An incomplete last row is not delivered.
  data.open_text("t.asc", "1 2\n\n3\n4,5 6 9 9\n+1.5D2 -2.0e-1 .25\n7 8\n");
  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  EXPECT_EQ(rd.read_block(blk, 3), block_end);
  ASSERT_EQ(blk.npts, 3);
  const float want[3][3] = {{1, 2, 3}, {4, 5, 6}, {150, -0.2f, 0.25f}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(blk.real[r * nchmx + c], want[r][c]) << r << "," << c;
  // The line a sample went on from is named, the blank line after it is not
  // counted again, and the cut-off last row continues nowhere.
  const std::string said =
      " warning: line 1 of t.asc holds 2 values for 3 channels; the sample continues on the next line\n"
      " warning: 1 line of t.asc held fewer values than the 3 channels; its sample was continued on the next line\n";
  EXPECT_EQ(cap.out.str(), said);
  EXPECT_EQ(rd.read_block(blk, 3), block_end);
  EXPECT_EQ(cap.out.str(), said);  // said once
}

TEST(AsciiBlocks, RealValuesMatchTheCLibrary) {
  Captured cap;
  // Values written with many digits and exponents parse as strtof does.
  std::string text;
  std::vector<float> want;
  unsigned seed = 12345;
  for (int i = 0; i < 600; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double v = (static_cast<double>(seed % 2000001u) - 1000000.0) * std::pow(10.0, int(seed >> 24) % 13 - 6);
    char buf[64];
    std::snprintf(buf, sizeof buf, (i % 2) ? "%.9g" : "%.3f", v);
    text += buf;
    text += (i % 6 == 5) ? "\n" : " ";
    want.push_back(std::strtof(buf, nullptr));
  }
  TextReader data;
  data.open_text("t.asc", text);
  AsciiBlockReader rd(std::move(data), true, cap.con);
  SampleBlock blk;
  EXPECT_EQ(rd.read_block(blk, 6), block_end);
  ASSERT_EQ(blk.npts, 100);
  for (int i = 0; i < 600; ++i) EXPECT_EQ(blk.real[i], want[i]) << i;
}

TEST(AsciiBlocks, IntegerReaderMarksMissingSamples) {
  Captured cap;
  TextReader data;
  data.open_text("t.asc", "1 44444444 -3\n44444444 2147483647 -2147483648\n");
  AsciiBlockReader rd(std::move(data), false, cap.con);
  EXPECT_FALSE(rd.real_samples());
  SampleBlock blk;
  EXPECT_EQ(rd.read_block(blk, 3), block_end);
  ASSERT_EQ(blk.npts, 2);
  const std::int32_t want[6] = {1, 2147483647, -3, 2147483647, 2147483647, INT32_MIN};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(blk.ints[r * nchmx + c], want[r * 3 + c]);
}

TEST(AsciiBlocks, BadValuesNameFileLineChannelAndSample) {
  Captured cap;
  {
    TextReader data;
    data.open_text("st1.asc", "1 2 3\n4 5 6\n7 x8 9\n");
    AsciiBlockReader rd(std::move(data), true, cap.con);
    SampleBlock blk;
    EXPECT_EQ(error_of([&] { rd.read_block(blk, 3); }),
              "file st1.asc, line 3: expected a real number for channel 2 of sample 2, found 'x8'");
  }
  {
    TextReader data;
    data.open_text("st2.asc", "1 2.5\n");
    AsciiBlockReader rd(std::move(data), false, cap.con);
    SampleBlock blk;
    EXPECT_EQ(error_of([&] { rd.read_block(blk, 2); }),
              "file st2.asc, line 1: expected an integer for channel 2 of sample 0, found '2.5'");
  }
  {
    TextReader data;
    data.open_text("st3.asc", "1 99999999999 3\n");
    AsciiBlockReader rd(std::move(data), false, cap.con);
    SampleBlock blk;
    EXPECT_NE(error_of([&] { rd.read_block(blk, 3); }).find("found '99999999999'"), std::string::npos);
  }
  {
    TextReader data;
    data.open_text("st4.asc", "1 nan 3 inf\n");
    AsciiBlockReader rd(std::move(data), true, cap.con);
    SampleBlock blk;
    EXPECT_NE(error_of([&] { rd.read_block(blk, 3); }).find("found 'nan'"), std::string::npos);
  }
  {
    TextReader data;
    data.open_text("st5.asc", "1\n");
    AsciiBlockReader rd(std::move(data), true, cap.con);
    SampleBlock blk;
    EXPECT_THROW(rd.read_block(blk, 7), Error);  // more channels than a row holds
  }
}

TEST(GenericHeader, BadOrMissingHeaderValuesNameFileAndLine) {
  auto header_error = [](const std::string& text) {
    TextReader data;
    data.open_text("hdr.asc", text);
    Captured cap;
    Acquisition acq;
    return error_of([&] { rdhdrASCII(data, true, "", acq, cap.con); });
  };
  EXPECT_EQ(header_error("0.1\n2018 5 18 1 0 0\n"),
            "file hdr.asc, line 3: expected the reference time as year month day hour minute second, found the end "
            "of the file");
  EXPECT_EQ(header_error("x\n"), "file hdr.asc, line 1: expected the sample interval dr in seconds, found 'x'");
  EXPECT_EQ(header_error("0.1\n2018 5 18 1 0 0.5\n2018 5 18 1 0 0\n1\n"),
            "file hdr.asc, line 2: expected the start time as year month day hour minute second, found '0.5'");
  EXPECT_EQ(header_error("0\n2018 5 18 1 0 0\n2018 5 18 1 0 0\n1\n"),
            "file hdr.asc, line 1: expected a positive sample interval dr in seconds, found 0");
  EXPECT_NE(header_error("0.1\n2018 5 18 1 0 0\n2018 13 18 1 0 0\n1\n").find("line 3"), std::string::npos);
  EXPECT_EQ(header_error("0.1\n2018 5 18 1 0 0\n2018 5 18 1 0 0\n   \n"),
            "file hdr.asc, line 5: expected the first sample line after the three header lines, found the end of "
            "the file (no samples)");
}

TEST(NimsHeader, TheLastThreeHashLinesAreTheHeader) {
  std::string text;
  for (int i = 0; i < 7; ++i) text += "# comment " + std::to_string(i) + " not a number\n";
  text += "#0.5   sample interval\n";
  text += "# 2018  5 18  1  0  2    start\n";
  text += "# 2018  5 18  1  0  0    reference\n";
  text += sample_line(0, 4) + sample_line(1, 4);
  TextReader data;
  data.open_text("nims.txt", text);
  Captured cap;
  Acquisition acq;
  rdhdrNIMSASCII(data, acq, cap.con);
  EXPECT_FLOAT_EQ(acq.dr, 0.5f);
  EXPECT_FLOAT_EQ(acq.sampfreq, 2.0f);
  EXPECT_EQ(acq.time_int, 2'000'000);
  EXPECT_EQ(acq.nch, 4);
  EXPECT_EQ(cap.out.str(), " dr = 0.5\n date = 2018 5 18 1 0 2\n Starting sample # = 0\n NCH  = 4\n");
  AsciiBlockReader rd(std::move(data), false, cap.con);
  SampleBlock blk;
  // Integer reader on real text: the first data line is where reading starts.
  EXPECT_EQ(error_of([&] { rd.read_block(blk, 4); }),
            "file nims.txt, line 11: expected an integer for channel 1 of sample 0, found '0.5'");
}

TEST(NimsHeader, ValuesAfterColumn50AreNotRead) {
  // The start time's last value sits beyond character 50: the read of six
  // integers from characters 2 to 50 finds only five.
  const std::string pad(44, ' ');
  const std::string text = "#0.1\n#2018 5 18 1 0" + pad + "7\n#2018 5 18 1 0 0\n1 2\n";
  TextReader data;
  data.open_text("n.txt", text);
  Captured cap;
  Acquisition acq;
  EXPECT_EQ(error_of([&] { rdhdrNIMSASCII(data, acq, cap.con); }),
            "file n.txt, line 2: expected the start time as year month day hour minute second in characters 2 to "
            "50, found '2018 5 18 1 0'");
}

TEST(NimsHeader, TooFewHashLinesOrNoSamplesAreRefused) {
  Captured cap;
  Acquisition acq;
  TextReader a;
  a.open_text("a.txt", "#0.1\n#2018 5 18 1 0 0\n1 2\n");
  EXPECT_NE(error_of([&] { rdhdrNIMSASCII(a, acq, cap.con); }).find("three '#' header lines"), std::string::npos);
  TextReader b;
  b.open_text("b.txt", "#0.1\n#2018 5 18 1 0 0\n#2018 5 18 1 0 0\n");
  EXPECT_NE(error_of([&] { rdhdrNIMSASCII(b, acq, cap.con); }).find("no samples"), std::string::npos);
}

}  // namespace
}  // namespace qv
