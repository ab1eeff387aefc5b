#include <gtest/gtest.h>

#include <complex>
#include <sstream>
#include <string>

#include "calibration/response_file.hpp"
#include "common/error.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

using testing_support::TempFolder;
using cf = std::complex<float>;

// A console whose answers are the given text.
struct Dialogue {
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
  explicit Dialogue(const std::string& answers = "") : in(answers) {}
};

cf at(const ResponseFile& t, int i, int j, float f) {
  cf H(-99, -99);
  EXPECT_TRUE(response_at(t, i, j, f, H)) << "f = " << f;
  return H;
}

void expect_near(cf got, float re, float im, const char* what) {
  EXPECT_NEAR(got.real(), re, 2e-5f) << what;
  EXPECT_NEAR(got.imag(), im, 2e-5f) << what;
}

// Rows (1, 2, 10 deg), (3, 4, 30 deg), (5, 8, 50 deg); the expected values
// are amplitude times cosine and sine of the phase, worked out by hand.
TEST(ResponseFile, AmplitudePhaseRowsInEitherOrderInterpolateAlike) {
  TempFolder dir("rsp");
  const std::string up = dir.write("up.rsp", "Coil 4711, amplitude and phase\n  f [Hz]  A   phi [deg]\n"
                                             " 1.0 2.0 10.0\n3.0, 4.0, 30.0\n5.0 8.0 50.0\n\n");
  const std::string down = dir.write("down.rsp", "Coil 4711\n5.0 8.0 50.0\n3.0 4.0 30.0\n1.0 2.0 10.0 last row\n");
  Dialogue d;
  ResponseFile a, b;
  ASSERT_EQ(load_response_file(98, up, a, d.con), RspLoad::loaded);
  ASSERT_EQ(load_response_file(98, down, b, d.con), RspLoad::loaded);
  EXPECT_EQ(a.nrows[0], 3);
  EXPECT_EQ(a.name, up);
  for (float f : {0.3f, 1.0f, 2.0f, 2.9f, 4.5f, 5.0f}) EXPECT_EQ(at(a, 1, 1, f), at(b, 1, 1, f)) << f;

  expect_near(at(a, 1, 1, 0.5f), 1.9696155f, 0.3472964f, "below the first row: row 1");
  expect_near(at(a, 1, 1, 2.0f), 2.8190779f, 1.0260604f, "midpoint: A 3, phase 20");
  expect_near(at(a, 1, 1, 4.5f), 4.9497475f, 4.9497475f, "w = 1/4: A 7, phase 45");
  expect_near(at(a, 1, 1, 5.0f), 5.1423008f, 6.1283555f, "last row");
  cf H;
  EXPECT_FALSE(response_at(a, 1, 1, 5.01f, H));
  EXPECT_FALSE(response_at(a, 1, 1, 0.0f, H));
  EXPECT_FALSE(response_at(a, 2, 1, 1.0f, H)) << "group 2 of a one-group file is empty";
}

TEST(ResponseFile, RealImaginaryRowsInterpolatePartByPart) {
  TempFolder dir("rsp");
  const std::string p = dir.write("ri.rsp", "# f re im\n  0.1 1.0 -2.0\n  0.3 3.0 2.0\n");
  Dialogue d;
  ResponseFile t;
  ASSERT_EQ(load_response_file(99, p, t, d.con), RspLoad::loaded);
  expect_near(at(t, 1, 1, 0.15f), 1.5f, -1.0f, "w = 3/4");
  expect_near(at(t, 1, 1, 0.05f), 1.0f, -2.0f, "row 0");
}

// Three groups of four pairs in fields of 6; group 3's row has fields that
// touch, leaves pairs 2 and 3 blank and ends before pair 4.
TEST(ResponseFile, ThreeGroupsOfFourPairsInFixedFields) {
  TempFolder dir("rsp");
  const std::string p = dir.write("te.rsp",
                                  "h1\nh2\nh3\nh4\nh5\n1\n"
                                  "   2.0   1.5  10.0   9.0   9.0   9.0   9.0   9.0   9.0\n"
                                  "  2\n"
                                  "   1.0  11.0   1.0  12.0   2.0  13.0   3.0  14.0   4.0\n"
                                  "   3.0  21.0   5.0  22.0   7.0  23.0   9.0  24.0  11.0\n"
                                  "1\n"
                                  "   1.0 5.000-90.00                        \n");
  Dialogue d;
  ResponseFile t;
  ASSERT_EQ(load_response_file(7, p, t, d.con), RspLoad::loaded);
  EXPECT_EQ(t.nrows, (std::array<int, 3>{1, 2, 1}));
  // Group 2, pair 3 at the midpoint: A (13 + 23) / 2 = 18, phase (3 + 9) / 2 = 6 deg.
  expect_near(at(t, 2, 3, 2.0f), 17.901394f, 1.8815128f, "group 2 pair 3");
  expect_near(at(t, 1, 1, 1.0f), 1.4772116f, 0.2604723f, "group 1 pair 1");
  expect_near(at(t, 3, 1, 0.5f), 0.0f, -5.0f, "group 3 pair 1, fields touching");
  EXPECT_EQ(at(t, 3, 3, 1.0f), cf(0, 0)) << "blank fields read as 0";
  EXPECT_EQ(at(t, 3, 4, 1.0f), cf(0, 0)) << "fields beyond a short line read as 0";
  cf H;
  EXPECT_THROW(response_at(t, 4, 1, 1.0f, H), Error);
  EXPECT_THROW(response_at(t, 1, 0, 1.0f, H), Error);
  EXPECT_THROW(response_at(t, 1, 5, 1.0f, H), Error);
}

TEST(ResponseFile, DashedHeaderAndDecreasingFrequencies) {
  TempFolder dir("rsp");
  const std::string p = dir.write("pa.rsp",
                                  "Calibration PA-123\n ----- indented dashes are text\n"
                                  "------------------------\n  Hz   V/nT  deg\n"
                                  "100.0 5.0 -90.0\n10.0 4.0 -45.0\n1.0 2.0 0.0\nEnd of table\n9 9 9\n");
  Dialogue d;
  ResponseFile t;
  ASSERT_EQ(load_response_file(17, p, t, d.con), RspLoad::loaded);
  EXPECT_EQ(t.nrows[0], 3);
  EXPECT_EQ(t.rows[0][1][0], 1.0f);
  expect_near(at(t, 1, 1, 5.5f), 2.7716386f, -1.1480503f, "A 3, phase -22.5");
  expect_near(at(t, 1, 1, 100.0f), 0.0f, -5.0f, "highest row");
  expect_near(at(t, 1, 1, 0.5f), 2.0f, 0.0f, "row 0");
}

TEST(ResponseFile, ConsoleAnswersWhenTheFileIsMissing) {
  TempFolder dir("rsp");
  const std::string good = dir.write("good.rsp", "1 2 0\n4 2 0\n");
  const std::string missing = (dir / "gone.rsp").string();
  ResponseFile t;
  {
    Dialogue d;
    ASSERT_EQ(load_response_file(98, good, t, d.con), RspLoad::loaded);
  }
  {
    Dialogue d("none of these\n");
    EXPECT_EQ(load_response_file(98, missing, t, d.con), RspLoad::skipped);
    EXPECT_EQ(d.out.str(), " th: cfrsp " + missing + "\n Couldn't open RSP file: " + missing +
                               "\n Enter a new RSP file name or RETURN to stop\n");
    EXPECT_EQ(t.type, 0);
    EXPECT_EQ(t.nrows, (std::array<int, 3>{0, 0, 0}));
    cf H;
    EXPECT_FALSE(response_at(t, 1, 1, 2.0f, H)) << "the earlier table must not be evaluated";
  }
  {
    Dialogue d(good + "\n");
    EXPECT_EQ(load_response_file(98, missing, t, d.con), RspLoad::loaded);
    EXPECT_EQ(t.name, good);
    EXPECT_EQ(t.type, 98);
  }
  for (const std::string& answer : {std::string("\n"), std::string(), " " + good + "\n"}) {
    Dialogue d(answer);
    EXPECT_THROW(load_response_file(98, missing, t, d.con), Error) << "answer '" << answer << "'";
  }
  Dialogue d("other.rsp\n");
  try {
    load_response_file(98, missing, t, d.con);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("other.rsp"), std::string::npos) << e.what();
  }
  EXPECT_NE(d.out.str().find("\n ERROR OPENING RSP-FILE ! looked up in SENSORS\n"), std::string::npos);
}

TEST(ResponseFile, MalformedTablesNameFileAndLine) {
  const std::string header = "h1\nh2\nh3\nh4\nh5\n";
  struct Case {
    int type;
    std::string text;
    int line;
  } cases[] = {
      {8, header + " 2\n   1.0   1.0   0.0\n   2.0  1.x0   0.0\n", 8},  // not a number
      {8, header + " 151\n", 6},                                        // too many rows
      {8, header + " -1\n", 6},
      {8, header + " 3\n   1.0   1.0   0.0\n   2.0   1.0   0.0\n", 9},  // ends inside the table
      {7, header + " 1\n   1.0\n 1\n   1.0\n", 10},                      // group 3's count missing
      {8, "h1\nh2\n", 3},                                               // ends inside the header
      {17, "no dashes\n", 2},
      {98, "text\n2019-05-01 calibration\n", 2},                        // no row at all
  };
  for (const Case& c : cases) {
    TempFolder dir("rsp");
    const std::string p = dir.write("bad.rsp", c.text);
    Dialogue d;
    ResponseFile t;
    try {
      load_response_file(c.type, p, t, d.con);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Error& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find(p), std::string::npos) << m;
      EXPECT_NE(m.find("line " + std::to_string(c.line) + ":"), std::string::npos) << m;
    }
    EXPECT_EQ(t.type, 0);
  }
}

}  // namespace
}  // namespace qv
