#include "driver/bad_records.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

#include "common/error.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

// Every stored interval of a list as {level, first, last}, levels in order.
using Marks = std::vector<std::array<std::int64_t, 3>>;
Marks marks(const BadRecordList& list) {
  Marks m;
  for (int lev = 0; lev <= ndmx; ++lev)
    for (int k = 0; k < list.count[lev]; ++k)
      m.push_back({lev, list.interval[lev][k].first, list.interval[lev][k].last});
  return m;
}

class BadRecordFiles : public testing::Test {
 protected:
  testing_support::TempFolder folder{"badrec"};
  std::string path = (folder / "site1.bad").string();
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
  BadRecords br;

  void run(const std::string& text, float dr1 = 1.0f, std::int64_t time_int = 0) {
    testing_support::write_file(path, text);
    out.str("");
    bdecsu(path, 4, dr1, time_int, br, con);
  }
  std::string failure(const std::string& text) {
    try {
      run(text);
    } catch (const Error& e) {
      return e.what();
    }
    return "accepted";
  }
};

TEST_F(BadRecordFiles, NoFileUsesAllDataButAFolderOrShortFileIsAnError) {
  br.list1.count[0] = 3;  // left over from an earlier station
  br.list2.count[4] = 1;
  br.ioff = 9;
  bdecsu(path, 4, 1.0f, 0, br, con);
  EXPECT_EQ(out.str(), " No bad record file found for this file;  Using all data \n");
  EXPECT_TRUE(marks(br.list1).empty() && marks(br.list2).empty());
  EXPECT_EQ(br.ioff, 0);
  EXPECT_TRUE(bad_record_clean(br.list2, 4, INT64_MIN, INT64_MAX));

  std::filesystem::create_directory(path);
  try {
    bdecsu(path, 4, 1.0f, 0, br, con);
    ADD_FAILURE() << "a folder was taken as the bad-record file";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(path + " is a folder"), std::string::npos) << e.what();
  }
  std::filesystem::remove(path);
  EXPECT_NE(failure("title only\n").find(path + ", line 2:"), std::string::npos);
}

TEST_F(BadRecordFiles, NormalFileTranscriptListsAndInclusiveWindowCheck) {
  // Data start 2 s after the reference; r = 0.5 s, dr1 = 0.25 s: mark = (b - 4) * 2, then + ioff 3.
  run("Site 1: stretches picked from the chart\n5 0.5\n10.0 12.0 1\n20 21.3 2\n30, 31, 3\n40\n41 4\n50 51 7\n  3\n",
      0.25f, 2000000);
  EXPECT_EQ(out.str(), " nseg 5\n bdecsu: ioff, cfbr 3 " + path + "\n");
  EXPECT_EQ(br.ioff, 3);
  EXPECT_EQ(marks(br.list1), (Marks{{0, 15, 19}, {0, 75, 77}}));  // codes 1 and 4, file order
  EXPECT_EQ(marks(br.list2), (Marks{{0, 35, 37}, {4, 55, 57}}));  // 34.6 truncates to 34; code 3 at level 4 only

  struct Window {
    const BadRecordList* list;
    int lev;
    std::int64_t first, last;
    bool clean;
  };
  const Window windows[] = {
      {&br.list1, 1, 10, 14, true},  {&br.list1, 1, 10, 15, false},  // last mark on the start
      {&br.list1, 3, 19, 30, false}, {&br.list1, 1, 20, 74, true},   // first mark on the end
      {&br.list1, 2, 76, 76, false}, {&br.list2, 3, 54, 58, true},   // level 4 interval, level 3 window
      {&br.list2, 4, 54, 55, false}, {&br.list2, 4, 57, 60, false}, {&br.list2, 4, 58, 60, true},
      {&br.list2, 1, 30, 40, false}, {&br.list1, 4, 95, 97, true},   {&br.list2, 4, 95, 97, true},  // code 7
  };
  for (const Window& w : windows)
    EXPECT_EQ(bad_record_clean(*w.list, w.lev, w.first, w.last), w.clean) << w.lev << ": " << w.first << ".." << w.last;
}

TEST_F(BadRecordFiles, BoundariesBecomeTimeMarksOfLevelOne) {
  const std::string no_scale =
      " bad-record file " + path + ": no time scale r on line 2; the intervals are taken as time marks\n";
  struct Case {
    std::int64_t time_int;
    std::string line2;
    float dr1;
    std::string entry;
    std::int64_t first, last;
    bool scaled;
  };
  const Case cases[] = {
      {86400000000, "1 1.0", 0.5f, "86410 86420 1", 20, 40, true},  // a recording started one day later
      {3000000, "1 1", 1.0f, "0.3 5 1", -2, 2, true},               // -2.7 truncates toward zero
      {1000000, "1 0.5", 0.125f, "10 10.3 1", 32, 33, true},
      {5000000, "1", 0.5f, "-2.7 12.9 1", -2, 12, false},
      {5000000, "1 , abc", 0.5f, "-2.7 12.9 1", -2, 12, false},
      {5000000, "1 0", 0.5f, "-2.7 12.9 1", -2, 12, false},
      {5000000, "1" + std::string(80, ' ') + "0.5", 0.5f, "-2.7 12.9 1", -2, 12, false},  // r beyond column 80
  };
  for (const Case& c : cases) {
    run("title\n" + c.line2 + "\n" + c.entry + "\n", c.dr1, c.time_int);
    EXPECT_EQ(marks(br.list1), (Marks{{0, c.first, c.last}})) << c.line2 << " / " << c.entry;
    EXPECT_EQ(out.str(), (c.scaled ? " nseg 1\n" : no_scale) + " no offset in br file; assuming zero offset\n");
  }
}

TEST_F(BadRecordFiles, BoundaryOnASampleLandsOnItAtEveryRate) {
  // The sample interval arrives in single precision (0.002f is not 1/500);
  // a boundary on a whole second, or on a sample given in decimals, must
  // still be that sample after a month, also for data that start a
  // fraction of a second after the reference time.
  for (const double rate : {10.0, 20.0, 40.0, 62.5, 128.0, 250.0, 500.0, 1000.0, 4000.0}) {
    const float dr1 = static_cast<float>(1.0 / rate);
    for (const std::int64_t start_us : {std::int64_t(0), std::int64_t(300000)}) {
      const double start_s = start_us / 1e6;
      // Seconds after the reference time: whole seconds up to 30 days, and
      // sample times written in decimals (13.7 s at 10 Hz is sample 137).
      const double secs[] = {1, 2, 3600, 86400, 30 * 86400.0, 12 + 7 / rate};
      std::string text = "title\n" + std::to_string(std::size(secs)) + " 1.0\n";
      for (const double b : secs) {
        char field[40];
        std::snprintf(field, sizeof field, "%.15g", b + start_s);  // as a person writes it: 2592000.3
        text += std::string(field) + " " + field + " 1\n";
      }
      run(text, dr1, start_us);
      ASSERT_EQ(br.list1.count[0], static_cast<int>(std::size(secs)));
      for (std::size_t k = 0; k < std::size(secs); ++k) {
        // The product is a whole number or, at 62.5 Hz after 1 s, half way.
        const auto expected = static_cast<std::int64_t>(std::floor(secs[k] * rate + 1e-6));
        EXPECT_EQ(br.list1.interval[0][k].first, expected) << rate << " Hz, " << secs[k] << " s, start " << start_s;
      }
    }
  }
}

TEST_F(BadRecordFiles, OneListAndLevelHoldsAHundredIntervals) {
  // Exactly 100 for each list and level; codes 1 and 4 share list 1, level 0.
  std::string full = "title\n300 1.0\n";
  for (const char* code : {"1", "4", "2", "2", "3", "3"})
    for (int k = 0; k < 50; ++k) (full += "1 2 ") += code + std::string("\n");
  run(full);
  EXPECT_EQ(br.list1.count[0], 100);
  EXPECT_EQ(br.list2.count[0], 100);
  EXPECT_EQ(br.list2.count[4], 100);
  // Entry 301 (code 4, line 303) would be the 101st interval of list 1, level 0.
  std::string over = full;
  over.replace(over.find("300"), 3, "301");
  EXPECT_NE(failure(over + "5 6 4\n").find(path + ", line 303: bad-record entry 301 (code 4) does not fit"),
            std::string::npos);
}

TEST_F(BadRecordFiles, MalformedFilesStopNamingFileAndLine) {
  const std::array<std::string, 2> cases[] = {
      {"", "line 1:"},
      {"t\n-1 1.0\n", "line 2: expected the number of entries nseg (a whole number, 0 or more), found '-1'"},
      {"t\n2 1.0\n1 2 1\n3 4\n", "line 5: expected the start, end and code of bad-record entry 2"},
      {"t\n1 1.0\n1 2 one\n", "line 3: expected the start, end and code of bad-record entry 1, found 'one'"},
      {"t\n1 1e20\n1000 2 1\n", "line 3: the boundary 1000 converts to the time mark 1.00000002"},
  };
  for (const auto& c : cases) EXPECT_NE(failure(c[0]).find(path + ", " + c[1]), std::string::npos) << failure(c[0]);
}

}  // namespace
}  // namespace qv
