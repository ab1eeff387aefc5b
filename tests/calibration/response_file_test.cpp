#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "calibration/response_file.hpp"
#include "common/error.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

using cf = std::complex<float>;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// Table files in a temporary folder, loaded with a console that answers `answers`.
struct ResponseFileTest : ::testing::Test {
  testing_support::TempFolder dir{"rsp"};
  std::ostringstream out;
  ResponseFile t;
  RspLoad load(int type, const std::string& path, const std::string& answers = "") {
    out.str("");
    std::istringstream in(answers);
    Console con(out, out, in);
    return load_response_file(type, path, t, con);
  }
  void load_text(int type, const std::string& text) {
    ASSERT_EQ(load(type, dir.write("t.rsp", text)), RspLoad::loaded);
  }
  static cf at(const ResponseFile& table, int i, int j, float f) {
    cf H(-99, -99);
    EXPECT_TRUE(response_at(table, i, j, f, H)) << "f = " << f;
    return H;
  }
  void expect_at(int i, int j, float f, float re, float im) {
    EXPECT_LT(std::abs(at(t, i, j, f) - cf(re, im)), 2e-5f) << "group " << i << " pair " << j << " f = " << f;
  }
};

// Rows after a text header (AP, RI) or a dashed one (PA); expected values are
// A cos(phase) and A sin(phase), worked by hand.
TEST_F(ResponseFileTest, FreeFormatRowsInEitherOrder) {
  load_text(98, "Coil 4711, f [Hz]  A  phi\n 5.0 8.0 50.0\n3.0, 4.0, 30.0\n1.0 2.0 10.0 last\n\n");
  const ResponseFile down = t;
  load_text(98, "Coil 4711\n1.0 2.0 10.0\n3.0 4.0 30.0\n5.0 8.0 50.0\n");
  for (float f : {0.3f, 1.0f, 2.9f, 5.0f}) EXPECT_EQ(at(down, 1, 1, f), at(t, 1, 1, f)) << "decreasing rows";
  expect_at(1, 1, 0.5f, 1.9696155f, 0.3472964f);  // below the first row: row 1
  expect_at(1, 1, 2.0f, 2.8190779f, 1.0260604f);  // A 3, phase 20
  expect_at(1, 1, 4.5f, 4.9497475f, 4.9497475f);  // w = 1/4: A 7, phase 45
  cf H;
  EXPECT_FALSE(response_at(t, 1, 1, 5.01f, H));
  EXPECT_FALSE(response_at(t, 1, 1, 0.0f, H));
  EXPECT_FALSE(response_at(t, 2, 1, 1.0f, H)) << "group 2 of a one-group file is empty";

  load_text(99, "# f re im\n  0.1 1.0 -2.0\n  0.3 3.0 2.0\n");
  expect_at(1, 1, 0.15f, 1.5f, -1.0f);  // w = 3/4
  expect_at(1, 1, 0.05f, 1.0f, -2.0f);

  load_text(17, "PA-123\n ----- indented dashes are text\n------------\n  Hz  V/nT  deg\n"
                "100.0 5.0 -90.0\n10.0 4.0 -45.0\n1.0 2.0 0.0\nEnd of table\n9 9 9\n");
  EXPECT_EQ(t.nrows[0], 3);
  expect_at(1, 1, 5.5f, 2.7716386f, -1.1480503f);  // A 3, phase -22.5
  expect_at(1, 1, 100.0f, 0.0f, -5.0f);
  expect_at(1, 1, 0.5f, 2.0f, 0.0f);
}

// Group 3's row has fields that touch, leaves pairs 2 and 3 blank and ends
// before pair 4.
TEST_F(ResponseFileTest, ThreeGroupsOfFourPairsInFixedFields) {
  load_text(7, "h1\nh2\nh3\nh4\nh5\n1\n   2.0   1.5  10.0   9.0   9.0   9.0   9.0   9.0   9.0\n  2\n"
               "   1.0  11.0   1.0  12.0   2.0  13.0   3.0  14.0   4.0\n"
               "   3.0  21.0   5.0  22.0   7.0  23.0   9.0  24.0  11.0\n1\n   1.0 5.000-90.00            \n");
  EXPECT_EQ(t.nrows, (std::array<int, 3>{1, 2, 1}));
  expect_at(2, 3, 2.0f, 17.901394f, 1.8815128f);  // A (13 + 23) / 2, phase (3 + 9) / 2
  expect_at(1, 1, 1.0f, 1.4772116f, 0.2604723f);
  expect_at(3, 1, 0.5f, 0.0f, -5.0f);
  for (int j : {3, 4}) expect_at(3, j, 1.0f, 0.0f, 0.0f);
  cf H;
  for (auto [i, j] : {std::pair{4, 1}, {1, 0}, {1, 5}}) EXPECT_THROW(response_at(t, i, j, 1.0f, H), Error);
}

TEST_F(ResponseFileTest, ConsoleAnswersWhenTheFileIsMissing) {
  const std::string good = dir.write("good.rsp", "1 2 0\n4 2 0\n");
  const std::string missing = (dir / "gone.rsp").string();
  ASSERT_EQ(load(98, good), RspLoad::loaded);
  EXPECT_EQ(load(98, missing, "none of these\n"), RspLoad::skipped);
  EXPECT_EQ(out.str(), " th: cfrsp " + missing + "\n Couldn't open RSP file: " + missing +
                           "\n Enter a new RSP file name or RETURN to stop\n");
  cf H;
  EXPECT_EQ(t.type, 0);
  EXPECT_EQ(t.nrows, (std::array<int, 3>{0, 0, 0}));
  EXPECT_FALSE(response_at(t, 1, 1, 2.0f, H)) << "the earlier table must not be evaluated";

  EXPECT_EQ(load(98, missing, good + "\n"), RspLoad::loaded);
  EXPECT_EQ(t.name, good);
  // An answer beginning with a blank stops the run even when such a file exists.
  dir.write(" lead.rsp", "1 2 0\n4 2 0\n");
  testing_support::WorkingDirectory inside(dir.path());
  for (const std::string& answer : {std::string("\n"), std::string(), std::string(" lead.rsp\n")})
    EXPECT_THROW(load(98, missing, answer), Error) << "answer '" << answer << "'";
  EXPECT_THAT([&] { load(98, missing, "other.rsp\n"); },
              ThrowsMessage<Error>(AllOf(HasSubstr(missing), HasSubstr("other.rsp"))));
  EXPECT_THAT(out.str(), HasSubstr("\n ERROR OPENING RSP-FILE ! looked up in SENSORS\n"));
}

TEST_F(ResponseFileTest, MalformedTablesNameFileAndLine) {
  const std::string head = "h1\nh2\nh3\nh4\nh5\n";
  const std::tuple<int, std::string, int> cases[] = {
      {8, head + " 2\n   1.0   1.0   0.0\n   2.0  1.x0   0.0\n", 8},
      {8, head + " 151\n", 6}, {8, head + " -1\n", 6},
      {8, head + " 3\n   1.0   1.0   0.0\n   2.0   1.0   0.0\n", 9},  // ends inside the table
      {7, head + " 1\n   1.0\n 1\n   1.0\n", 10},                     // group 3's count missing
      {8, "h1\nh2\n", 3}, {17, "no dashes\n", 2},
      {98, "text\n2019-05-01 calibration\n", 2},  // no row at all
  };
  for (const auto& [type, text, line] : cases) {
    const std::string p = dir.write("bad.rsp", text);
    EXPECT_THAT([&] { load(type, p); },
                ThrowsMessage<Error>(AllOf(HasSubstr(p), HasSubstr("line " + std::to_string(line) + ":"))));
    EXPECT_EQ(t.type, 0);
  }
}

}  // namespace
}  // namespace qv
