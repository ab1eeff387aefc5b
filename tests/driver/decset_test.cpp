#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/error.hpp"
#include "driver/decset.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

class DecsetFiles : public testing::Test {
 protected:
  // One pair of files per test: CTest runs tests in parallel processes.
  testing_support::TempFolder folder{"decset"};
  std::string dec = (folder / "decset.cfg").string();
  std::string pw = (folder / "pwset.cfg").string();
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
  DecSetup s;

  void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  void read(int nch = 5) { cf_decset(dec, pw, nwmx, nch, s, con); }
};

TEST_F(DecsetFiles, ReadsLevelsCoefficientsAndPrewhitening) {
  write(dec,
        "3 100   levels, offset\n"
        "128 32 1 0 0 5 2 20 0\n"
        "this line is skipped: level 1 has no filter\n"
        "128, 256.5e-1, 4, 0, 7, 5, 2, 20, 3\n"
        "0.5 0.3\n-0.05\n"
        "524288 1000.5 4 0 0 3 1 30 5\n"
        "1 2 3 4 5\n");
  write(pw, "3\n0\n-1\n-4\n");
  read(5);
  EXPECT_EQ(s.nd, 3);
  EXPECT_EQ(s.levoff, 100);
  EXPECT_EQ(s.lev[2].ianchor, 7);
  EXPECT_FLOAT_EQ(s.lev[2].olap, 25.65f);
  EXPECT_FLOAT_EQ(s.lev[3].olap, 1000.5f);  // the fraction is kept
  EXPECT_EQ(s.lev[3].nwin, 524288);          // exactly the limit is accepted
  EXPECT_FLOAT_EQ(s.lev[2].coef[2], -0.05f);  // a read continues onto the next line
  EXPECT_FLOAT_EQ(s.lev[3].coef[4], 5.0f);
  EXPECT_EQ(s.lev[1].pwlen, 1);
  EXPECT_FALSE(s.pwdiff[1][0]);
  EXPECT_EQ(s.lev[2].pwlen, 2);
  EXPECT_TRUE(s.pwdiff[2][4]);
  EXPECT_EQ(s.lev[3].pwlen, 4);
  EXPECT_FALSE(s.pwdiff[3][0]);
  EXPECT_EQ(s.pworder[3][5], 0);  // the sixth channel is untouched with 5 channels
  EXPECT_NE(out.str().find(" Decimation Level Setup from: " + dec + "\n\n DLEV   NPOINTS   OLAP   DEC-FAC   NFC\n"),
            std::string::npos);
}

TEST_F(DecsetFiles, LimitsStopTheRunWithTheReasonAfterTheirConsoleLines) {
  std::string ten = "10 0\n";
  for (int i = 0; i < 10; ++i) ten += "16 4 1 0 0 1 0 2 1\n1.0\n";
  write(dec, ten);
  write(pw, "10\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n");
  read();
  EXPECT_EQ(s.nd, 10);

  // The error itself says what is wrong; the console keeps its lines.
  struct Case {
    std::string decset, pwset, error, console;
  };
  const Case cases[] = {
      {"11 0\n", "11\n", dec + ", line 1: nd = 11 decimation levels; a run has at most 10",
       " error: # of dec. levels exceeds ndmx\n parameters read from cf_decset are inconsistent with parameters "
       "declared in main program\n"},
      {"2 0\n16 4 1 0 0 1 0 2 0\n\n16 4 2 0 0 1 0 2 6\n1 1 1 1 1 1\n", "2\n0\n0\n",
       dec + ", decimation level 2: nfc = 6 filter coefficients; a level holds at most 5",
       " nfcmx ( = 5) not set large enough\n decimation level = 2 nfc = 6\n"},
      {"1 0\n524289 4 1 0 0 1 0 2 0\n\n", "1\n0\n",
       dec + ", decimation level 1: nwin = 524289 samples; a window holds at most 524288",
       " nwmx ( = 524288) not set large enough\n decimation level = 1 nwin = 524289\n"},
      {"1 0\n16 4 1 0 0 1 0 2 0\n\n", "2\n0\n0\n",
       pw + ", line 1: 2 pre-whitening levels, but the decimation set-up " + dec +
           " has 1; give one value per decimation level",
       " nd set incorrectly in cf_pwset\n"},
  };
  for (const Case& c : cases) {
    write(dec, c.decset);
    write(pw, c.pwset);
    out.str("");
    try {
      read();
      ADD_FAILURE() << "accepted: " << c.decset;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
    EXPECT_NE(out.str().find(c.console), std::string::npos) << out.str();
  }
}

TEST_F(DecsetFiles, UnsafeValuesAreRefusedNamingFileLevelAndValue) {
  struct Case {
    std::string level2;
    std::string pw;
    std::string expect;
  };
  const Case cases[] = {
      {"0 0 2 0 0 1 0 0 1", "0", "nwin = 0"},
      {"16 16 2 0 0 1 0 2 1", "0", "olap = 16"},
      {"16 4 0 0 0 1 0 2 1", "0", "decfac = 0"},
      {"16 4 2 0 0 1 0 2 0", "0", "nfc = 0"},
      {"16 4 2 0 0 1 0 9 1", "0", "nfreq = 9"},
      {"16 4 2 0 0 64 0 2 1", "0", "nspan = 64"},
      {"16 4 2 0 0 0 0 2 1", "0", "nspan = 0"},
      {"64 4 2 0 0 1 0 2 1", "-42", "pre-whitening value -42"},
  };
  for (const auto& c : cases) {
    write(dec, "2 0\n16 4 1 0 0 1 0 2 0\n\n" + c.level2 + "\n0.5\n");
    write(pw, "2\n0\n" + c.pw + "\n");
    try {
      read();
      ADD_FAILURE() << "accepted " << c.level2;
    } catch (const Error& e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find(c.expect), std::string::npos) << msg;
      EXPECT_NE(msg.find("level 2"), std::string::npos) << msg;
    }
  }
}

TEST_F(DecsetFiles, MissingFilesAndUnreadableValuesStopTheRun) {
  std::remove(dec.c_str());
  EXPECT_THROW(read(), Error);
  EXPECT_NE(out.str().find(" ERROR OPENING DECSET FILE !"), std::string::npos);
  write(dec, "1 0\n16 x 1 0 0 1 0 2 0\n\n");
  try {
    read();
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(dec + ", line 2"), std::string::npos) << e.what();
  }
  write(dec, "1 0\n16 4 1 0 0 1 0 2 0\n");  // no coefficient line
  EXPECT_THROW(read(), Error);
  write(dec, "1 0\n16 4 1 0 0 1 0 2 0\n\n");
  std::remove(pw.c_str());
  EXPECT_THROW(read(), Error);
  EXPECT_NE(out.str().find(" ERROR OPENING PWSET FILE !"), std::string::npos);
}

}  // namespace
}  // namespace qv
