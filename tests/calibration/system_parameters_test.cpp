#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/system_parameters.hpp"
#include "common/console.hpp"
#include "common/error.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;

// A station folder entered for the test (the retry name is cut at the first
// '.' of the whole name, so names stay relative).
class SpFolder : public testing_support::StationFolderTest {
 protected:
  SpFolder() : StationFolderTest("sp") {}
  SystemParameters read(std::string name, float ref_decl = 0) { return GETSP(name, ref_decl, con_); }
  std::string error_of(std::string name) {
    try {
      GETSP(name, 0, con_);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }
  std::vector<std::string> console_lines() const {
    std::vector<std::string> v;
    std::istringstream s(out_.str());
    for (std::string l; std::getline(s, l);) v.push_back(l);
    return v;
  }

  std::ostringstream out_, err_;
  std::istringstream in_;
  Console con_{out_, err_, in_};
};

// Six declared channels; the sixth entry is malformed and must not be read.
const char* kSixChannels =
    "   Bear Creek 07 ridge site\n"
    "45.25, -70.5\n"
    "0.0\n"
    "6\n"
    "0.1\n"
    "0.002 1.0e-21\n"
    "Ex\n"
    "100. 0. 0. 2.\n"
    "10. 2\n"
    "l1\n"
    "4 0.2\n"
    "Pz\n"
    "mixed case code\n"
    "ey\n"
    "50., 90., 1.5, 4.\n"
    "1000. 0\n"
    "Hx\n"
    "0. 0.\n"
    "10. 4\n"
    "pz\n"
    "mt_coil.rsp\n"
    "RI\n"
    "coil\\hx_2018.rsp   \n"
    "l2\n"
    "2 5.0\n"
    "dt\n"
    "0.05\n"
    "Hy\n"
    "90. 0.\n"
    "20. 1\n"
    "XX\n"
    "\n"
    "Hz\n"
    "0. -90.\n"
    "1.0E+02 0\n"
    "Hq\n"
    "not numbers\n"
    "x y\n";

TEST_F(SpFolder, SixChannelsReadAsFive) {
  write("site1.sp", kSixChannels);
  const SystemParameters sp = read("site1.sp", 12.5f);
  EXPECT_EQ(sp.nch, 6);  // handed back; only five entries were read
  EXPECT_EQ(sp.station, "Bear Creek 07 rid   ");
  EXPECT_EQ(sp.station.size(), 20u);
  EXPECT_FLOAT_EQ(sp.lat, 45.25f);
  EXPECT_FLOAT_EQ(sp.lon, 289.5f);
  EXPECT_FLOAT_EQ(sp.decl, 12.5f);  // 0 in the file: the reference-field value
  EXPECT_FLOAT_EQ(sp.dt, 0.1f);
  EXPECT_FLOAT_EQ(sp.sysdelay, 0.002f);
  EXPECT_FLOAT_EQ(sp.drift, 1.0e-21f);
  EXPECT_FALSE(sp.drift_flag);

  const ChannelDescription& ex = sp.ch[0];
  EXPECT_EQ(ex.id, "Ex    ");
  EXPECT_FLOAT_EQ(ex.scale, 0.5f);  // 1 / (10 * 2 * 0.1 km)
  ASSERT_EQ(ex.nfilt, 2);
  EXPECT_EQ(ex.ftype[0], 5);
  EXPECT_EQ(ex.ftype[1], 9);  // "Pz" is not a known spelling
  EXPECT_EQ(ex.fline[0], "4 0.2");
  EXPECT_EQ(ex.fline[1], "mixed case code");

  const ChannelDescription& ey = sp.ch[1];
  EXPECT_FLOAT_EQ(ey.orient, 90.0f);
  EXPECT_FLOAT_EQ(ey.tilt, 1.5f);
  EXPECT_FLOAT_EQ(ey.scale, 1.0f / (1000.0f * 4.0f * 0.05f));  // lower-case "e" is electric
  EXPECT_EQ(ey.nfilt, 0);

  const ChannelDescription& hx = sp.ch[2];
  EXPECT_FLOAT_EQ(hx.scale, 0.1f);  // magnetic: 1 / S
  ASSERT_EQ(hx.nfilt, 4);
  EXPECT_EQ((std::array<int, 4>{hx.ftype[0], hx.ftype[1], hx.ftype[2], hx.ftype[3]}),
            (std::array<int, 4>{10, 99, 4, 101}));
  EXPECT_EQ(hx.fline[1], "coil\\hx_2018.rsp   ");  // kept verbatim
  EXPECT_EQ(sp.ch[3].ftype[0], 9);
  EXPECT_EQ(sp.ch[4].id, "Hz    ");
  EXPECT_FLOAT_EQ(sp.ch[4].tilt, -90.0f);
  EXPECT_FLOAT_EQ(sp.ch[4].scale, 0.01f);
  EXPECT_EQ(sp.ch[5].id, "");  // the sixth entry is not read
}

TEST_F(SpFolder, StationSummaryAndChannelLines) {
  write("site1.sp", kSixChannels);
  read("site1.sp", 12.5f);
  // Channel lines in columns I2, 2X, A6, 5X, F7.2, F7.2, E12.5, I3, 1X, A9.
  const std::vector<std::string> want = {
      "    Bear Creek 07 rid",  // line 1 echoed: its first 20 characters
      "",
      "Station:Bear Cree   # of channels:  5    Dt:   10.00Hz",
      "Lat./Long.:  45.25 289.50    Declination: 12.50",
      "",
      "    CHID    ORIENT.   TILT    SCALE          FILTERS",
      " filter type Pz unknown",
      " 1  Ex            0.00   0.00 0.50000E+00  2     l1 Pz",
      " 2  ey           90.00   1.50 0.50000E-02  0          ",
      " 3  Hx            0.00   0.00 0.10000E+00  4  pz RI l2",  // first 9 characters of " pz RI l2 dt"
      " filter type XX unknown",
      " 4  Hy           90.00   0.00 0.50000E-01  1        XX",
      " 5  Hz            0.00 -90.00 0.10000E-01  0          ",
  };
  EXPECT_EQ(console_lines(), want);
}

TEST_F(SpFolder, DeclinationLongitudeAndDrift) {
  write("a.sp", "A\n10 -0.5\n0.001\n1\n0.5\n0 2.0e-20\nHx\n0 0\n1 0\n");
  const SystemParameters a = read("a.sp", 7.0f);
  EXPECT_FLOAT_EQ(a.decl, 0.001f);  // not 0: kept
  EXPECT_FLOAT_EQ(a.lon, 359.5f);
  EXPECT_TRUE(a.drift_flag);
  EXPECT_EQ(a.nch, 1);
  EXPECT_EQ(a.station, "A" + std::string(19, ' '));
  write("b.sp", "B\n10 70.5\n-0.0\n1\n0.5\n0 -2.0e-20\nHx\n0 0\n1 0\n");
  const SystemParameters b = read("b.sp", 7.0f);
  EXPECT_FLOAT_EQ(b.decl, 7.0f);  // -0.0 is exactly 0
  EXPECT_FLOAT_EQ(b.lon, 70.5f);
  EXPECT_TRUE(b.drift_flag);  // the size of the drift counts, not its sign
}

TEST_F(SpFolder, RetryWithTheBaseNameAndNotFound) {
  write("site1.sp", "R\n1 2\n3\n1\n0.5\n0 0\nHx\n0 0\n1 0\n");
  std::string name = "site1.xyz.sp";
  const SystemParameters sp = GETSP(name, 0, con_);
  EXPECT_EQ(name, "site1.sp");
  EXPECT_FLOAT_EQ(sp.decl, 3.0f);
  EXPECT_EQ(error_of("nosuch.v2.sp"), "error: system parameter file nosuch.sp not found (nor nosuch.v2.sp)");
  EXPECT_EQ(error_of("nosuch.sp"), "error: system parameter file nosuch.sp not found");
  // Folders keep their dots; only the file name is cut.
  write("survey.2018/site2.sp", "R\n1 2\n3\n1\n0.5\n0 0\nHx\n0 0\n1 0\n");
  name = "./survey.2018/site2.run1.sp";
  GETSP(name, 0, con_);
  EXPECT_EQ(name, "./survey.2018/site2.sp");
}

TEST_F(SpFolder, ReadErrorsNameTheFileAndLine) {
  write("bad.sp", "S\n45 10\nnorth\n1\n");
  const std::string msg = error_of("bad.sp");
  EXPECT_EQ(msg.rfind("error reading system parameter file bad.sp", 0), 0u) << msg;
  EXPECT_NE(msg.find("line 3"), std::string::npos) << msg;
  EXPECT_NE(msg.find("'north'"), std::string::npos) << msg;

  write("elec.sp", "S\n45 10\n1\n1\n0.5\n0 0\nEx\n100 0 0 x\n");
  EXPECT_NE(error_of("elec.sp").find("line 8"), std::string::npos);
}

TEST_F(SpFolder, MoreThanFourFiltersOrTooManyChannelsAreRefused) {
  write("f5.sp", "S\n45 10\n1\n2\n0.5\n0 0\nHx\n0 0\n1 0\nHy\n90 0\n1 5\n");
  const std::string msg = error_of("f5.sp");
  EXPECT_NE(msg.find("f5.sp"), std::string::npos) << msg;
  EXPECT_NE(msg.find("channel 2 (Hy)"), std::string::npos) << msg;
  write("c7.sp", "S\n45 10\n1\n7\n0.5\n0 0\n");
  EXPECT_NE(error_of("c7.sp").find("found 7"), std::string::npos);
}

TEST_F(SpFolder, AFileEndingBeforeItsLastChannelEntryIsRefused) {
  // The second channel would otherwise run with the scale of the first and a
  // run would write a file of nothing but markers.
  write("short.sp", "S\n45 10\n1\n2\n0.5\n0 1e-5\nHx\n0 0\n5 0\nHy\n");
  try {
    read("short.sp");
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("short.sp (file short.sp, line 11: expected the orientation and tilt of "
                                             "magnetic channel 2 (Hy), found the end of the file)"));
  }
}

}  // namespace
}  // namespace qv
