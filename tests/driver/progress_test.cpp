#include "driver/progress.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

int updates(const std::string& s) {
  int n = 0;
  for (std::size_t at = s.find("qel_vort:"); at != std::string::npos; at = s.find("qel_vort:", at + 1)) ++n;
  return n;
}

// A log or a pipe gets nothing, however long the run; the samples are
// counted all the same for the summary.
TEST(Progress, NothingWithoutATerminal) {
  std::ostringstream err;
  auto blk = std::make_unique<SampleBlock>();
  blk->npts = 256;
  RunProgress p;
  progress_start(p, err, false, 600);
  const Clock::time_point t0 = Clock::now();
  for (int b = 0; b < 4000; ++b) {
    for (int r = 0; r < 256; ++r) blk->index[r] = 1 + 256 * b + r;  // numbered from 1, as NIMS scans
    progress_block(p, *blk, b / 10);
    progress_update(p, b / 10, t0 + std::chrono::seconds(b));
  }
  progress_end(p);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(p.samples, 4000 * 256);
  EXPECT_EQ(p.first_index, 1);
  EXPECT_EQ(p.last_index, 4000 * 256);
  EXPECT_FALSE(is_terminal(err));
}

// Ten seconds of blocks a millisecond apart: at most four updates a second,
// each rewriting the one line, which the end clears.
TEST(Progress, ATerminalGetsAFewUpdatesASecondAndACleanEnd) {
  std::ostringstream err;
  RunProgress p;
  progress_start(p, err, true, 600);
  const Clock::time_point t0 = Clock::now();
  for (int ms = 0; ms <= 10000; ++ms) progress_update(p, ms / 100, t0 + std::chrono::milliseconds(ms));
  const std::string shown = err.str();
  EXPECT_GE(updates(shown), 35);
  EXPECT_LE(updates(shown), 41);
  EXPECT_NE(shown.find("\rqel_vort: 0 samples processed, 100 windows stored (set limit 600)\r"), std::string::npos);
  EXPECT_EQ(shown.find('\n'), std::string::npos);
  progress_end(p);
  const std::size_t last = shown.rfind("qel_vort:");
  std::string blanks = "\r";
  blanks.append(shown.find('\r', last) - last, ' ');
  blanks += '\r';
  const std::string cleared = err.str().substr(shown.size());
  EXPECT_EQ(cleared, blanks);
  progress_end(p);  // a second end writes nothing
  EXPECT_EQ(err.str().size(), shown.size() + cleared.size());
}

}  // namespace
}  // namespace qv
